// The player window and the init screen under Wine: real windows, fake web views
// (webview/webview_host_test_fakes_win.h).
#include "app/windows_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/dpi.h"
#include "config/config.h"
#include "text/text.h"
#include "webview/navigation_policy.h"
#include "webview/preparation.h"
#include "webview/printing_win.h"
#include "webview/test/fake_webview2_win.h"

namespace {

// The content the identity record holds, as the start-up hands it to the player window.
LinkContent AppContent() {
  const AppState& state = GetAppState();
  LinkContent content;
  content.platformDomain = state.platformDomain;
  content.contentUrl = state.contentUrl;
  content.contentKind = state.contentKind;
  content.watermarkText = state.watermarkText;
  content.scriptId = state.scriptId;
  content.pageScript = state.pageScript;
  return content;
}

using host_test::FakeNavigationCompletedArgs;
using host_test::FakeNavigationStartingArgs;
using host_test::FakeProcessFailedArgs;
using host_test::FakeResourceRequestedArgs;
using host_test::FakeRuntime;
using host_test::FakeWebMessageArgs;
using host_test::PumpUntil;
using WebView::WebViewHost;

class ComApartment : public ::testing::Environment {
 public:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }
};
[[maybe_unused]] ::testing::Environment* const kCom = ::testing::AddGlobalTestEnvironment(new ComApartment);

// Per-monitor aware, as corvel.exe's manifest makes the player.
[[maybe_unused]] const bool kPerMonitorAware =
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != FALSE;

HINSTANCE Instance() {
  return GetModuleHandleW(nullptr);
}

struct ShownMessage {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT flags;
};

// Services whose hosts run on a fake runtime and whose message boxes are only recorded.
struct FakeServices {
  FakeRuntime runtime;
  std::vector<ShownMessage> messages;
  int answer = IDOK;  // what every message box answers
  MainWindowServices services;

  FakeServices() = default;
  // The hosts made here use the fakes: they must be gone before the fakes are.
  ~FakeServices() {
    ShutdownWebViewHosts();
    PumpUntil([] { return false; }, 50);
  }
  void Build() {
    runtime.Build();
    services.showMessage = [this](HWND owner, const std::wstring& text, const std::wstring& caption,
                                  UINT flags) {
      messages.push_back({owner, text, caption, flags});
      return answer;
    };
    services.makeHost = [this] { return std::make_unique<WebViewHost>(runtime.Platform()); };
  }
};

// Every test leaves the process as it found it: no hosts, no main window, no quit message.
class MainWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppState& state = GetAppState();
    state.platformDomain = L"https://school.example";
    state.contentUrl = L"https://school.example/lesson/1";
    state.contentKind = L"url_direct";
    state.watermarkText = L"student";
    state.pageScript.clear();
    GetPlayerWindowState() = PlayerWindowState{};
    GetInitScreenState() = InitScreenState{};
  }
  void TearDown() override {
    ShutdownWebViewHosts();
    for (HWND window : windows_) {
      if (IsWindow(window))
        DestroyWindow(window);
    }
    g_mainWindow = nullptr;
    DrainQuit();
  }
  HWND Track(HWND window) {
    windows_.push_back(window);
    return window;
  }
  // Dispatches what is queued; returns the quit code if a quit message came, else -1.
  static int DrainQuit() {
    int code = -1;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        code = static_cast<int>(message.wParam);
        continue;
      }
      DispatchMessageW(&message);
    }
    return code;
  }

 private:
  std::vector<HWND> windows_;
};

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring TitleOf(HWND window) {
  wchar_t title[128] = {};
  GetWindowTextW(window, title, 128);
  return title;
}

SIZE SizeOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

MONITORINFO MonitorOf(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
  return info;
}

// What the fake view sees for a preparation plan.
std::vector<std::string> ExpectedCalls(const std::vector<ViewStep>& steps) {
  std::vector<std::string> calls;
  for (const ViewStep& step : steps) {
    switch (step.kind) {
      case ViewStep::Kind::kConfigureSettings:
        for (const char* setting :
             {"settings.AreDevToolsEnabled 0", "settings.AreDefaultContextMenusEnabled 0",
              "settings.IsStatusBarEnabled 0", "settings.IsZoomControlEnabled 0",
              "settings.AreBrowserAcceleratorKeysEnabled 0"})
          calls.push_back(setting);
        calls.push_back("settings.HiddenPdfToolbarItems " +
                        std::to_string(static_cast<int>(COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE |
                                                        COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS |
                                                        COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT)));
        break;
      case ViewStep::Kind::kAddDocumentScript:
        calls.push_back("view.AddScriptToExecuteOnDocumentCreated " + Utf16ToUtf8(step.text) + " +handler");
        break;
      case ViewStep::Kind::kNavigate:
        if (WantsIdentificationHeader(step.text)) {
          calls.push_back("env.CreateWebResourceRequest " + Utf16ToUtf8(step.text) + " GET");
          calls.push_back("view.NavigateWithWebResourceRequest");
        } else {
          calls.push_back("view.Navigate " + Utf16ToUtf8(step.text));
        }
        break;
      case ViewStep::Kind::kNavigateToString:
        calls.push_back("view.NavigateToString " + Utf16ToUtf8(step.text));
        break;
      case ViewStep::Kind::kReveal:
        break;
    }
  }
  return calls;
}

// The preparation has come to its navigation: every script before it was confirmed.
bool Prepared(const FakeRuntime& runtime) {
  for (const std::string& call : runtime.calls) {
    if (call.rfind("view.Navigate", 0) == 0)
      return true;
  }
  return false;
}

std::vector<std::string> ViewCalls(const FakeRuntime& runtime) {
  std::vector<std::string> selected;
  for (const std::string& call : runtime.calls) {
    if (call.rfind("view.add_", 0) != 0 && call.rfind("view.AddWebResourceRequestedFilter", 0) != 0 &&
        call.rfind("env.add_", 0) != 0 && call.rfind("env.CreateCoreWebView2Controller", 0) != 0 &&
        call.rfind("controller.", 0) != 0)  // layout calls from the window's own moves
      selected.push_back(call);
  }
  return selected;
}

void SendWebMessage(FakeRuntime& runtime, const std::wstring& text) {
  FakeWebMessageArgs args(text, L"\"" + text + L"\"");
  runtime.RaiseWebMessage(args);
}

// ---- Frames and procedures without a view -------------------------------------------------

TEST_F(MainWindowsTest, PlayerFrameIsTheSpecifiedWindow) {
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(ClassOf(frame), L"CorvelWindow");
  EXPECT_EQ(TitleOf(frame), L"Corvel V 4.11.0");
  // 1280 × 720 at 96 DPI, grown with the screen's resolution as far as the screen lets it.
  const unsigned dpi = GetDpiForSystem();
  const SIZE size = SizeOf(frame);
  EXPECT_EQ(size.cx, std::min(base::ScaleToDpi(1280, dpi), GetSystemMetrics(SM_CXMAXTRACK))) << dpi;
  EXPECT_EQ(size.cy, std::min(base::ScaleToDpi(720, dpi), GetSystemMetrics(SM_CYMAXTRACK))) << dpi;
  const LONG_PTR style = GetWindowLongPtrW(frame, GWL_STYLE);
  EXPECT_EQ(style & (WS_OVERLAPPEDWINDOW | WS_VISIBLE), WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  EXPECT_TRUE(GetWindowLongPtrW(frame, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  EXPECT_EQ(GetParent(frame), nullptr);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  ASSERT_TRUE(GetClassInfoExW(Instance(), L"CorvelWindow", &windowClass));
  EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(windowClass.hbrBackground, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  EXPECT_EQ(windowClass.hCursor, LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_EQ(g_mainWindow.load(), nullptr) << "the frame becomes the main window with its view";

  // A second frame registers the class again without harm.
  HWND second = Track(CreatePlayerFrame(Instance()));
  EXPECT_NE(second, nullptr);
}

TEST_F(MainWindowsTest, ProceduresWorkWithoutAHostAndPaintTheLoadingLine) {
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(SendMessageW(frame, WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600)), 0);
  EXPECT_EQ(SendMessageW(frame, WM_SIZE, SIZE_MINIMIZED, 0), 0);
  EXPECT_EQ(SendMessageW(frame, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), TRUE);
  SendMessageW(frame, WM_MOVE, 0, MAKELPARAM(5, 5));
  SendMessageW(frame, WM_ACTIVATEAPP, TRUE, 0);
  EXPECT_EQ(SendMessageW(frame, WM_APP_SHUTDOWN_HOSTS, 0, 0), 0);

  // The paint handler validates the window (no endless WM_PAINT) and draws light text on black.
  SetForegroundWindow(frame);
  InvalidateRect(frame, nullptr, TRUE);
  UpdateWindow(frame);
  RECT update{};
  EXPECT_FALSE(GetUpdateRect(frame, &update, FALSE));
  PumpUntil([] { return false; }, 200);
  RECT client{};
  GetClientRect(frame, &client);
  HDC dc = GetDC(frame);
  const COLORREF corner = GetPixel(dc, 2, 2);
  int light = 0;
  const int middle = (client.bottom - client.top) / 2;
  for (int y = middle - 12; y <= middle + 12; ++y) {
    for (int x = client.left; x < client.right; x += 1) {
      const COLORREF pixel = GetPixel(dc, x, y);
      if (pixel != CLR_INVALID && GetRValue(pixel) > 150 && GetGValue(pixel) > 150 && GetBValue(pixel) > 150)
        ++light;
    }
  }
  ReleaseDC(frame, dc);
  EXPECT_EQ(corner, RGB(0, 0, 0));
  EXPECT_GT(light, 20) << "the loading line is drawn across the middle";
}

TEST_F(MainWindowsTest, ShutdownMessageAndDestroyCloseBothHosts) {
  FakeServices player;
  FakeServices init;
  player.Build();
  init.Build();
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_TRUE(CreatePlayerWindow(Instance(), frame, AppContent(), player.services));
  ASSERT_TRUE(PumpUntil([&] { return Prepared(player.runtime); }));
  g_initHost = init.services.makeHost();  // as if an init screen had run in this process
  EXPECT_EQ(SendMessageW(frame, WM_APP_SHUTDOWN_HOSTS, 0, 0), 0);
  EXPECT_EQ(g_playerHost, nullptr);
  EXPECT_EQ(g_initHost, nullptr);
  EXPECT_EQ(player.runtime.controller.references(), 1u) << "the player's view was released";
  EXPECT_EQ(player.runtime.environment.references(), 1u);
  EXPECT_EQ(g_mainWindow.load(), frame);

  // Destroying the window closes whatever host exists, forgets the window and ends the loop.
  ASSERT_TRUE(CreatePlayerWindow(Instance(), frame, AppContent(), player.services));
  ASSERT_TRUE(PumpUntil([&] { return Prepared(player.runtime); }));
  DrainQuit();
  DestroyWindow(frame);
  EXPECT_EQ(g_playerHost, nullptr);
  EXPECT_EQ(g_mainWindow.load(), nullptr);
  EXPECT_EQ(DrainQuit(), 0);
  EXPECT_EQ(player.runtime.controller.references(), 1u);
}

// The shutdown hook's hand-over: another thread's task runs on the window's own thread, and a
// window that does not get to its messages is waited for only as long as asked; its task is then
// taken back, so it cannot run at some later moment nobody expects.
TEST_F(MainWindowsTest, AnotherThreadsTaskRunsOnTheWindowsThreadAndTheWaitIsBounded) {
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_NE(frame, nullptr);
  const DWORD windowThread = GetCurrentThreadId();
  std::atomic<DWORD> ranOn{0};
  std::atomic<bool> done{false};
  bool handed = false;
  std::thread worker([&] {
    handed = RunOnWindowThread(
        frame, [&ranOn] { ranOn = GetCurrentThreadId(); }, 10000);
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&done] { return done.load(); }, 10000));
  worker.join();
  EXPECT_TRUE(handed);
  EXPECT_EQ(ranOn.load(), windowThread);

  // This thread now waits in join() without serving its window.
  ranOn = 0;
  const ULONGLONG start = GetTickCount64();
  std::thread impatient([&] {
    handed = RunOnWindowThread(
        frame, [&ranOn] { ranOn = GetCurrentThreadId(); }, 300);
  });
  impatient.join();
  const ULONGLONG waited = GetTickCount64() - start;
  EXPECT_FALSE(handed);
  // A window whose thread has not looked at its messages for five seconds counts as hung, and
  // the hand-over gives up on it at once (SMTO_ABORTIFHUNG); on a starved test machine the
  // pause before this hand-over can be that long.
  if (!IsHungAppWindow(frame)) {
    EXPECT_GE(waited, 250u);
  }
  EXPECT_LT(waited, 5000u);
  EXPECT_EQ(ranOn.load(), 0u) << "the task never runs on the waiting thread";
  PumpUntil([&ranOn] { return ranOn.load() != 0; }, 500);
  EXPECT_EQ(ranOn.load(), 0u) << "a task taken back runs neither late";
  EXPECT_EQ(SendMessageW(frame, WM_APP_RUN_HANDED_OVER, 0, 0), 0);
  EXPECT_EQ(ranOn.load(), 0u) << "...nor with the next hand-over";

  // The window still serves the next hand-over.
  done = false;
  std::thread again([&] {
    handed = RunOnWindowThread(
        frame, [&ranOn] { ranOn = GetCurrentThreadId(); }, 10000);
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&done] { return done.load(); }, 10000));
  again.join();
  EXPECT_TRUE(handed);
  EXPECT_EQ(ranOn.load(), windowThread);
}

// ---- The player window ---------------------------------------------------------------------

TEST_F(MainWindowsTest, PlayerWindowPreparesTheContentAndRevealsTheWindow) {
  FakeServices s;
  s.Build();
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_NE(frame, nullptr);
  ShowWindow(frame, SW_HIDE);
  RECT client{};
  GetClientRect(frame, &client);
  ASSERT_TRUE(CreatePlayerWindow(Instance(), frame, AppContent(), s.services));
  ASSERT_TRUE(PumpUntil([&] { return Prepared(s.runtime); }));

  EXPECT_EQ(g_mainWindow.load(), frame);
  EXPECT_EQ(GetPlayerWindowState().window, frame);
  EXPECT_TRUE(GetPlayerWindowState().revealed);
  EXPECT_TRUE(IsWindowVisible(frame));
  EXPECT_TRUE(s.messages.empty());
  ASSERT_NE(g_playerHost, nullptr);
  EXPECT_EQ(ViewCalls(s.runtime), ExpectedCalls(PlanPlayerPreparation(AppContent())));
  ASSERT_FALSE(s.runtime.bounds.empty());
  EXPECT_TRUE(EqualRect(&s.runtime.bounds.front(), &client));
  EXPECT_NE(WebViewUserDataRoot().find(L"\\Corvel\\WebView2Data"), std::wstring::npos);
  const std::wstring root = WebViewUserDataRoot();
  const DWORD parent = GetFileAttributesW(root.substr(0, root.find_last_of(L'\\')).c_str());
  EXPECT_TRUE(parent != INVALID_FILE_ATTRIBUTES && (parent & FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(s.runtime.environmentFolders, std::vector<std::wstring>{root + L"_Evergreen_Env5"});
  EXPECT_EQ(s.runtime.unexpectedCalls(), 0);
}

// A protective script the runtime does not take: the content never loads, the "WebView2 Error"
// box comes from the window's own message (not inside the runtime's completion), and the window
// closes.
TEST_F(MainWindowsTest, AScriptTheContentNeedsThatCannotBeAddedEndsTheStart) {
  FakeServices s;
  s.runtime.addScriptResult = E_FAIL;
  s.Build();
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_TRUE(CreatePlayerWindow(Instance(), frame, AppContent(), s.services));
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(frame); }));
  EXPECT_FALSE(Prepared(s.runtime)) << "nothing is shown without its scripts";
  ASSERT_EQ(s.messages.size(), 1u);
  EXPECT_EQ(s.messages[0].caption, L"WebView2 Error");
  EXPECT_EQ(s.messages[0].text.rfind(L"Failed to initialize WebView2.\n\n", 0), 0u);
  EXPECT_FALSE(GetPlayerWindowState().revealed);
  DrainQuit();
}

TEST_F(MainWindowsTest, PlayerWindowAnswersPageMessagesAndAppliesThePolicy) {
  FakeServices s;
  s.Build();
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_TRUE(CreatePlayerWindow(Instance(), frame, AppContent(), s.services));
  ASSERT_TRUE(PumpUntil([&] { return Prepared(s.runtime); }));
  s.runtime.calls.clear();

  {
    SCOPED_TRACE("full screen and back");
    const MONITORINFO monitor = MonitorOf(frame);
    SendWebMessage(s.runtime, L"toggleFullscreen");
    EXPECT_TRUE(GetPlayerWindowState().fullscreen);
    EXPECT_EQ(GetWindowLongPtrW(frame, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CLIPSIBLINGS | WS_CLIPCHILDREN),
              static_cast<LONG_PTR>(WS_POPUP | WS_VISIBLE));
    RECT rect{};
    GetWindowRect(frame, &rect);
    EXPECT_TRUE(EqualRect(&rect, &monitor.rcMonitor));

    FakeWebMessageArgs json(std::nullopt, L"\"toggleFullscreen\"");  // the same word posted as JSON
    s.runtime.RaiseWebMessage(json);
    EXPECT_FALSE(GetPlayerWindowState().fullscreen);
    EXPECT_EQ(GetWindowLongPtrW(frame, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CLIPSIBLINGS | WS_CLIPCHILDREN),
              static_cast<LONG_PTR>(WS_OVERLAPPEDWINDOW | WS_VISIBLE));
    GetWindowRect(frame, &rect);
    EXPECT_EQ(rect.right - rect.left, 1280);
    EXPECT_EQ(rect.bottom - rect.top, 720);
    const RECT& work = monitor.rcWork;
    const int expectedLeft = std::max<LONG>(work.left, work.left + (work.right - work.left - 1280) / 2);
    const int expectedTop = std::max<LONG>(work.top, work.top + (work.bottom - work.top - 720) / 2);
    EXPECT_EQ(rect.left, expectedLeft) << "centred on the work area";
    EXPECT_EQ(rect.top, expectedTop);
  }
  {
    SCOPED_TRACE("print requests in their three forms, everything else ignored");
    // The dialog runs from the window's loop once the message handler has returned.
    const auto printed = [&s](std::size_t count) {
      return PumpUntil([&] { return ViewCalls(s.runtime).size() >= count; }, 2000);
    };
    SendWebMessage(s.runtime, L"requestPrint");
    EXPECT_TRUE(printed(1));
    FakeWebMessageArgs object(std::nullopt, L"{\"type\":\"x\",\"action\":\"requestPrint\"}");
    s.runtime.RaiseWebMessage(object);
    EXPECT_TRUE(printed(2));
    SendWebMessage(s.runtime, L"requestPrint ");
    SendWebMessage(s.runtime, L"btn_home");
    SendWebMessage(s.runtime, L"btn_reload");
    EXPECT_FALSE(printed(3));
    EXPECT_EQ(ViewCalls(s.runtime), (std::vector<std::string>{"print", "print"}));
    EXPECT_TRUE(s.runtime.posted.empty()) << "no request was refused";
  }
  {
    SCOPED_TRACE("pageLoaded shows the window once");
    ShowWindow(frame, SW_HIDE);
    SendWebMessage(s.runtime, L"pageLoaded");
    EXPECT_FALSE(IsWindowVisible(frame)) << "already revealed by the preparation";
    GetPlayerWindowState().revealed = false;
    SendWebMessage(s.runtime, L"pageLoaded");
    EXPECT_TRUE(IsWindowVisible(frame));
    EXPECT_TRUE(GetPlayerWindowState().revealed);
  }
  {
    SCOPED_TRACE("navigation policy");
    FakeNavigationStartingArgs away(L"https://evil.example/");
    FakeNavigationStartingArgs sameSite(L"https://cdn.school.example/video");
    FakeNavigationStartingArgs blank(L"about:blank");
    s.runtime.RaiseNavigationStarting(away);
    s.runtime.RaiseNavigationStarting(sameSite);
    s.runtime.RaiseNavigationStarting(blank);
    EXPECT_EQ(away.cancelCalls, std::vector<BOOL>{TRUE});
    EXPECT_TRUE(sameSite.cancelCalls.empty());
    EXPECT_TRUE(blank.cancelCalls.empty());
  }
  {
    SCOPED_TRACE("Referer for YouTube requests");
    GetAppState().platformDomain = L"https://school.example/";
    FakeResourceRequestedArgs video(L"https://www.youtube.com/embed/abc");
    FakeResourceRequestedArgs other(L"https://school.example/a.js");
    s.runtime.RaiseResourceRequested(video);
    s.runtime.RaiseResourceRequested(other);
    EXPECT_EQ(video.request.headers.values[L"Referer"], L"https://school.example");
    EXPECT_EQ(other.request.headers.values.count(L"Referer"), 0u);
    EXPECT_EQ(other.request.headers.values.count(config::IdentificationHeaderName()), 1u);
  }
  EXPECT_EQ(s.runtime.unexpectedCalls(), 0);
}

TEST_F(MainWindowsTest, ThePrinterDialogRunsFromTheWindowsLoopAndASecondRequestIsCancelledMeanwhile) {
  const std::wstring cancelled = L"{\"type\":\"printResult\",\"status\":\"cancelled\"}";
  FakeServices s;
  s.Build();
  // The real print path; the choice stands for the dialog's nested loop, in which the page asks
  // again (a double-click on its print button).
  int dialogs = 0;
  bool chosenInsideAnEventHandler = false;
  HWND dialogOwner = nullptr;
  HRESULT secondDelivered = E_FAIL;
  std::vector<std::wstring> postedWhileOpen;
  const PrinterSelector choose = [&](HWND owner) {
    ++dialogs;
    dialogOwner = owner;
    chosenInsideAnEventHandler = s.runtime.delivering();
    FakeWebMessageArgs again(L"requestPrint", L"\"requestPrint\"");
    secondDelivered = s.runtime.RaiseWebMessage(again);
    postedWhileOpen = s.runtime.posted;
    return std::wstring(L"Office Laser");
  };
  s.services.makeHost = [&] {
    WebView::HostPlatform platform = s.runtime.Platform();
    platform.printPage = [&choose](HWND owner, ICoreWebView2Environment* environment, ICoreWebView2* view) {
      PrintViewPage(owner, environment, view, choose);
    };
    return std::make_unique<WebViewHost>(std::move(platform));
  };
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_TRUE(CreatePlayerWindow(Instance(), frame, AppContent(), s.services));
  ASSERT_TRUE(PumpUntil([&] { return Prepared(s.runtime); }));

  FakeWebMessageArgs first(L"requestPrint", L"\"requestPrint\"");
  EXPECT_EQ(s.runtime.RaiseWebMessage(first), S_OK);
  EXPECT_EQ(dialogs, 0) << "the message handler returns before the dialog opens";
  EXPECT_TRUE(s.runtime.posted.empty());

  ASSERT_TRUE(PumpUntil([&] { return s.runtime.posted.size() >= 2; }));
  EXPECT_EQ(dialogs, 1);
  EXPECT_FALSE(chosenInsideAnEventHandler) << "a nested loop inside the runtime's handler stalls the view";
  EXPECT_EQ(dialogOwner, frame);
  EXPECT_EQ(secondDelivered, S_OK) << "the view's events keep coming while the dialog is open";
  EXPECT_EQ(postedWhileOpen, std::vector<std::wstring>{cancelled})
      << "the second request is answered at once";
  // The first request goes on to print with the chosen printer (the fake runtime cannot).
  EXPECT_EQ(s.runtime.posted,
            (std::vector<std::wstring>{
                cancelled,
                L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"Failed to create print "
                L"environment\"}"}));

  // Once it has closed, the next request opens the dialog again.
  FakeWebMessageArgs third(L"requestPrint", L"\"requestPrint\"");
  s.runtime.RaiseWebMessage(third);
  ASSERT_TRUE(PumpUntil([&] { return dialogs == 2; }));
  EXPECT_EQ(s.runtime.unexpectedCalls(), 0);
}

TEST_F(MainWindowsTest, TheComposedPageIsAllowedUnderEitherAddressAndAPagesOwnDataPageIsNot) {
  AppState& state = GetAppState();
  state.contentKind = L"iframe";
  state.contentUrl = L"https://school.example/embed/lesson-5";
  FakeServices s;
  s.Build();
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_TRUE(CreatePlayerWindow(Instance(), frame, AppContent(), s.services));
  ASSERT_TRUE(PumpUntil([&] { return Prepared(s.runtime); }));
  ASSERT_EQ(
      std::count_if(s.runtime.calls.begin(), s.runtime.calls.end(),
                    [](const std::string& call) { return call.rfind("view.NavigateToString ", 0) == 0; }),
      1)
      << "the preparation shows the composed page";

  // The runtime reports the composed page's start under one address or the other.
  const wchar_t* const kReported[] = {L"data:text/html;charset=utf-8;base64,PGh0bWw+PC9odG1sPg==",
                                      L"about:blank"};
  bool firstTime = true;
  for (const wchar_t* reported : kReported) {
    SCOPED_TRACE(Utf16ToUtf8(reported));
    if (!firstTime)
      g_playerHost->NavigateToString(L"<p>the composed page again</p>");
    firstTime = false;
    FakeNavigationStartingArgs own(reported);
    FakeNavigationStartingArgs forged(L"data:text/html,<script>location='https://evil.example/'</script>");
    s.runtime.RaiseNavigationStarting(own);
    s.runtime.RaiseNavigationStarting(forged);
    EXPECT_TRUE(own.cancelCalls.empty()) << "the player must not cancel its own page";
    EXPECT_EQ(forged.cancelCalls, std::vector<BOOL>{TRUE});
  }
}

TEST_F(MainWindowsTest, WindowMessagesDriveTheViewLayout) {
  FakeServices s;
  s.Build();
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_TRUE(CreatePlayerWindow(Instance(), frame, AppContent(), s.services));
  ASSERT_TRUE(PumpUntil([&] { return Prepared(s.runtime); }));
  s.runtime.bounds.clear();
  s.runtime.visibility.clear();
  s.runtime.calls.clear();
  s.runtime.reportedBounds = RECT{0, 0, 800, 600};

  EXPECT_EQ(SendMessageW(frame, WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600)), 0);
  ASSERT_EQ(s.runtime.bounds.size(), 2u) << "resized, then the layout refreshed";
  const RECT expected{0, 0, 800, 600};
  EXPECT_TRUE(EqualRect(&s.runtime.bounds[0], &expected));
  EXPECT_EQ(s.runtime.visibility, std::vector<BOOL>{TRUE});

  s.runtime.bounds.clear();
  EXPECT_EQ(SendMessageW(frame, WM_SIZE, SIZE_RESTORED, MAKELPARAM(0, 600)), 0);
  EXPECT_EQ(s.runtime.bounds.size(), 1u) << "a zero width is not applied; only the refresh re-applies";

  EXPECT_EQ(SendMessageW(frame, WM_SIZE, SIZE_MINIMIZED, 0), 0);
  EXPECT_EQ(s.runtime.visibility.back(), FALSE);
  EXPECT_EQ(SendMessageW(frame, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), TRUE);
  EXPECT_EQ(s.runtime.visibility.back(), FALSE);
  EXPECT_EQ(SendMessageW(frame, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0), TRUE);
  EXPECT_EQ(s.runtime.visibility.back(), TRUE);
  const size_t before = s.runtime.visibility.size();
  SendMessageW(frame, WM_ACTIVATEAPP, TRUE, 0);
  EXPECT_EQ(s.runtime.visibility.size(), before + 1);
  SendMessageW(frame, WM_ACTIVATEAPP, FALSE, 0);
  EXPECT_EQ(s.runtime.visibility.size(), before + 1) << "only activation refreshes";

  s.runtime.calls.clear();
  SendMessageW(frame, WM_MOVE, 0, MAKELPARAM(10, 10));
  SendMessageW(frame, WM_MOVING, 0, 0);
  EXPECT_EQ(s.runtime.calls, (std::vector<std::string>{"controller.NotifyParentWindowPositionChanged",
                                                       "controller.NotifyParentWindowPositionChanged"}));

  ShowWindow(frame, SW_MINIMIZE);
  const size_t minimized = s.runtime.visibility.size();
  SendMessageW(frame, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  SendMessageW(frame, WM_ACTIVATEAPP, TRUE, 0);
  EXPECT_EQ(s.runtime.visibility.size(), minimized) << "a minimised window stays hidden";
}

// A failed renderer reloads the page; a browser that exited leaves a dead view, which a new host
// replaces in the same window for the same content; a second failure in a row asks first, and
// Cancel closes the window. Nothing of it runs inside the runtime's event.
TEST_F(MainWindowsTest, AFailedEngineProcessIsRecoveredFromTheWindowsLoop) {
  FakeServices s;
  s.Build();
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ASSERT_TRUE(CreatePlayerWindow(Instance(), frame, AppContent(), s.services));
  ASSERT_TRUE(PumpUntil([&] { return Prepared(s.runtime); }));
  const auto count = [&](const std::string& call) {
    return std::count(s.runtime.calls.begin(), s.runtime.calls.end(), call);
  };
  const long navigations = count("view.Navigate " + Utf16ToUtf8(AppContent().contentUrl));

  FakeProcessFailedArgs renderer(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
  EXPECT_EQ(s.runtime.RaiseProcessFailed(renderer), S_OK);
  EXPECT_EQ(count("view.Reload"), 0) << "not inside the event";
  ASSERT_TRUE(PumpUntil([&] { return count("view.Reload") == 1; }));

  GetPlayerWindowState().recovery = {};  // as after a quiet minute
  FakeProcessFailedArgs browser(COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED);
  s.runtime.RaiseProcessFailed(browser);
  ASSERT_TRUE(PumpUntil([&] { return s.runtime.environmentFolders.size() == 2; }));
  ASSERT_TRUE(PumpUntil(
      [&] { return count("view.Navigate " + Utf16ToUtf8(AppContent().contentUrl)) == navigations + 1; }));
  EXPECT_TRUE(GetPlayerWindowState().revealed);
  EXPECT_TRUE(s.messages.empty());

  FakeProcessFailedArgs gpu(COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED);
  s.runtime.RaiseProcessFailed(gpu);  // the runtime's own business
  s.answer = IDCANCEL;
  s.runtime.RaiseProcessFailed(browser);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(frame); }));
  ASSERT_EQ(s.messages.size(), 1u);
  EXPECT_EQ(s.messages[0].text, kViewFailedText);
  EXPECT_EQ(s.messages[0].flags & MB_TYPEMASK, static_cast<UINT>(MB_RETRYCANCEL));
  EXPECT_EQ(s.runtime.environmentFolders.size(), 2u);
  DrainQuit();
}

TEST_F(MainWindowsTest, PlayerWindowFailuresShowTheErrorBox) {
  FakeServices s;
  s.runtime.createEnvironmentCall = E_ACCESSDENIED;
  s.Build();
  EXPECT_FALSE(CreatePlayerWindow(Instance(), nullptr, AppContent(), s.services));
  EXPECT_TRUE(s.messages.empty()) << "no window, no message";
  EXPECT_EQ(g_playerHost, nullptr);

  HWND frame = Track(CreatePlayerFrame(Instance()));
  EXPECT_FALSE(CreatePlayerWindow(Instance(), frame, AppContent(), s.services));
  ASSERT_NE(g_playerHost, nullptr) << "the host stays for the tear-down";
  ASSERT_EQ(s.messages.size(), 1u);
  EXPECT_EQ(s.messages[0].owner, frame);
  EXPECT_EQ(s.messages[0].caption, L"WebView2 Error");
  EXPECT_EQ(s.messages[0].text, L"Failed to initialize WebView2.\n\n" + g_playerHost->statusMessage);
  EXPECT_NE(g_playerHost->statusMessage.find(L"First=0x80070005 at CreateEnvironmentCall"),
            std::wstring::npos);
  EXPECT_EQ(s.messages[0].flags, static_cast<UINT>(MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST));
  EXPECT_FALSE(GetPlayerWindowState().revealed);
}

// Finds the "WebView2 Error" box from another thread, reads its texts and closes it.
class ErrorBoxCloser {
 public:
  ErrorBoxCloser()
      : thread_([this] {
          const ULONGLONG deadline = GetTickCount64() + 20000;
          while (GetTickCount64() < deadline) {
            HWND box = FindWindowW(L"#32770", L"WebView2 Error");
            if (box != nullptr) {
              EnumChildWindows(
                  box,
                  [](HWND child, LPARAM self) -> BOOL {
                    wchar_t text[1024] = {};
                    GetWindowTextW(child, text, 1024);
                    reinterpret_cast<ErrorBoxCloser*>(self)->texts_ += std::wstring(text) + L"|";
                    return TRUE;
                  },
                  reinterpret_cast<LPARAM>(this));
              PostMessageW(box, WM_COMMAND, IDOK, 0);
              found_ = true;
              return;
            }
            Sleep(50);
          }
        }) {}
  ~ErrorBoxCloser() {
    if (thread_.joinable())
      thread_.join();
  }
  std::wstring Finish() {
    thread_.join();
    return found_ ? texts_ : L"(no box)";
  }

 private:
  std::wstring texts_;
  std::atomic<bool> found_{false};
  std::thread thread_;
};

TEST_F(MainWindowsTest, DefaultServicesShowTheRealErrorBox) {
  // No WebView2Loader.dll beside this program and no runtime on the machine: the built-in loader
  // finds none, and the real host fails at once.
  HWND frame = Track(CreatePlayerFrame(Instance()));
  ErrorBoxCloser closer;
  EXPECT_FALSE(CreatePlayerWindow(Instance(), frame, AppContent()));
  const std::wstring texts = closer.Finish();
  EXPECT_NE(texts.find(L"Failed to initialize WebView2."), std::wstring::npos) << Utf16ToUtf8(texts);
  EXPECT_NE(texts.find(L"First=0x80070002 at CreateEnvironmentCall"), std::wstring::npos)
      << Utf16ToUtf8(texts);
}

// ---- The init screen -----------------------------------------------------------------------

TEST_F(MainWindowsTest, InitScreenBrowsesThePlatformAndAnswersTheNavigationBar) {
  FakeServices s;
  s.Build();
  ASSERT_TRUE(CreateInitScreen(Instance(), s.services));
  ASSERT_TRUE(PumpUntil([&] { return Prepared(s.runtime); }));
  HWND window = Track(g_mainWindow.load());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ClassOf(window), L"KelmoInitWindow");
  EXPECT_EQ(TitleOf(window), L"Corvel V 4.11.0");
  EXPECT_EQ(SizeOf(window).cx, 1024);
  EXPECT_EQ(SizeOf(window).cy, 768);
  ASSERT_NE(g_initHost, nullptr);
  EXPECT_EQ(ViewCalls(s.runtime), ExpectedCalls(PlanInitPreparation()));
  RECT client{};
  GetClientRect(window, &client);
  ASSERT_GE(s.runtime.bounds.size(), 2u);
  EXPECT_TRUE(EqualRect(&s.runtime.bounds.back(), &client)) << "bounds set again once the view is ready";
  EXPECT_TRUE(s.messages.empty());

  {
    SCOPED_TRACE("every completed navigation brings the window forward, from the loop");
    ShowWindow(window, SW_HIDE);
    FakeNavigationCompletedArgs failed(FALSE, COREWEBVIEW2_WEB_ERROR_STATUS_TIMEOUT);
    s.runtime.RaiseNavigationCompleted(failed);
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(window) != FALSE; }));
  }
  {
    SCOPED_TRACE("the platform site follows the browsing");
    GetAppState().platformDomain = L"https://school.example";
    FakeNavigationStartingArgs tenant(L"https://Tenant.School.example/courses/1");
    FakeNavigationStartingArgs chooser(L"https://other.example/select-tenants");
    FakeNavigationStartingArgs bare(L"https://bare.example");
    s.runtime.RaiseNavigationStarting(tenant);
    EXPECT_EQ(GetAppState().platformDomain, L"https://Tenant.School.example");
    s.runtime.RaiseNavigationStarting(chooser);
    EXPECT_EQ(GetAppState().platformDomain, L"https://Tenant.School.example");
    s.runtime.RaiseNavigationStarting(bare);
    EXPECT_EQ(GetAppState().platformDomain, L"https://bare.example");
    EXPECT_TRUE(tenant.cancelCalls.empty() && chooser.cancelCalls.empty() && bare.cancelCalls.empty());
  }
  {
    SCOPED_TRACE("fixed request headers");
    FakeResourceRequestedArgs request(L"https://school.example/app.js");
    s.runtime.RaiseResourceRequested(request);
    for (const auto& [name, value] : InitScreenRequestHeaders())
      EXPECT_EQ(request.request.headers.values[name], value) << Utf16ToUtf8(name);
  }
  {
    SCOPED_TRACE("navigation bar");
    s.runtime.calls.clear();
    SendWebMessage(s.runtime, L"btn_back");
    SendWebMessage(s.runtime, L"btn_reload");
    SendWebMessage(s.runtime, L"btn_home ");
    SendWebMessage(s.runtime, L"requestPrint");
    SendWebMessage(s.runtime, L"toggleFullscreen");
    SendWebMessage(s.runtime, L"btn_home");
    std::vector<std::string> expected = {"view.GoBack", "view.Reload", "print"};
    for (const std::string& call :
         ExpectedCalls({ViewStep{ViewStep::Kind::kNavigate, config::InitHomeUrl()}}))
      expected.push_back(call);
    EXPECT_EQ(s.runtime.calls, expected);
  }
  {
    SCOPED_TRACE("full screen and back to the saved placement");
    RECT before{};
    GetWindowRect(window, &before);
    const MONITORINFO monitor = MonitorOf(window);
    SendWebMessage(s.runtime, L"btn_fullscreen");
    EXPECT_TRUE(GetInitScreenState().fullscreen);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, 0);
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_TRUE(EqualRect(&rect, &monitor.rcMonitor));
    SendWebMessage(s.runtime, L"btn_fullscreen");
    EXPECT_FALSE(GetInitScreenState().fullscreen);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    GetWindowRect(window, &rect);
    EXPECT_TRUE(EqualRect(&rect, &before));
  }
  EXPECT_EQ(s.runtime.unexpectedCalls(), 0);
}

TEST_F(MainWindowsTest, InitScreenFailureShowsTheErrorBoxAndKeepsTheHost) {
  FakeServices s;
  s.runtime.environmentResult = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  s.Build();
  EXPECT_FALSE(CreateInitScreen(Instance(), s.services));
  HWND window = Track(g_mainWindow.load());
  ASSERT_NE(window, nullptr);
  ASSERT_NE(g_initHost, nullptr) << "tells the entry point that the message was shown";
  ASSERT_EQ(s.messages.size(), 1u);
  EXPECT_EQ(s.messages[0].owner, window);
  EXPECT_EQ(s.messages[0].caption, L"WebView2 Error");
  EXPECT_EQ(s.messages[0].text, L"Failed to initialize WebView2.\n\n" + g_initHost->statusMessage);
  EXPECT_EQ(s.messages[0].flags, static_cast<UINT>(MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST));
  EXPECT_TRUE(std::none_of(s.runtime.calls.begin(), s.runtime.calls.end(),
                           [](const std::string& call) { return call.rfind("view.", 0) == 0; }));

  // A host that cannot even be made leaves g_initHost empty.
  ShutdownWebViewHosts();
  MainWindowServices none = s.services;
  none.makeHost = [] { return std::unique_ptr<WebViewHost>(); };
  EXPECT_FALSE(CreateInitScreen(Instance(), none));
  Track(g_mainWindow.load());
  EXPECT_EQ(g_initHost, nullptr);
}

}  // namespace
