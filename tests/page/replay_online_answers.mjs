// Replays the online answer fuzz corpus through the real reader page in
// Chromium, with the real sanitizer: node tests/page/replay_online_answers.mjs DIR...
// For every answer the page either raises its two alerts or shows a verdict
// in black or red; nothing of the answer runs, loads or adds an element that
// can, and the page raises no error.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { readerSuite } from './page_server.mjs';

const suite = readerSuite();
const BLACK = 'rgb(0, 0, 0)';
const RED = 'rgb(176, 0, 0)';
// The elements the answer's texts are written into.
const TEXTS = '#onlineSummary, #os1Detail, #fileName, #issuer, #chk_time, #chk_text, #postfix';

function answerFiles(paths) {
  return paths.flatMap((name) => (fs.statSync(name).isDirectory()
    ? fs.readdirSync(name).map((entry) => path.join(name, entry)).filter((file) => fs.statSync(file).isFile())
    : [name]));
}

test('every answer of the corpus is shown or refused, and nothing of it runs', async () => {
  const files = answerFiles(process.argv.slice(2));
  assert.ok(files.length > 0, 'no answers to replay');
  const { page, dialogs, errors } = await suite.open();
  const requests = [];
  page.on('request', (request) => requests.push(request.url()));
  const globals = await page.evaluate(() => Object.keys(window).sort().join());
  for (const file of files) {
    const raw = fs.readFileSync(file, 'utf8');
    dialogs.length = 0;
    const shown = await page.evaluate((text) => {
      qalvHost.setAttribute('onlineVerifyRet', 'value', text);
      qalvHost.setAttribute('vinfo_accountName', 'value', '富邦人壽');
      qalvHost.setAttribute('s2_signtime', 'value', '2015/01/02 11:04:05');
      qalvHost.setStyle('onlineVerify', 'display', '');
      showOnlineVerify();
      const colour = (id) => getComputedStyle(document.getElementById(id)).color;
      return { summary: colour('onlineSummary'), detail: colour('os1Detail') };
    }, raw);
    const name = path.basename(file);
    if (dialogs.length > 0) {
      assert.equal(dialogs.length, 2, name);
      assert.match(dialogs[0], /^(JSON解析錯誤|讀取驗證結果錯誤):/, name);
      assert.equal(dialogs[1], `回傳資料:${raw}`, name);
    }
    assert.ok([BLACK, RED].includes(shown.summary), `${name}: ${shown.summary}`);
    assert.equal(shown.detail, shown.summary, name);
    assert.equal(await page.locator(TEXTS).locator('script, img, iframe, svg, a, style, object, embed, form')
      .count(), 0, name);
  }
  await page.waitForTimeout(300);
  assert.equal(await page.evaluate(() => Object.keys(window).sort().join()), globals);
  assert.deepEqual(requests, []);
  assert.deepEqual(errors, []);
  await page.close();
});
