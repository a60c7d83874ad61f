// Serves the reader page over http on 127.0.0.1 the way the reader's res:
// scheme does, launches Chromium, and opens the page with a stand-in for the
// reader behind window.external.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import zlib from 'node:zlib';
import { fileURLToPath } from 'node:url';
import { after, before } from 'node:test';
import { chromium } from 'playwright-core';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pageDir = path.join(root, 'resources/page');
const pictureDir = path.join(root, 'resources/pictures');
const bundled = {
  'purify.js': path.join(root, 'node_modules/dompurify/dist/purify.min.js'),
  'json5.js': path.join(root, 'node_modules/json5/dist/index.min.js'),
  // Not part of the reader: the accessibility tests load it into the page.
  'axe.js': path.join(root, 'node_modules/axe-core/axe.min.js'),
};

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.gif': 'image/gif',
};

// res:/GIF/#172 and res:/JS/host.js become /res/GIF/172 and /res/JS/host.js,
// and the content security policy's res: sources this server's own origin.
function rewriteResLinks(html) {
  return html.replace(/res:\/([A-Z]+)\/#?/g, '/res/$1/').replace(/ res:(?=[;"])/g, " 'self'");
}

function pictureFile(number) {
  if (!/^\d+$/.test(number)) return null;
  const name = fs.readdirSync(pictureDir).find((file) => path.parse(file).name === number);
  return name ? path.join(pictureDir, name) : null;
}

export async function startPageServer() {
  const fixtures = new Map();
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://localhost');
    const send = (status, type, body) => {
      response.writeHead(status, { 'Content-Type': type, 'Cache-Control': 'no-store' });
      response.end(body);
    };
    const sendFile = (file) => send(200, TYPES[path.extname(file)] ?? 'application/octet-stream', fs.readFileSync(file));
    const [, kind, name] = /^\/res\/([A-Z]+)\/([^/]+)$/.exec(url.pathname) ?? [];
    if (url.pathname === '/') {
      send(200, TYPES['.html'], rewriteResLinks(fs.readFileSync(path.join(pageDir, 'reader.html'), 'utf8')));
    } else if (fixtures.has(url.pathname)) {
      const { type, body } = fixtures.get(url.pathname);
      send(200, type, body);
    } else if (kind === 'JS' && Object.hasOwn(bundled, name)) {
      sendFile(bundled[name]);
    } else if (kind === 'JS' && name === 'qwebchannel.js') {
      // The reader supplies Qt's own; the tests bring their stand-ins.
      send(200, TYPES['.js'], '');
    } else if ((kind === 'JS' || kind === 'CSS') && fs.existsSync(path.join(pageDir, name))) {
      sendFile(path.join(pageDir, name));
    } else if (kind && pictureFile(name)) {
      sendFile(pictureFile(name));
    } else {
      send(404, 'text/plain', 'not found');
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const base = `http://127.0.0.1:${server.address().port}`;
  return {
    url: `${base}/`,
    // Serves `body` at `/fixture/<name>` and returns its address.
    addFixture(name, type, body) {
      fixtures.set(`/fixture/${name}`, { type, body });
      return `${base}/fixture/${name}`;
    },
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

// One browser and one context per test file; each test opens its own page.
export async function launchBrowser() {
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    chromiumSandbox: false,
    args: ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
    // Eight hours ahead of universal time, without daylight saving.
    env: { ...process.env, TZ: 'Asia/Taipei' },
  });
  const context = await browser.newContext({ viewport: { width: 1200, height: 800 } });
  return { browser, context };
}

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const byte of bytes) c = CRC_TABLE[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function pngChunk(type, data) {
  const length = Buffer.alloc(4);
  length.writeUInt32BE(data.length);
  const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([length, body, crc]);
}

// A plain red PNG picture of the given size, as a seal file would be.
export function solidPng(width, height) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;  // bit depth
  header[9] = 2;  // truecolour
  const row = Buffer.concat([Buffer.from([0]), Buffer.alloc(width * 3, Buffer.from([0xc0, 0x10, 0x10]))]);
  const pixels = zlib.deflateSync(Buffer.concat(Array(height).fill(row)));
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    pngChunk('IHDR', header), pngChunk('IDAT', pixels), pngChunk('IEND', Buffer.alloc(0))]);
}

const BRIDGE_METHODS = ['JsShowPdf', 'JsInit', 'JsOpenTpk', 'JsOpenRecently', 'JsCopyTpk', 'JsOnlineVerify',
  'JsShowSignerDetails'];

// Runs in the page before its scripts: window.external records every call
// and answers it when the test says so, or at once for the methods named in
// `autoResolve` (with the value given there).
function installFakeReader({ methods, autoResolve }) {
  window.__calls = [];
  const fake = { m_b64Data: '', m_dataPin: '' };
  for (const name of methods) {
    fake[name] = (...args) => new Promise((resolve) => {
      const call = { name, args, at: performance.now(), resolve, settled: false };
      window.__calls.push(call);
      if (Object.prototype.hasOwnProperty.call(autoResolve, name)) {
        call.settled = true;
        resolve(autoResolve[name]);
      }
    });
  }
  window.external = fake;
}

// Opens the page; by default JsInit answers at once and the page is idle
// when this returns. `dialogs` collects every alert text, `errors` every
// uncaught script error.
export async function openReader(context, server, { autoResolve = { JsInit: null }, initScript } = {}) {
  const page = await context.newPage();
  const dialogs = [];
  const errors = [];
  page.on('dialog', (dialog) => {
    dialogs.push(dialog.message());
    dialog.dismiss().catch(() => {});
  });
  page.on('pageerror', (error) => errors.push(error));
  if (initScript) await page.addInitScript(initScript);
  else await page.addInitScript(installFakeReader, { methods: BRIDGE_METHODS, autoResolve });
  await page.goto(server.url);
  if (!initScript && Object.prototype.hasOwnProperty.call(autoResolve, 'JsInit')) await waitIdle(page);
  return { page, dialogs, errors };
}

export function waitIdle(page) {
  return page.waitForFunction(() => document.getElementById('mask').style.display === 'none');
}

export function maskShown(page) {
  return page.evaluate(() => document.getElementById('mask').style.display !== 'none');
}

// The calls made to the stand-in reader, by method name.
export function callsTo(page, name) {
  return page.evaluate((method) => window.__calls.filter((call) => call.name === method)
    .map(({ args, at }) => ({ args, at })), name);
}

// Answers the oldest unanswered call to `name` with `result`.
export async function answer(page, name, result) {
  const answered = await page.evaluate(([method, value]) => {
    const call = window.__calls.find((c) => c.name === method && !c.settled);
    if (!call) return false;
    call.settled = true;
    call.resolve(value);
    return true;
  }, [name, result]);
  if (!answered) throw new Error(`no pending call to ${name}`);
}

// One page server and one browser for a test file, started before its tests
// and closed after them; `open` loads the reader page in a new tab.
export function readerSuite() {
  const suite = { open: (options) => openReader(suite.context, suite.server, options) };
  before(async () => {
    suite.server = await startPageServer();
    Object.assign(suite, await launchBrowser());
  });
  after(async () => {
    await suite.browser?.close();
    await suite.server?.close();
  });
  return suite;
}
