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

  // What the host says about a print: its progress while a long one is prepared, then its
  // outcome (kept a few seconds; an error until the next print).
  var NOTICE_ID = 'kelmo-print-notice';
  var notice = document.createElement('div');
  notice.id = NOTICE_ID;
  notice.setAttribute('role', 'status');
  notice.style.cssText =
      'position:fixed;bottom:84px;right:24px;max-width:340px;padding:10px 14px;border-radius:8px;' +
      'background:rgba(20,21,25,0.92);color:#F0F2F5;font:13px/1.5 "Segoe UI",Arial,sans-serif;' +
      'white-space:pre-line;unicode-bidi:plaintext;z-index:2147483647;display:none;' +
      'box-shadow:0 4px 12px rgba(0,0,0,0.3);pointer-events:none;';
  var hideTimer = 0;

  function show(status, text, seconds) {
    clearTimeout(hideTimer);
    notice.setAttribute('data-status', status);
    notice.textContent = text;
    notice.style.display = text ? 'block' : 'none';
    if (seconds) {
      hideTimer = setTimeout(function () {
        notice.style.display = 'none';
      }, seconds * 1000);
    }
  }

  var host = window.chrome && window.chrome.webview;
  if (host && typeof host.addEventListener === 'function') {
    host.addEventListener('message', function (event) {
      var data = event.data;
      if (!data || typeof data !== 'object') {
        return;
      }
      if (data.type === 'printProgress') {
        var done = Number(data.page) || 0;
        var all = Number(data.pages) || 0;
        show('progress', 'Preparing the pages for printing: ' + done + ' of ' + all + '\n' +
            '\u062c\u0627\u0631\u064d \u062a\u062c\u0647\u064a\u0632 \u0627\u0644\u0635\u0641\u062d\u0627\u062a ' +
            '\u0644\u0644\u0637\u0628\u0627\u0639\u0629: ' + done + ' \u0645\u0646 ' + all, 0);
      } else if (data.type === 'printResult') {
        var status = String(data.status || '');
        var text = typeof data.message === 'string' ? data.message : '';
        show(status, status === 'cancelled' ? '' : text, status === 'error' ? 0 : 4);
      }
    });
  }

  function attach() {
    var parent = document.body || document.documentElement;
    if (!parent) {
      return;
    }
    if (!document.getElementById(BUTTON_ID)) {
      parent.appendChild(button);
    }
    if (!document.getElementById(NOTICE_ID)) {
      parent.appendChild(notice);
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
