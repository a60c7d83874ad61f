// The reader page's controls in Chromium: the busy mask around each call to
// the reader, folding, the recent-documents menu, seal sizing and the preview.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  answer, callsTo, maskShown, solidPng, waitIdle, readerSuite,
} from './page_server.mjs';

const suite = readerSuite();

function display(page, id) {
  return page.evaluate((elementId) => getComputedStyle(document.getElementById(elementId)).display, id);
}

function menuVisible(page) {
  return display(page, 'menuPad').then((value) => value !== 'none');
}

test('init keeps the mask until JsInit answers', async () => {
  const { page, errors } = await suite.open({ autoResolve: {} });
  assert.equal(await maskShown(page), true);
  assert.equal((await callsTo(page, 'JsInit')).length, 1);
  await answer(page, 'JsInit', null);
  await waitIdle(page);
  assert.equal((await callsTo(page, 'JsInit')).length, 1);
  assert.deepEqual(errors, []);
  await page.close();
});

test('a tree title unfolds and folds its own region and swaps its marker', async () => {
  const { page, errors } = await suite.open();
  await page.evaluate(() => qalvHost.setStyle('verifyResult', 'display', ''));
  // Picture numbers: the page's own markup is served here with its res: links rewritten.
  const state = () => page.evaluate(() => ['node1', 'node2', 'node3'].map((node) => [
    document.getElementById(`${node}_region`).style.display,
    document.getElementById(`${node}_image`).getAttribute('src').match(/\d+$/)[0],
  ]));
  const folded = ['none', '139'];
  const unfolded = ['', '138'];
  assert.deepEqual(await state(), [folded, folded, folded]);

  await page.click('#s2Title');
  assert.deepEqual(await state(), [folded, unfolded, folded]);
  assert.notEqual(await display(page, 'node2_region'), 'none');
  await page.click('#node3_image');
  assert.deepEqual(await state(), [folded, unfolded, unfolded]);
  await page.click('#s2Title');
  assert.deepEqual(await state(), [folded, folded, unfolded]);
  assert.equal(await display(page, 'node2_region'), 'none');
  assert.deepEqual(errors, []);
  await page.close();
});

test('each group\'s details link asks for its own signer, by click or key, and leaves the folding alone', async () => {
  const { page, errors } = await suite.open();
  await page.evaluate(() => qalvHost.setStyle('verifyResult', 'display', ''));
  const rows = [['s1', (id) => page.click(id)], ['s2', (id) => page.focus(id).then(() => page.keyboard.press('Enter'))],
    ['s3', (id) => page.focus(id).then(() => page.keyboard.press(' '))]];
  for (const [index, [signer, press]] of rows.entries()) {
    await page.evaluate((node) => Toggle(node), `node${signer[1]}`);
    await press(`#${signer}Details`);
    const calls = await callsTo(page, 'JsShowSignerDetails');
    assert.equal(calls.length, index + 1, signer);
    assert.deepEqual(calls.at(-1).args, [signer]);
    assert.equal(await maskShown(page), true, signer);
    await answer(page, 'JsShowSignerDetails', null);
    await waitIdle(page);
    assert.notEqual(await display(page, `node${signer[1]}_region`), 'none', signer);
  }
  assert.deepEqual(errors, []);
  await page.close();
});

test('mouse-down rules of the recent-documents menu', async () => {
  const { page, errors } = await suite.open();
  await page.evaluate((paths) => qalvHost.setMenuItems('menuPad', paths), ['/a/one.tpk', '/a/two.tpk']);
  // Off the icon: the button's own text and padding.
  const onButton = (selector) => page.click(selector, { position: { x: 150, y: 18 } });
  const pressAt = async (box) => {
    await page.mouse.move(box.x + 20, box.y + box.height / 2);
    await page.mouse.down();
  };
  const steps = [
    ['a press on the button opens the menu', () => onButton('#recently'), true],
    ['a second press on the button closes it', () => onButton('#recently'), false],
    ['a third press opens it again', () => onButton('#recently'), true],
    ['a press on the button icon closes it', () => page.click('#recently img'), false],
    ['a press on the button icon keeps it closed', () => page.click('#recently img'), false],
    ['the button reopens it', () => onButton('#recently'), true],
    ['a press inside the menu keeps it', async () => {
      await pressAt(await page.locator('#menuPad').boundingBox());
      await page.mouse.move(5, 300);
      await page.mouse.up();
    }, true],
    ['a press elsewhere closes it', async () => {
      await pressAt(await page.locator('.statusBar').boundingBox());
      await page.mouse.up();
    }, false],
  ];
  for (const [name, act, visible] of steps) {
    await act();
    assert.equal(await menuVisible(page), visible, name);
  }
  assert.deepEqual(await callsTo(page, 'JsOpenRecently'), []);
  assert.deepEqual(errors, []);
  await page.close();
});

test('a menu item lights up under the pointer and reopens its entry by position', async () => {
  const { page, errors } = await suite.open();
  const path = '/home/holder/Tom & Jerry <2015> "q" \u{1D49C}.tpk';
  await page.evaluate((paths) => qalvHost.setMenuItems('menuPad', paths), ['/a/first.tpk', path]);
  assert.equal(await page.locator('#menuPad div').nth(1).textContent(), path);
  await page.click('#recently', { position: { x: 150, y: 18 } });
  const item = page.locator('#menuPad div').nth(1);
  const colours = () => item.evaluate((element) => {
    const style = getComputedStyle(element);
    return [style.backgroundColor, style.color];
  });
  await item.hover();
  assert.deepEqual(await colours(), ['rgb(68, 68, 69)', 'rgb(255, 255, 255)']);
  await page.mouse.move(5, 300);
  assert.deepEqual(await colours(), ['rgb(255, 255, 255)', 'rgb(68, 68, 69)']);

  await item.click();
  assert.deepEqual(await callsTo(page, 'JsOpenRecently').then((calls) => calls.map((c) => c.args)),
    [[1]]);
  assert.equal(await menuVisible(page), false);
  assert.equal(await maskShown(page), true);
  await answer(page, 'JsOpenRecently', null);
  await waitIdle(page);
  // The menu closed under the pointer: a press elsewhere must not find it "entered".
  await page.click('#recently', { position: { x: 150, y: 18 } });
  await page.mouse.click(5, 300);
  assert.equal(await menuVisible(page), false);
  assert.deepEqual(errors, []);
  await page.close();
});

test('seals are sized from their natural size, also when they load after the call', async () => {
  const { page, errors } = await suite.open();
  const wide = suite.server.addFixture('wide.png', 'image/png', solidPng(120, 40));
  const tall = suite.server.addFixture('tall.png', 'image/png', solidPng(30, 90));
  const sizes = () => page.evaluate(() => ['ipkseal', 'tpkseal'].map((id) => {
    const box = document.getElementById(id).getBoundingClientRect();
    return [Math.round(box.width), Math.round(box.height)];
  }));
  const openWith = async (ipkseal, tpkseal) => {
    await page.click('#ButtonOpen');
    assert.equal(await maskShown(page), true);
    await page.evaluate(([ipk, tpk]) => {
      qalvHost.setStyle('preview', 'display', '');
      qalvHost.setAttribute('ipkseal', 'src', ipk);
      qalvHost.setAttribute('tpkseal', 'src', tpk);
    }, [ipkseal, tpkseal]);
    await answer(page, 'JsOpenTpk', null);
    await waitIdle(page);
    await page.waitForFunction(() => ['ipkseal', 'tpkseal'].every((id) => document.getElementById(id).complete));
  };

  await openWith(`${wide}?n=1`, `${tall}?n=1`);
  await page.waitForFunction(() => document.getElementById('tpkseal').getBoundingClientRect().height === 60);
  assert.deepEqual(await sizes(), [[60, 20], [20, 60]]);
  // A second opening with the shapes swapped must not keep the old dimension.
  await openWith(`${tall}?n=2`, `${wide}?n=2`);
  await page.waitForFunction(() => document.getElementById('ipkseal').getBoundingClientRect().height === 60);
  assert.deepEqual(await sizes(), [[20, 60], [60, 20]]);
  assert.deepEqual(errors, []);
  await page.close();
});

test('a seal verdict mark shows a check for pass, a cross for fail, nothing otherwise', async () => {
  const { page, errors } = await suite.open();
  await page.evaluate(() => qalvHost.setStyle('preview', 'display', ''));
  const look = (verdict) => page.evaluate((value) => {
    qalvHost.setAttribute('ipksealMark', 'data-verdict', value);
    const mark = document.getElementById('ipksealMark');
    return {
      display: getComputedStyle(mark).display,
      check: getComputedStyle(mark, '::after').borderRightColor,
      cross: getComputedStyle(mark, '::before').backgroundColor,
    };
  }, verdict);
  const pass = await look('pass');
  const fail = await look('fail');
  const none = await look('');
  assert.notEqual(pass.display, 'none');
  assert.notEqual(fail.display, 'none');
  assert.equal(none.display, 'none');
  // A green check and a red cross, drawn by the page's style sheet.
  const [red, green] = pass.check.match(/\d+/g).map(Number);
  assert.ok(green > 2 * red, `check colour ${pass.check}`);
  assert.equal(fail.cross, 'rgb(208, 2, 27)');
  assert.deepEqual(errors, []);
  await page.close();
});

test('the preview calls JsShowPdf only once a snapshot picture is set', async () => {
  const { page, errors } = await suite.open();
  const picture = suite.server.addFixture('snapshot.png', 'image/png', solidPng(50, 70));
  await page.evaluate(() => qalvHost.setStyle('preview', 'display', ''));
  const cases = [
    ['no source at all', null, '#click', 0],
    ['an emptied source', '', '#click', 0],
    ['a document snapshot, clicking the invitation', picture, '#click', 1],
    ['a document snapshot, clicking the picture', picture, '#snapshot', 1],
  ];
  for (const [name, source, target, expected] of cases) {
    await page.evaluate((src) => {
      const snapshot = document.getElementById('snapshot');
      if (src === null) snapshot.removeAttribute('src');
      else qalvHost.setAttribute('snapshot', 'src', src);
    }, source);
    if (source === picture) await page.waitForFunction(() => document.getElementById('snapshot').complete);
    await page.click(target, { position: { x: 5, y: 5 } });
    const calls = await callsTo(page, 'JsShowPdf');
    assert.equal(calls.length, expected, name);
    if (expected) await answer(page, 'JsShowPdf', null);
    await page.evaluate(() => { window.__calls.length = 0; });
  }
  assert.deepEqual(errors, []);
  await page.close();
});

test('the first click on online verification only shows the mask; the call follows 30 ms later', async () => {
  const { page, errors } = await suite.open();
  await page.evaluate(() => {
    window.addEventListener('click', () => { window.__clickAt = performance.now(); }, true);
    qalvHost.setAttribute('onlineVerifyRet', 'value', '{"code":"0000"}');
  });
  await page.click('#ButtonOnline');
  const early = await page.evaluate(() => ({
    mask: document.getElementById('mask').style.display,
    since: performance.now() - window.__clickAt,
  }));
  assert.equal(early.mask, '', `mask ${early.since} ms after the click`);
  await page.waitForFunction(() => window.__calls.some((c) => c.name === 'JsOnlineVerify'));
  const [call] = await callsTo(page, 'JsOnlineVerify');
  const clickAt = await page.evaluate(() => window.__clickAt);
  assert.ok(call.at - clickAt >= 29, `called ${call.at - clickAt} ms after the click`);
  assert.equal(await maskShown(page), true);

  // False: the answer is not read.
  await answer(page, 'JsOnlineVerify', false);
  await waitIdle(page);
  assert.equal(await page.textContent('#onlineSummary'), '由QALV線上驗證無誤');
  // True: the answer is shown, then the mask goes.
  await page.click('#ButtonOnline');
  await page.waitForFunction(() => window.__calls.filter((c) => c.name === 'JsOnlineVerify').length === 2);
  await answer(page, 'JsOnlineVerify', true);
  await waitIdle(page);
  assert.equal(await page.textContent('#onlineSummary'), '此份保單由QALV線上驗證無誤');
  assert.deepEqual(errors, []);
  await page.close();
});

test('while one call to the reader is under way, further requests are dropped', async () => {
  const { page, errors } = await suite.open();
  await page.click('#ButtonOpen');
  // The mask stops the mouse; the keyboard and script still reach the buttons.
  await page.focus('#ButtonCopy');
  await page.keyboard.press('Enter');
  await page.evaluate(async () => {
    openTpk();
    onlineVerify();
    await new Promise((resolve) => setTimeout(resolve, 60));
  });
  assert.deepEqual((await page.evaluate(() => window.__calls.map((c) => c.name))), ['JsInit', 'JsOpenTpk']);
  assert.equal(await maskShown(page), true);
  await answer(page, 'JsOpenTpk', null);
  await waitIdle(page);
  await page.click('#ButtonCopy');
  assert.equal((await callsTo(page, 'JsCopyTpk')).length, 1);
  assert.deepEqual(errors, []);
  await page.close();
});
