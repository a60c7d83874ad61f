// The web PDF page as the desktop's browser gets it: webPdf.htm and
// index.bundle.js copied beside a b64Pdf.js, opened as a local file.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { copyFile, mkdir, mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { chromium } from 'playwright-core';

const readerDir = process.env.QALV_READER_DIR;

const CHROMIUM_ARGS = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

// The generated document: twelve pages, each with a dark band. Page 2 is
// landscape A4; page 3 has a landscape media box with /Rotate 90, so it only
// shows as portrait when the turn is honoured.
const A4 = [595.27, 841.89];  // points
const LANDSCAPE_PAGE = 2;
const ROTATED_PAGE = 3;
const PAGE_COUNT = 12;

const MANY_PAGES = `
import sys
from reportlab.lib.pagesizes import A4, landscape
from reportlab.pdfgen import canvas
pdf = canvas.Canvas(sys.argv[1], pagesize=A4)
for number in range(1, ${PAGE_COUNT + 1}):
    pdf.setPageSize(landscape(A4) if number == ${LANDSCAPE_PAGE} else A4)
    pdf.setPageRotation(90 if number == ${ROTATED_PAGE} else 0)
    # reportlab writes the media box of a turned page turned too
    size = landscape(A4) if number in (${LANDSCAPE_PAGE}, ${ROTATED_PAGE}) else A4
    pdf.rect(40, size[1] - 140, size[0] - 80, 60, fill=1)
    pdf.setFont('Helvetica', 14)
    pdf.drawString(40, size[1] - 180, f'Page {number}')
    pdf.showPage()
pdf.save()
`;

// Fonts named but not embedded: a Traditional Chinese one, whose character
// map pdf.js must have, and the two symbol fonts, whose data it must have.
// (reportlab's default map for MSung-Light is the Simplified Chinese one.)
const UNEMBEDDED_FONTS = `
import sys
from reportlab.pdfbase import pdfmetrics
from reportlab.pdfbase._cidfontdata import defaultUnicodeEncodings
from reportlab.pdfbase.cidfonts import UnicodeCIDFont
from reportlab.pdfgen import canvas
defaultUnicodeEncodings['MSung-Light'] = ('cht', 'UniCNS-UCS2-H')
pdfmetrics.registerFont(UnicodeCIDFont('MSung-Light'))
pdf = canvas.Canvas(sys.argv[1])
for number in range(1, 3):
    pdf.setFont('MSung-Light', 24)
    pdf.drawString(72, 700, f'保險單 第{number}頁 要保人 王小明')
    pdf.setFont('Symbol', 24)
    pdf.drawString(72, 650, 'αβγδ')
    pdf.setFont('ZapfDingbats', 24)
    pdf.drawString(72, 600, '✓✔✈')
    pdf.showPage()
pdf.save()
`;

// What pdf.js may say on any document here; anything else it logs means a
// font, map or drawing went wrong.
const EXPECTED_CONSOLE = [
  /^Warning: Setting up fake worker\.$/,
  /^Warning: Cannot load system font: MSung-Light/,
];

const ENCRYPTED = `
import sys
from reportlab.pdfgen import canvas
pdf = canvas.Canvas(sys.argv[1], encrypt='secret')
pdf.rect(40, 600, 400, 100, fill=1)
pdf.showPage()
pdf.save()
`;

function python(args) {
  execFileSync('/usr/bin/python3', args, { stdio: ['ignore', 'ignore', 'inherit'] });
}

const skip = readerDir
  ? false
  : 'QALV_READER_DIR is not set (the folder holding the built webPdf.htm and index.bundle.js)';

describe('web PDF page', { skip }, () => {
  let browser;
  let work;
  const documents = {};

  before(async () => {
    work = await mkdtemp(path.join(tmpdir(), 'web-pdf-'));
    const make = async (name, args) => {
      const file = path.join(work, `${name}.pdf`);
      python([...args, file]);
      documents[name] = await readFile(file);
    };
    await make('unembedded', ['-c', UNEMBEDDED_FONTS]);
    await make('many', ['-c', MANY_PAGES]);
    await make('encrypted', ['-c', ENCRYPTED]);
    browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS });
  });

  after(async () => {
    await browser?.close();
    if (work) await rm(work, { recursive: true, force: true });
  });

  let folderCount = 0;
  // A folder as the reader leaves it: the two page files and, unless null,
  // b64Pdf.js with `script` as its text.
  async function folderWith(script) {
    const folder = path.join(work, `folder${(folderCount += 1)}`);
    await mkdir(folder);
    for (const name of ['webPdf.htm', 'index.bundle.js']) {
      await copyFile(path.join(readerDir, name), path.join(folder, name));
    }
    if (script !== null) await writeFile(path.join(folder, 'b64Pdf.js'), script, 'latin1');
    return folder;
  }

  const scriptOf = (bytes) => `var b64Pdf="${bytes.toString('base64')}";`;

  // Opens the page in a fresh browser window, once it has settled on showing
  // the document or a message, and hands `use` the page with a record of
  // every request, console line and uncaught error.
  async function withPage(folder, use, { pixelRatio = 1, onDialog } = {}) {
    const context = await browser.newContext({
      deviceScaleFactor: pixelRatio,
      viewport: { width: 800, height: 600 },
    });
    try {
      const page = await context.newPage();
      const seen = { page, requests: [], consoleLines: [], pageErrors: [] };
      page.on('request', (request) => seen.requests.push(request.url()));
      page.on('console', (line) => seen.consoleLines.push(line.text()));
      page.on('pageerror', (error) => seen.pageErrors.push(error.message));
      if (onDialog) page.on('dialog', onDialog);
      await page.goto(pathToFileURL(path.join(folder, 'webPdf.htm')).href);
      await page.waitForFunction(() => document.body.dataset.state !== undefined);
      await use(seen);
    } finally {
      await context.close();
    }
  }

  async function expectMessage(page, message) {
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'error');
    assert.match(await page.locator('#message').innerText(), new RegExp(message));
    assert.equal(await page.locator('canvas').count(), 0);
  }

  // Brings page `number` into sight, waits until it is drawn at the current
  // size and returns its geometry and how much of it is dark.
  async function drawnPage(page, number) {
    const canvas = page.locator(`canvas[data-page="${number}"]`);
    await canvas.scrollIntoViewIfNeeded();
    await page.waitForFunction((n) => {
      const c = document.querySelector(`canvas[data-page="${n}"]`);
      const sharp = c.width === Math.round(parseFloat(c.style.width) * devicePixelRatio);
      return c.dataset.drawn === 'true' && sharp;
    }, number);
    return canvas.evaluate((c) => {
      const { data } = c.getContext('2d').getImageData(0, 0, c.width, c.height);
      let dark = 0;
      for (let i = 0; i < data.length; i += 4) {
        if (data[i] + data[i + 1] + data[i + 2] < 300) dark += 1;
      }
      return {
        cssWidth: parseFloat(c.style.width),
        cssHeight: parseFloat(c.style.height),
        height: c.height,
        windowWidth: document.documentElement.clientWidth,
        darkShare: dark / (c.width * c.height),
      };
    });
  }

  test('draws every page as wide as the window, sharp at the pixel ratio, fetching nothing', async () => {
    const folder = await folderWith(scriptOf(documents.many));
    await withPage(folder, async ({ page, requests, pageErrors }) => {
      assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready');
      assert.equal(await page.title(), 'PDF 文件');
      assert.equal(await page.locator('canvas').count(), PAGE_COUNT);
      for (let number = 1; number <= PAGE_COUNT; number += 1) {
        const shown = await drawnPage(page, number);
        assert.equal(shown.cssWidth, shown.windowWidth, `page ${number} width`);
        const [w, h] = number === LANDSCAPE_PAGE ? [A4[1], A4[0]] : A4;
        const expectedHeight = (shown.cssWidth * h) / w;
        assert.ok(Math.abs(shown.cssHeight - expectedHeight) < 0.5, `page ${number} proportions`);
        assert.equal(shown.height, Math.round(shown.cssHeight * 2), `page ${number} pixel height`);
        // The band alone covers about 7% of a portrait page.
        assert.ok(shown.darkShare > 0.03 && shown.darkShare < 0.5, `page ${number} drawn`);
      }
      const folderUrl = pathToFileURL(folder).href;
      assert.deepEqual(requests.filter((url) => !url.startsWith(folderUrl)), []);
      assert.deepEqual(pageErrors, []);
    }, { pixelRatio: 2 });
  });

  test('lets go of pages far out of sight, draws them again on return and on a new width', async () => {
    const folder = await folderWith(scriptOf(documents.many));
    await withPage(folder, async ({ page }) => {
      await drawnPage(page, 1);
      await drawnPage(page, PAGE_COUNT);
      assert.equal(await page.locator('canvas[data-page="1"]').evaluate((c) => c.width), 0);
      assert.ok((await drawnPage(page, 1)).darkShare > 0.03);

      await page.setViewportSize({ width: 500, height: 600 });
      const narrow = await drawnPage(page, 1);
      assert.equal(narrow.cssWidth, narrow.windowWidth);
      assert.ok(narrow.windowWidth <= 500);
      assert.ok(narrow.darkShare > 0.03);
    });
  });

  test('draws text in fonts that the document names but does not embed', async () => {
    const folder = await folderWith(scriptOf(documents.unembedded));
    await withPage(folder, async ({ page, consoleLines, pageErrors }) => {
      assert.equal(await page.locator('canvas').count(), 2);
      for (let number = 1; number <= 2; number += 1) {
        assert.ok((await drawnPage(page, number)).darkShare > 0.002, `page ${number}`);
      }
      const unexpected = consoleLines.filter((line) => !EXPECTED_CONSOLE.some((known) => known.test(line)));
      assert.deepEqual(unexpected, []);
      assert.deepEqual(pageErrors, []);
    });
  });

  test('asks for the password of a protected document', async (t) => {
    const cases = [
      { name: 'the right password', answers: ['secret'] },
      { name: 'a wrong one first', answers: ['wrong', 'secret'] },
      { name: 'no answer', answers: [null], message: '需要密碼' },
    ];
    for (const { name, answers, message } of cases) {
      await t.test(name, async () => {
        const folder = await folderWith(scriptOf(documents.encrypted));
        const pending = [...answers];
        const onDialog = (dialog) => {
          const answer = pending.shift();
          return answer === null ? dialog.dismiss() : dialog.accept(answer);
        };
        await withPage(folder, async ({ page }) => {
          assert.equal(pending.length, 0, 'every answer asked for');
          if (message) await expectMessage(page, message);
          else assert.ok((await drawnPage(page, 1)).darkShare > 0.03);
        }, { onDialog });
      });
    }
  });

  test('explains instead of drawing when there is no document to show', async (t) => {
    const missing = '找不到要顯示的文件';
    const invalid = '不是可以顯示的 PDF';
    const cases = [
      { name: 'no b64Pdf.js', script: null, message: missing },
      { name: 'b64Pdf.js cut short', script: scriptOf(documents.many).slice(0, 100), message: missing },
      { name: 'an empty document', script: 'var b64Pdf="";', message: invalid },
      { name: 'text that is not Base64', script: 'var b64Pdf="not*base64!";', message: invalid },
      { name: 'bytes that are not a PDF', script: scriptOf(Buffer.from('GIF89a'.repeat(500))), message: invalid },
    ];
    for (const { name, script, message } of cases) {
      await t.test(name, async () => {
        await withPage(await folderWith(script), ({ page }) => expectMessage(page, message));
      });
    }
  });
});
