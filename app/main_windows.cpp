#include "app/main_windows.h"

#include "base/app_state.h"
#include "webview/navigation_policy.h"
#include "webview/page_messages.h"

std::wstring MainWindowTitle() {
  const AppState& state = GetAppState();
  return state.displayName + L" V " + state.versionText;
}

PlayerWindowAction PlayerPageMessageAction(const PlayerWindowFlags& state,
                                           bool hasWindow,
                                           const std::wstring& message) {
  switch (DispatchPlayerMessage(message)) {
    case PlayerMessageAction::Print:
      return PlayerWindowAction::kPrint;
    case PlayerMessageAction::ToggleFullscreen:
      if (!hasWindow)
        return PlayerWindowAction::kNone;
      return state.fullscreen ? PlayerWindowAction::kLeaveFullscreen : PlayerWindowAction::kEnterFullscreen;
    case PlayerMessageAction::PageLoaded:
      // Once revealed, the window stays as the preparation (or an earlier message) left it.
      return hasWindow && !state.revealed ? PlayerWindowAction::kShow : PlayerWindowAction::kNone;
    case PlayerMessageAction::None:
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
    case InitMessageAction::Print:
      return InitScreenAction::kPrint;
    case InitMessageAction::Home:
      return InitScreenAction::kHome;
    case InitMessageAction::Back:
      return InitScreenAction::kBack;
    case InitMessageAction::Reload:
      return InitScreenAction::kReload;
    case InitMessageAction::ToggleFullscreen:
      return state.fullscreen ? InitScreenAction::kLeaveFullscreen : InitScreenAction::kEnterFullscreen;
    case InitMessageAction::None:
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
