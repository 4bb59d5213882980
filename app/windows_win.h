// The two main windows of the player on Windows: the player window (started with a link) and the
// init screen (started without one), each with its WebViewHost, and the process-wide state that
// the entry point and the shutdown hook share with them. Their sizes, texts, state and rules are
// the portable half's (app/main_windows.h); this half makes the Win32 windows and applies them.
//
// Main thread only, except that any thread may read g_mainWindow and call RunOnWindowThread.
// The window procedures never let an exception out.
#ifndef CORVEL_APP_WINDOWS_WIN_H_
#define CORVEL_APP_WINDOWS_WIN_H_

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "app/main_windows.h"
#include "base/window_messages.h"
#include "webview/webview_host_win.h"

// Both window procedures answer WM_APP_SHUTDOWN_HOSTS by closing the web views
// (ShutdownWebViewHosts) and WM_APP_RUN_HANDED_OVER by running the tasks other threads handed
// over with RunOnWindowThread (base/window_messages.h).

// From a thread other than the window's: hands `task` to the thread of `window` (a main window)
// and waits until it has run or timeoutMs have passed (WM_APP_RUN_HANDED_OVER through
// SendMessageTimeoutW, abort if hung). False
// when the window did not answer in time; a task the window has not started by then is taken
// back and never runs. The task is kept in this process, never passed through the message.
bool RunOnWindowThread(HWND window, std::function<void()> task, unsigned timeoutMs);

// The current main window (init screen or player window); cleared when that window is
// destroyed. Atomic because the shutdown hook reads it from other threads.
extern std::atomic<HWND> g_mainWindow;
extern std::unique_ptr<WebView::WebViewHost> g_playerHost;
extern std::unique_ptr<WebView::WebViewHost> g_initHost;

// The player window's view state (full screen, revealed) and its window.
struct PlayerWindowState : PlayerWindowFlags {
  HWND window = nullptr;
};
PlayerWindowState& GetPlayerWindowState();

// The init screen's full-screen state and the placement it returns to.
struct InitScreenState : InitScreenFlags {
  WINDOWPLACEMENT savedPlacement{sizeof(WINDOWPLACEMENT), 0, 0, {}, {}, {}};
};
InitScreenState& GetInitScreenState();

// Closes and frees g_playerHost, then g_initHost: each global is cleared first, then the host is
// shut down (waiting up to 5000 ms for its browser) and freed.
void ShutdownWebViewHosts();

// What the window functions use from outside; the defaults are MessageBoxW and a WebViewHost
// with the real platform.
struct MainWindowServices {
  std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags)>
      showMessage;
  std::function<std::unique_ptr<WebView::WebViewHost>()> makeHost;
};
MainWindowServices DefaultMainWindowServices();

// Registers "CorvelWindow" and creates the visible, still empty player window (1280 × 720);
// null when the window cannot be made.
HWND CreatePlayerFrame(HINSTANCE instance);

// Makes the player's host for `window` (made by CreatePlayerFrame) ahead of its content and starts
// its environment, so that the browser gets ready while the link's requests run; the host waits
// in g_playerHost for CreatePlayerWindow. Nothing when `window` is null or a host exists.
void StartPlayerBrowser(HWND window, const MainWindowServices& services);

// Puts the web view into the player window and starts it, prepared for `content`; true when
// the view is ready (with the host StartPlayerBrowser made, when there is one). On a failed
// start the splash is removed and the "WebView2 Error" box is shown; false without a message
// when `window` is null.
bool CreatePlayerWindow(HINSTANCE instance, HWND window, const LinkContent& content);
bool CreatePlayerWindow(HINSTANCE instance,
                        HWND window,
                        const LinkContent& content,
                        const MainWindowServices& services);

// Registers "KelmoInitWindow", creates the init screen (1024 × 768) and starts its web view.
// False with g_initHost null when the window cannot be made; false after the "WebView2 Error"
// box when the view cannot be started.
bool CreateInitScreen(HINSTANCE instance);
bool CreateInitScreen(HINSTANCE instance, const MainWindowServices& services);

// %LOCALAPPDATA%\<displayName>\WebView2Data, the data root both views share (so the init screen
// and the player share cookies and storage); empty when the folder cannot be looked up.
std::wstring WebViewUserDataRoot();

#endif  // CORVEL_APP_WINDOWS_WIN_H_
