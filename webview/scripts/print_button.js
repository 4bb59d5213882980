// Round print button for PDF documents; a click asks the host to print.
(function () {
  // Only the top document: a frame inside it is another site's page, which must not see the
  // student's text or the player's controls.
  if (window.top !== window) {
    return;
  }
  if (window._kelmoPrintBtnAdded) {
    return;
  }
  window._kelmoPrintBtnAdded = true;

  var BUTTON_ID = 'kelmo-print-btn';
  var REST = 'rgba(33,150,243,0.9)';
  var HOVER = 'rgba(33,150,243,1)';

  var button = document.createElement('button');
  button.id = BUTTON_ID;
  button.type = 'button';
  button.title = 'Print';
  button.textContent = '🖨';
  button.style.cssText =
      'position:fixed;bottom:24px;right:24px;width:48px;height:48px;margin:0;padding:0;' +
      'border:none;border-radius:50%;background:' + REST + ';color:#fff;font-size:22px;' +
      'line-height:48px;text-align:center;cursor:pointer;z-index:2147483647;' +
      'box-shadow:0 4px 12px rgba(0,0,0,0.3);transform:scale(1);' +
      'transition:background 0.2s ease,transform 0.2s ease;';

  button.addEventListener('mouseenter', function () {
    button.style.background = HOVER;
    button.style.transform = 'scale(1.1)';
  });
  button.addEventListener('mouseleave', function () {
    button.style.background = REST;
    button.style.transform = 'scale(1)';
  });
  button.addEventListener('click', function (event) {
    event.preventDefault();
    event.stopPropagation();
    var host = window.chrome && window.chrome.webview;
    if (host && typeof host.postMessage === 'function') {
      host.postMessage('requestPrint');
    }
  });

  function attach() {
    if (document.getElementById(BUTTON_ID)) {
      return;
    }
    var parent = document.body || document.documentElement;
    if (parent) {
      parent.appendChild(button);
    }
  }

  function start() {
    attach();
    new MutationObserver(attach).observe(document, {childList: true, subtree: true});
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', start);
  } else {
    start();
  }
})();
