// The reader page's own behaviour: buttons, the busy mask, folding, the
// recent-documents menu, keyboard use, seal sizing and the online
// verification answer.
// Classic script: its listeners, attached once the document is parsed, call
// these functions by name.

var overMenu = false;

// Set while a call to the reader is under way: the mask hides the buttons from
// the mouse but not from the keyboard, and the reader takes one call at a time.
var working = false;

// A call that lasts longer than this shows a moving sign on the mask.
var SLOW_CALL_MS = 300;
var slowTimer = null;

var SEAL_VERDICTS = { pass: '驗證正確', fail: '驗證有問題' };

var HELP_URL = 'https://www.qalv.com.tw/quv/help.htm';
var POSTFIX_TEXT = '以上保單查詢結果由保險公司所提供,如您對資訊內容有疑慮,請洽詢您所屬保險公司';

function byId(id) {
  return document.getElementById(id);
}

function showMask(shown) {
  var mask = byId('mask');
  mask.style.display = shown ? '' : 'none';
  byId('content').setAttribute('aria-busy', String(shown));
  if (shown && slowTimer === null) {
    slowTimer = setTimeout(function () { mask.classList.add('slow'); }, SLOW_CALL_MS);
  } else if (!shown) {
    clearTimeout(slowTimer);
    slowTimer = null;
    mask.classList.remove('slow');
  }
}

// Runs one call to the reader under the busy mask; a call made while another
// is under way is dropped.
async function busy(work) {
  if (working) return;
  working = true;
  showMask(true);
  try {
    await work();
  } finally {
    working = false;
    showMask(false);
  }
}

// The menu item under `node`, or null.
function menuItemOf(node) {
  var menuPad = byId('menuPad');
  while (node && node.parentNode !== menuPad) node = node.parentNode;
  return node && node.nodeType === Node.ELEMENT_NODE ? node : null;
}

function isActivationKey(event) {
  return event.key === 'Enter' || event.key === ' ';
}

// Calls `act` on Enter and Space, as a button does; the key does nothing else
// (Space would scroll).
function onActivationKey(element, act) {
  element.addEventListener('keydown', function (event) {
    if (!isActivationKey(event)) return;
    event.preventDefault();
    act();
  });
}

// What assistive technology is told about state the reader or the page may
// change: a group's folding, a seal's verdict, the recent menu's visibility.
function describeState() {
  ['node1', 'node2', 'node3'].forEach(function (node) {
    byId(node + '_image').parentNode.setAttribute('aria-expanded',
      String(byId(node + '_region').style.display !== 'none'));
  });
  ['ipksealMark', 'tpksealMark'].forEach(function (id) {
    var mark = byId(id);
    var label = SEAL_VERDICTS[mark.getAttribute('data-verdict')];
    if (label) {
      mark.setAttribute('role', 'img');
      mark.setAttribute('aria-label', label);
    } else {
      mark.removeAttribute('role');
      mark.removeAttribute('aria-label');
    }
  });
  byId('recently').setAttribute('aria-expanded', String(byId('menuPad').style.display !== 'none'));
}

function menuItems() {
  return Array.prototype.slice.call(byId('menuPad').children);
}

// The page's handlers are attached here, not written into its markup: the
// page's content security policy runs no inline script.
function listen() {
  Array.prototype.forEach.call(document.querySelectorAll('[data-hidden]'), function (element) {
    element.style.display = 'none';
    element.removeAttribute('data-hidden');
  });
  var clicks = { ButtonOpen: openTpk, ButtonCopy: copyTpk, ButtonOnline: onlineVerify, ButtonQA: onlineQA,
    snapshot: showPDF, click: showPDF };
  Object.keys(clicks).forEach(function (id) {
    byId(id).addEventListener('click', function () { clicks[id](); });
  });
  Array.prototype.forEach.call(document.querySelectorAll('.buttonWithImage'), function (button) {
    button.addEventListener('mouseover', function () { buttonOver(button); });
    button.addEventListener('mouseout', function () { buttonOut(button); });
  });
  ['node1', 'node2', 'node3'].forEach(function (node) {
    var title = byId(node + '_image').parentNode;
    title.addEventListener('click', function () { Toggle(node); });
    onActivationKey(title, function () { Toggle(node); });
  });
  onActivationKey(byId('snapshot'), showPDF);
  ['s1', 's2', 's3'].forEach(function (signer) {
    const link = byId(signer + 'Details');
    link.addEventListener('click', function () { showSignerDetails(signer); });
    onActivationKey(link, function () { showSignerDetails(signer); });
  });
  // The reader folds groups and sets verdicts through its own writes, so the
  // described state follows the elements, not the page's handlers.
  var observer = new MutationObserver(describeState);
  ['node1_region', 'node2_region', 'node3_region', 'ipksealMark', 'tpksealMark', 'menuPad'].forEach(function (id) {
    observer.observe(byId(id), { attributes: true, attributeFilter: ['style', 'data-verdict'] });
  });
  describeState();

  var menuPad = byId('menuPad');
  menuPad.addEventListener('mouseenter', function () { overMenu = true; });
  menuPad.addEventListener('mouseleave', function () { overMenu = false; });
  menuPad.addEventListener('click', function (event) {
    var item = menuItemOf(event.target);
    if (item) openRecently(item);
  });
  menuPad.addEventListener('mouseover', function (event) {
    var item = menuItemOf(event.target);
    if (item) itemOver(item);
  });
  menuPad.addEventListener('mouseout', function (event) {
    var item = menuItemOf(event.target);
    if (item) itemOut(item);
  });
  menuPad.addEventListener('keydown', menuKey);
  menuPad.addEventListener('focusout', function (event) {
    var next = event.relatedTarget;
    if (next && !menuPad.contains(next) && next.id !== 'recently') hideMenu();
  });
  // The mouse opens the menu on the press (mouseSelect); Enter and Space on
  // the button arrive as a click without a press.
  byId('recently').addEventListener('click', function (event) {
    if (event.detail !== 0) return;
    if (menuPad.style.display === 'none') {
      menuPad.style.display = '';
      if (menuPad.firstElementChild) menuPad.firstElementChild.focus();
    } else {
      hideMenu();
    }
  });
  document.addEventListener('keydown', function (event) {
    if (event.key === 'Escape' && menuPad.style.display !== 'none') hideMenu();
  });
  document.addEventListener('mousedown', mouseSelect);
}

function menuKey(event) {
  var item = menuItemOf(event.target);
  if (!item) return;
  var items = menuItems();
  var moves = { ArrowDown: 1, ArrowUp: -1 };
  if (isActivationKey(event)) {
    event.preventDefault();
    openRecently(item);
  } else if (moves[event.key]) {
    event.preventDefault();
    items[(items.indexOf(item) + moves[event.key] + items.length) % items.length].focus();
  }
}

document.addEventListener('DOMContentLoaded', listen);
window.addEventListener('load', function () { init(); });

function init() {
  // Seal pictures may finish loading after the call that set them returned.
  byId('ipkseal').addEventListener('load', zoomSeal);
  byId('tpkseal').addEventListener('load', zoomSeal);
  return busy(async function () {
    await window.external.JsInit();
    zoomSeal();
  });
}

// The signer's certificate, its path and the reasons of a failed check, in
// the reader's own dialog.
function showSignerDetails(signer) {
  return busy(async function () {
    await window.external.JsShowSignerDetails(signer);
  });
}

async function showPDF() {
  // Before a document was decrypted the snapshot has no picture.
  if (!byId('snapshot').getAttribute('src')) return;
  await window.external.JsShowPdf();
}

function openTpk() {
  return busy(async function () {
    await window.external.JsOpenTpk();
    zoomSeal();
  });
}

function hideMenu() {
  var menuPad = byId('menuPad');
  // Focus inside the menu would be lost with it: it goes back to the button.
  if (menuPad.contains(document.activeElement)) byId('recently').focus();
  menuPad.style.display = 'none';
  // The pointer leaves a hidden menu without a leave event.
  overMenu = false;
}

// The reader holds the list: the page names the item by its position.
function openRecently(item) {
  var index = menuItems().indexOf(item);
  hideMenu();
  if (index < 0) return;
  return busy(async function () {
    await window.external.JsOpenRecently(index);
    zoomSeal();
  });
}

function copyTpk() {
  return busy(async function () {
    await window.external.JsCopyTpk();
  });
}

function onlineVerify() {
  // The first click only shows the mask, so that it is painted before the
  // long verification starts.
  if (byId('mask').style.display === 'none') {
    showMask(true);
    setTimeout(onlineVerify, 30);
    return;
  }
  return busy(async function () {
    if (await window.external.JsOnlineVerify()) showOnlineVerify();
  });
}

function onlineQA() {
  window.open(HELP_URL, '_blank');
}

function zoomSeal() {
  ['ipkseal', 'tpkseal'].forEach(function (id) {
    var seal = byId(id);
    if (seal.naturalWidth >= seal.naturalHeight) {
      seal.style.width = '60px';
      seal.style.height = '';
    } else {
      seal.style.height = '60px';
      seal.style.width = '';
    }
  });
}

function Toggle(node) {
  var image = byId(node + '_image');
  var region = byId(node + '_region');
  if (region.style.display === 'none') {
    region.style.display = '';
    image.src = 'res:/WEB/#138';
  } else {
    region.style.display = 'none';
    image.src = 'res:/WEB/#139';
  }
}

function mouseSelect(event) {
  event = event || window.event;
  var target = event.target || event.srcElement;
  var menuPad = byId('menuPad');
  if (target && target.id === 'recently') {
    if (menuPad.style.display === 'none') menuPad.style.display = '';
    else hideMenu();
  } else if (!overMenu) {
    hideMenu();
  }
}

function buttonOver(button) {
  button.style.borderColor = '#999999';
  button.style.backgroundColor = '#666666';
}

function buttonOut(button) {
  button.style.borderColor = '#444445';
  button.style.backgroundColor = '#444445';
}

function itemOver(item) {
  item.style.backgroundColor = '#444445';
  item.style.color = '#FFFFFF';
}

function itemOut(item) {
  item.style.backgroundColor = '#FFFFFF';
  item.style.color = '#444445';
}

function pad2(number) {
  return (number < 10 ? '0' : '') + number;
}

// A server time in universal time ("2015-01-02 03:04:05") as local time.
function stringDateFormat(text) {
  try {
    var parts = String(text).split(/[-\/ :]/);
    var fields = [];
    for (var i = 0; i < 6; i++) {
      if (!/^\d+$/.test(parts[i] || '')) throw new RangeError('invalid date');
      fields.push(Number(parts[i]));
    }
    var date = new Date(Date.UTC(fields[0], fields[1] - 1, fields[2], fields[3], fields[4], fields[5]));
    // Date.UTC rolls over out-of-range fields (month 13, 30 February) and
    // maps two-digit years into the 1900s: such a time is not the one sent.
    var back = [date.getUTCFullYear(), date.getUTCMonth() + 1, date.getUTCDate(),
      date.getUTCHours(), date.getUTCMinutes(), date.getUTCSeconds()];
    if (isNaN(date.getTime()) || back.join() !== fields.join()) throw new RangeError('invalid date');
    var year = String(date.getFullYear());
    while (year.length < 4) year = '0' + year;
    return year + '/' + pad2(date.getMonth() + 1) + '/' + pad2(date.getDate()) + ' ' +
      pad2(date.getHours()) + ':' + pad2(date.getMinutes()) + ':' + pad2(date.getSeconds());
  } catch (error) {
    return text + '(時區轉換失敗)';
  }
}

function textOf(value) {
  return value == null ? '' : String(value);
}

function writeOnlineSummary(colour, summary, detail) {
  qalvHost.setStyle('onlineSummary', 'color', colour);
  qalvHost.setStyle('os1Detail', 'color', colour);
  qalvHost.setText('onlineSummary', summary);
  qalvHost.setInnerHtml('os1Detail', detail);
}

function showAnswer(answer) {
  if (answer === null || typeof answer !== 'object' || Array.isArray(answer)) throw new TypeError('回傳資料不是物件');
  var accountName = byId('vinfo_accountName').value;
  var signTime = byId('s2_signtime').value;
  if (answer.code === '0000') {
    writeOnlineSummary('Black', '此份保單由QALV線上驗證無誤',
      '由' + accountName + '於 ' + signTime + ' 簽署，簽章內容與保單相符，文件內容未經修改');
  } else {
    writeOnlineSummary('Red', '此份保單由QALV線上驗證有問題', textOf(answer.msg));
  }
  var chk = answer.chk;
  if (chk == null) {
    qalvHost.setStyle('onlineStatus', 'display', 'none');
    return;
  }
  qalvHost.setInnerHtml('fileName', textOf(chk.name));
  qalvHost.setInnerHtml('issuer', accountName);
  qalvHost.setInnerHtml('chk_time', stringDateFormat(chk.time));
  qalvHost.setInnerHtml('chk_text', textOf(chk.text));
  if (chk.code === '00') qalvHost.setText('postfix', POSTFIX_TEXT);
  qalvHost.setStyle('onlineStatus', 'display', '');
}

// Interprets the online verification answer the reader left in
// `onlineVerifyRet`: JSON, or else a script object literal read as data by
// JSON5 (never run). Every text of it reaches the page sanitized.
function showOnlineVerify() {
  var raw = byId('onlineVerifyRet').value;
  var answer;
  try {
    answer = JSON.parse(raw);
  } catch (jsonError) {
    try {
      answer = JSON5.parse(raw);
    } catch (literalError) {
      alert('JSON解析錯誤:' + jsonError);
      alert('回傳資料:' + raw);
      return;
    }
  }
  try {
    showAnswer(answer);
  } catch (error) {
    alert('讀取驗證結果錯誤:' + error);
    alert('回傳資料:' + raw);
  }
  var scroll = byId('verifyScroll');
  scroll.scrollTop = scroll.scrollHeight;
}
