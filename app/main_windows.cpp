#include "app/main_windows.h"

#include "base/app_state.h"
#include "base/fatal_dialog.h"
#include "config/config.h"
#include "text/text.h"
#include "webview/navigation_policy.h"
#include "webview/page_messages.h"
#include "webview/preparation.h"

std::wstring MainWindowTitle() {
  const AppState& state = GetAppState();
  return state.displayName + L" V " + state.versionText;
}

RecoveryAction DecideRecovery(ViewRecovery& record,
                              WebView::ViewFailure failure,
                              std::chrono::steady_clock::time_point now) {
  if (record.failures > 0 && now - record.last > kRecoveryWindow)
    record.failures = 0;
  ++record.failures;
  record.last = now;
  if (record.failures >= 3)
    return RecoveryAction::kGiveUp;
  if (record.failures == 2)
    return RecoveryAction::kOfferRetry;
  return failure == WebView::ViewFailure::kBrowserExited ? RecoveryAction::kNewView : RecoveryAction::kReload;
}

void NoteRetry(ViewRecovery& record, std::chrono::steady_clock::time_point now) {
  record.last = now;
}

PlayerWindowAction PlayerPageMessageAction(const PlayerWindowFlags& state,
                                           bool hasWindow,
                                           const std::wstring& message) {
  switch (DispatchPlayerMessage(message)) {
    case PageRequest::kPrint:
      return PlayerWindowAction::kPrint;
    case PageRequest::kToggleFullscreen:
      if (!hasWindow)
        return PlayerWindowAction::kNone;
      return state.fullscreen ? PlayerWindowAction::kLeaveFullscreen : PlayerWindowAction::kEnterFullscreen;
    case PageRequest::kPageLoaded:
      // Once revealed, the window stays as the preparation (or an earlier message) left it.
      return hasWindow && !state.revealed ? PlayerWindowAction::kShow : PlayerWindowAction::kNone;
    default:
      break;
  }
  return PlayerWindowAction::kNone;
}

void ResetPlayerWindow(PlayerWindowFlags& state) {
  state.revealed = false;
}

void RecordPlayerAction(PlayerWindowFlags& state, PlayerWindowAction applied) {
  switch (applied) {
    case PlayerWindowAction::kEnterFullscreen:
      state.fullscreen = true;
      break;
    case PlayerWindowAction::kLeaveFullscreen:
      state.fullscreen = false;
      break;
    case PlayerWindowAction::kShow:
    case PlayerWindowAction::kReveal:
      state.revealed = true;
      break;
    case PlayerWindowAction::kNone:
    case PlayerWindowAction::kPrint:
      break;
  }
}

InitScreenAction InitPageMessageAction(const InitScreenFlags& state, const std::wstring& message) {
  switch (DispatchInitMessage(message)) {
    case PageRequest::kPrint:
      return InitScreenAction::kPrint;
    case PageRequest::kHome:
      return InitScreenAction::kHome;
    case PageRequest::kBack:
      return InitScreenAction::kBack;
    case PageRequest::kReload:
      return InitScreenAction::kReload;
    case PageRequest::kToggleFullscreen:
      return state.fullscreen ? InitScreenAction::kLeaveFullscreen : InitScreenAction::kEnterFullscreen;
    default:
      break;
  }
  return InitScreenAction::kNone;
}

void RecordInitAction(InitScreenFlags& state, InitScreenAction applied) {
  if (applied == InitScreenAction::kEnterFullscreen)
    state.fullscreen = true;
  else if (applied == InitScreenAction::kLeaveFullscreen)
    state.fullscreen = false;
}

bool PlayerCancelsNavigation(const std::wstring& uri) {
  const AppState& state = GetAppState();
  return !PlayerAllowsNavigation(uri, state.contentUrl, state.platformDomain, state.contentKind);
}

RequestHeaders PlayerRequestHeaders(const std::wstring& uri) {
  RequestHeaders headers;
  if (std::optional<std::wstring> referer = PlayerRefererFor(uri, GetAppState().platformDomain))
    headers.emplace_back(L"Referer", std::move(*referer));
  return headers;
}

std::optional<std::wstring> FollowPlatformSite(const std::wstring& uri) {
  AppState& state = GetAppState();
  std::optional<std::wstring> site = TrackPlatformSite(uri, state.platformDomain);
  if (site)
    state.platformDomain = *site;
  return site;
}

bool PlayerHearsMessagesFrom(const std::wstring& source, bool composedPage) {
  const AppState& state = GetAppState();
  return IsLessonPage(source, composedPage, state.contentUrl, state.platformDomain);
}

PermissionAnswer PlayerPermission(PagePermission permission, const std::wstring& origin) {
  const AppState& state = GetAppState();
  return AnswerPagePermission(permission, origin, state.contentUrl, state.platformDomain);
}

PermissionAnswer InitScreenPermission(PagePermission permission, const std::wstring& origin) {
  return AnswerPagePermission(permission, origin, std::wstring(), GetAppState().platformDomain);
}

namespace {

std::string Narrow(const std::wstring& text, std::size_t limit = 300) {
  return Utf16ToUtf8(text).substr(0, limit);
}

// Applies the player's action to its view and window; records it once applied.
void ApplyPlayerAction(WebView::BrowserView& view,
                       WindowShell& window,
                       PlayerWindowFlags& state,
                       PlayerWindowAction action,
                       const std::optional<PrintedDocument>& printed = std::nullopt) {
  bool applied = false;
  switch (action) {
    case PlayerWindowAction::kNone:
      return;
    case PlayerWindowAction::kPrint:
      if (printed)
        view.PrintDocument(*printed);
      else
        view.Print();
      return;
    case PlayerWindowAction::kEnterFullscreen:
    case PlayerWindowAction::kLeaveFullscreen:
      applied = window.SetFullscreen(action == PlayerWindowAction::kEnterFullscreen);
      break;
    case PlayerWindowAction::kShow:
      window.Show();
      applied = true;
      break;
    case PlayerWindowAction::kReveal:
      window.Reveal();
      applied = true;
      break;
  }
  if (!applied)
    return;
  RecordPlayerAction(state, action);
  if (action == PlayerWindowAction::kShow)
    WebView::ReportEvent("revealed by page");
  else if (action == PlayerWindowAction::kReveal)
    WebView::ReportEvent("revealed");
  else
    WebView::ReportEvent(std::string("fullscreen ") + (state.fullscreen ? "1" : "0"));
}

void ApplyInitAction(WebView::BrowserView& view,
                     WindowShell& window,
                     InitScreenFlags& state,
                     InitScreenAction action) {
  switch (action) {
    case InitScreenAction::kNone:
      return;
    case InitScreenAction::kPrint:
      view.Print();
      return;
    case InitScreenAction::kHome:
      view.Navigate(config::InitHomeUrl());
      return;
    case InitScreenAction::kBack:
      view.GoBack();
      return;
    case InitScreenAction::kReload:
      view.Reload();
      return;
    case InitScreenAction::kEnterFullscreen:
    case InitScreenAction::kLeaveFullscreen:
      if (!window.SetFullscreen(action == InitScreenAction::kEnterFullscreen))
        return;
      RecordInitAction(state, action);
      WebView::ReportEvent(std::string("fullscreen ") + (state.fullscreen ? "1" : "0"));
      return;
  }
}

// A failed engine process: the page again, a new view, Retry, or the end. Everything that opens a
// window, closes the view or ends the process waits for the event loop.
void ApplyRecovery(WebView::BrowserView& view,
                   WindowShell& window,
                   ViewRecovery& record,
                   WebView::ViewFailure failure) {
  const RecoveryAction action = DecideRecovery(record, failure, std::chrono::steady_clock::now());
  static constexpr const char* kFailureNames[] = {"renderer-exited", "renderer-unresponsive",
                                                  "browser-exited"};
  static constexpr const char* kActionNames[] = {"reload", "new-view", "offer-retry", "give-up"};
  WebView::ReportEvent(std::string("process failed ") + kFailureNames[static_cast<int>(failure)] + " " +
                       kActionNames[static_cast<int>(action)]);
  switch (action) {
    case RecoveryAction::kReload:
      view.Reload();
      return;
    case RecoveryAction::kNewView:
      window.RunLater([&window] { window.RestartView(); });
      return;
    case RecoveryAction::kOfferRetry:
      window.RunLater([&window, &record] {
        if (!window.Exists())
          return;
        if (window.AskRetry(kViewFailedText)) {
          NoteRetry(record, std::chrono::steady_clock::now());
          window.RestartView();
        } else {
          window.Close();
        }
      });
      return;
    case RecoveryAction::kGiveUp:
      window.RunLater([] {
        ShowFatalDiagnosticDialog(GetAppState().displayName,
                                  L"The player stopped because its browser component failed again and again.",
                                  L"توقف البرنامج لأن مكوّن المتصفح تعطّل مرة بعد مرة.",
                                  "WEBVIEW_PROCESS_FAILED");
      });
      return;
  }
}

}  // namespace

WebView::ViewEvents PlayerViewEvents(WebView::BrowserView& view,
                                     WindowShell& window,
                                     PlayerWindowFlags& state,
                                     const LinkContent& content) {
  WebView::ViewEvents events;
  events.navigationStarting = [](const std::wstring& uri) {
    const bool cancel = PlayerCancelsNavigation(uri);
    WebView::ReportEvent(std::string("navigation ") + (cancel ? "blocked " : "allowed ") + Narrow(uri));
    return !cancel;
  };
  events.request = [](const std::wstring& uri) {
    RequestHeaders headers = PlayerRequestHeaders(uri);
    for (const auto& [name, value] : headers)
      WebView::ReportEvent("request header " + Narrow(name) + " " + Narrow(value) + " " + Narrow(uri, 200));
    return headers;
  };
  events.hearsMessagesFrom = [](const std::wstring& source, bool composedPage) {
    const bool heard = PlayerHearsMessagesFrom(source, composedPage);
    if (!heard)
      WebView::ReportEvent("web-message ignored from " + Narrow(source, 200));
    return heard;
  };
  events.pageMessage = [&view, &window, &state, printed = PrintedPdf(content)](const std::wstring& message) {
    WebView::ReportEvent("web-message " + Narrow(message, std::string::npos));
    ApplyPlayerAction(view, window, state, PlayerPageMessageAction(state, window.Exists(), message), printed);
  };
  events.permission = [](PagePermission permission, const std::wstring& origin) {
    const PermissionAnswer answer = PlayerPermission(permission, origin);
    WebView::ReportEvent(std::string("permission ") +
                         (answer == PermissionAnswer::kAllow  ? "granted "
                          : answer == PermissionAnswer::kDeny ? "denied "
                                                              : "default ") +
                         Narrow(origin, 200));
    return answer;
  };
  events.fullscreenElement = [&view, &window, &state](bool fullscreen) {
    // A video's own full-screen button: the window follows, as with "toggleFullscreen".
    if (fullscreen != state.fullscreen)
      ApplyPlayerAction(
          view, window, state,
          fullscreen ? PlayerWindowAction::kEnterFullscreen : PlayerWindowAction::kLeaveFullscreen);
  };
  events.processFailed = [&view, &window, &state](WebView::ViewFailure failure) {
    ApplyRecovery(view, window, state.recovery, failure);
  };
  events.ready = [&view, &window, &state, plan = PlanPlayerPreparation(content)](bool success) {
    if (!success)
      return;  // whoever started the view reports the failure
    ApplyPreparation(
        view, plan, [&] { ApplyPlayerAction(view, window, state, PlayerWindowAction::kReveal); },
        [&window](const std::wstring& summary) { window.FailStart(summary); });
  };
  return events;
}

WebView::ViewEvents InitScreenViewEvents(WebView::BrowserView& view,
                                         WindowShell& window,
                                         InitScreenFlags& state) {
  WebView::ViewEvents events;
  events.navigationStarting = [](const std::wstring& uri) {
    if (const std::optional<std::wstring> domain = FollowPlatformSite(uri))
      WebView::ReportEvent("platform-domain " + Narrow(*domain));
    WebView::ReportEvent("navigation allowed " + Narrow(uri));
    return true;
  };
  events.request = [](const std::wstring&) { return InitScreenRequestHeaders(); };
  events.pageMessage = [&view, &window, &state](const std::wstring& message) {
    WebView::ReportEvent("web-message " + Narrow(message, std::string::npos));
    ApplyInitAction(view, window, state, InitPageMessageAction(state, message));
  };
  events.permission = InitScreenPermission;
  events.fullscreenElement = [&view, &window, &state](bool fullscreen) {
    if (fullscreen != state.fullscreen)
      ApplyInitAction(view, window, state,
                      fullscreen ? InitScreenAction::kEnterFullscreen : InitScreenAction::kLeaveFullscreen);
  };
  events.processFailed = [&view, &window, &state](WebView::ViewFailure failure) {
    ApplyRecovery(view, window, state.recovery, failure);
  };
  events.loaded = [&window](bool) {
    window.Reveal();
    WebView::ReportEvent("init shown");
  };
  events.ready = [&view, &window](bool success) {
    if (!success) {
      window.DismissSplash();
      return;
    }
    ApplyPreparation(view, PlanInitPreparation(), nullptr,
                     [&window](const std::wstring& summary) { window.FailStart(summary); });
  };
  return events;
}
