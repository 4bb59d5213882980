// Loading overlay shown over every document until it has loaded.
// Added at document creation; the page's own scripts run after it.
(function () {
  // Only the top document: a frame inside it is another site's page, which must not see the
  // student's text or the player's controls.
  if (window.top !== window) {
    return;
  }
  if (window._kelmoLoaderAdded) {
    return;
  }
  window._kelmoLoaderAdded = true;

  var LOADER_ID = 'kelmo-full-loader';
  var FALLBACK_MS = 5000;  // a page whose load event never fires still gets uncovered
  var FADE_MS = 500;
  var hidden = false;

  function build() {
    var overlay = document.createElement('div');
    overlay.id = LOADER_ID;
    overlay.style.cssText =
        'position:fixed;top:0;left:0;width:100vw;height:100vh;margin:0;padding:0;' +
        'background:#202020;z-index:2147483647;display:flex;flex-direction:column;' +
        'align-items:center;justify-content:center;opacity:1;' +
        'transition:opacity 0.5s ease-out;';

    // The keyframes travel with the overlay, so they leave with it.
    var style = document.createElement('style');
    style.textContent = '@keyframes kelmo-spin{to{transform:rotate(360deg);}}';

    var spinner = document.createElement('div');
    spinner.style.cssText =
        'box-sizing:border-box;width:60px;height:60px;border-radius:50%;' +
        'border:6px solid rgba(255,255,255,0.2);border-top-color:#3498db;' +
        'animation:kelmo-spin 1s linear infinite;margin-bottom:20px;';

    var label = document.createElement('div');
    label.textContent = 'جاري التحميل... Loading...';
    label.style.cssText =
        'color:#fff;font-family:sans-serif;font-size:20px;text-align:center;';

    overlay.appendChild(style);
    overlay.appendChild(spinner);
    overlay.appendChild(label);
    return overlay;
  }

  function attach() {
    if (hidden || document.getElementById(LOADER_ID)) {
      return;
    }
    var parent = document.body || document.documentElement;
    if (parent) {
      parent.appendChild(build());
    }
  }

  function hide() {
    if (hidden) {
      return;
    }
    hidden = true;
    var overlay = document.getElementById(LOADER_ID);
    if (!overlay) {
      return;
    }
    overlay.style.opacity = '0';
    setTimeout(function () {
      if (overlay.parentNode) {
        overlay.parentNode.removeChild(overlay);
      }
    }, FADE_MS);
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', attach);
  } else {
    attach();
  }
  window.addEventListener('load', hide);
  setTimeout(hide, FALLBACK_MS);
})();
