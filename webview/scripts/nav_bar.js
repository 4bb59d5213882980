// Floating navigation bar of the init screen: home, back, reload and full screen, draggable, its
// position kept in the page's local storage. Also shows a light loading overlay while the next
// page loads.
(function () {
  // Only the top document: a frame inside it is another site's page, which must not see the
  // student's text or the player's controls.
  if (window.top !== window) {
    return;
  }
  if (window._kelmoNavAdded) {
    return;
  }
  window._kelmoNavAdded = true;

  var NAV_ID = 'kelmo-nav-container';
  var LOADER_ID = 'kelmo-full-loader';
  var KEY_X = 'km_nx';
  var KEY_Y = 'km_ny';
  var DEFAULT_OFFSET = 20;
  var DRAG_THRESHOLD = 3;
  var LOADER_MS = 5000;

  function post(message) {
    var host = window.chrome && window.chrome.webview;
    if (host && typeof host.postMessage === 'function') {
      host.postMessage(message);
    }
  }

  function parentForAttach() {
    return document.body || document.documentElement;
  }

  // Loading overlay. A navigation that never completes (cancelled by the host, a download)
  // must not leave it up, so it hides itself 5 s after the last time it was shown.
  function ensureLoader() {
    var overlay = document.getElementById(LOADER_ID);
    if (overlay) {
      return overlay;
    }
    var parent = parentForAttach();
    if (!parent) {
      return null;
    }
    overlay = document.createElement('div');
    overlay.id = LOADER_ID;
    overlay.style.cssText =
        'position:fixed;top:0;left:0;width:100vw;height:100vh;margin:0;padding:0;' +
        'background:rgba(255,255,255,0.7);backdrop-filter:blur(3px);' +
        '-webkit-backdrop-filter:blur(3px);z-index:2147483647;display:flex;' +
        'align-items:center;justify-content:center;';
    var style = document.createElement('style');
    style.textContent = '@keyframes kelmo-spin{to{transform:rotate(360deg);}}';
    var spinner = document.createElement('div');
    spinner.style.cssText =
        'box-sizing:border-box;width:50px;height:50px;border-radius:50%;' +
        'border:5px solid rgba(0,0,0,0.1);border-top-color:#3498db;' +
        'animation:kelmo-spin 1s linear infinite;';
    overlay.appendChild(style);
    overlay.appendChild(spinner);
    parent.appendChild(overlay);
    return overlay;
  }

  function showLoader() {
    var overlay = ensureLoader();
    if (!overlay) {
      return;
    }
    overlay.style.display = 'flex';
    if (window._kelmoLoaderTimeout) {
      clearTimeout(window._kelmoLoaderTimeout);
    }
    window._kelmoLoaderTimeout = setTimeout(function () {
      window._kelmoLoaderTimeout = null;
      var current = document.getElementById(LOADER_ID);
      if (current) {
        current.style.display = 'none';
      }
    }, LOADER_MS);
  }

  window.addEventListener('beforeunload', showLoader);

  window.addEventListener('keydown', function (event) {
    if ((event.ctrlKey || event.metaKey) && (event.key === 'o' || event.key === 'O')) {
      event.preventDefault();
      event.stopImmediatePropagation();
    }
  }, true);

  function readOffset(key) {
    try {
      var stored = window.localStorage.getItem(key);
      if (stored !== null) {
        var value = parseFloat(stored);
        if (isFinite(value)) {
          return value;
        }
      }
    } catch (e) {
    }
    return DEFAULT_OFFSET;
  }

  function writeOffset(key, value) {
    try {
      window.localStorage.setItem(key, String(value));
    } catch (e) {
    }
  }

  // The bar.
  var bar = document.createElement('div');
  bar.id = NAV_ID;
  bar.style.cssText =
      'position:fixed;left:' + readOffset(KEY_X) + 'px;top:' + readOffset(KEY_Y) + 'px;' +
      'z-index:2147483646;display:flex;flex-direction:row;align-items:center;gap:10px;' +
      'padding:8px;margin:0;background:rgba(0,0,0,0.4);backdrop-filter:blur(10px);' +
      '-webkit-backdrop-filter:blur(10px);border-radius:12px;opacity:0.4;' +
      'box-shadow:0 4px 16px rgba(0,0,0,0.25);transform:scale(1);user-select:none;' +
      '-webkit-user-select:none;transition:opacity 0.3s ease,transform 0.3s ease;';

  var grip = document.createElement('span');
  grip.textContent = '⠿';
  grip.style.cssText =
      'font-size:20px;line-height:20px;color:#fff;cursor:grab;opacity:0.7;';
  bar.appendChild(grip);

  var BUTTONS = [
    ['🏠', 'Home', 'btn_home'],
    ['←', 'Back', 'btn_back'],
    ['↻', 'Reload', 'btn_reload'],
    ['⛶', 'Fullscreen', 'btn_fullscreen']
  ];
  var buttons = [];
  var labels = [];

  var dragging = false;
  var moved = false;
  var dragJustEnded = false;
  var startX = 0;
  var startY = 0;
  var startLeft = 0;
  var startTop = 0;

  BUTTONS.forEach(function (entry) {
    var message = entry[2];
    var button = document.createElement('button');
    button.type = 'button';
    button.setAttribute('data-message', message);
    button.style.cssText =
        'display:flex;align-items:center;background:rgba(255,255,255,0.9);border:none;' +
        'padding:8px;margin:0;border-radius:8px;font-weight:bold;font-family:sans-serif;' +
        'color:#333;cursor:pointer;transition:padding 0.3s ease;';
    var icon = document.createElement('span');
    icon.textContent = entry[0];
    var label = document.createElement('span');
    label.textContent = entry[1];
    label.style.cssText =
        'display:inline-block;max-width:0;margin-left:0;overflow:hidden;white-space:nowrap;' +
        'color:transparent;transition:max-width 0.3s ease,margin-left 0.3s ease,' +
        'color 0.3s ease;';
    button.appendChild(icon);
    button.appendChild(label);
    button.addEventListener('click', function (event) {
      event.preventDefault();
      event.stopPropagation();
      if (dragJustEnded) {
        return;  // the release that ended a drag is not a press of the button
      }
      if (message !== 'btn_fullscreen') {
        showLoader();
      }
      post(message);
    });
    buttons.push(button);
    labels.push(label);
    bar.appendChild(button);
  });

  // Hover look.
  bar.addEventListener('mouseenter', function () {
    bar.style.opacity = '1';
    bar.style.transform = 'scale(1.05)';
    buttons.forEach(function (b) {
      b.style.padding = '8px 16px';
    });
    labels.forEach(function (l) {
      l.style.maxWidth = '50px';
      l.style.marginLeft = '4px';
      l.style.color = '#333';
    });
  });
  bar.addEventListener('mouseleave', function () {
    bar.style.opacity = '0.4';
    bar.style.transform = 'scale(1)';
    buttons.forEach(function (b) {
      b.style.padding = '8px';
    });
    labels.forEach(function (l) {
      l.style.maxWidth = '0';
      l.style.marginLeft = '0';
      l.style.color = 'transparent';
    });
  });

  // Dragging.
  bar.addEventListener('mousedown', function (event) {
    if (event.button !== 0) {
      return;
    }
    dragging = true;
    moved = false;
    startX = event.clientX;
    startY = event.clientY;
    startLeft = bar.offsetLeft;
    startTop = bar.offsetTop;
  });
  document.addEventListener('mousemove', function (event) {
    if (!dragging) {
      return;
    }
    var dx = event.clientX - startX;
    var dy = event.clientY - startY;
    if (!moved && (Math.abs(dx) > DRAG_THRESHOLD || Math.abs(dy) > DRAG_THRESHOLD)) {
      moved = true;
    }
    if (moved) {
      bar.style.left = (startLeft + dx) + 'px';
      bar.style.top = (startTop + dy) + 'px';
      event.preventDefault();
    }
  }, true);
  document.addEventListener('mouseup', function () {
    if (!dragging) {
      return;
    }
    dragging = false;
    if (!moved) {
      return;
    }
    moved = false;
    writeOffset(KEY_X, bar.offsetLeft);
    writeOffset(KEY_Y, bar.offsetTop);
    // The click that the browser sends with this release comes before any timer.
    dragJustEnded = true;
    setTimeout(function () {
      dragJustEnded = false;
    }, 0);
  }, true);

  function attach() {
    if (document.getElementById(NAV_ID)) {
      return;
    }
    var parent = parentForAttach();
    if (parent) {
      parent.appendChild(bar);
    }
  }

  // A position saved in a larger window may lie outside this one; a bar that cannot be seen
  // cannot be dragged back, so it starts from the default corner instead (the saved values stay).
  function keepReachable() {
    var width = window.innerWidth;
    var height = window.innerHeight;
    if (!bar.isConnected || width <= 0 || height <= 0) {
      return;
    }
    var rect = bar.getBoundingClientRect();
    if (rect.right <= 0 || rect.bottom <= 0 || rect.left >= width || rect.top >= height) {
      bar.style.left = DEFAULT_OFFSET + 'px';
      bar.style.top = DEFAULT_OFFSET + 'px';
    }
  }

  function start() {
    attach();
    keepReachable();
    new MutationObserver(function () {
      if (document.body && !document.getElementById(NAV_ID)) {
        document.body.appendChild(bar);
      }
    }).observe(document, {childList: true, subtree: true});
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', start);
  } else {
    start();
  }
})();
