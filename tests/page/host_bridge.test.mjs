// The page's side of the bridge: the element writes the reader makes, and the
// window.external stand-in it builds over the web channel.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { maskShown, waitIdle, readerSuite } from './page_server.mjs';

const suite = readerSuite();

test('element writes report a missing element and refuse what the reader never writes', async () => {
  const { page, errors } = await suite.open();
  const cases = [
    ['setAttribute', ['snapshot', 'src', 'res:/WORK/SNS?n=1'], true, '#snapshot', 'src', 'res:/WORK/SNS?n=1'],
    ['setAttribute', ['onlineVerifyRet', 'value', '{"code":"0000"}'], true, '#onlineVerifyRet', 'value', '{"code":"0000"}'],
    ['setAttribute', ['ipksealMark', 'data-verdict', 'fail'], true, '#ipksealMark', 'data-verdict', 'fail'],
    ['setAttribute', ['nothing', 'src', 'x'], false],
    ['setAttribute', ['snapshot', 'onerror', 'window.__pwned = 1'], false, '#snapshot', 'onerror', null],
    ['setAttribute', ['ButtonOpen', 'onclick', 'window.__pwned = 2'], false],
    ['setAttribute', ['snapshot', 'style', 'position:fixed'], false, '#snapshot', 'style', null],
    ['setStyle', ['status', 'color', 'Maroon'], true, '#status', 'style', 'color: maroon;'],
    ['setStyle', ['preview', 'display', ''], true, '#preview', 'style', ''],
    ['setStyle', ['nothing', 'display', 'none'], false],
    ['setStyle', ['memo', 'backgroundImage', 'url(http://127.0.0.1:9/x)'], false, '#memo', 'style', null],
    ['setInnerHtml', ['status', '本保單已通過<b>測試人壽</b>'], true, '#status', 'innerHTML', '本保單已通過<b>測試人壽</b>'],
    ['setInnerHtml', ['nothing', 'x'], false],
    ['setText', ['onlineSummary', '<b>本保單</b> & 已通過'], true, '#onlineSummary', 'innerHTML', '&lt;b&gt;本保單&lt;/b&gt; &amp; 已通過'],
    ['setText', ['nothing', 'x'], false],
    ['setMenuItems', ['menuPad', ['/a & <b>.tpk', '"q" \'a\' \u{1D49C}.tpk']], true, '#menuPad', 'innerHTML',
      '<div role="menuitem" tabindex="0">/a &amp; &lt;b&gt;.tpk</div>' +
      '<div role="menuitem" tabindex="0">"q" \'a\' \u{1D49C}.tpk</div>'],
    ['setMenuItems', ['menuPad', '<div>not a list</div>'], false],
    ['setMenuItems', ['nothing', []], false],
  ];
  for (const [operation, args, expected, selector, name, value] of cases) {
    const returned = await page.evaluate(([op, a]) => qalvHost[op](...a), [operation, args]);
    assert.equal(returned, expected, `${operation}(${args.join(', ')})`);
    if (selector) {
      const actual = await page.$eval(selector, (element, attribute) =>
        attribute === 'innerHTML' ? element.innerHTML : element.getAttribute(attribute), name);
      assert.equal(actual, value, `${operation}(${args.join(', ')})`);
    }
  }
  await page.click('#ButtonOpen');
  assert.equal(await page.evaluate(() => window.__pwned), undefined);
  assert.deepEqual(errors, []);
  await page.close();
});

// A stand-in for Qt's web channel: the bridge records what the page sends
// and the test decides when the channel comes up.
function fakeWebChannel() {
  window.__sent = [];
  window.qt = { webChannelTransport: {} };
  const bridge = {};
  for (const name of ['JsShowPdf', 'JsInit', 'JsOpenTpk', 'JsOpenRecently', 'JsCopyTpk', 'JsOnlineVerify',
    'JsShowSignerDetails', 'ReadProperty', 'SetProperty']) {
    bridge[name] = (...args) => { window.__sent.push([name, ...args]); };
  }
  window.QWebChannel = function QWebChannel(transport, ready) {
    if (transport !== window.qt.webChannelTransport) throw new Error('wrong transport');
    window.__connect = () => ready({ objects: { bridge } });
  };
}

test('window.external calls the reader over the web channel and resolves by token', async () => {
  const { page, errors } = await suite.open({ initScript: fakeWebChannel });
  const sent = () => page.evaluate(() => window.__sent);

  // Before the channel is up, calls and property writes wait for it.
  assert.equal(await maskShown(page), true);
  await page.evaluate(() => { window.external.m_dataPin = 'early'; });
  assert.deepEqual(await sent(), []);
  await page.evaluate(() => window.__connect());
  const [[method, initToken], property] = await sent();
  assert.equal(method, 'JsInit');
  assert.deepEqual(property, ['SetProperty', 'm_dataPin', 'early']);
  assert.equal(await maskShown(page), true);
  await page.evaluate((token) => qalvHost.resolve(token, null), initToken);
  await waitIdle(page);

  // Each Promise takes the answer given for its own token, whatever the order;
  // a recent entry goes by its position as a number.
  const results = await page.evaluate(async () => {
    window.__sent.length = 0;
    const settled = [];
    const verify = window.external.JsOnlineVerify().then((r) => settled.push(['JsOnlineVerify', r]));
    const recent = window.external.JsOpenRecently('3').then((r) => settled.push(['JsOpenRecently', r]));
    const [[, verifyToken], [, recentToken, index]] = window.__sent;
    qalvHost.resolve(recentToken, undefined);
    qalvHost.resolve(12345, 'nobody waits');
    qalvHost.resolve(verifyToken, true);
    qalvHost.resolve(verifyToken, false);
    await Promise.all([verify, recent]);
    return { settled, index, distinct: verifyToken !== recentToken };
  });
  assert.deepEqual(results, {
    settled: [['JsOpenRecently', undefined], ['JsOnlineVerify', true]],
    index: 3,
    distinct: true,
  });

  // The properties stay with the reader: nothing arrives until the page reads
  // one, and a read is a call answered like the others.
  const properties = await page.evaluate(async () => {
    window.__sent.length = 0;
    const reading = window.external.m_b64Data;
    const [[name, token, property]] = window.__sent;
    qalvHost.resolve(token, 'JVBERi0=');
    const read = await reading;
    window.external.m_b64Data = 'changed';
    return { name, property, read, sent: window.__sent.slice(1) };
  });
  assert.deepEqual(properties, {
    name: 'ReadProperty', property: 'm_b64Data', read: 'JVBERi0=', sent: [['SetProperty', 'm_b64Data', 'changed']],
  });

  // A page button goes through the same channel, under the mask until answered.
  await page.evaluate(() => { window.__sent.length = 0; });
  await page.click('#ButtonCopy');
  const [[copy, copyToken]] = await sent();
  assert.equal(copy, 'JsCopyTpk');
  assert.equal(await maskShown(page), true);
  await page.evaluate((token) => qalvHost.resolve(token, null), copyToken);
  await waitIdle(page);
  assert.deepEqual(errors, []);
  await page.close();
});
