// Routes every print request of a page to the host's own printer dialog and keeps the browser's
// print, save and open shortcuts away from the page. Unlike the other scripts it also works in
// frames: it reads nothing of the student's, and a frame's own print() would otherwise open the
// browser's print preview of the lesson without its watermark.
(function () {
  if (window._kelmoPrintBlockAdded) {
    return;
  }
  window._kelmoPrintBlockAdded = true;

  function requestPrint() {
    var host = window.chrome && window.chrome.webview;
    if (host && typeof host.postMessage === 'function') {
      host.postMessage('requestPrint');
    }
  }

  var hostPrint = function () {
    requestPrint();
  };
  try {
    window.print = hostPrint;
  } catch (e) {
  }
  // Locked, so a page cannot put the browser's print preview back.
  try {
    Object.defineProperty(window, 'print', {
      value: hostPrint,
      writable: false,
      configurable: false,
      enumerable: true
    });
  } catch (e) {
  }

  function suppress(event) {
    event.preventDefault();
    event.stopImmediatePropagation();
  }

  document.addEventListener('keydown', function (event) {
    if (!event.ctrlKey && !event.metaKey) {
      return;
    }
    var key = event.key;
    if (key === 'p') {
      suppress(event);
      requestPrint();
    } else if (key === 's') {
      suppress(event);
    } else if (key === 'S' && event.shiftKey) {
      suppress(event);
    } else if (key === 'o' || key === 'O') {
      suppress(event);
    }
  }, true);

  window.addEventListener('beforeprint', function (event) {
    event.preventDefault();
  }, true);
})();
