// The reader page's own behaviour: buttons, the busy mask, folding, the
// recent-documents menu, keyboard use and seal sizing (online_answer.js
// reads the online verification answer).
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
