// The page's sanitizing of package and service texts against the classes of
// markup that have slipped past HTML sanitizers: mutation through math, svg
// and style, noscript and form-nesting parse differences, namespace
// confusion, DOM clobbering, and addresses of every kind. Each must come out
// inert and keep only the formatting an insurer may use.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { readerSuite } from './page_server.mjs';

const suite = readerSuite();

const ALLOWED_TAGS = ['B', 'I', 'U', 'BR', 'FONT', 'SPAN', 'P'];
const ALLOWED_ATTRIBUTES = ['color', 'face', 'size'];

const RUN = (tag) => `window.__pwned='${tag}'`;
const HOSTILE = [
  ['script and handlers', `<script>${RUN('script')}</script><img src=x onerror="${RUN('img')}">` +
    `<details open ontoggle="${RUN('toggle')}"><summary>s</summary></details>`],
  ['style sheets', '<style>body{display:none}</style><link rel=stylesheet href="http://127.0.0.1:9/x.css">'],
  ['math mtext table mglyph style', `<math><mtext><table><mglyph><style><img src=x onerror="${RUN('math-style')}">`],
  ['svg closing p into style', `<svg></p><style><a id="</style><img src=1 onerror=${RUN('svg-p')}>">`],
  ['namespace confusion through textarea',
    `<math><mi><mglyph><svg><mtext><textarea><path id="</textarea><img onerror=${RUN('ns')} src>"></path>`],
  ['form nesting mutation', `<form><math><mtext></form><form><mglyph><style></math><img src onerror=${RUN('form')}>`],
  ['noscript parse difference', `<noscript><p title="</noscript><img src=x onerror=${RUN('noscript')}>">`],
  ['svg style', `<svg><style><img src=x onerror=${RUN('svg-style')}></style></svg>`],
  ['math style', `<math><style><img src=x onerror=${RUN('math')}></style></math>`],
  ['template', `<template><img src=x onerror=${RUN('template')}></template>`],
  ['select template comment',
    `<select><template><style><!--</style><a rel="--></template></select><img src=x onerror=${RUN('select')}>">`],
  ['svg animate href', `<svg><a><animate attributeName=href values="javascript:${RUN('animate')}"/><text y=20>x</text></a></svg>`],
  ['xmp raw text', `<xmp><img src=x onerror=${RUN('xmp')}></xmp>`],
  ['comment and cdata', `<!--<img src=x onerror=${RUN('comment')}>--><![CDATA[<img src=x onerror=${RUN('cdata')}>]]>`],
  ['handlers on allowed tags', `<b onmouseover="${RUN('b')}">b</b><font color=red onclick="${RUN('font')}">f</font>`],
  ['javascript address with a tab', `<a href="jav&#x09;ascript:${RUN('tab')}">a</a>`],
  ['style with addresses', '<p style="background:url(javascript:alert(1))">p</p><span style="position:fixed">s</span>'],
  ['dom clobbering by name and id',
    '<img name="getElementById"><form name="qalvHost"><input name="setInnerHtml"></form><a id="DOMPurify">a</a>' +
    '<span id="status">s</span><p name="body">p</p>'],
  ['customised built-in', `<b is="x-evil" onclick="${RUN('is')}">b</b>`],
  ['encoded markup stays text', '&lt;img src=x onerror=alert(1)&gt;'],
  ['embedded objects', `<object data="javascript:${RUN('object')}"></object><embed src="x"><iframe srcdoc="<b>"></iframe>`],
  ['base and meta', '<base href="http://127.0.0.1:9/"><meta http-equiv="refresh" content="0;url=http://127.0.0.1:9/">'],
  ['font attribute with markup', `<font face="x&quot; onmouseover=&quot;${RUN('face')}" color="red">f</font>`],
];

test('hostile markup comes out inert and keeps only the allowed formatting', async () => {
  const { page, dialogs, errors } = await suite.open();
  await page.evaluate(() => qalvHost.setStyle('versionInfo', 'display', ''));
  for (const [name, markup] of HOSTILE) {
    const outcome = await page.evaluate(([html, tags, attributes]) => {
      const native = document.getElementById;
      const host = window.qalvHost;
      qalvHost.setInnerHtml('memo', html);
      // What the sanitizer returned, parsed a second time: a mutation shows here.
      const again = document.createElement('div');
      again.innerHTML = document.getElementById('memo').innerHTML;
      const strays = [];
      for (const root of [document.getElementById('memo'), again]) {
        for (const element of root.querySelectorAll('*')) {
          if (!tags.includes(element.tagName)) strays.push(element.tagName);
          for (const attribute of element.attributes) {
            if (!attributes.includes(attribute.name)) strays.push(`${element.tagName}[${attribute.name}]`);
          }
        }
      }
      return {
        strays,
        clobbered: document.getElementById !== native || window.qalvHost !== host ||
          typeof window.DOMPurify.sanitize !== 'function' || document.querySelectorAll('#status').length !== 1,
      };
    }, [markup, ALLOWED_TAGS, ALLOWED_ATTRIBUTES]);
    assert.deepEqual(outcome, { strays: [], clobbered: false }, name);
  }
  await page.hover('#memo');
  await page.waitForTimeout(300);
  assert.equal(await page.evaluate(() => window.__pwned), undefined);
  assert.notEqual(await page.$eval('body', (body) => getComputedStyle(body).display), 'none');
  assert.deepEqual(dialogs, []);
  assert.deepEqual(errors, []);
  await page.close();
});

test('the formatting an insurer may use survives as written', async () => {
  const { page, errors } = await suite.open();
  const rows = [
    '<b>粗</b><i>斜</i><u>底</u>',
    '一<br>二',
    '<font color="red" face="serif" size="4">字</font>',
    '<span>甲</span><p>乙</p>',
    '<p><b><i><u><font color="#0000ff">套</font></u></i></b></p>',
  ];
  for (const markup of rows) {
    const shown = await page.evaluate((html) => {
      qalvHost.setInnerHtml('memo', html);
      return document.getElementById('memo').innerHTML;
    }, markup);
    assert.equal(shown, markup);
  }
  assert.deepEqual(errors, []);
  await page.close();
});
