// The page's side of the bridge: the element writes the reader makes, and the
// window.external stand-in it builds over the web channel.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { maskShown, waitIdle, readerSuite } from './page_server.mjs';

const suite = readerSuite();

test('element writes report a missing element and refuse what the reader never writes', async () => {
  const { page, errors } = await suite.open();
  const cases = [
    ['setAttribute', ['snapshot', 'src', 'file:///tmp/qalvquv/SNS?1'], true, '#snapshot', 'src', 'file:///tmp/qalvquv/SNS?1'],
    ['setAttribute', ['onlineVerifyRet', 'value', '{"code":"0000"}'], true, '#onlineVerifyRet', 'value', '{"code":"0000"}'],
    ['setAttribute', ['ipksealMark', 'data-verdict', 'fail'], true, '#ipksealMark', 'data-verdict', 'fail'],
    ['setAttribute', ['nothing', 'src', 'x'], false],
    ['setAttribute', ['snapshot', 'onerror', 'window.__pwned = 1'], false, '#snapshot', 'onerror', null],
    ['setAttribute', ['ButtonOpen', 'onclick', 'window.__pwned = 2'], false],
    ['setAttribute', ['snapshot', 'style', 'position:fixed'], false, '#snapshot', 'style', null],
    ['setStyle', ['status', 'color', 'Maroon'], true, '#status', 'style', 'color: maroon;'],
    ['setStyle', ['preview', 'display', ''], true, '#preview', 'style', 'height: 620px;'],
    ['setStyle', ['nothing', 'display', 'none'], false],
    ['setStyle', ['memo', 'backgroundImage', 'url(http://127.0.0.1:9/x)'], false, '#memo', 'style', null],
    ['setInnerHtml', ['status', '本保單已通過<b>測試人壽</b>'], true, '#status', 'innerHTML', '本保單已通過<b>測試人壽</b>'],
    ['setInnerHtml', ['nothing', 'x'], false],
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

test('markup written by the reader keeps its formatting and loses its script', async () => {
  const { page, dialogs, errors } = await suite.open();
  const payloads = [
    '<img src=x onerror="window.__pwned=\'img\';alert(1)">',
    '<script>window.__pwned="script";alert(2)</script>',
    '<svg><script>window.__pwned="svg"</script></svg><svg onload="window.__pwned=\'svg-load\'"></svg>',
    '<iframe srcdoc="<script>parent.__pwned=\'frame\'</script>"></iframe>',
    '<a id="link" href="javascript:window.__pwned=\'link\'">link</a>',
    '<form action="javascript:window.__pwned=\'form\'"><button id="submit">go</button></form>',
    '<details open ontoggle="window.__pwned=\'toggle\'"><summary>s</summary></details>',
    '<b onmouseover="window.__pwned=\'hover\'">hover</b>',
    '<style>body{display:none}</style><link rel=stylesheet href="http://127.0.0.1:9/x.css">',
    '<math><mtext><table><mglyph><style><img src=x onerror="window.__pwned=\'mxss\'">',
  ];
  const kept = '保單<br><b>粗體</b><font color="red">紅</font><span style="color: blue">藍</span>';
  await page.evaluate(([markup, harmless]) => {
    qalvHost.setStyle('versionInfo', 'display', '');
    qalvHost.setInnerHtml('memo', harmless + markup.join(''));
    qalvHost.setInnerHtml('status', markup.join(''));
    qalvHost.setInnerHtml('menuPad', markup.map((m) => `<div>${m}</div>`).join(''));
  }, [payloads, kept]);
  await page.hover('#memo b');
  await page.waitForTimeout(300);
  assert.equal(await page.evaluate(() => window.__pwned), undefined);
  assert.deepEqual(dialogs, []);
  assert.equal(await page.locator('#memo, #status, #menuPad')
    .locator('script, img, svg, iframe, a, form, button, details, style, link, math, [onmouseover]').count(), 0);
  assert.equal(await page.$eval('#memo', (memo, harmless) => memo.innerHTML.startsWith(harmless), kept), true);
  assert.notEqual(await page.$eval('body', (body) => getComputedStyle(body).display), 'none');
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
    'SetProperty']) {
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
  assert.equal(await page.evaluate(() => window.external.m_dataPin), 'early');
  assert.deepEqual(await sent(), []);
  await page.evaluate(() => window.__connect());
  const [[method, initToken], property] = await sent();
  assert.equal(method, 'JsInit');
  assert.deepEqual(property, ['SetProperty', 'm_dataPin', 'early']);
  assert.equal(await maskShown(page), true);
  await page.evaluate((token) => qalvHost.resolve(token, null), initToken);
  await waitIdle(page);

  // Each Promise takes the answer given for its own token, whatever the order.
  const results = await page.evaluate(async () => {
    window.__sent.length = 0;
    const settled = [];
    const verify = window.external.JsOnlineVerify().then((r) => settled.push(['JsOnlineVerify', r]));
    const recent = window.external.JsOpenRecently('/home/a &amp; b.tpk')
      .then((r) => settled.push(['JsOpenRecently', r]));
    const [[, verifyToken], [, recentToken, path]] = window.__sent;
    qalvHost.resolve(recentToken, undefined);
    qalvHost.resolve(12345, 'nobody waits');
    qalvHost.resolve(verifyToken, true);
    qalvHost.resolve(verifyToken, false);
    await Promise.all([verify, recent]);
    return { settled, path, distinct: verifyToken !== recentToken };
  });
  assert.deepEqual(results, {
    settled: [['JsOpenRecently', undefined], ['JsOnlineVerify', true]],
    path: '/home/a &amp; b.tpk',
    distinct: true,
  });

  // The reader refreshes the local copies without a round trip; the page's own
  // writes go to the reader.
  const properties = await page.evaluate(() => {
    window.__sent.length = 0;
    qalvHost.setProperties('JVBERi0=', '');
    const read = [window.external.m_b64Data, window.external.m_dataPin];
    const quiet = window.__sent.length;
    window.external.m_b64Data = 'changed';
    return { read, quiet, sent: window.__sent, now: window.external.m_b64Data };
  });
  assert.deepEqual(properties, {
    read: ['JVBERi0=', ''], quiet: 0, sent: [['SetProperty', 'm_b64Data', 'changed']], now: 'changed',
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
