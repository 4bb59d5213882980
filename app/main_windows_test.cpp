#include "app/main_windows.h"

#include <gtest/gtest.h>

#include "base/app_state.h"
#include "text/text.h"

namespace {

using PA = PlayerWindowAction;
using IA = InitScreenAction;

// Catches a rule that drifts from the page protocol: a toggle without a window, a second reveal
// by the page, a navigation-bar word taken by the player, a loose match of the init screen's words.
TEST(MainWindowsTest, PageMessagesTurnIntoTheWindowsActions) {
  const struct {
    const wchar_t* message;
    bool fullscreen, revealed, hasWindow;
    PA action;
  } player[] = {
      {L"requestPrint", false, true, true, PA::kPrint},
      {L"{\"action\":\"requestPrint\"}", false, true, false, PA::kPrint},  // no window needed to print
      {L"toggleFullscreen", false, true, true, PA::kEnterFullscreen},
      {L"\"toggleFullscreen\"", true, true, true, PA::kLeaveFullscreen},
      {L"toggleFullscreen", false, true, false, PA::kNone},
      {L"pageLoaded", false, false, true, PA::kShow},
      {L"pageLoaded", false, true, true, PA::kNone},  // revealed once: never again
      {L"pageLoaded", false, false, false, PA::kNone},
      {L"btn_home", false, false, true, PA::kNone},
      {L"btn_fullscreen", false, false, true, PA::kNone},
      {L"requestPrint ", false, false, true, PA::kNone},
  };
  for (const auto& c : player) {
    SCOPED_TRACE(Utf16ToUtf8(c.message));
    PlayerWindowFlags state;
    state.fullscreen = c.fullscreen;
    state.revealed = c.revealed;
    EXPECT_EQ(PlayerPageMessageAction(state, c.hasWindow, c.message), c.action);
  }

  const struct {
    const wchar_t* message;
    bool fullscreen;
    IA action;
  } init[] = {
      {L"requestPrint", false, IA::kPrint},
      {L"\"requestPrint\"", true, IA::kPrint},
      {L"btn_home", false, IA::kHome},
      {L"btn_back", false, IA::kBack},
      {L"btn_reload", false, IA::kReload},
      {L"btn_fullscreen", false, IA::kEnterFullscreen},
      {L"btn_fullscreen", true, IA::kLeaveFullscreen},
      {L"btn_home ", false, IA::kNone},
      {L"\"btn_home\"", false, IA::kNone},
      {L"toggleFullscreen", false, IA::kNone},
      {L"pageLoaded", false, IA::kNone},
  };
  for (const auto& c : init) {
    SCOPED_TRACE(Utf16ToUtf8(c.message));
    InitScreenFlags state;
    state.fullscreen = c.fullscreen;
    EXPECT_EQ(InitPageMessageAction(state, c.message), c.action);
  }
}

// The state follows only what was applied: two toggles return to the window, a toggle the
// platform could not apply decides the next one the same way, and the page reveals only once.
TEST(MainWindowsTest, TheStateFollowsTheAppliedActions) {
  PlayerWindowFlags player;
  const auto applyPlayer = [&player](const wchar_t* message, bool applied) {
    const PA action = PlayerPageMessageAction(player, true, message);
    if (applied)
      RecordPlayerAction(player, action);
    return action;
  };
  EXPECT_EQ(applyPlayer(L"toggleFullscreen", false), PA::kEnterFullscreen);  // no monitor to cover
  EXPECT_FALSE(player.fullscreen);
  EXPECT_EQ(applyPlayer(L"toggleFullscreen", true), PA::kEnterFullscreen);
  EXPECT_TRUE(player.fullscreen);
  EXPECT_EQ(applyPlayer(L"toggleFullscreen", true), PA::kLeaveFullscreen);
  EXPECT_FALSE(player.fullscreen);

  EXPECT_EQ(applyPlayer(L"pageLoaded", true), PA::kShow);
  EXPECT_TRUE(player.revealed);
  EXPECT_EQ(applyPlayer(L"pageLoaded", true), PA::kNone);
  ResetPlayerWindow(player);  // a new view in the window
  EXPECT_FALSE(player.revealed);
  RecordPlayerAction(player, PA::kReveal);  // the preparation started the content
  EXPECT_TRUE(player.revealed);
  EXPECT_EQ(applyPlayer(L"pageLoaded", true), PA::kNone);
  RecordPlayerAction(player, PA::kPrint);
  EXPECT_TRUE(player.revealed);
  EXPECT_FALSE(player.fullscreen);

  InitScreenFlags init;
  RecordInitAction(init, InitPageMessageAction(init, L"btn_fullscreen"));
  EXPECT_TRUE(init.fullscreen);
  RecordInitAction(init, InitPageMessageAction(init, L"btn_home"));
  EXPECT_TRUE(init.fullscreen);
  RecordInitAction(init, InitPageMessageAction(init, L"btn_fullscreen"));
  EXPECT_FALSE(init.fullscreen);
}

// The window events read the identity record as it is at that moment: the platform domain the
// init screen followed is the one the player's policy and Referer rule then use.
TEST(MainWindowsTest, ViewEventsReadAndFollowTheIdentityRecord) {
  AppState& state = GetAppState();
  const AppState saved = state;
  state.contentUrl = L"https://school.example/lesson/1";
  state.contentKind = L"url_direct";
  state.platformDomain = L"https://school.example/";

  EXPECT_EQ(MainWindowTitle(), state.displayName + L" V " + state.versionText);
  EXPECT_FALSE(PlayerCancelsNavigation(L"https://school.example/lesson/1?page=2"));
  EXPECT_TRUE(PlayerCancelsNavigation(L"https://elsewhere.example/"));
  EXPECT_EQ(PlayerRequestHeaders(L"https://www.youtube.com/embed/x"),
            (RequestHeaders{{L"Referer", L"https://school.example"}}));
  EXPECT_TRUE(PlayerRequestHeaders(L"https://school.example/app.js").empty());

  EXPECT_EQ(FollowPlatformSite(L"https://tenant.elsewhere.example/courses"),
            std::optional<std::wstring>(L"https://tenant.elsewhere.example"));
  EXPECT_EQ(state.platformDomain, L"https://tenant.elsewhere.example");
  EXPECT_EQ(FollowPlatformSite(L"https://tenant.elsewhere.example/other"), std::nullopt) << "unchanged";
  EXPECT_EQ(FollowPlatformSite(L"https://x.example/select-tenants"), std::nullopt);
  EXPECT_EQ(state.platformDomain, L"https://tenant.elsewhere.example");
  EXPECT_FALSE(PlayerCancelsNavigation(L"https://cdn.elsewhere.example/video"))
      << "the followed site is the platform now";
  EXPECT_EQ(PlayerRequestHeaders(L"https://www.youtube.com/embed/x"),
            (RequestHeaders{{L"Referer", L"https://tenant.elsewhere.example"}}));
  state = saved;
}

}  // namespace

// A failing engine: the first failure of a row repairs itself, the second asks, the third gives
// up; a quiet minute, counted from the last failure or the student's Retry, starts a new row.
TEST(MainWindowsTest, RecoveryFollowsTheRowOfFailures) {
  using WebView::ViewFailure;
  using RA = RecoveryAction;
  using std::chrono::seconds;
  const auto start = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  ViewRecovery record;
  EXPECT_EQ(DecideRecovery(record, ViewFailure::kRendererExited, start), RA::kReload);
  EXPECT_EQ(DecideRecovery(record, ViewFailure::kRendererUnresponsive, start + seconds(50)), RA::kOfferRetry);
  NoteRetry(record, start + seconds(170));  // the message stayed open two minutes
  EXPECT_EQ(DecideRecovery(record, ViewFailure::kRendererExited, start + seconds(200)), RA::kGiveUp);

  ViewRecovery browser;
  EXPECT_EQ(DecideRecovery(browser, ViewFailure::kBrowserExited, start), RA::kNewView);
  EXPECT_EQ(DecideRecovery(browser, ViewFailure::kBrowserExited, start + seconds(61)), RA::kNewView);
  EXPECT_EQ(DecideRecovery(browser, ViewFailure::kRendererExited, start + seconds(62)), RA::kOfferRetry);
  EXPECT_EQ(DecideRecovery(browser, ViewFailure::kRendererExited, start + seconds(200)), RA::kReload);
}
