// The reader page for people who use a screen reader or the keyboard, and at
// the window sizes the reader runs at: axe-core's checks over the rendered
// page, every control by keyboard, the busy mask's moving sign, and the
// blocks following the window.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { answer, callsTo, solidPng, waitIdle, readerSuite } from './page_server.mjs';

const suite = readerSuite();

const INSURER = '測試人壽保險股份有限公司';
const FAILED = '本保單驗證有誤，QALV第三方認證電子簽章有問題，保單內容可能被修改或損毀，請洽';

// Writes an opening's results through qalvHost as the reader does, then
// unfolds one group so that its rows are checked too.
async function renderOpening(page, { passing }) {
  const pictures = {
    snapshot: suite.server.addFixture('snapshot.png', 'image/png', solidPng(60, 85)),
    ipkseal: suite.server.addFixture('wide-seal.png', 'image/png', solidPng(120, 40)),
    tpkseal: suite.server.addFixture('tall-seal.png', 'image/png', solidPng(30, 90)),
  };
  await page.evaluate(([ok, insurer, failed, sources]) => {
    const host = window.qalvHost;
    host.setStyle('status', 'color', ok ? 'Black' : 'Maroon');
    host.setText('statusLead', ok ? '本保單已通過' : failed);
    host.setInnerHtml('statusIssuer', insurer);
    host.setText('statusTail', ok ? '及QALV第三方認證，內容未經修改。' : '');
    const groups = [['s1', '保單內容電子簽章 ', true], ['s2', '保單封包電子簽章 ', true],
      ['s3', 'QALV第三方認證電子簽章 ', ok]];
    for (const [prefix, subject, passes] of groups) {
      const colour = passes ? 'Black' : 'Red';
      for (const part of ['Sign', 'Title']) host.setStyle(prefix + part, 'color', colour);
      host.setText(prefix + 'Sign', passes ? '簽章正確' : '簽章有問題');
      host.setText(prefix + 'Cert', '憑證合格');
      host.setText(prefix + 'SignTime', '簽章時間：2024/01/02 11:04:05');
      const title = subject + (passes ? '正確' : '有問題');
      if (prefix === 's3') {
        host.setText('s3Title', title);
      } else {
        host.setInnerHtml(prefix + 'Issuer', insurer);
        host.setText(prefix + 'Verdict', title);
      }
    }
    host.setStyle('verifyResult', 'display', '');
    host.setInnerHtml('memo', '<b>備註</b>：保單條款請見第三頁');
    host.setStyle('versionInfo', 'display', '');
    host.setStyle('preview', 'display', '');
    for (const [id, source] of Object.entries(sources)) host.setAttribute(id, 'src', source);
    host.setAttribute('ipksealMark', 'data-verdict', 'pass');
    host.setAttribute('tpksealMark', 'data-verdict', ok ? 'pass' : 'fail');
    host.setAttribute('vinfo_accountName', 'value', insurer);
    host.setAttribute('s2_signtime', 'value', '2024/01/02 11:04:05');
    Toggle(ok ? 'node1' : 'node3');
  }, [passing, INSURER, FAILED, pictures]);
  await page.waitForFunction(() => ['snapshot', 'ipkseal', 'tpkseal'].every((id) => document.getElementById(id).complete));
}

// Presses the online verification button and lets the reader answer with `raw`.
async function verifyOnline(page, raw) {
  await page.evaluate((text) => qalvHost.setAttribute('onlineVerifyRet', 'value', text), raw);
  await page.click('#ButtonOnline');
  await page.waitForFunction(() => window.__calls.some((c) => c.name === 'JsOnlineVerify' && !c.settled));
  await page.evaluate(() => qalvHost.setStyle('onlineVerify', 'display', ''));
  await answer(page, 'JsOnlineVerify', true);
  await waitIdle(page);
}

// axe-core's violations of impact serious or critical, one readable line per
// element. The test server serves axe-core from the page's own origin, which
// its content security policy lets through.
async function seriousViolations(page) {
  if (!await page.evaluate(() => 'axe' in window)) await page.addScriptTag({ url: '/res/JS/axe.js' });
  const { violations } = await page.evaluate(() => axe.run(document, { resultTypes: ['violations'] }));
  return violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .flatMap((v) => v.nodes.map((node) => `${v.impact} ${v.id} at ${node.target.join(' ')}: ${node.failureSummary}`));
}

test('axe-core finds nothing serious in the page in any state it is shown in', async () => {
  const verified = { code: '0000', chk: { code: '00', name: 'policy-0042.tpk', time: '2024-01-02 03:04:05',
    text: '<b>保單有效</b>' } };
  const states = [
    ['a genuine opening', (page) => renderOpening(page, { passing: true })],
    ['a failed opening', (page) => renderOpening(page, { passing: false })],
    ['an online answer with the policy status', async (page) => {
      await renderOpening(page, { passing: true });
      await verifyOnline(page, JSON.stringify(verified));
    }],
    ['a refused online answer', async (page) => {
      await renderOpening(page, { passing: false });
      await verifyOnline(page, JSON.stringify({ code: '1001', msg: '查無此保單' }));
    }],
    ['the recent-documents menu open', async (page) => {
      await page.evaluate(() => qalvHost.setMenuItems('menuPad', ['/home/holder/a.tpk', '/home/holder/b.tpk']));
      await page.focus('#recently');
      await page.keyboard.press('Enter');
    }],
    ['a call to the reader under way', async (page) => {
      await page.click('#ButtonOpen');
      await page.waitForFunction(() => document.getElementById('mask').classList.contains('slow'));
    }],
  ];
  for (const [name, show] of states) {
    const { page, errors } = await suite.open();
    await show(page);
    assert.deepEqual(await seriousViolations(page), [], name);
    assert.deepEqual(errors, [], name);
    await page.close();
  }
});

// Where keyboard focus is: an element's id, or for a tree title its group's name.
function focused(page) {
  return page.evaluate(() => {
    const element = document.activeElement;
    const group = element.querySelector('[id$="_image"]');
    return group ? group.id.replace('_image', '') : element.id || element.textContent;
  });
}

test('Tab reaches every toolbar item, the preview, every tree group and an unfolded group\'s details in order', async () => {
  const { page, errors } = await suite.open();
  await renderOpening(page, { passing: true });
  // renderOpening unfolded node1: its details link is a stop of its own.
  const expected = ['ButtonOpen', 'recently', 'ButtonCopy', 'ButtonOnline', 'ButtonQA', 'snapshot',
    'node1', 's1Details', 'node2', 'node3'];
  const stops = [];
  for (let i = 0; i < expected.length; i++) {
    await page.keyboard.press('Tab');
    stops.push(await focused(page));
  }
  assert.deepEqual(stops, expected);
  // The outline is drawn inside the element, so the scrolling list cannot clip it.
  const outline = await page.evaluate(() => {
    const style = getComputedStyle(document.activeElement);
    return [style.outlineStyle, parseFloat(style.outlineWidth) + parseFloat(style.outlineOffset) <= 0];
  });
  assert.deepEqual(outline, ['solid', true]);
  assert.deepEqual(errors, []);
  await page.close();
});

test('Enter and Space fold tree groups and open the policy from the preview', async () => {
  const { page, errors } = await suite.open();
  await renderOpening(page, { passing: true });
  // renderOpening unfolded node1.
  const state = () => page.evaluate(() => ['node1', 'node2', 'node3'].map((node) => [
    document.getElementById(`${node}_image`).parentNode.getAttribute('aria-expanded'),
    getComputedStyle(document.getElementById(`${node}_region`)).display !== 'none',
  ]));
  const shown = ['true', true];
  const folded = ['false', false];
  const press = (node, key) => async () => {
    await page.focus(`#${node}_image >> xpath=..`);
    await page.keyboard.press(key);
  };
  const steps = [
    ['Enter unfolds node2', press('node2', 'Enter'), [shown, shown, folded]],
    ['Space unfolds node3', press('node3', ' '), [shown, shown, shown]],
    ['Space folds node1', press('node1', ' '), [folded, shown, shown]],
    ['Enter folds node3', press('node3', 'Enter'), [folded, shown, folded]],
    ['the reader folding node2 itself', () => page.evaluate(() => {
      qalvHost.setStyle('node2_region', 'display', 'none');
    }), [folded, folded, folded]],
    ['Space after the reader folded unfolds node2', press('node2', ' '), [folded, shown, folded]],
  ];
  for (const [name, act, expected] of steps) {
    await act();
    assert.deepEqual(await state(), expected, name);
  }
  // Space on the last group does not scroll the list instead.
  assert.equal(await page.evaluate(() => document.getElementById('verifyScroll').scrollTop), 0);

  for (const key of ['Enter', ' ']) {
    await page.focus('#snapshot');
    await page.keyboard.press(key);
    assert.equal((await callsTo(page, 'JsShowPdf')).length, 1, `${JSON.stringify(key)} on the preview`);
    await answer(page, 'JsShowPdf', null);
    await page.evaluate(() => { window.__calls.length = 0; });
  }
  assert.deepEqual(errors, []);
  await page.close();
});

test('the recent-documents menu works from the keyboard', async () => {
  const { page, errors } = await suite.open();
  const paths = ['/a/first.tpk', '/a/second.tpk', '/a/third.tpk'];
  await page.evaluate((texts) => qalvHost.setMenuItems('menuPad', texts), paths);
  // Each row starts with focus on the button and the menu closed.
  const rows = [
    ['Enter opens the menu on its first item', ['Enter'], { opened: null, menu: true, focus: paths[0] }],
    ['Space opens it too', [' '], { opened: null, menu: true, focus: paths[0] }],
    ['Enter on the first item opens it', ['Enter', 'Enter'], { opened: 0, menu: false, focus: 'recently' }],
    ['Down, then Enter, opens the second', ['Enter', 'ArrowDown', 'Enter'],
      { opened: 1, menu: false, focus: 'recently' }],
    ['Up from the first wraps to the last', ['Enter', 'ArrowUp', ' '], { opened: 2, menu: false, focus: 'recently' }],
    ['Tab moves through the items', ['Enter', 'Tab', 'Tab', 'Enter'], { opened: 2, menu: false, focus: 'recently' }],
    ['Escape closes it and returns to the button', ['Enter', 'ArrowDown', 'Escape'],
      { opened: null, menu: false, focus: 'recently' }],
    ['Enter on the button closes an open menu', ['Enter', 'Shift+Tab', 'Enter'],
      { opened: null, menu: false, focus: 'recently' }],
    ['Tab out of the last item closes it', ['Enter', 'ArrowUp', 'Tab'], { opened: null, menu: false, focus: 'ButtonCopy' }],
  ];
  for (const [name, keys, expected] of rows) {
    await page.evaluate(() => { hideMenu(); window.__calls.length = 0; });
    await page.focus('#recently');
    for (const key of keys) await page.keyboard.press(key);
    const calls = await callsTo(page, 'JsOpenRecently');
    const outcome = {
      opened: calls.length ? calls[0].args[0] : null,
      menu: await page.evaluate(() => document.getElementById('menuPad').style.display !== 'none'),
      focus: await focused(page),
    };
    assert.deepEqual(outcome, expected, name);
    assert.equal(await page.getAttribute('#recently', 'aria-expanded'), String(expected.menu), name);
    assert.ok(calls.length <= 1, name);
    if (calls.length) {
      await answer(page, 'JsOpenRecently', null);
      await waitIdle(page);
    }
  }
  assert.deepEqual(errors, []);
  await page.close();
});

test('the busy mask shows its moving sign only after 300 ms of a pending call', async () => {
  const { page, errors } = await suite.open();
  // The page's timers run only when the test moves the clock on.
  await page.clock.install();
  await page.clock.pauseAt(Date.now() + 1000);
  const look = () => page.evaluate(() => ({
    mask: document.getElementById('mask').style.display !== 'none',
    sign: getComputedStyle(document.querySelector('#mask .spinner')).display !== 'none',
    busy: document.getElementById('content').getAttribute('aria-busy'),
  }));
  const idle = { mask: false, sign: false, busy: 'false' };
  const waiting = { mask: true, sign: false, busy: 'true' };
  const slow = { mask: true, sign: true, busy: 'true' };
  const steps = [
    ['before any call', () => {}, idle],
    ['as a call starts', () => page.click('#ButtonOpen'), waiting],
    ['299 ms into it', () => page.clock.runFor(299), waiting],
    ['300 ms into it', () => page.clock.runFor(1), slow],
    ['once answered', () => answer(page, 'JsOpenTpk', null).then(() => waitIdle(page)), idle],
    ['a second call starts afresh', () => page.click('#ButtonCopy'), waiting],
    ['answered before 300 ms', () => page.clock.runFor(200).then(() => answer(page, 'JsCopyTpk', null))
      .then(() => waitIdle(page)), idle],
    ['nothing left to show it later', () => page.clock.runFor(500), idle],
    // Online verification shows the mask 30 ms before it calls: the time counts from the mask.
    ['online verification pressed', () => page.click('#ButtonOnline'), waiting],
    ['its call made, 299 ms after the mask', () => page.clock.runFor(299), waiting],
    ['300 ms after the mask', () => page.clock.runFor(1), slow],
  ];
  for (const [name, act, expected] of steps) {
    await act();
    assert.deepEqual(await look(), expected, name);
  }
  assert.equal((await callsTo(page, 'JsOnlineVerify')).length, 1);
  assert.equal(await page.evaluate(() => document.querySelector('#mask .spinner').getAnimations()
    .filter((animation) => animation.playState === 'running').length), 1, 'the sign moves');
  assert.deepEqual(errors, []);
  await page.close();
});

test('the blocks follow the window and the status line stays whole at the top', async () => {
  const { page, errors } = await suite.open();
  await renderOpening(page, { passing: false });
  // A verdict longer than the narrowest window is wide, with an insurer's
  // name longer than its box.
  await page.evaluate(([insurer, failed]) => {
    qalvHost.setText('statusLead', `${failed.replace('，請洽', '')}，保單封包電子簽章憑證不合格，請洽`);
    qalvHost.setInnerHtml('statusIssuer', insurer.repeat(4));
    for (const id of ['onlineVerify', 'onlineStatus']) qalvHost.setStyle(id, 'display', '');
    for (const node of ['node1', 'node2']) Toggle(node);
  }, [INSURER, FAILED]);
  const measure = () => page.evaluate(() => {
    const box = (selector) => document.querySelector(selector).getBoundingClientRect();
    const status = document.getElementById('status');
    const list = document.getElementById('verifyScroll');
    const root = document.documentElement;
    return {
      statusBar: box('.statusBar'),
      status: box('#status'),
      statusClipped: status.scrollWidth > status.clientWidth || status.scrollHeight > status.clientHeight,
      pageScrolls: [root.scrollWidth > root.clientWidth, root.scrollHeight > root.clientHeight],
      list: box('#verifyScroll'),
      listScrolls: list.scrollHeight > list.clientHeight,
      preview: box('#preview'),
      snapshot: box('#snapshot'),
      explanation: box('.explanation'),
    };
  });
  const inside = (inner, outer) => inner.left >= outer.left - 0.5 && inner.right <= outer.right + 0.5 &&
    inner.top >= outer.top - 0.5 && inner.bottom <= outer.bottom + 0.5;
  // The window's size, whether the verdict takes two lines, whether the list needs its own scroll bar.
  const sizes = [[1024, 600, true, true], [1366, 768, false, true], [1920, 1080, false, false]];
  const seen = [];
  for (const [width, height, wraps, listScrolls] of sizes) {
    await page.setViewportSize({ width, height });
    const m = await measure();
    const name = `${width}×${height}`;
    const viewport = { left: 0, top: 0, right: width, bottom: height };
    assert.ok(inside(m.statusBar, viewport), `${name}: status line ${JSON.stringify(m.statusBar)}`);
    assert.ok(inside(m.status, m.statusBar), `${name}: status ${JSON.stringify(m.status)}`);
    assert.equal(m.statusBar.top, 40, `${name}: status line right under the toolbar`);
    assert.equal(m.statusClipped, false, `${name}: status text clipped`);
    assert.equal(m.statusBar.height > 40, wraps, `${name}: status line ${m.statusBar.height} px high`);
    assert.deepEqual(m.pageScrolls, [false, false], `${name}: the page itself scrolls`);
    assert.ok(m.list.bottom <= height + 0.5 && m.list.bottom >= height - 0.5, `${name}: list ends at the bottom`);
    assert.ok(inside(m.snapshot, m.preview), `${name}: picture outside the preview ${JSON.stringify(m)}`);
    assert.ok(m.preview.bottom <= m.explanation.top + 0.5, `${name}: preview runs into the explanation`);
    assert.ok(m.explanation.bottom <= height + 0.5, `${name}: explanation cut off`);
    assert.equal(m.listScrolls, listScrolls, `${name}: list scrolls`);
    seen.push(m);
  }
  for (let i = 1; i < seen.length; i++) {
    for (const block of ['list', 'preview', 'snapshot']) {
      assert.ok(seen[i][block].height > seen[i - 1][block].height,
        `${block} grows from ${sizes[i - 1].slice(0, 2)} to ${sizes[i].slice(0, 2)}`);
    }
  }
  assert.deepEqual(errors, []);
  await page.close();
});
