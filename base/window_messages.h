// Every window message of the player's own, one meaning each (Windows; the numbers follow WM_APP,
// 0x8000). Kept in one place so that no two parts of the program ever give one number two
// meanings.
#ifndef CORVEL_BASE_WINDOW_MESSAGES_H_
#define CORVEL_BASE_WINDOW_MESSAGES_H_

inline constexpr unsigned int kWindowMessageAppBase = 0x8000;  // WM_APP

// To a main window: close the web views (ShutdownWebViewHosts). The shutdown hook sends it from
// other threads; the value is the one older builds used.
inline constexpr unsigned int WM_APP_SHUTDOWN_HOSTS = kWindowMessageAppBase + 101;

// To a web view's own message window: run the print request its page made (the printer dialog,
// a nested message loop that must not run inside a WebView2 event handler).
inline constexpr unsigned int WM_APP_RUN_PRINT_REQUEST = kWindowMessageAppBase + 102;

// To a main window: run the tasks other threads handed over (RunOnWindowThread).
inline constexpr unsigned int WM_APP_RUN_HANDED_OVER = kWindowMessageAppBase + 103;

// To a task window of the PDF print (webview/pdf_print_win.cpp) or a web view's own message
// window: run, on the window's thread, the task whose heap-allocated std::function<void()> the
// LPARAM carries (the window frees it). Worker threads hand their results back this way.
inline constexpr unsigned int WM_APP_RUN_UI_TASK = kWindowMessageAppBase + 104;

#endif  // CORVEL_BASE_WINDOW_MESSAGES_H_
