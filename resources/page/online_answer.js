// How the page reads the online verification answer the reader leaves in the
// hidden field `onlineVerifyRet`, and shows it through `qalvHost`.
// Classic script: reader.js calls showOnlineVerify by name. Node loads the
// same file to fuzz it, with stand-ins for the page's globals.

var POSTFIX_TEXT = '以上保單查詢結果由保險公司所提供,如您對資訊內容有疑慮,請洽詢您所屬保險公司';

function fieldValue(id) {
  return document.getElementById(id).value;
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
    return textOf(text) + '(時區轉換失敗)';
  }
}

// A text of the answer. A value with no text form (JSON can give an object
// whose toString is no function) shows as nothing, rather than stopping the
// page half way through writing the answer.
function textOf(value) {
  if (value == null) return '';
  try {
    return String(value);
  } catch (error) {
    return '';
  }
}

function writeOnlineSummary(colour, summary, detail) {
  qalvHost.setStyle('onlineSummary', 'color', colour);
  qalvHost.setStyle('os1Detail', 'color', colour);
  qalvHost.setText('onlineSummary', summary);
  qalvHost.setInnerHtml('os1Detail', detail);
}

function showAnswer(answer) {
  if (answer === null || typeof answer !== 'object' || Array.isArray(answer)) throw new TypeError('回傳資料不是物件');
  var accountName = fieldValue('vinfo_accountName');
  var signTime = fieldValue('s2_signtime');
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
  var raw = fieldValue('onlineVerifyRet');
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
  var scroll = document.getElementById('verifyScroll');
  scroll.scrollTop = scroll.scrollHeight;
}

if (typeof module === 'object') module.exports = { showOnlineVerify, stringDateFormat, POSTFIX_TEXT };
