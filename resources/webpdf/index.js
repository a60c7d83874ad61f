// Shows the PDF that the reader left in b64Pdf.js (the global `b64Pdf`, Base64
// text) with pdf.js: every page, one under the other, as wide as the window.
// The page is opened from a local file, so nothing here may be fetched: the
// worker, the character maps and the symbol fonts all travel in this bundle.
import { getDocument, PasswordResponses, RenderingCancelledException } from 'pdfjs-dist';
// A browser will not start a worker from file://. The worker's module sets
// globalThis.pdfjsWorker as it loads, and pdf.js then runs it in the page.
import 'pdfjs-dist/build/pdf.worker.mjs';
import foxitDingbats from 'pdfjs-dist/standard_fonts/FoxitDingbats.pfb';
import foxitSymbol from 'pdfjs-dist/standard_fonts/FoxitSymbol.pfb';

const TEXTS = {
  missing: '找不到要顯示的文件（b64Pdf.js 不存在或內容不完整）。',
  invalid: '這個檔案不是可以顯示的 PDF 文件。',
  needsPassword: '這份 PDF 文件需要密碼才能開啟。',
  askPassword: '請輸入這份 PDF 文件的密碼：',
  wrongPassword: '密碼不正確，請重新輸入：',
  failed: '無法顯示這份 PDF 文件：',
};

// pdf.js's own limit for one canvas; beyond it browsers draw nothing.
const MAX_CANVAS_PIXELS = 2 ** 25;

function bytesFromBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i += 1) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// Character maps of the Chinese, Japanese and Korean fonts that documents
// name without embedding them (the policies' own fonts among them). The
// template is a pattern that the bundler fills with every map pdf.js ships.
const importCMap = (name) => import(`../../node_modules/pdfjs-dist/cmaps/${name}.bcmap`);

class BundledCMapReaderFactory {
  async fetch({ name }) {
    const { default: text } = await importCMap(name);
    return { cMapData: bytesFromBase64(text), isCompressed: true };
  }
}

// Only these two are asked for while the system's fonts stand in for the others.
const STANDARD_FONTS = new Map([['FoxitDingbats.pfb', foxitDingbats], ['FoxitSymbol.pfb', foxitSymbol]]);

class BundledStandardFontDataFactory {
  async fetch({ filename }) {
    const text = STANDARD_FONTS.get(filename);
    if (text === undefined) throw new Error(`Font ${filename} is not in the bundle`);
    return bytesFromBase64(text);
  }
}

function showMessage(text) {
  const box = document.getElementById('message');
  box.textContent = text;
  box.hidden = false;
  document.body.dataset.state = 'error';
}

// One page: a canvas sized at once (so the scroll bar is right from the
// start) and drawn only while near the window, so that a long document does
// not hold a full-resolution bitmap of every page.
class PageView {
  constructor(page) {
    this.page = page;
    this.canvas = document.createElement('canvas');
    this.canvas.dataset.page = String(page.pageNumber);
    this.width = 0;
    this.drawnWidth = 0;
    this.drawnRatio = 0;
    this.task = null;
    this.near = false;
  }

  layout(width) {
    const { width: pageWidth, height: pageHeight } = this.page.getViewport({ scale: 1 });
    this.width = width;
    this.canvas.style.width = `${width}px`;
    this.canvas.style.height = `${(width * pageHeight) / pageWidth}px`;
  }

  get current() {
    return this.drawnWidth === this.width && this.drawnRatio === window.devicePixelRatio;
  }

  async draw() {
    if (this.task !== null || this.current) return;
    const ratio = window.devicePixelRatio || 1;
    const base = this.page.getViewport({ scale: 1 });
    let scale = (this.width / base.width) * ratio;
    const pixels = base.width * base.height * scale * scale;
    if (pixels > MAX_CANVAS_PIXELS) scale *= Math.sqrt(MAX_CANVAS_PIXELS / pixels);
    const viewport = this.page.getViewport({ scale });
    // Drawn off screen and copied in, so that a redraw never blanks the page.
    const canvas = document.createElement('canvas');
    canvas.width = Math.round(viewport.width);
    canvas.height = Math.round(viewport.height);
    const width = this.width;
    this.task = this.page.render({ canvasContext: canvas.getContext('2d'), viewport });
    try {
      await this.task.promise;
      this.canvas.width = canvas.width;
      this.canvas.height = canvas.height;
      this.canvas.getContext('2d').drawImage(canvas, 0, 0);
      this.drawnWidth = width;
      this.drawnRatio = ratio;
      this.canvas.dataset.drawn = 'true';
    } catch (error) {
      if (!(error instanceof RenderingCancelledException)) throw error;
    } finally {
      this.task = null;
    }
    if (!this.current && this.near) await this.draw();
  }

  forget() {
    this.task?.cancel();
    this.canvas.width = 0;
    this.canvas.height = 0;
    this.drawnWidth = 0;
    delete this.canvas.dataset.drawn;
  }
}

function openDocument(data) {
  const task = getDocument({
    data,
    isEvalSupported: false,
    CMapReaderFactory: BundledCMapReaderFactory,
    StandardFontDataFactory: BundledStandardFontDataFactory,
  });
  task.onPassword = (answer, reason) => {
    const asked = window.prompt(
      reason === PasswordResponses.INCORRECT_PASSWORD ? TEXTS.wrongPassword : TEXTS.askPassword);
    // Refusing the question ends the loading with the document's PasswordException.
    answer(asked ?? new Error('no password given'));
  };
  return task.promise;
}

async function show(pdf) {
  const container = document.getElementById('pages');
  const views = [];
  for (let number = 1; number <= pdf.numPages; number += 1) {
    const view = new PageView(await pdf.getPage(number));
    views.push(view);
    container.append(view.canvas);
  }
  const layout = () => {
    const width = container.clientWidth;
    for (const view of views) view.layout(width);
  };
  layout();

  const drawFailed = (error) => showMessage(TEXTS.failed + error.message);
  const byCanvas = new Map(views.map((view) => [view.canvas, view]));
  // Pages within a window's height are drawn; pages beyond three are let go.
  const nearby = new IntersectionObserver((entries) => {
    for (const entry of entries) {
      const view = byCanvas.get(entry.target);
      view.near = entry.isIntersecting;
      if (view.near) view.draw().catch(drawFailed);
    }
  }, { rootMargin: '100% 0px' });
  const kept = new IntersectionObserver((entries) => {
    for (const entry of entries) {
      if (!entry.isIntersecting) byCanvas.get(entry.target).forget();
    }
  }, { rootMargin: '300% 0px' });
  for (const view of views) {
    nearby.observe(view.canvas);
    kept.observe(view.canvas);
  }

  // A new width or pixel ratio (window resized, zoomed, moved to another
  // screen) redraws the pages in sight.
  let pending = false;
  window.addEventListener('resize', () => {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      layout();
      for (const view of views) if (view.near) view.draw().catch(drawFailed);
    });
  });
  document.body.dataset.state = 'ready';
}

async function main() {
  if (typeof globalThis.b64Pdf !== 'string') {
    showMessage(TEXTS.missing);
    return;
  }
  let data;
  try {
    data = bytesFromBase64(globalThis.b64Pdf);
  } catch {
    showMessage(TEXTS.invalid);
    return;
  }
  // The text is as large as the document; only the bytes are needed now.
  globalThis.b64Pdf = null;
  let pdf;
  try {
    pdf = await openDocument(data);
  } catch (error) {
    // The worker's exceptions arrive rebuilt; their names are what survives.
    if (error?.name === 'PasswordException') showMessage(TEXTS.needsPassword);
    else if (error?.name === 'InvalidPDFException') showMessage(TEXTS.invalid);
    else showMessage(TEXTS.failed + error.message);
    return;
  }
  await show(pdf);
}

main().catch((error) => showMessage(TEXTS.failed + error.message));
