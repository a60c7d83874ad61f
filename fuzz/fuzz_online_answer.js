// The online verification answer as the reader page reads it: the input is
// the text the reader leaves in the page's hidden field. The page's own
// scripts run here (host.js, online_answer.js and the JSON5 build the reader
// compiles in) over a stand-in document that records every write and a
// stand-in sanitizer that marks what it cleaned. Whatever the answer, no
// exception leaves the page but through its two alerts, and then nothing was
// written; otherwise the verdict is written once, in black or red, every text
// reaches an element only as sanitizer output, the status is shown or hidden
// and nothing else, and no global or prototype changed.
//
// Run by jsfuzz (scripts/fuzz), or with files and folders as arguments to
// replay them once each: node fuzz/fuzz_online_answer.js DIR...
'use strict';

const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const ACCOUNT_NAME = '富邦人壽';
const SIGN_TIME = '2015/01/02 11:04:05';
const COLOURS = ['Black', 'Red'];
const SUMMARIES = ['此份保單由QALV線上驗證無誤', '此份保單由QALV線上驗證有問題'];
const RICH_TEXT_IDS = ['os1Detail', 'fileName', 'issuer', 'chk_time', 'chk_text'];

function fail(why) {
  throw new Error(why);
}

// What the page's scripts did to the stand-in document while one answer was
// read: writes as [id, what, value], alerts as their texts.
let writes = [];
let alerts = [];
const cleaned = new WeakSet();

function element(id) {
  const style = new Proxy({}, {
    set(target, property, value) {
      writes.push([id, `style.${String(property)}`, value]);
      return true;
    },
  });
  const fields = { onlineVerifyRet: '', vinfo_accountName: ACCOUNT_NAME, s2_signtime: SIGN_TIME };
  const node = {
    id,
    style,
    scrollTop: 0,
    scrollHeight: 120,
    value: fields[id] ?? '',
    set textContent(text) { writes.push([id, 'text', text]); },
    replaceChildren(...children) {
      if (children.length !== 1 || !cleaned.has(children[0])) fail(`${id}: children not from the sanitizer`);
      writes.push([id, 'html', children[0].text]);
    },
    setAttribute(name) { fail(`${id}: attribute ${name} written`); },
  };
  for (const sink of ['innerHTML', 'outerHTML', 'src', 'href', 'onload', 'onerror']) {
    Object.defineProperty(node, sink, { set() { fail(`${id}: ${sink} written`); } });
  }
  return node;
}

const elements = new Map();
globalThis.window = globalThis;
globalThis.document = {
  getElementById(id) {
    if (!elements.has(id)) elements.set(id, element(id));
    return elements.get(id);
  },
};
globalThis.alert = (text) => { alerts.push(String(text)); };
globalThis.DOMPurify = {
  sanitize(html, config) {
    if (typeof html !== 'string' || config.RETURN_DOM_FRAGMENT !== true) fail('sanitizer called unlike the page');
    const fragment = Object.freeze({ text: html });
    cleaned.add(fragment);
    return fragment;
  },
};
globalThis.JSON5 = require(path.join(root, 'node_modules/json5/dist/index.min.js'));
require(path.join(root, 'resources/page/host.js'));
const page = require(path.join(root, 'resources/page/online_answer.js'));

const globalsBefore = Object.getOwnPropertyNames(globalThis).sort().join();
const prototypes = [Object.prototype, Array.prototype, String.prototype, Function.prototype];
const prototypesBefore = prototypes.map((p) => Reflect.ownKeys(p).length);

function checkAlerts(raw) {
  if (alerts.length !== 2 || !/^(JSON解析錯誤|讀取驗證結果錯誤):/.test(alerts[0]) || alerts[1] !== `回傳資料:${raw}`) {
    fail(`alerts: ${JSON.stringify(alerts)}`);
  }
  if (writes.length !== 0) fail(`written before an alert: ${JSON.stringify(writes)}`);
}

function checkWrites() {
  const count = (id, what) => writes.filter((w) => w[0] === id && w[1] === what);
  const [summaryColour] = count('onlineSummary', 'style.color');
  const [detailColour] = count('os1Detail', 'style.color');
  const [summary] = count('onlineSummary', 'text');
  if (count('onlineSummary', 'style.color').length !== 1 || count('os1Detail', 'style.color').length !== 1 ||
      count('onlineSummary', 'text').length !== 1 || count('os1Detail', 'html').length !== 1) {
    fail('the verdict is not written once');
  }
  const colour = COLOURS.indexOf(summaryColour[2]);
  if (colour < 0 || detailColour[2] !== summaryColour[2] || summary[2] !== SUMMARIES[colour]) {
    fail(`verdict ${summaryColour[2]} ${detailColour[2]} ${summary[2]}`);
  }
  for (const [id, what, value] of writes) {
    const allowed =
      (what === 'style.color' && (id === 'onlineSummary' || id === 'os1Detail')) ||
      (what === 'text' && id === 'onlineSummary') ||
      (what === 'text' && id === 'postfix' && value === page.POSTFIX_TEXT) ||
      (what === 'html' && RICH_TEXT_IDS.includes(id) && typeof value === 'string') ||
      (what === 'style.display' && id === 'onlineStatus' && (value === '' || value === 'none'));
    if (!allowed) fail(`unexpected write ${JSON.stringify([id, what, value])}`);
  }
  const issuer = count('issuer', 'html');
  if (issuer.length > 1 || (issuer.length === 1 && issuer[0][2] !== ACCOUNT_NAME)) fail('issuer not the account name');
}

function fuzz(data) {
  const raw = data.toString('utf8');
  writes = [];
  alerts = [];
  document.getElementById('onlineVerifyRet').value = raw;
  page.showOnlineVerify();
  if (alerts.length > 0) checkAlerts(raw); else checkWrites();
  if (Object.getOwnPropertyNames(globalThis).sort().join() !== globalsBefore) fail('a global changed');
  if (prototypes.some((p, i) => Reflect.ownKeys(p).length !== prototypesBefore[i])) fail('a prototype changed');
  if (typeof page.stringDateFormat(raw) !== 'string') fail('a time without text');
}

function replay(paths) {
  let count = 0;
  const run = (file) => {
    fuzz(fs.readFileSync(file));
    count++;
  };
  for (const name of paths) {
    if (fs.statSync(name).isDirectory()) {
      for (const entry of fs.readdirSync(name)) {
        const file = path.join(name, entry);
        if (fs.statSync(file).isFile()) run(file);
      }
    } else {
      run(name);
    }
  }
  console.log(`replayed ${count} inputs`);
  if (count === 0) process.exitCode = 1;
}

module.exports = { fuzz };
if (require.main === module) replay(process.argv.slice(2));
