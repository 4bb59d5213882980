// The portable half of the two main windows: the player window (started with a link) and the
// init screen (started without one). Their sizes, title and loading line, the state each window
// keeps, and the rules that turn a page message or a view event into what the window does live
// here, once. The platform halves, windows_win.cpp (Win32 and WebView2) and windows_qt.cpp (Qt
// WebEngine), make the native windows and apply the answers.
//
// Plain values and functions; the state records belong to the platform halves (one per window
// kind and process, read and written on the UI thread only).
#ifndef CORVEL_APP_MAIN_WINDOWS_H_
#define CORVEL_APP_MAIN_WINDOWS_H_

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/launch_link.h"
#include "webview/navigation_policy.h"
#include "webview/web_view.h"

struct WindowSize {
  int width;
  int height;
};
inline constexpr WindowSize kPlayerWindowSize{1280, 720};
inline constexpr WindowSize kInitScreenSize{1024, 768};

// displayName + " V " + versionText of the identity record, for example "Corvel V 4.11.0".
std::wstring MainWindowTitle();

// The line both windows paint, centred on one line, on black until their view covers them.
inline constexpr wchar_t kLoadingText[] = L"جاري التحميل... Loading...";
inline constexpr wchar_t kLoadingFontFace[] = L"Segoe UI";
inline constexpr int kLoadingFontPixels = 24;           // normal weight
inline constexpr unsigned char kLoadingTextGrey = 200;  // red, green and blue alike

// ---- When the engine fails ---------------------------------------------------------------------

// The failures of a window's engine in a row; kept with the window, across its views.
struct ViewRecovery {
  int failures = 0;
  std::chrono::steady_clock::time_point last{};
};

// A failure this long after the one before (or after the student's Retry) starts a new row.
inline constexpr std::chrono::seconds kRecoveryWindow{60};

enum class RecoveryAction {
  kReload,      // the page again, in the same view
  kNewView,     // the view is dead: a new one in the same window, for the same content
  kOfferRetry,  // the bilingual message: Retry makes a new view, Cancel closes the window
  kGiveUp,      // the diagnostic dialog, which ends the player
};

// What a window does after a failure of its engine at `now`: the first of a row reloads the
// page, or, when the browser process ended, makes a new view; the second offers Retry; a third
// gives up. Records the failure.
RecoveryAction DecideRecovery(ViewRecovery& record,
                              WebView::ViewFailure failure,
                              std::chrono::steady_clock::time_point now);

// The student chose Retry at `now`: the row goes on, counted from here.
void NoteRetry(ViewRecovery& record, std::chrono::steady_clock::time_point now);

// The message that offers Retry, English then Arabic.
inline constexpr wchar_t kViewFailedText[] =
    L"The lesson stopped working.\nSelect Retry to load it again, or Cancel to close the player.\n\n"
    L"توقف الدرس عن العمل.\nاختر «إعادة المحاولة» لتحميله من جديد، أو «إلغاء» لإغلاق البرنامج.";

// ---- Player window ----------------------------------------------------------------------------

struct PlayerWindowFlags {
  bool fullscreen = false;
  // The window has been shown for its content: by the preparation, or once by the page.
  bool revealed = false;
  ViewRecovery recovery;
};

enum class PlayerWindowAction {
  kNone,
  kPrint,            // the view's print request
  kEnterFullscreen,  // popup style over the whole monitor
  kLeaveFullscreen,  // the overlapped window again, at kPlayerWindowSize
  kShow,             // the page's own reveal: show and repaint, nothing more
  kReveal,           // the preparation's reveal: splash gone, window shown and brought to the front
};

// What the player window does with a page message: print requests, "toggleFullscreen" (only
// with a window) and "pageLoaded", which shows the window only while it is not revealed yet.
// Every other message, the navigation-bar words among them, is kNone.
PlayerWindowAction PlayerPageMessageAction(const PlayerWindowFlags& state,
                                           bool hasWindow,
                                           const std::wstring& message);

// The window was given a new view: it is not revealed until its content is started.
void ResetPlayerWindow(PlayerWindowFlags& state);

// Records an action once the platform has applied it (a platform that could not, for example
// because there is no monitor to cover, records nothing): full screen follows the toggles, kShow
// and kReveal reveal the window.
void RecordPlayerAction(PlayerWindowFlags& state, PlayerWindowAction applied);

// ---- Init screen ------------------------------------------------------------------------------

struct InitScreenFlags {
  bool fullscreen = false;
  ViewRecovery recovery;
};

enum class InitScreenAction {
  kNone,
  kPrint,
  kHome,  // navigate to the configured home page
  kBack,
  kReload,
  kEnterFullscreen,  // the placement is kept to return to
  kLeaveFullscreen,  // back to the kept placement
};

// What the init screen does with a page message: print requests, then the navigation-bar words,
// which must match exactly.
InitScreenAction InitPageMessageAction(const InitScreenFlags& state, const std::wstring& message);

// Records an action once the platform has applied it (see RecordPlayerAction).
void RecordInitAction(InitScreenFlags& state, InitScreenAction applied);

// ---- View events, against the identity record ---------------------------------------------------

using WebView::RequestHeaders;

// The player's navigation policy for the content and platform of the identity record: true
// cancels the navigation.
bool PlayerCancelsNavigation(const std::wstring& uri);

// The headers the player sets on a request of its page (the platform site as the Referer of
// YouTube requests); empty for most requests.
RequestHeaders PlayerRequestHeaders(const std::wstring& uri);

// The pages a window hears and what they may use. The player hears only lesson pages (its
// composed page, the content's host, the platform's site); the init screen hears every top
// document (its navigation bar is in each). Permissions: see AnswerPagePermission.
bool PlayerHearsMessagesFrom(const std::wstring& source, bool composedPage);
PermissionAnswer PlayerPermission(PagePermission permission, const std::wstring& origin);
PermissionAnswer InitScreenPermission(PagePermission permission, const std::wstring& origin);

// The init screen follows the platform site the student browses: when this navigation changes
// it, the new platform domain is stored in the identity record and returned.
std::optional<std::wstring> FollowPlatformSite(const std::wstring& uri);

// ---- A window and its view, wired once for both platforms ----------------------------------

// The native half of a main window: what the wiring below asks of it (windows_win.cpp and
// windows_qt.cpp implement it). UI thread only; must outlive the view it is wired to.
class WindowShell {
 public:
  virtual ~WindowShell() = default;
  // The window still exists (it may have been closed while its view works).
  virtual bool Exists() const = 0;
  // Full screen on or off; false when the window cannot be placed, and then nothing changed.
  // The player leaves full screen at kPlayerWindowSize, the init screen at its kept placement.
  virtual bool SetFullscreen(bool on) = 0;
  // Shows the window and repaints it, nothing more.
  virtual void Show() = 0;
  // The content is on screen: the splash goes, the window is shown and brought to the front.
  virtual void Reveal() = 0;
  // The splash goes (a view that could not start).
  virtual void DismissSplash() = 0;
  // The view could not be prepared for its content: later, from the event loop (never inside a
  // view's event), the splash goes, the "WebView2 Error" box shows `summary`, and the window
  // closes.
  virtual void FailStart(const std::wstring& summary) = 0;
  // Runs `task` later, from the event loop, never inside the view's event.
  virtual void RunLater(std::function<void()> task) = 0;
  // The view failed: the message with Retry and Cancel over the window; true for Retry. Runs a
  // nested loop, so only from a RunLater task.
  virtual bool AskRetry(const std::wstring& text) = 0;
  // The window's view is closed and a new one made in its place, wired and prepared as the
  // first was. Only from a RunLater task.
  virtual void RestartView() = 0;
  // Closes the window, which ends the player.
  virtual void Close() = 0;
};

// The wiring reports what the windows do through WebView::ReportEvent (web_view.h).

// The player window's view events: the navigation policy and the request headers of the identity
// record, only lesson pages heard and granted permissions, page messages (print, full screen, the
// page's own reveal), and once the view is ready the preparation for `content` and the reveal.
// `state` and `window` must outlive the view.
WebView::ViewEvents PlayerViewEvents(WebView::BrowserView& view,
                                     WindowShell& window,
                                     PlayerWindowFlags& state,
                                     const LinkContent& content);

// The init screen's view events: it follows the platform site the student browses, sets its two
// fixed headers, answers its navigation bar, is brought to the front after every load, and once
// ready opens the start page (or, when the view cannot start, just removes the splash).
WebView::ViewEvents InitScreenViewEvents(WebView::BrowserView& view,
                                         WindowShell& window,
                                         InitScreenFlags& state);

#endif  // CORVEL_APP_MAIN_WINDOWS_H_
