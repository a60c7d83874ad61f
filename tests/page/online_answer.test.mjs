// How the page reads the online verification answer the reader leaves in it,
// and the server times it shows in local time (the browser runs in Taipei).
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { readerSuite } from './page_server.mjs';

const suite = readerSuite();

const POSTFIX = '以上保單查詢結果由保險公司所提供,如您對資訊內容有疑慮,請洽詢您所屬保險公司';
const BLACK = 'rgb(0, 0, 0)';
// The reader's "Red" as the page draws it, dark enough to read on white.
const RED = 'rgb(176, 0, 0)';

// Node's own time-zone data as the second opinion.
function taipeiTime(year, month, day, hour, minute, second) {
  const parts = new Intl.DateTimeFormat('en-GB', {
    timeZone: 'Asia/Taipei', hourCycle: 'h23', year: 'numeric', month: '2-digit', day: '2-digit',
    hour: '2-digit', minute: '2-digit', second: '2-digit',
  }).formatToParts(new Date(Date.UTC(year, month - 1, day, hour, minute, second)));
  const part = (type) => parts.find((p) => p.type === type).value;
  return `${part('year')}/${part('month')}/${part('day')} ${part('hour')}:${part('minute')}:${part('second')}`;
}

test('stringDateFormat turns a universal server time into local time', async () => {
  const { page, errors } = await suite.open();
  const cases = [
    ['2015-01-02 03:04:05', '2015/01/02 11:04:05'],
    ['2015/12/31 20:00:00', taipeiTime(2015, 12, 31, 20, 0, 0)],
    ['2024-2-29 0:0:0', taipeiTime(2024, 2, 29, 0, 0, 0)],
    ['1999-07-15 16:30:59', taipeiTime(1999, 7, 15, 16, 30, 59)],
    ['2015-01-02 03:04:05 extra', '2015/01/02 11:04:05'],
    ['not a time', 'not a time(時區轉換失敗)'],
    ['2015-01-02', '2015-01-02(時區轉換失敗)'],
    ['2015-01-02T03:04:05', '2015-01-02T03:04:05(時區轉換失敗)'],
    ['2015-13-01 00:00:00', '2015-13-01 00:00:00(時區轉換失敗)'],
    ['2015-02-30 00:00:00', '2015-02-30 00:00:00(時區轉換失敗)'],
    ['2015-01-02 24:00:00', '2015-01-02 24:00:00(時區轉換失敗)'],
    ['', '(時區轉換失敗)'],
  ];
  const shown = await page.evaluate((texts) => texts.map((text) => stringDateFormat(text)), cases.map(([t]) => t));
  assert.deepEqual(shown, cases.map(([, expected]) => expected));
  assert.deepEqual(errors, []);
  await page.close();
});

// Leaves the reader's hidden fields as the reader does and runs the page's
// interpretation; returns what the online sections show.
async function showAnswer(page, raw, { accountName = '富邦人壽', signTime = '2015/01/02 11:04:05' } = {}) {
  return page.evaluate(([text, account, time]) => {
    qalvHost.setAttribute('onlineVerifyRet', 'value', text);
    qalvHost.setAttribute('vinfo_accountName', 'value', account);
    qalvHost.setAttribute('s2_signtime', 'value', time);
    qalvHost.setStyle('onlineVerify', 'display', '');
    showOnlineVerify();
    const html = (id) => document.getElementById(id).innerHTML;
    const colour = (id) => getComputedStyle(document.getElementById(id)).color;
    return {
      summary: html('onlineSummary'),
      summaryColour: colour('onlineSummary'),
      detail: html('os1Detail'),
      detailColour: colour('os1Detail'),
      statusShown: document.getElementById('onlineStatus').style.display !== 'none',
      fileName: html('fileName'),
      issuer: html('issuer'),
      time: html('chk_time'),
      text: html('chk_text'),
      postfix: html('postfix'),
    };
  }, [raw, accountName, signTime]);
}

// Puts the online sections back as the page first had them, with a note
// left from an earlier answer, so that table rows share one page.
function resetOnlineSections(page) {
  return page.evaluate(() => {
    window.__pristine ??= ['onlineVerify', 'onlineStatus'].map((id) => document.getElementById(id).outerHTML);
    ['onlineVerify', 'onlineStatus'].forEach((id, i) => {
      document.getElementById(id).outerHTML = window.__pristine[i];
      // The page's policy refuses style attributes in parsed markup: hide it as the page does.
      document.getElementById(id).style.display = 'none';
    });
    qalvHost.setInnerHtml('postfix', 'PREVIOUS');
  });
}

const BEFORE = {
  summary: '由QALV線上驗證無誤', summaryColour: BLACK, detail: '說明', detailColour: BLACK,
  statusShown: false, fileName: '', issuer: '', time: '', text: '', postfix: 'PREVIOUS',
};

test('showOnlineVerify shows the verdict, and the policy status when the answer has one', async () => {
  const verified = {
    summary: '此份保單由QALV線上驗證無誤', summaryColour: BLACK,
    detail: '由富邦人壽於 2015/01/02 11:04:05 簽署，簽章內容與保單相符，文件內容未經修改', detailColour: BLACK,
  };
  const refused = { summary: '此份保單由QALV線上驗證有問題', summaryColour: RED, detailColour: RED };
  const chk = (code) => ({ code, name: 'policy-0042.tpk', time: '2015-01-02 03:04:05', text: '保單有效' });
  const statusShown = {
    statusShown: true, fileName: 'policy-0042.tpk', issuer: '富邦人壽', time: '2015/01/02 11:04:05', text: '保單有效',
  };
  const cases = [
    ['verified, no status', { code: '0000', msg: 'ok' }, verified],
    ['verified, null status', { code: '0000', chk: null }, verified],
    ['refused with a reason', { code: '1001', msg: '查無此保單' }, { ...refused, detail: '查無此保單' }],
    ['numeric 0 is not "0000"', { code: 0, msg: 'x' }, { ...refused, detail: 'x' }],
    ['the reader\'s failure object', { code: '-1', msg: 'C:\\path "x"' }, { ...refused, detail: 'C:\\path "x"' }],
    ['status "00" writes the note', { code: '0000', chk: chk('00') }, { ...verified, ...statusShown, postfix: POSTFIX }],
    ['another status leaves the note', { code: '0000', chk: chk('01') }, { ...verified, ...statusShown }],
    ['refused, with a status', { code: '2002', msg: '已註銷', chk: chk('00') },
      { ...refused, detail: '已註銷', ...statusShown, postfix: POSTFIX }],
    ['a text with no string form shows as nothing', { code: '0000', chk: { ...chk('01'), name: { toString: 1 } } },
      { ...verified, ...statusShown, fileName: '' }],
  ];
  const { page, dialogs, errors } = await suite.open();
  for (const [name, answer, changes] of cases) {
    await resetOnlineSections(page);
    const shown = await showAnswer(page, JSON.stringify(answer));
    assert.deepEqual(shown, { ...BEFORE, ...changes }, name);
  }
  assert.deepEqual(dialogs, []);
  assert.deepEqual(errors, []);
  await page.close();
});

test('a second answer without a status hides the status of the first', async () => {
  const { page, errors } = await suite.open();
  const first = await showAnswer(page, JSON.stringify(
    { code: '0000', chk: { code: '00', name: 'a.tpk', time: '2015-01-02 03:04:05', text: 't' } }));
  assert.equal(first.statusShown, true);
  const second = await showAnswer(page, JSON.stringify({ code: '1001', msg: 'm' }));
  assert.equal(second.statusShown, false);
  assert.equal(second.detail, 'm');
  assert.deepEqual(errors, []);
  await page.close();
});

test('an answer in script-literal form is read as data', async () => {
  const { page, dialogs, errors } = await suite.open();
  const raw = "{code:'0000', 'chk': {code: '00', name: 'b\\u0031.tpk', time: \"2015-01-02 03:04:05\", " +
    "text: 'it\\'s valid',},}";
  assert.throws(() => JSON.parse(raw));
  const shown = await showAnswer(page, raw);
  assert.equal(shown.summary, '此份保單由QALV線上驗證無誤');
  assert.deepEqual([shown.fileName, shown.time, shown.text, shown.postfix],
    ['b1.tpk', '2015/01/02 11:04:05', "it's valid", POSTFIX]);
  assert.deepEqual(dialogs, []);
  assert.deepEqual(errors, []);
  await page.close();
});

test('an answer neither reading accepts raises two alerts and changes nothing, running none of it', async () => {
  const raws = [
    'Service Unavailable',
    '{"code":"0000"',
    '{code: alert("from the answer")}',
    "{code: (window.__pwned = 1, '0000')}",
    '(function(){window.__pwned = 2})()',
    "{code: '0000'} + (window.__pwned = 3)",
  ];
  const { page, dialogs, errors } = await suite.open();
  for (const raw of raws) {
    await resetOnlineSections(page);
    dialogs.length = 0;
    const shown = await showAnswer(page, raw);
    assert.deepEqual(shown, BEFORE, raw);
    assert.equal(dialogs.length, 2, raw);
    assert.match(dialogs[0], /^JSON解析錯誤:\S/, raw);
    assert.equal(dialogs[1], `回傳資料:${raw}`);
  }
  assert.equal(await page.evaluate(() => window.__pwned), undefined);
  assert.deepEqual(errors, []);
  await page.close();
});

test('an answer that is not an object raises the reading alerts and changes nothing', async () => {
  const { page, dialogs, errors } = await suite.open();
  for (const raw of ['null', '"0000"', '42', '[]']) {
    await resetOnlineSections(page);
    dialogs.length = 0;
    const shown = await showAnswer(page, raw);
    assert.deepEqual(shown, BEFORE, raw);
    assert.equal(dialogs.length, 2, raw);
    assert.match(dialogs[0], /^讀取驗證結果錯誤:\S/, raw);
    assert.equal(dialogs[1], `回傳資料:${raw}`);
  }
  assert.deepEqual(errors, []);
  await page.close();
});

test('script carried by the answer or the account name stays inert', async () => {
  const { page, dialogs, errors } = await suite.open();
  const answer = {
    code: '0000',
    msg: '<img src=x onerror="window.__pwned=\'msg\';alert(1)">',
    chk: {
      code: '00',
      name: '<iframe srcdoc="<script>parent.__pwned=\'name\'</script>"></iframe>a.tpk',
      time: '<img src=y onerror="window.__pwned=\'time\'">',
      text: '<script>window.__pwned="text"</script><svg onload="window.__pwned=\'svg\'"></svg><b>有效</b>',
    },
  };
  const shown = await showAnswer(page, JSON.stringify(answer),
    { accountName: '<img src=z onerror="window.__pwned=\'account\'">保險公司' });
  await showAnswer(page, JSON.stringify({ ...answer, code: '9' }),
    { accountName: '<img src=z onerror="window.__pwned=\'account\'">保險公司' });
  await page.waitForTimeout(300);
  assert.equal(await page.evaluate(() => window.__pwned), undefined);
  assert.deepEqual(dialogs, []);
  assert.equal(await page.locator('#onlineSummary, #os1Detail, #fileName, #issuer, #chk_time, #chk_text')
    .locator('script, img, iframe, svg').count(), 0);
  assert.equal(shown.issuer, '保險公司');
  assert.equal(shown.fileName, 'a.tpk');
  assert.equal(shown.text, '<b>有效</b>');
  assert.equal(shown.time, '(時區轉換失敗)');
  assert.deepEqual(errors, []);
  await page.close();
});

test('the result list scrolls to its end after an answer', async () => {
  const { page, errors } = await suite.open();
  await page.evaluate(() => {
    document.getElementById('verifyScroll').style.height = '80px';
    for (const id of ['verifyResult', 'versionInfo']) qalvHost.setStyle(id, 'display', '');
  });
  await showAnswer(page, JSON.stringify(
    { code: '0000', chk: { code: '00', name: 'a.tpk', time: '2015-01-02 03:04:05', text: 't' } }));
  const scroll = await page.evaluate(() => {
    const element = document.getElementById('verifyScroll');
    return { top: element.scrollTop, end: element.scrollHeight - element.clientHeight };
  });
  assert.ok(scroll.end > 0);
  assert.ok(Math.abs(scroll.top - scroll.end) <= 1, JSON.stringify(scroll));
  assert.deepEqual(errors, []);
  await page.close();
});
