// The host's own print page of a PDF lesson, run in an off-screen view after PDF.js and its
// worker (on this thread). The host hands over the document's bytes and the paper; each page is
// drawn at the printer's resolution into one reused canvas, kept as a compressed picture sized to
// the paper, with the document's text over it as an invisible layer (a PDF printer keeps it
// searchable). The watermark script of the lesson runs in this page too: a fixed layer, which
// the engine repeats on every printed page. The host follows `window.corvelPdfPrint` until the
// pages are ready ("rendered") or they cannot be ("failed"), then prints the page.
(function () {
  'use strict';
  if (window.corvelPdfPrint) {
    return;
  }
  var job = {state: 'waiting', page: 0, pages: 0, error: ''};
  window.corvelPdfPrint = job;

  var style = document.createElement('style');
  style.textContent =
      '@page{margin:0}html,body{margin:0;padding:0;background:#fff}' +
      '.sheet{position:relative;overflow:hidden;break-after:page;page-break-after:always}' +
      '.sheet:last-child{break-after:auto;page-break-after:auto}' +
      '.sheet img{position:absolute;display:block}' +
      '.textLayer{position:absolute;overflow:hidden;line-height:1;text-size-adjust:none;' +
      '-webkit-text-size-adjust:none;transform-origin:0 0}' +
      '.textLayer span,.textLayer br{position:absolute;white-space:pre;transform-origin:0% 0%;' +
      'color:rgba(0,0,0,0.004)}';
  (document.head || document.documentElement).appendChild(style);

  function fail(error) {
    job.error = String(error && error.message || error).slice(0, 300);
    job.state = 'failed';
  }

  function decode(base64) {
    var bytes = atob(base64);
    var data = new Uint8Array(bytes.length);
    for (var i = 0; i < bytes.length; ++i) {
      data[i] = bytes.charCodeAt(i);
    }
    return data;
  }

  // JPEG: a tenth of the time PNG takes for a 300-dpi page, and no visible loss on paper.
  function pictureOf(canvas) {
    return new Promise(function (resolve, reject) {
      canvas.toBlob(function (blob) {
        blob ? resolve(blob) : reject(new Error('the page could not be kept'));
      }, 'image/jpeg', 0.92);
    });
  }

  function shown(image) {
    return new Promise(function (resolve, reject) {
      image.onload = resolve;
      image.onerror = function () {
        reject(new Error('the page could not be shown'));
      };
    });
  }

  // One page: fitted into the paper (CSS pixels), centred, drawn at `dpi`.
  async function addPage(documentProxy, number, paper, canvas) {
    var page = await documentProxy.getPage(number);
    var natural = page.getViewport({scale: 1});
    var scale = Math.min(paper.width / natural.width, paper.height / natural.height);
    var viewport = page.getViewport({scale: scale});
    var ratio = paper.dpi / 96;
    var drawn = page.getViewport({scale: scale * ratio});
    canvas.width = Math.ceil(drawn.width);
    canvas.height = Math.ceil(drawn.height);
    var context = canvas.getContext('2d');
    context.fillStyle = '#fff';
    context.fillRect(0, 0, canvas.width, canvas.height);
    await page.render({canvasContext: context, viewport: drawn, intent: 'print'}).promise;

    var sheet = document.createElement('div');
    sheet.className = 'sheet';
    sheet.style.width = paper.width + 'px';
    sheet.style.height = paper.height + 'px';
    var left = (paper.width - viewport.width) / 2;
    var top = (paper.height - viewport.height) / 2;

    var image = document.createElement('img');
    image.style.left = left + 'px';
    image.style.top = top + 'px';
    image.style.width = viewport.width + 'px';
    image.style.height = viewport.height + 'px';
    var loaded = shown(image);
    image.src = URL.createObjectURL(await pictureOf(canvas));
    sheet.appendChild(image);

    var text = document.createElement('div');
    text.className = 'textLayer';
    text.style.left = left + 'px';
    text.style.top = top + 'px';
    text.style.setProperty('--scale-factor', String(viewport.scale));
    sheet.appendChild(text);
    document.body.appendChild(sheet);
    await loaded;
    await pdfjsLib.renderTextLayer({
      textContentSource: await page.getTextContent(),
      container: text,
      viewport: viewport
    }).promise;
    page.cleanup();
    // The picture is drawn at the printer's resolution; only its compressed form stays.
    canvas.width = 0;
    canvas.height = 0;
  }

  // `paper`: {width, height} of the printed page in CSS pixels, `dpi` the printer's resolution.
  job.render = async function (base64, printed) {
    if (job.state !== 'waiting') {
      return;
    }
    // A sheet a pixel short of the paper: rounding must never spill it onto a page of its own.
    var paper = {
      width: Math.floor(printed.width) - 1,
      height: Math.floor(printed.height) - 1,
      dpi: printed.dpi
    };
    job.state = 'rendering';
    try {
      if (!window.pdfjsLib) {
        throw new Error('the PDF reader is missing');
      }
      var documentProxy = await pdfjsLib.getDocument({
        data: decode(base64),
        isEvalSupported: false,
        enableXfa: false,
        stopAtErrors: true
      }).promise;
      job.pages = documentProxy.numPages;
      var canvas = document.createElement('canvas');
      for (var number = 1; number <= job.pages; ++number) {
        await addPage(documentProxy, number, paper, canvas);
        job.page = number;
      }
      await documentProxy.destroy();
      job.state = job.pages > 0 ? 'rendered' : 'failed';
    } catch (error) {
      fail(error);
    }
  };
})();
