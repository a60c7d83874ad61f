// The page's side of the reader: `window.external` over the web channel, and
// `qalvHost`, through which the reader writes into the page.
(function () {
  'use strict';

  // Texts from a package or a service may carry markup; only formatting
  // survives, never script, handlers, links, frames, forms or style sheets.
  var SANITIZE_CONFIG = {
    ALLOWED_TAGS: ['b', 'i', 'u', 's', 'strong', 'em', 'small', 'big', 'sub', 'sup', 'br', 'hr', 'p', 'div',
      'span', 'font', 'center', 'pre', 'code', 'ul', 'ol', 'li'],
    ALLOWED_ATTR: ['style', 'color', 'face', 'size', 'align', 'title'],
    ALLOW_DATA_ATTR: false
  };
  var WRITABLE_ATTRIBUTES = ['src', 'value', 'data-verdict'];
  var WRITABLE_STYLES = ['display', 'color'];

  function sanitize(html) {
    return DOMPurify.sanitize(html == null ? '' : String(html), SANITIZE_CONFIG);
  }

  var pending = {};
  var properties = { m_b64Data: '', m_dataPin: '' };

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
      element.innerHTML = sanitize(html);
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
    },

    setProperties: function (b64Data, dataPin) {
      properties.m_b64Data = String(b64Data);
      properties.m_dataPin = String(dataPin);
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
    JsOpenRecently: function (path) { return call('JsOpenRecently', [String(path)]); },
    JsCopyTpk: function () { return call('JsCopyTpk', []); },
    JsOnlineVerify: function () { return call('JsOnlineVerify', []); }
  };
  Object.keys(properties).forEach(function (name) {
    Object.defineProperty(shim, name, {
      enumerable: true,
      get: function () { return properties[name]; },
      set: function (value) {
        var text = String(value);
        properties[name] = text;
        whenReady(function () { bridge.SetProperty(name, text); });
      }
    });
  });
  window.external = shim;
})();
