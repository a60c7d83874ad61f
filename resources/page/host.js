// The page's side of the reader: `window.external` over the web channel, and
// `qalvHost`, through which the reader writes into the page.
(function () {
  'use strict';

  // Texts from a package or a service keep the formatting an insurer may give
  // them and nothing that can place, size, layer, link or load: no style, no
  // class or id to borrow the page's own rules or shadow its elements, no
  // address of any kind.
  var SANITIZE_CONFIG = {
    ALLOWED_TAGS: ['b', 'i', 'u', 'br', 'font', 'span', 'p'],
    ALLOWED_ATTR: ['color', 'face', 'size'],
    ALLOW_DATA_ATTR: false,
    ALLOW_ARIA_ATTR: false,
    // DOMPurify tests every kept attribute's value against this: a colour, a
    // face or a size never needs a colon, and no address can do without one.
    ALLOWED_URI_REGEXP: /^[^:]*$/,
    // The cleaned nodes themselves, not their markup: nothing is serialized and
    // parsed again, so no markup can change its meaning on the way in.
    RETURN_DOM_FRAGMENT: true
  };
  var WRITABLE_ATTRIBUTES = ['src', 'value', 'data-verdict'];
  var WRITABLE_STYLES = ['display', 'color'];

  function sanitize(html) {
    return DOMPurify.sanitize(html == null ? '' : String(html), SANITIZE_CONFIG);
  }

  var pending = {};

  window.qalvHost = {
    setAttribute: function (id, name, value) {
      var element = document.getElementById(id);
      if (!element || WRITABLE_ATTRIBUTES.indexOf(name) < 0) return false;
      element.setAttribute(name, String(value));
      return true;
    },

    setInnerHtml: function (id, html) {
      var element = document.getElementById(id);
      if (!element) return false;
      element.replaceChildren(sanitize(html));
      return true;
    },

    // The reader's own words: set as text, never parsed.
    setText: function (id, text) {
      var element = document.getElementById(id);
      if (!element) return false;
      element.textContent = text == null ? '' : String(text);
      return true;
    },

    // Replaces the element's children with one item per text, in order. The
    // page tells the reader which item was chosen by its position; the text
    // itself never goes back.
    setMenuItems: function (id, texts) {
      var element = document.getElementById(id);
      if (!element || !Array.isArray(texts)) return false;
      element.textContent = '';
      texts.forEach(function (text) {
        var item = document.createElement('div');
        item.setAttribute('role', 'menuitem');
        item.tabIndex = 0;
        item.textContent = String(text);
        element.appendChild(item);
      });
      return true;
    },

    setStyle: function (id, property, value) {
      var element = document.getElementById(id);
      if (!element || WRITABLE_STYLES.indexOf(property) < 0) return false;
      element.style[property] = String(value);
      return true;
    },

    resolve: function (token, result) {
      var settle = pending[token];
      if (!settle) return;
      delete pending[token];
      settle(result);
    }
  };

  if (!(window.qt && window.qt.webChannelTransport)) return;

  // The reader answers each call later, by token: its slots return at once so
  // that its dialogs do not stall the browser.
  var bridge = null;
  var waiting = [];
  var nextToken = 1;

  new QWebChannel(window.qt.webChannelTransport, function (channel) {
    bridge = channel.objects.bridge;
    waiting.splice(0).forEach(function (send) { send(); });
  });

  function whenReady(send) {
    if (bridge) send(); else waiting.push(send);
  }

  function call(method, args) {
    return new Promise(function (resolve) {
      var token = nextToken++;
      pending[token] = resolve;
      whenReady(function () { bridge[method].apply(bridge, [token].concat(args)); });
    });
  }

  var shim = {
    JsShowPdf: function () { return call('JsShowPdf', []); },
    JsInit: function () { return call('JsInit', []); },
    JsOpenTpk: function () { return call('JsOpenTpk', []); },
    // `index`: the position of the chosen item in the recent-documents menu.
    JsOpenRecently: function (index) { return call('JsOpenRecently', [Number(index)]); },
    JsCopyTpk: function () { return call('JsCopyTpk', []); },
    JsShowSignerDetails: function (signer) { return call('JsShowSignerDetails', [String(signer)]); },
    JsOnlineVerify: function () { return call('JsOnlineVerify', []); }
  };
  // The reader keeps the two properties; reading one asks for it and gives a
  // Promise of its text, so the document's Base64 crosses only when wanted.
  ['m_b64Data', 'm_dataPin'].forEach(function (name) {
    Object.defineProperty(shim, name, {
      enumerable: true,
      get: function () { return call('ReadProperty', [name]); },
      set: function (value) {
        var text = String(value);
        whenReady(function () { bridge.SetProperty(name, text); });
      }
    });
  });
  window.external = shim;
})();
