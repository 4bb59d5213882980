// Watermark laid over a PDF document. The host fills in the text, escaped as a script string.
(function () {
  // Only the top document: a frame inside it is another site's page, which must not see the
  // student's text or the player's controls.
  if (window.top !== window) {
    return;
  }
  if (window._kelmoWatermarkAdded) {
    return;
  }
  window._kelmoWatermarkAdded = true;

  var WATERMARK_ID = 'kelmo-watermark';
  var text = '__WATERMARK_TEXT__';

  var mark = document.createElement('div');
  mark.id = WATERMARK_ID;
  mark.style.cssText =
      'position:fixed;top:0;left:0;width:100%;height:100%;pointer-events:none;' +
      'z-index:2147483646;opacity:0.15;display:flex;align-items:center;' +
      'justify-content:center;font-size:3vw;color:red;font-weight:bold;' +
      'font-family:Arial,sans-serif;transform:rotate(-30deg);';
  mark.textContent = text;

  function attach() {
    if (document.getElementById(WATERMARK_ID)) {
      return;
    }
    var parent = document.body || document.documentElement;
    if (parent) {
      parent.appendChild(mark);
    }
  }

  function start() {
    attach();
    // A page that removes the watermark gets it back before it can paint without it.
    new MutationObserver(attach).observe(document, {childList: true, subtree: true});
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', start);
  } else {
    start();
  }
})();
