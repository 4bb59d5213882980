// The two main windows on Linux: the player window (with a link) and the init screen (without
// one). Each is a top-level window with a black background that paints a bilingual loading line
// until its web view covers it, and holds one QtWebView wired to it by the portable half of the
// windows (app/main_windows.h); this file does only the native window work.
//
// GUI thread only. Closing either window closes both web views and ends the event loop with
// exit code 0.
#ifndef CORVEL_APP_WINDOWS_QT_H_
#define CORVEL_APP_WINDOWS_QT_H_

#include <memory>
#include <string>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "app/main_windows.h"
#include "webview/web_view_qt.h"

// The current main window (init screen or player window); cleared when it closes.
extern QPointer<QWidget> g_mainWindow;
// The web views of the two windows; null until made, and again after ShutdownWebViewHosts().
extern std::unique_ptr<WebView::QtWebView> g_playerHost;
extern std::unique_ptr<WebView::QtWebView> g_initHost;

// The player window's view state (full screen, revealed) and its window.
struct PlayerWindowState : PlayerWindowFlags {
  QPointer<QWidget> window;
};
PlayerWindowState& GetPlayerWindowState();

// The visible, empty player window (1280 × 720, "Corvel V 4.11.0") painting the loading line,
// shown before the link is processed. Null when it cannot be made.
QWidget* CreatePlayerFrame();

// Makes the player's web view in `window` (made by CreatePlayerFrame) ahead of its content, so
// that the engine starts while the link's requests run; nothing when `window` is null or closed.
void StartPlayerBrowser(QWidget* window);

// Puts the player's web view into `window` (made by CreatePlayerFrame; the one made ahead, when
// there is one) and prepares it for `content`. False when `window` is null or was closed
// meanwhile.
bool CreatePlayerWindow(QWidget* window, const LinkContent& content);

// The init screen (1024 × 768) with its web view on the start page.
bool CreateInitScreen();

// Closes the player's web view, then the init screen's, and frees them (a view whose own event
// is still running once that event has returned); a missing one is skipped.
void ShutdownWebViewHosts();

// The web view of the window on screen (the player's, else the init screen's), or null.
WebView::QtWebView* CurrentWebView();

// Frees the windows themselves; the last step before the application object goes.
void DestroyMainWindows();

// The folder both windows keep cookies and storage in: $XDG_DATA_HOME (or ~/.local/share),
// then "Corvel/WebEngineData".
QString WebViewDataFolder();

#endif  // CORVEL_APP_WINDOWS_QT_H_
