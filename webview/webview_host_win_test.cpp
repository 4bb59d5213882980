// WebViewHost against fake WebView2 objects under Wine: initialisation outcomes and summaries,
// attempts and folders, environment variables and runtime choice, the quit message, shutdown,
// the thin calls and the event handlers with the pin gate.
#include "webview/webview_host_win.h"
#include "base/window_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "text/text.h"
#include "webview/test/fake_webview2_win.h"

namespace {

using host_test::ComPtr;
using host_test::FakeDownloadArgs;
using host_test::FakeNavigationCompletedArgs;
using host_test::FakeNavigationStartingArgs;
using host_test::FakeNewWindowArgs;
using host_test::FakePermissionArgs;
using host_test::FakeResourceRequestedArgs;
using host_test::FakeRuntime;
using host_test::FakeWebMessageArgs;
using host_test::PostToLoop;
using host_test::PumpUntil;
using WebView::WebViewHost;

class ComApartment : public ::testing::Environment {
 public:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }
};
[[maybe_unused]] ::testing::Environment* const kCom = ::testing::AddGlobalTestEnvironment(new ComApartment);

// A top-level window with a known client area.
class TestWindow {
 public:
  TestWindow() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"CorvelHostTestParent";
    RegisterClassExW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"parent", WS_OVERLAPPEDWINDOW, 10, 10, 640, 480,
                              nullptr, nullptr, windowClass.hInstance, nullptr);
  }
  ~TestWindow() {
    if (IsWindow(window_))
      DestroyWindow(window_);
  }
  HWND get() const { return window_; }
  RECT client() const {
    RECT rect{};
    GetClientRect(window_, &rect);
    return rect;
  }

 private:
  HWND window_ = nullptr;
};

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..")
        continue;
      const std::wstring child = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(child);
      else
        DeleteFileW(child.c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

// A fresh temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static int counter = 0;
    path_ = std::wstring(base) + L"corvel-host-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++counter);
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempFolder() { RemoveTree(path_); }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> FolderEntries(const std::wstring& path) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..")
      names.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::wstring> Environment(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    return std::nullopt;
  return std::wstring(value, length);
}

std::wstring Failure(HRESULT first,
                     const std::wstring& firstStage,
                     HRESULT last,
                     const std::wstring& lastStage,
                     const std::wstring& runtime,
                     const std::wstring& folder) {
  wchar_t a[16], b[16];
  swprintf(a, 16, L"0x%08X", static_cast<unsigned>(first));
  swprintf(b, 16, L"0x%08X", static_cast<unsigned>(last));
  return std::wstring(L"WebView2 initialization failed. First=") + a + L" at " + firstStage + L"; last=" + b +
         L" at " + lastStage + L"; runtime=" + runtime + L"; lastUserData=" + folder;
}

// The calls whose name starts with one of the prefixes, in order.
std::vector<std::string> CallsStartingWith(const FakeRuntime& runtime,
                                           std::initializer_list<std::string> prefixes) {
  std::vector<std::string> selected;
  for (const std::string& call : runtime.calls) {
    for (const std::string& prefix : prefixes) {
      if (call.rfind(prefix, 0) == 0) {
        selected.push_back(call);
        break;
      }
    }
  }
  return selected;
}

// Sets its flag when the callback holding it is destroyed with its host.
struct DestroyedFlag {
  explicit DestroyedFlag(std::shared_ptr<bool> flag) : destroyed(std::move(flag)) {}
  ~DestroyedFlag() { *destroyed = true; }
  std::shared_ptr<bool> destroyed;
};

struct InitializedCall {
  bool success;
  HRESULT result;
};

// A host on a fake runtime, with its onInitialized calls recorded.
struct Harness {
  FakeRuntime runtime;
  std::unique_ptr<WebViewHost> host;
  std::vector<InitializedCall> initialized;

  void Make() { Make(runtime.Platform()); }
  void Make(WebView::HostPlatform platform) {
    runtime.Build();
    host = std::make_unique<WebViewHost>(std::move(platform));
    host->onInitialized = [this](bool success, HRESULT result) { initialized.push_back({success, result}); };
  }
  ~Harness() {
    if (host)
      host->Shutdown(0);
    host.reset();
    PumpUntil([] { return false; }, 50);  // late completions still queued run while the fakes live
  }
};

// ---- Initialisation ------------------------------------------------------------------------

TEST(WebViewHostInitializeTest, ReadyViewIsSetUpAndReported) {
  TestWindow parent;
  TempFolder temp;
  const std::wstring root = temp.path() + L"\\data";
  Harness h;
  h.Make();
  ASSERT_TRUE(h.host->Initialize(parent.get(), root, 1));

  const std::wstring folder = root + L"_Evergreen_Env5";
  EXPECT_EQ(h.host->lastError, S_OK);
  EXPECT_EQ(h.host->statusMessage, L"WebView2 initialized with Evergreen 121.0.2277.83; userData=" + folder);
  ASSERT_EQ(h.initialized.size(), 1u);
  EXPECT_TRUE(h.initialized[0].success);
  EXPECT_EQ(h.initialized[0].result, S_OK);
  EXPECT_EQ(h.runtime.environmentFolders, std::vector<std::wstring>{folder});
  EXPECT_EQ(h.runtime.browserFolders, std::vector<std::optional<std::wstring>>{std::nullopt});
  EXPECT_EQ(h.runtime.controllerParents, std::vector<HWND>{parent.get()});
  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_EQ(FolderEntries(folder), std::vector<std::wstring>{}) << "the write test leaves nothing behind";

  EXPECT_EQ(h.host->parentWindow, parent.get());
  EXPECT_EQ(h.host->environment.Get(), h.runtime.environment.As<ICoreWebView2Environment>());
  EXPECT_EQ(h.host->controller.Get(), h.runtime.controller.As<ICoreWebView2Controller>());
  EXPECT_EQ(h.host->webView.Get(), h.runtime.view.As<ICoreWebView2>());
  ASSERT_TRUE(h.runtime.background.has_value());
  EXPECT_EQ(h.runtime.background->A, 255);
  EXPECT_EQ(h.runtime.background->R, 0x12);
  EXPECT_EQ(h.runtime.background->G, 0x12);
  EXPECT_EQ(h.runtime.background->B, 0x12);
  EXPECT_EQ(h.runtime.allowExternalDrop, std::optional<BOOL>(FALSE));
  ASSERT_EQ(h.runtime.bounds.size(), 1u);
  const RECT client = parent.client();
  EXPECT_TRUE(EqualRect(&h.runtime.bounds[0], &client)) << "the view covers the client area";
  EXPECT_TRUE(h.host->browserExitHandlerRegistered);

  // The handlers, in their order, with the filter for every request of every source.
  EXPECT_EQ(
      CallsStartingWith(h.runtime, {"view.add_", "view.AddWebResourceRequestedFilter"}),
      (std::vector<std::string>{"view.add_NavigationStarting", "view.add_WebMessageReceived",
                                "view.add_NavigationCompleted", "view.add_PermissionRequested",
                                "view.add_NewWindowRequested", "view.add_ContainsFullScreenElementChanged",
                                "view.add_ProcessFailed", "view.add_DownloadStarting",
                                "view.AddWebResourceRequestedFilterWithRequestSourceKinds * 0 4294967295",
                                "view.add_WebResourceRequested"}));
  EXPECT_EQ(Environment(L"WEBVIEW2_USER_DATA_FOLDER"), std::optional<std::wstring>(folder));
  EXPECT_EQ(h.runtime.unexpectedCalls(), 0);
}

TEST(WebViewHostInitializeTest, OlderRuntimeInterfacesAreSkipped) {
  TestWindow parent;
  TempFolder temp;
  Harness h;
  h.runtime.offerController2 = false;
  h.runtime.offerController4 = false;
  h.runtime.offerView22 = false;
  h.runtime.offerEnvironment5 = false;
  h.Make();
  ASSERT_TRUE(h.host->Initialize(parent.get(), temp.path() + L"\\data", 1));
  EXPECT_FALSE(h.runtime.background.has_value());
  EXPECT_FALSE(h.runtime.allowExternalDrop.has_value());
  EXPECT_FALSE(h.host->browserExitHandlerRegistered);
  EXPECT_EQ(CallsStartingWith(h.runtime, {"view.AddWebResourceRequestedFilter"}),
            std::vector<std::string>{"view.AddWebResourceRequestedFilter * 0"});
  EXPECT_EQ(h.runtime.unexpectedCalls(), 0);
}

TEST(WebViewHostInitializeTest, EachFailingStageIsNamedInTheSummary) {
  struct Case {
    const char* fault;
    void (*setUp)(FakeRuntime&);
    HRESULT expected;
    const wchar_t* stage;
    bool controllerClosed;
  };
  const Case cases[] = {
      {"loader call fails", [](FakeRuntime& r) { r.createEnvironmentCall = E_ACCESSDENIED; }, E_ACCESSDENIED,
       L"CreateEnvironmentCall", false},
      {"environment fails",
       [](FakeRuntime& r) { r.environmentResult = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); },
       HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"CreateEnvironmentCallback", false},
      {"success without an environment", [](FakeRuntime& r) { r.giveEnvironment = false; }, E_FAIL,
       L"CreateEnvironmentCallback", false},
      // Without a controller to close, the fake browser would keep running for the whole
      // 5-second wait; these runtimes do not report its exit.
      {"controller call fails",
       [](FakeRuntime& r) {
         r.controllerCall = E_INVALIDARG;
         r.offerEnvironment5 = false;
       },
       E_INVALIDARG, L"CreateControllerCall", false},
      {"controller fails",
       [](FakeRuntime& r) {
         r.controllerResult = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
         r.offerEnvironment5 = false;
       },
       HRESULT_FROM_WIN32(ERROR_INVALID_STATE), L"CreateControllerCallback", false},
      {"success without a controller",
       [](FakeRuntime& r) {
         r.giveController = false;
         r.offerEnvironment5 = false;
       },
       E_FAIL, L"CreateControllerCallback", false},
      {"no view from the controller", [](FakeRuntime& r) { r.getViewResult = E_NOINTERFACE; }, E_NOINTERFACE,
       L"GetCoreWebView2", true},
      {"null view from the controller", [](FakeRuntime& r) { r.giveView = false; }, E_FAIL,
       L"GetCoreWebView2", true},
      // A completion that never comes ends the attempt at the time limit.
      {"environment never completes",
       [](FakeRuntime& r) {
         r.completeEnvironment = false;
         r.creationLimitMs = 300;
       },
       HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"CreateEnvironmentCallback", false},
      {"controller never completes",
       [](FakeRuntime& r) {
         r.completeController = false;
         r.offerEnvironment5 = false;
         r.creationLimitMs = 300;
       },
       HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"CreateControllerCallback", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    TestWindow parent;
    TempFolder temp;
    const std::wstring root = temp.path() + L"\\data";
    Harness h;
    c.setUp(h.runtime);
    h.Make();
    EXPECT_FALSE(h.host->Initialize(parent.get(), root, 1));
    const std::wstring folder = root + L"_Evergreen_Env5";
    EXPECT_EQ(h.host->lastError, c.expected);
    EXPECT_EQ(h.host->statusMessage,
              Failure(c.expected, c.stage, c.expected, c.stage, L"Evergreen 121.0.2277.83", folder));
    ASSERT_EQ(h.initialized.size(), 1u);
    EXPECT_FALSE(h.initialized[0].success);
    EXPECT_EQ(h.initialized[0].result, c.expected);
    EXPECT_EQ(h.host->webView.Get(), nullptr);
    EXPECT_EQ(h.host->controller.Get(), nullptr);
    EXPECT_EQ(h.host->environment.Get(), nullptr) << "a failed attempt is shut down";
    EXPECT_FALSE(h.host->browserExitHandlerRegistered);
    const auto closes = CallsStartingWith(h.runtime, {"controller.Close"});
    EXPECT_EQ(closes.size(), c.controllerClosed ? 1u : 0u);
    // Every reference the host took is given back.
    EXPECT_EQ(h.runtime.environment.references(), 1u);
    EXPECT_EQ(h.runtime.controller.references(), 1u);
    EXPECT_EQ(h.runtime.view.references(), 1u);
    EXPECT_EQ(h.runtime.unexpectedCalls(), 0);
  }
}

TEST(WebViewHostInitializeTest, SummaryWithoutAVersionAndBadArguments) {
  {
    SCOPED_TRACE("no runtime version found");
    TestWindow parent;
    TempFolder temp;
    Harness h;
    h.runtime.installedVersion.clear();
    h.runtime.createEnvironmentCall = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    h.Make();
    EXPECT_FALSE(h.host->Initialize(parent.get(), temp.path() + L"\\d", 1));
    EXPECT_EQ(
        h.host->statusMessage,
        L"WebView2 initialization failed. First=0x8007007E at CreateEnvironmentCall; last=0x8007007E at "
        L"CreateEnvironmentCall; runtime=Evergreen; lastUserData=" +
            temp.path() + L"\\d_Evergreen_Env5");
  }
  struct Case {
    const char* fault;
    bool validParent;
    std::wstring root;
  };
  const Case cases[] = {{"invalid parent", false, L"C:\\somewhere"}, {"empty root", true, L""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    TestWindow parent;
    HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNELS", L"canary");
    Harness h;
    h.Make();
    EXPECT_FALSE(h.host->Initialize(c.validParent ? parent.get() : gone, c.root, 1));
    EXPECT_EQ(h.host->lastError, static_cast<HRESULT>(0x80070057));
    EXPECT_EQ(h.host->statusMessage, L"Invalid parent window or user-data folder.");
    ASSERT_EQ(h.initialized.size(), 1u);
    EXPECT_FALSE(h.initialized[0].success);
    EXPECT_EQ(h.initialized[0].result, static_cast<HRESULT>(0x80070057));
    EXPECT_TRUE(h.runtime.environmentFolders.empty());
    EXPECT_EQ(Environment(L"WEBVIEW2_RELEASE_CHANNELS"), std::optional<std::wstring>(L"canary"))
        << "nothing is touched before the arguments are checked";
    SetEnvironmentVariableW(L"WEBVIEW2_RELEASE_CHANNELS", nullptr);
  }
}

TEST(WebViewHostInitializeTest, AttemptsUseRecoveryFoldersWithOneTag) {
  for (int maximum : {0, 1, -3}) {
    SCOPED_TRACE(maximum);
    TestWindow parent;
    TempFolder temp;
    Harness h;
    h.runtime.environmentResult = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    h.Make();
    EXPECT_FALSE(h.host->Initialize(parent.get(), temp.path() + L"\\d", maximum));
    EXPECT_EQ(h.runtime.environmentFolders.size(), 1u);
  }

  TestWindow parent;
  TempFolder temp;
  const std::wstring base = temp.path() + L"\\d_Evergreen_Env5";
  Harness h;
  h.runtime.environmentResult = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  h.Make();
  EXPECT_FALSE(h.host->Initialize(parent.get(), temp.path() + L"\\d", 3));
  const auto& folders = h.runtime.environmentFolders;
  ASSERT_EQ(folders.size(), 3u);
  EXPECT_EQ(folders[0], base);
  const std::wstring prefix = base + L"_Recovery_" + std::to_wstring(GetCurrentProcessId()) + L"_";
  ASSERT_EQ(folders[1].rfind(prefix, 0), 0u) << Utf16ToUtf8(folders[1]);
  ASSERT_GE(folders[1].size(), prefix.size() + 3);
  const std::wstring tag = folders[1].substr(0, folders[1].size() - 2);  // "..._<tick>"
  EXPECT_EQ(folders[1], tag + L"_1");
  EXPECT_EQ(folders[2], tag + L"_2") << "both recovery folders share one tag";
  for (const std::wstring& folder : folders)
    EXPECT_TRUE(IsDirectory(folder)) << Utf16ToUtf8(folder);
  const HRESULT notFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(h.host->statusMessage,
            Failure(notFound, L"CreateEnvironmentCallback", notFound, L"CreateEnvironmentCallback",
                    L"Evergreen 121.0.2277.83", folders[2]));
  EXPECT_EQ(CallsStartingWith(h.runtime, {"controller.Close"}).size(), 0u);
}

TEST(WebViewHostInitializeTest, UnwritableFolderFailsTheWriteTestAndARetryCanSucceed) {
  TestWindow parent;
  TempFolder temp;
  const std::wstring base = temp.path() + L"\\d_Evergreen_Env5";
  // A folder in the way of the test file makes the base folder unwritable for the host, also
  // when the tests run with every privilege.
  ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((base + L"\\.kelmo_write_test").c_str(), nullptr));
  {
    Harness h;
    h.Make();
    EXPECT_FALSE(h.host->Initialize(parent.get(), temp.path() + L"\\d", 1));
    EXPECT_EQ(h.host->lastError, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(h.host->statusMessage,
              Failure(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), L"UserDataFolderWriteTest",
                      HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), L"UserDataFolderWriteTest",
                      L"Evergreen 121.0.2277.83", base));
    EXPECT_TRUE(h.runtime.environmentFolders.empty()) << "no browser is started";
    EXPECT_EQ(FolderEntries(base), std::vector<std::wstring>{L".kelmo_write_test"});
    EXPECT_TRUE(IsDirectory(base + L"\\.kelmo_write_test")) << "no test file is left behind";
  }
  {
    SCOPED_TRACE("a second attempt in a recovery folder");
    Harness h;
    h.Make();
    EXPECT_TRUE(h.host->Initialize(parent.get(), temp.path() + L"\\d", 2));
    ASSERT_EQ(h.runtime.environmentFolders.size(), 1u);
    EXPECT_NE(h.runtime.environmentFolders[0].find(L"_Recovery_"), std::wstring::npos);
    EXPECT_EQ(h.host->statusMessage, L"WebView2 initialized with Evergreen 121.0.2277.83; userData=" +
                                         h.runtime.environmentFolders[0]);
    EXPECT_EQ(h.host->lastError, S_OK);
  }
  {
    SCOPED_TRACE("a folder that cannot be created");
    Harness h;
    h.Make();
    EXPECT_FALSE(h.host->Initialize(parent.get(), temp.path() + L"\\missing\\d", 1));
    EXPECT_EQ(h.host->statusMessage,
              Failure(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), L"CreateUserDataFolder",
                      HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), L"CreateUserDataFolder",
                      L"Evergreen 121.0.2277.83", temp.path() + L"\\missing\\d_Evergreen_Env5"));
  }
}

std::wstring ExecutableFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L'\\'));
}

TEST(WebViewHostInitializeTest, OverridesAreClearedAndAShippedRuntimeIsPreferred) {
  const wchar_t* kOverrides[] = {
      L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER",    L"WEBVIEW2_USER_DATA_FOLDER",
      L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE",
      L"WEBVIEW2_CHANNEL_SEARCH_KIND",          L"WEBVIEW2_RELEASE_CHANNELS"};
  const std::wstring shipped = ExecutableFolder() + L"\\WebView2Runtime";
  const std::wstring shippedExe = shipped + L"\\msedgewebview2.exe";
  struct Case {
    const char* setup;
    bool makeFolder;
    bool makeExe;
    std::wstring shippedVersion;
    bool fixed;
  };
  const Case cases[] = {
      {"nothing shipped", false, false, L"", false},
      {"folder without the browser", true, false, L"118.0.1", false},
      {"browser without a version", true, true, L"", false},
      {"complete runtime", true, true, L"118.0.1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    if (c.makeFolder)
      CreateDirectoryW(shipped.c_str(), nullptr);
    if (c.makeExe)
      CloseHandle(CreateFileW(shippedExe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (const wchar_t* name : kOverrides)
      SetEnvironmentVariableW(name, L"C:\\elsewhere");

    TestWindow parent;
    TempFolder temp;
    Harness h;
    h.runtime.versionFor = [&](const wchar_t* folder, std::wstring& version) -> HRESULT {
      if (folder == nullptr) {
        version = L"121.0.2277.83";
        return S_OK;
      }
      if (shipped == folder) {
        version = c.shippedVersion;
        return S_OK;
      }
      return E_FAIL;
    };
    h.Make();
    const bool ready = h.host->Initialize(parent.get(), temp.path() + L"\\d", 1);
    DeleteFileW(shippedExe.c_str());
    RemoveDirectoryW(shipped.c_str());
    ASSERT_TRUE(ready);

    const std::wstring folder = temp.path() + (c.fixed ? L"\\d_Fixed_Env5" : L"\\d_Evergreen_Env5");
    EXPECT_EQ(h.host->statusMessage,
              (c.fixed ? L"WebView2 initialized with Fixed 118.0.1; userData="
                       : L"WebView2 initialized with Evergreen 121.0.2277.83; userData=") +
                  folder);
    ASSERT_EQ(h.runtime.browserFolders.size(), 1u);
    EXPECT_EQ(h.runtime.browserFolders[0], c.fixed ? std::optional<std::wstring>(shipped) : std::nullopt);
    EXPECT_EQ(Environment(L"WEBVIEW2_USER_DATA_FOLDER"), std::optional<std::wstring>(folder));
    EXPECT_EQ(Environment(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER"),
              c.fixed ? std::optional<std::wstring>(shipped) : std::nullopt);
    for (const wchar_t* name :
         {L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE",
          L"WEBVIEW2_CHANNEL_SEARCH_KIND", L"WEBVIEW2_RELEASE_CHANNELS"}) {
      EXPECT_EQ(Environment(name), std::nullopt) << Utf16ToUtf8(name);
    }
  }
}

TEST(WebViewHostInitializeTest, QuitMessageEndsTheAttemptAndIsPostedAgain) {
  TestWindow parent;
  TempFolder temp;
  Harness h;
  h.Make();
  // Queued before the environment's completion: the pump sees the quit first.
  PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, 7, 0);
  EXPECT_FALSE(h.host->Initialize(parent.get(), temp.path() + L"\\d", 3));
  EXPECT_EQ(h.host->lastError, E_ABORT);
  const std::wstring folder = temp.path() + L"\\d_Evergreen_Env5";
  EXPECT_EQ(h.host->statusMessage,
            Failure(E_ABORT, L"ApplicationQuitDuringInitialization", E_ABORT,
                    L"ApplicationQuitDuringInitialization", L"Evergreen 121.0.2277.83", folder));
  EXPECT_EQ(h.runtime.environmentFolders.size(), 1u) << "no further attempt once the application quits";

  // The caller's loop gets the quit message with its code; the late completion is ignored.
  EXPECT_EQ(host_test::WaitForQuit(), 7);
  EXPECT_TRUE(CallsStartingWith(h.runtime, {"env."}).empty());
  EXPECT_EQ(h.host->environment.Get(), nullptr);
  EXPECT_EQ(h.runtime.environment.references(), 1u);
}

TEST(WebViewHostInitializeTest, OwnerThatFreesTheHostDuringTheAttemptIsSafe) {
  TestWindow parent;
  TempFolder temp;
  Harness h;
  h.Make();
  auto destroyed = std::make_shared<bool>(false);
  auto flag = std::make_shared<DestroyedFlag>(destroyed);
  std::vector<InitializedCall> seen;
  std::wstring status;
  h.host->onInitialized = [flag, &seen, &status, host = h.host.get()](bool success, HRESULT result) {
    seen.push_back({success, result});
    status = host->statusMessage;
  };
  flag.reset();
  WebViewHost* host = h.host.get();
  // The window is closed while the environment is being made: its owner shuts the host down and
  // lets go of it.
  PostToLoop([&h] {
    h.host->Shutdown(0);
    WebViewHost::DestroyWhenIdle(std::move(h.host));
  });
  EXPECT_FALSE(host->Initialize(parent.get(), temp.path() + L"\\d", 3));
  EXPECT_TRUE(*destroyed) << "freed once Initialize returned";
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].result, E_ABORT);
  EXPECT_EQ(status, Failure(E_ABORT, L"CreateEnvironmentCallback", E_ABORT, L"CreateEnvironmentCallback",
                            L"Evergreen 121.0.2277.83", temp.path() + L"\\d_Evergreen_Env5"));
  EXPECT_EQ(h.runtime.environmentFolders.size(), 1u);
  EXPECT_EQ(h.runtime.environment.references(), 1u);
  EXPECT_TRUE(CallsStartingWith(h.runtime, {"env.CreateCoreWebView2Controller"}).empty());
}

TEST(WebViewHostInitializeTest, AnEnvironmentStartedAheadIsTakenOverOnceWhenItCompletesOrLater) {
  TestWindow parent;
  TempFolder temp;
  const std::wstring root = temp.path() + L"\\d";
  for (const bool completedFirst : {true, false}) {
    Harness h;
    h.Make();
    h.host->StartEnvironment(root);
    if (completedFirst)
      PumpUntil([] { return false; }, 50);
    ASSERT_TRUE(h.host->Initialize(parent.get(), root, 3)) << completedFirst;
    EXPECT_EQ(h.runtime.environmentFolders, std::vector<std::wstring>{root + L"_Evergreen_Env5"})
        << "one environment, the first attempt's";
    EXPECT_EQ(h.host->environment.Get(), h.runtime.environment.As<ICoreWebView2Environment>());
  }

  // A start that failed counts as the first attempt's failure; the next attempt starts anew.
  Harness failed;
  failed.runtime.environmentResult = E_ACCESSDENIED;
  failed.Make();
  failed.host->StartEnvironment(root);
  PumpUntil([] { return false; }, 50);
  failed.runtime.environmentResult = S_OK;
  ASSERT_TRUE(failed.host->Initialize(parent.get(), root, 2));
  EXPECT_EQ(failed.runtime.environmentFolders.size(), 2u);

  // Shut down before anyone took it over (the start-up ended early): the completion that comes
  // later, after the host is gone, finds nobody.
  Harness abandoned;
  abandoned.Make();
  abandoned.host->StartEnvironment(root);
  abandoned.host->Shutdown(0);
  abandoned.host.reset();
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(abandoned.runtime.environment.references(), 1u) << "nobody holds the environment";
  EXPECT_TRUE(CallsStartingWith(abandoned.runtime, {"env.CreateCoreWebView2Controller"}).empty());
}

// ---- Shutdown --------------------------------------------------------------------------------

// Runs `action` on another thread after `delayMs`; joined on destruction.
class Later {
 public:
  Later(DWORD delayMs, std::function<void()> action)
      : thread_([delayMs, action = std::move(action)] {
          Sleep(delayMs);
          action();
        }) {}
  ~Later() { thread_.join(); }

 private:
  std::thread thread_;
};

TEST(WebViewHostShutdownTest, ClosesOnceWaitsForTheBrowserAndGivesEverythingBack) {
  TestWindow parent;
  TempFolder temp;
  {
    SCOPED_TRACE("browser exit reported while waiting");
    Harness h;
    h.runtime.browserExitsOnClose = false;
    h.Make();
    ASSERT_TRUE(h.host->Initialize(parent.get(), temp.path() + L"\\a", 1));
    ASSERT_TRUE(h.host->browserExitHandlerRegistered);
    ComPtr<ICoreWebView2BrowserProcessExitedEventHandler> exited = h.runtime.browserExited;
    ULONGLONG elapsed = 0;
    {
      Later report(300, [&exited] { exited->Invoke(nullptr, nullptr); });
      const ULONGLONG start = GetTickCount64();
      h.host->Shutdown(5000);
      elapsed = GetTickCount64() - start;
    }
    EXPECT_GE(elapsed, 250u) << "waited for the browser";
    EXPECT_LT(elapsed, 3000u) << "and went on when it ended";
    EXPECT_TRUE(h.host->closing);
    EXPECT_EQ(h.host->webView.Get(), nullptr);
    EXPECT_EQ(h.host->controller.Get(), nullptr);
    EXPECT_EQ(h.host->environment.Get(), nullptr);
    EXPECT_FALSE(h.host->browserExitHandlerRegistered);
    EXPECT_EQ(CallsStartingWith(h.runtime, {"controller.Close", "env.remove_"}),
              (std::vector<std::string>{"controller.Close", "env.remove_BrowserProcessExited 77"}));
    exited.Reset();
    EXPECT_EQ(h.runtime.environment.references(), 1u);
    EXPECT_EQ(h.runtime.controller.references(), 1u);
    EXPECT_EQ(h.runtime.view.references(), 1u);

    h.host->Shutdown(5000);
    EXPECT_EQ(CallsStartingWith(h.runtime, {"controller.Close"}).size(), 1u)
        << "the second call does nothing";
  }
  {
    SCOPED_TRACE("no wait with a timeout of 0, bounded wait otherwise");
    for (unsigned timeout : {0u, 300u}) {
      Harness h;
      h.runtime.browserExitsOnClose = false;
      h.Make();
      ASSERT_TRUE(h.host->Initialize(parent.get(), temp.path() + L"\\b", 1));
      const ULONGLONG start = GetTickCount64();
      h.host->Shutdown(timeout);
      const ULONGLONG elapsed = GetTickCount64() - start;
      if (timeout == 0) {
        EXPECT_LT(elapsed, 200u);
      } else {
        EXPECT_GE(elapsed, 250u);
        EXPECT_LT(elapsed, 2000u);
      }
    }
  }
  {
    SCOPED_TRACE("the browser process itself is waited for");
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_list_tests";
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, nullptr, &startup, &child));
    Harness h;
    h.runtime.offerEnvironment5 = false;
    h.runtime.browserProcessId = child.dwProcessId;
    h.Make();
    ASSERT_TRUE(h.host->Initialize(parent.get(), temp.path() + L"\\c", 1));
    ULONGLONG elapsed = 0;
    {
      Later end(300, [process = child.hProcess] { TerminateProcess(process, 0); });
      const ULONGLONG start = GetTickCount64();
      h.host->Shutdown(5000);
      elapsed = GetTickCount64() - start;
    }
    EXPECT_GE(elapsed, 250u) << "waited for the browser";
    EXPECT_LT(elapsed, 3000u) << "and returned when it ended";
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
}

// ---- Thin calls -------------------------------------------------------------------------------

TEST(WebViewHostCallsTest, NothingHappensWithoutAView) {
  Harness h;
  h.Make();
  h.host->Navigate(L"https://example.org/");
  h.host->NavigateToString(L"<p>x</p>");
  h.host->AddDocumentScript(L"1");
  h.host->ConfigureSettings();
  h.host->GoBack();
  h.host->Reload();
  h.host->ShowSystemPrintDialog();
  h.host->Resize(100, 100);
  h.host->RefreshLayout();
  h.host->SetVisible(true);
  h.host->NotifyParentWindowPositionChanged();
  EXPECT_TRUE(h.runtime.calls.empty());
  EXPECT_EQ(h.runtime.unexpectedCalls(), 0);
}

TEST(WebViewHostCallsTest, ViewCallsReachTheView) {
  TestWindow parent;
  TempFolder temp;
  const std::vector<std::wstring> patterns = config::IdentificationUrlPatterns();
  ASSERT_FALSE(patterns.empty());
  const std::wstring identified = L"https://school.example/" + patterns[0] + L"/x";
  const std::string name = Utf16ToUtf8(config::IdentificationHeaderName());

  struct Case {
    const char* setup;
    void (*setUp)(FakeRuntime&);
    bool withRequest;
  };
  const Case cases[] = {
      {"both interfaces", [](FakeRuntime&) {}, true},
      {"no environment 2", [](FakeRuntime& r) { r.offerEnvironment2 = false; }, false},
      {"no view 2", [](FakeRuntime& r) { r.offerView2 = false; }, false},
      {"request cannot be made", [](FakeRuntime& r) { r.createRequestResult = E_OUTOFMEMORY; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    Harness h;
    c.setUp(h.runtime);
    h.Make();
    ASSERT_TRUE(h.host->Initialize(parent.get(), temp.path() + L"\\d", 1));
    h.runtime.calls.clear();
    h.host->Navigate(identified);
    h.host->Navigate(L"https://other.example/Page?q=1");
    std::vector<std::string> expected;
    if (c.withRequest) {
      expected = {"env.CreateWebResourceRequest " + Utf16ToUtf8(identified) + " GET",
                  "view.NavigateWithWebResourceRequest"};
      EXPECT_EQ(h.runtime.requestHeadersText, std::optional<std::wstring>(L""));
      EXPECT_EQ(h.runtime.navigationRequest.headers.values[config::IdentificationHeaderName()],
                config::IdentificationHeaderValue());
    } else if (std::string(c.setup) == "request cannot be made") {
      expected = {"env.CreateWebResourceRequest " + Utf16ToUtf8(identified) + " GET",
                  "view.Navigate " + Utf16ToUtf8(identified)};
    } else {
      expected = {"view.Navigate " + Utf16ToUtf8(identified)};
    }
    expected.push_back("view.Navigate https://other.example/Page?q=1");
    EXPECT_EQ(h.runtime.calls, expected);
    EXPECT_EQ(h.runtime.unexpectedCalls(), 0);
  }

  Harness h;
  h.runtime.offerSettings7 = false;
  h.Make();
  ASSERT_TRUE(h.host->Initialize(parent.get(), temp.path() + L"\\e", 1));
  h.runtime.calls.clear();
  h.host->NavigateToString(L"<p>hi</p>");
  h.host->AddDocumentScript(L"window.x=1;");
  h.host->ConfigureSettings();
  h.host->GoBack();
  h.runtime.canGoBack = FALSE;
  h.host->GoBack();
  h.host->Reload();
  h.host->ShowSystemPrintDialog();
  h.host->RunPrintRequest();  // what the parent's window procedure does with the posted request
  EXPECT_EQ(
      h.runtime.calls,
      (std::vector<std::string>{
          "view.NavigateToString <p>hi</p>", "view.AddScriptToExecuteOnDocumentCreated window.x=1; +handler",
          "settings.AreDevToolsEnabled 0", "settings.AreDefaultContextMenusEnabled 0",
          "settings.IsStatusBarEnabled 0", "settings.IsZoomControlEnabled 0",
          "settings.AreBrowserAcceleratorKeysEnabled 0", "view.GoBack", "view.Reload", "print"}));
  EXPECT_EQ(h.runtime.settings.references(), 1u);
  EXPECT_EQ(h.runtime.unexpectedCalls(), 0);

  Harness all;
  all.Make();
  ASSERT_TRUE(all.host->Initialize(parent.get(), temp.path() + L"\\f", 1));
  all.runtime.calls.clear();
  all.host->ConfigureSettings();
  // Exactly the PDF viewer's own ways out: Save, Save as and Print; zoom, rotate, search and the
  // rest stay.
  const auto hidden = COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE | COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS |
                      COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT;
  EXPECT_EQ(all.runtime.calls.back(),
            "settings.HiddenPdfToolbarItems " + std::to_string(static_cast<int>(hidden)));
  EXPECT_EQ(std::count_if(all.runtime.calls.begin(), all.runtime.calls.end(),
                          [](const std::string& call) { return call.rfind("settings.HiddenPdf", 0) == 0; }),
            1);
}

TEST(WebViewHostCallsTest, LayoutCallsReachTheController) {
  TestWindow parent;
  ShowWindow(parent.get(), SW_SHOWNORMAL);
  TempFolder temp;
  Harness h;
  h.Make();
  ASSERT_TRUE(h.host->Initialize(parent.get(), temp.path() + L"\\d", 1));
  h.runtime.bounds.clear();
  h.runtime.calls.clear();

  h.host->Resize(0, 300);
  h.host->Resize(300, 0);
  EXPECT_TRUE(h.runtime.bounds.empty()) << "a zero width or height leaves the bounds alone";
  h.host->Resize(300, 200);
  ASSERT_EQ(h.runtime.bounds.size(), 1u);
  const RECT expected{0, 0, 300, 200};
  EXPECT_TRUE(EqualRect(&h.runtime.bounds[0], &expected));

  h.runtime.bounds.clear();
  h.runtime.reportedBounds = RECT{};
  h.host->RefreshLayout();
  EXPECT_TRUE(h.runtime.bounds.empty()) << "empty bounds are not re-applied";
  h.runtime.reportedBounds = RECT{0, 0, 50, 40};
  h.host->RefreshLayout();
  ASSERT_EQ(h.runtime.bounds.size(), 1u);
  EXPECT_TRUE(EqualRect(&h.runtime.bounds[0], &h.runtime.reportedBounds));
  EXPECT_EQ(h.runtime.visibility, (std::vector<BOOL>{TRUE, TRUE}));
  EXPECT_EQ(h.runtime.calls.size(), 2u);

  h.host->SetVisible(false);
  h.host->NotifyParentWindowPositionChanged();
  EXPECT_EQ(h.runtime.visibility.back(), FALSE);
  EXPECT_EQ(h.runtime.calls.size(), 3u);

  ShowWindow(parent.get(), SW_MINIMIZE);
  h.runtime.visibility.clear();
  h.host->RefreshLayout();
  EXPECT_TRUE(h.runtime.visibility.empty()) << "nothing while the window is minimised";
  EXPECT_EQ(h.runtime.unexpectedCalls(), 0);
}

// ---- Event handlers ---------------------------------------------------------------------------

struct ReadyHost : Harness {
  TestWindow parent;
  TempFolder temp;
  explicit ReadyHost(void (*setUp)(FakeRuntime&, WebView::HostPlatform&) = nullptr) {
    WebView::HostPlatform platform = runtime.Platform();
    if (setUp)
      setUp(runtime, platform);
    Make(std::move(platform));
    EXPECT_TRUE(host->Initialize(parent.get(), temp.path() + L"\\d", 1));
    runtime.calls.clear();
  }
};

TEST(WebViewHostEventsTest, NavigationMessagesAndCompletionReachTheOwner) {
  ReadyHost r;
  std::vector<std::wstring> starting;
  r.host->onNavigationStarting = [&starting](const std::wstring& uri, bool& cancel) {
    starting.push_back(uri);
    cancel = uri.find(L"blocked") != std::wstring::npos;
  };
  FakeNavigationStartingArgs allowed(L"https://Example.org/A");
  FakeNavigationStartingArgs blocked(L"https://blocked.example/");
  FakeNavigationStartingArgs noUri(std::nullopt);
  EXPECT_EQ(r.runtime.RaiseNavigationStarting(allowed), S_OK);
  EXPECT_EQ(r.runtime.RaiseNavigationStarting(blocked), S_OK);
  EXPECT_EQ(r.runtime.RaiseNavigationStarting(noUri), S_OK);
  EXPECT_EQ(starting, (std::vector<std::wstring>{L"https://Example.org/A", L"https://blocked.example/"}));
  EXPECT_TRUE(allowed.cancelCalls.empty());
  EXPECT_EQ(blocked.cancelCalls, std::vector<BOOL>{TRUE});

  std::vector<std::wstring> messages;
  r.host->onWebMessage = [&messages](const std::wstring& message) { messages.push_back(message); };
  FakeWebMessageArgs bare(L"requestPrint", L"\"requestPrint\"");
  FakeWebMessageArgs object(std::nullopt, L"{\"action\":\"requestPrint\"}");
  FakeWebMessageArgs quoted(L"\"pageLoaded\"", L"\"\\\"pageLoaded\\\"\"");
  r.runtime.RaiseWebMessage(bare);
  r.runtime.RaiseWebMessage(object);
  r.runtime.RaiseWebMessage(quoted);
  EXPECT_EQ(messages, (std::vector<std::wstring>{L"requestPrint", L"{\"action\":\"requestPrint\"}",
                                                 L"\"pageLoaded\""}));

  std::vector<std::pair<bool, int>> completed;
  r.host->onNavigationCompleted = [&completed](bool success, COREWEBVIEW2_WEB_ERROR_STATUS status) {
    completed.emplace_back(success, static_cast<int>(status));
  };
  FakeNavigationCompletedArgs ok(TRUE, COREWEBVIEW2_WEB_ERROR_STATUS_TIMEOUT);
  FakeNavigationCompletedArgs failed(FALSE, COREWEBVIEW2_WEB_ERROR_STATUS_HOST_NAME_NOT_RESOLVED);
  r.runtime.RaiseNavigationCompleted(ok);
  r.runtime.RaiseNavigationCompleted(failed);
  EXPECT_EQ(completed, (std::vector<std::pair<bool, int>>{{true, 0}, {false, 13}}));

  // A video's full-screen button: the state is read from the view, which the event leaves out.
  std::vector<bool> fullscreen;
  r.host->onFullscreenElement = [&fullscreen](bool on) { fullscreen.push_back(on); };
  r.runtime.RaiseFullscreenChanged(true);
  r.runtime.RaiseFullscreenChanged(false);
  EXPECT_EQ(fullscreen, (std::vector<bool>{true, false}));

  // An owner callback that throws does not take the handler down with it.
  r.host->onWebMessage = [](const std::wstring&) { throw std::runtime_error("owner failed"); };
  EXPECT_EQ(r.runtime.RaiseWebMessage(bare), S_OK);
  EXPECT_EQ(r.runtime.unexpectedCalls(), 0);
}

// Catches a view that grants the microphone, camera or notifications to every origin, hears
// messages of any page, follows a new window the policy refuses, or lets a download start.
TEST(WebViewHostEventsTest, PermissionsMessagesNewWindowsAndDownloadsFollowTheOwnersRules) {
  ReadyHost r;
  const auto answer = [](FakeRuntime& runtime, COREWEBVIEW2_PERMISSION_KIND kind, const wchar_t* origin) {
    FakePermissionArgs args(kind, origin);
    runtime.RaisePermission(args);
    return args.states;
  };
  using States = std::vector<COREWEBVIEW2_PERMISSION_STATE>;
  const States allow{COREWEBVIEW2_PERMISSION_STATE_ALLOW}, deny{COREWEBVIEW2_PERMISSION_STATE_DENY}, none;
  // Without a rule of the owner's, the three lesson permissions are denied; others keep the
  // browser's handling.
  EXPECT_EQ(answer(r.runtime, COREWEBVIEW2_PERMISSION_KIND_CAMERA, L"https://school.example/"), deny);
  EXPECT_EQ(answer(r.runtime, COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION, L"https://school.example/"), none);

  std::vector<std::wstring> origins;
  r.host->answerPermission = [&origins](PagePermission permission, const std::wstring& origin) {
    origins.push_back(origin);
    return AnswerPagePermission(permission, origin, L"https://school.example/lesson",
                                L"https://school.example");
  };
  struct Case {
    COREWEBVIEW2_PERMISSION_KIND kind;
    const wchar_t* origin;
    States states;
  };
  const Case cases[] = {
      {COREWEBVIEW2_PERMISSION_KIND_MICROPHONE, L"https://school.example/", allow},
      {COREWEBVIEW2_PERMISSION_KIND_CAMERA, L"https://us02web.zoom.us/", allow},
      {COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS, L"https://cdn.school.example/", allow},
      {COREWEBVIEW2_PERMISSION_KIND_MICROPHONE, L"https://evil.example/", deny},
      {COREWEBVIEW2_PERMISSION_KIND_CAMERA, L"https://www.youtube.com/", deny},
      {COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION, L"https://school.example/", none},
      {COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ, L"https://school.example/", none},
      {static_cast<COREWEBVIEW2_PERMISSION_KIND>(99), L"https://school.example/", none},
  };
  for (const Case& c : cases)
    EXPECT_EQ(answer(r.runtime, c.kind, c.origin), c.states) << static_cast<int>(c.kind) << " " << c.origin;
  EXPECT_EQ(origins.size(), std::size(cases)) << "the rule sees each requesting origin";

  std::vector<std::wstring> heard;
  std::vector<std::pair<std::wstring, bool>> sources;
  r.host->onWebMessage = [&heard](const std::wstring& message) { heard.push_back(message); };
  r.host->acceptsMessagesFrom = [&sources](const std::wstring& source, bool composed) {
    sources.emplace_back(source, composed);
    return IsLessonPage(source, composed, L"https://school.example/lesson", L"https://school.example");
  };
  FakeWebMessageArgs lesson(L"toggleFullscreen", L"\"toggleFullscreen\"");
  FakeWebMessageArgs offList(L"toggleFullscreen", L"\"toggleFullscreen\"");
  offList.source = L"https://evil.example/";
  r.runtime.RaiseWebMessage(lesson);
  r.runtime.RaiseWebMessage(offList);
  EXPECT_EQ(heard, std::vector<std::wstring>{L"toggleFullscreen"});
  EXPECT_EQ(sources, (std::vector<std::pair<std::wstring, bool>>{{L"https://school.example/lesson", false},
                                                                 {L"https://evil.example/", false}}));

  // A new window passes the owner's policy before the view goes there; a refused one is dropped.
  std::vector<std::wstring> judged;
  r.host->onNavigationStarting = [&judged](const std::wstring& uri, bool& cancel) {
    judged.push_back(uri);
    cancel = uri.find(L"evil") != std::wstring::npos;
  };
  FakeNewWindowArgs popup(L"https://school.example/Other?x=1");
  FakeNewWindowArgs refused(L"https://evil.example/phish");
  FakeNewWindowArgs noUri(std::nullopt);
  r.runtime.RaiseNewWindow(popup);
  r.runtime.RaiseNewWindow(refused);
  r.runtime.RaiseNewWindow(noUri);
  EXPECT_EQ(popup.handledCalls, std::vector<BOOL>{TRUE});
  EXPECT_EQ(refused.handledCalls, std::vector<BOOL>{TRUE}) << "no window opens for it either";
  EXPECT_EQ(noUri.handledCalls, std::vector<BOOL>{TRUE}) << "no window opens even without an address";
  EXPECT_EQ(judged,
            (std::vector<std::wstring>{L"https://school.example/Other?x=1", L"https://evil.example/phish"}));
  EXPECT_EQ(r.runtime.calls, std::vector<std::string>{"view.Navigate https://school.example/Other?x=1"});

  FakeDownloadArgs download;
  r.runtime.RaiseDownload(download);
  EXPECT_EQ(download.cancelCalls, std::vector<BOOL>{TRUE});
  EXPECT_EQ(download.handledCalls, std::vector<BOOL>{TRUE}) << "the runtime shows no download bar either";
  EXPECT_EQ(r.runtime.unexpectedCalls(), 0);
}

// Removes the print requests the host posted (to its own message window); how many there were.
int TakePrintRequests(HWND) {
  int count = 0;
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_APP_RUN_PRINT_REQUEST, WM_APP_RUN_PRINT_REQUEST, PM_REMOVE))
    ++count;
  return count;
}

// Stands for the printer dialog (HostPlatform::printPage) with what the test gives it.
struct PrintDialogStandIn {
  static inline std::function<void()> open;
  static void Install(FakeRuntime&, WebView::HostPlatform& platform) {
    platform.printPage = [](HWND, ICoreWebView2Environment*, ICoreWebView2*) {
      if (open)
        open();
    };
  }
};

TEST(WebViewHostPrintTest, ARequestOnlyPostsToTheWindowAndAnotherIsCancelledUntilTheDialogCloses) {
  const std::wstring cancelled = L"{\"type\":\"printResult\",\"status\":\"cancelled\"}";
  ReadyHost r(&PrintDialogStandIn::Install);
  int dialogs = 0;
  std::vector<std::wstring> postedDuringDialog;
  // A request made while the dialog is open must be answered at once and must not reach it.
  PrintDialogStandIn::open = [&] {
    ++dialogs;
    r.host->ShowSystemPrintDialog();
    postedDuringDialog = r.runtime.posted;
  };
  const HWND parent = r.parent.get();

  r.host->ShowSystemPrintDialog();
  EXPECT_EQ(dialogs, 0) << "the request returns before any dialog";
  r.host->ShowSystemPrintDialog();
  EXPECT_EQ(r.runtime.posted, std::vector<std::wstring>{cancelled})
      << "a second request while the first waits";
  EXPECT_EQ(TakePrintRequests(parent), 1);

  r.host->RunPrintRequest();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(postedDuringDialog, (std::vector<std::wstring>{cancelled, cancelled}))
      << "a request while the dialog is open is answered before it closes";
  EXPECT_EQ(TakePrintRequests(parent), 0) << "and schedules nothing";
  r.host->RunPrintRequest();
  EXPECT_EQ(dialogs, 1) << "a repeated or stale message opens nothing";

  // Served again once the dialog has closed.
  r.host->ShowSystemPrintDialog();
  EXPECT_EQ(TakePrintRequests(parent), 1);
  r.host->RunPrintRequest();
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(r.runtime.posted.size(), 3u) << "the host answers only the requests it refused";

  // A window that is gone cannot run the dialog: the request is answered at once, and the next
  // one is accepted again.
  DestroyWindow(parent);
  r.host->ShowSystemPrintDialog();
  EXPECT_EQ(r.runtime.posted.size(), 4u);
  EXPECT_EQ(r.runtime.posted.back(), cancelled);
  r.host->ShowSystemPrintDialog();
  EXPECT_EQ(r.runtime.posted.size(), 5u);
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(r.runtime.unexpectedCalls(), 0);
  PrintDialogStandIn::open = nullptr;
}

// Pin check that refuses hosts named "blocked..." (asking for the warning on a host's first
// refusal only, as the real gate does), and a notice that records where it ran.
struct PinGate {
  static inline std::vector<std::wstring> checked;
  static inline std::set<std::wstring> refused;
  static inline std::wstring noticeHost;
  static inline DWORD noticeThread = 0;
  static inline std::atomic<int> notices{0};
  static inline HANDLE noticeShown = nullptr;
  static void Install(FakeRuntime&, WebView::HostPlatform& platform) {
    checked.clear();
    refused.clear();
    noticeThread = 0;
    notices = 0;
    noticeShown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    platform.pinGate.check = [](const std::wstring& host, std::uint16_t port) {
      checked.push_back(host + L":" + std::to_wstring(port));
      if (host.rfind(L"blocked", 0) != 0)
        return WebGateAnswer::kAllow;
      return refused.insert(host).second ? WebGateAnswer::kRefuseAndWarn : WebGateAnswer::kRefuse;
    };
    platform.pinGate.warn = [](const std::wstring& host) {
      noticeHost = host;
      noticeThread = GetCurrentThreadId();
      ++notices;
      SetEvent(noticeShown);
    };
  }
};

TEST(WebViewHostEventsTest, EveryRequestCarriesTheIdentificationHeaderAndPassesThePinGate) {
  ReadyHost r(&PinGate::Install);
  std::vector<std::wstring> seen;
  r.host->onWebResourceRequested = [&seen](const std::wstring& uri,
                                           ICoreWebView2WebResourceRequestedEventArgs* args) {
    EXPECT_NE(args, nullptr);
    seen.push_back(uri);
  };
  const std::wstring name = config::IdentificationHeaderName();
  const std::wstring value = config::IdentificationHeaderValue();

  FakeResourceRequestedArgs https(L"https://Cdn.School.example/Video.mp4");
  FakeResourceRequestedArgs plain(L"http://blocked.example/a");
  FakeResourceRequestedArgs data(L"data:text/plain,hi");
  r.runtime.RaiseResourceRequested(https);
  r.runtime.RaiseResourceRequested(plain);
  r.runtime.RaiseResourceRequested(data);
  for (FakeResourceRequestedArgs* args : {&https, &plain, &data}) {
    EXPECT_EQ(args->request.headers.values[name], value);
    EXPECT_EQ(args->response, nullptr);
  }
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"https://Cdn.School.example/Video.mp4",
                                             L"http://blocked.example/a", L"data:text/plain,hi"}))
      << "the owner sees the address as received";
  EXPECT_EQ(PinGate::checked, std::vector<std::wstring>{L"cdn.school.example:443"})
      << "only HTTPS is pin-checked";

  // A refused host: 403 from the host itself, the warning on a thread of its own, no owner call.
  seen.clear();
  FakeResourceRequestedArgs refused(L"HTTPS://user@Blocked.Example:8443/x");
  EXPECT_EQ(r.runtime.RaiseResourceRequested(refused), S_OK);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(PinGate::checked.back(), L"blocked.example:8443") << "the request's own port";
  EXPECT_EQ(refused.response, r.runtime.response.As<ICoreWebView2WebResourceResponse>());
  EXPECT_EQ(r.runtime.responseStatus, std::optional<int>(403));
  EXPECT_EQ(r.runtime.responseReason, std::optional<std::wstring>(L"Blocked"));
  EXPECT_EQ(r.runtime.responseHeaders, std::optional<std::wstring>(L"Content-Type: text/plain"));
  EXPECT_EQ(r.runtime.calls, std::vector<std::string>{"env.CreateWebResourceResponse"}) << "no body";
  ASSERT_EQ(WaitForSingleObject(PinGate::noticeShown, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(PinGate::noticeHost, L"blocked.example");
  EXPECT_NE(PinGate::noticeThread, GetCurrentThreadId());

  // The same host again, twice: blocked at once, without a second warning thread.
  for (const wchar_t* uri : {L"https://blocked.example/again", L"https://blocked.example:443/x"}) {
    FakeResourceRequestedArgs again(uri);
    r.runtime.RaiseResourceRequested(again);
    EXPECT_EQ(again.response, r.runtime.response.As<ICoreWebView2WebResourceResponse>());
    EXPECT_EQ(r.runtime.responseStatus, std::optional<int>(403));
  }
  EXPECT_TRUE(seen.empty());
  Sleep(200);
  EXPECT_EQ(PinGate::notices.load(), 1);

  // Without an environment there is no response to give, but the warning still comes.
  ResetEvent(PinGate::noticeShown);
  r.host->environment.Reset();
  FakeResourceRequestedArgs other(L"https://blocked-too.example/y");
  r.runtime.RaiseResourceRequested(other);
  EXPECT_EQ(other.response, nullptr);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(WaitForSingleObject(PinGate::noticeShown, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(PinGate::noticeHost, L"blocked-too.example");
  EXPECT_EQ(PinGate::notices.load(), 2);
  CloseHandle(PinGate::noticeShown);
}

// A host the gate must probe: the handler takes the request's deferral and returns at once; the
// probe runs on another thread, and the request is finished (403, or the owner's headers) and
// completed on the UI thread. An answer the gate already has is given at once, without a deferral.
TEST(WebViewHostEventsTest, AProbeRunsAwayFromTheHandlerAndTheRequestWaitsForIt) {
  static std::atomic<DWORD> probeThread{0};
  ReadyHost r([](FakeRuntime&, WebView::HostPlatform& platform) {
    platform.pinGate.known = [](const std::wstring& host, std::uint16_t) -> std::optional<WebGateAnswer> {
      if (host == L"known.example")
        return WebGateAnswer::kAllow;
      return std::nullopt;
    };
    platform.pinGate.check = [](const std::wstring& host, std::uint16_t) {
      probeThread = GetCurrentThreadId();
      Sleep(300);  // a probe on a slow network
      return host == L"intercepted.example" ? WebGateAnswer::kRefuse : WebGateAnswer::kAllow;
    };
    platform.pinGate.warn = [](const std::wstring&) {};
  });
  std::vector<std::wstring> seen;
  r.host->onWebResourceRequested =
      [&seen](const std::wstring& uri, ICoreWebView2WebResourceRequestedEventArgs*) { seen.push_back(uri); };
  FakeResourceRequestedArgs known(L"https://known.example/a");
  FakeResourceRequestedArgs probed(L"https://probed.example/b");
  FakeResourceRequestedArgs refused(L"https://intercepted.example/c");
  for (FakeResourceRequestedArgs* args : {&known, &probed, &refused}) {
    args->offerDeferral = true;
    const DWORD start = GetTickCount();
    EXPECT_EQ(r.runtime.RaiseResourceRequested(*args), S_OK);
    EXPECT_LT(GetTickCount() - start, 200u) << "the handler returned before the probe ended";
  }
  EXPECT_EQ(known.deferrals, 0);
  EXPECT_EQ(seen, std::vector<std::wstring>{L"https://known.example/a"});
  ASSERT_TRUE(PumpUntil([&] { return probed.deferral.completed + refused.deferral.completed == 2; }, 5000));
  EXPECT_NE(probeThread.load(), GetCurrentThreadId());
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"https://known.example/a", L"https://probed.example/b"}));
  EXPECT_EQ(probed.response, nullptr);
  EXPECT_EQ(refused.response, r.runtime.response.As<ICoreWebView2WebResourceResponse>());
  EXPECT_EQ(r.runtime.responseStatus, std::optional<int>(403));

  // A host closed while its probe runs: the request is completed, and the owner hears nothing.
  FakeResourceRequestedArgs orphan(L"https://probed-again.example/d");
  orphan.offerDeferral = true;
  r.runtime.RaiseResourceRequested(orphan);
  r.host->Shutdown(0);
  ASSERT_TRUE(PumpUntil([&] { return orphan.deferral.completed == 1; }, 5000));
  EXPECT_EQ(seen.size(), 2u);
}

TEST(WebViewHostEventsTest, RequestsWithoutHeadersOrAddressArePassedThroughUntouched) {
  ReadyHost r(&PinGate::Install);
  int ownerCalls = 0;
  r.host->onWebResourceRequested =
      [&ownerCalls](const std::wstring&, ICoreWebView2WebResourceRequestedEventArgs*) { ++ownerCalls; };
  FakeResourceRequestedArgs noRequest(L"https://blocked.example/");
  noRequest.offerRequest = false;
  FakeResourceRequestedArgs noHeaders(L"https://blocked.example/");
  noHeaders.request.offerHeaders = false;
  FakeResourceRequestedArgs noUri(std::nullopt);
  for (FakeResourceRequestedArgs* args : {&noRequest, &noHeaders, &noUri})
    EXPECT_EQ(r.runtime.RaiseResourceRequested(*args), S_OK);
  EXPECT_EQ(ownerCalls, 0);
  EXPECT_TRUE(PinGate::checked.empty());
  EXPECT_TRUE(noRequest.request.headers.values.empty());
  EXPECT_TRUE(noHeaders.request.headers.values.empty());
  EXPECT_EQ(noUri.request.headers.setOrder, std::vector<std::wstring>{config::IdentificationHeaderName()})
      << "the header is set before the address is read";
  CloseHandle(PinGate::noticeShown);
}

TEST(WebViewHostEventsTest, TheRealPinCheckLetsUnpinnedHostsThrough) {
  // With no pins installed the process-wide gate answers without any network traffic.
  ReadyHost r([](FakeRuntime&, WebView::HostPlatform& platform) {
    platform.pinGate = WebView::DefaultHostPlatform().pinGate;
  });
  int ownerCalls = 0;
  r.host->onWebResourceRequested =
      [&ownerCalls](const std::wstring&, ICoreWebView2WebResourceRequestedEventArgs*) { ++ownerCalls; };
  FakeResourceRequestedArgs args(L"https://unpinned.example/x");
  r.runtime.RaiseResourceRequested(args);
  EXPECT_EQ(ownerCalls, 1);
  EXPECT_EQ(args.response, nullptr);
}

TEST(WebViewHostEventsTest, HostFreedFromItsOwnCallbackLivesUntilTheHandlerReturns) {
  ReadyHost r;
  auto destroyed = std::make_shared<bool>(false);
  auto flag = std::make_shared<DestroyedFlag>(destroyed);
  bool aliveAfterRelease = false;
  r.host->onWebMessage = [flag, &r, &aliveAfterRelease, destroyed](const std::wstring&) {
    r.host->Shutdown(0);
    WebViewHost::DestroyWhenIdle(std::move(r.host));
    aliveAfterRelease = !*destroyed && flag != nullptr;  // the callback's own captures are intact
  };
  flag.reset();
  FakeWebMessageArgs message(L"close", L"\"close\"");
  r.runtime.RaiseWebMessage(message);
  EXPECT_TRUE(aliveAfterRelease);
  EXPECT_TRUE(*destroyed);
  EXPECT_EQ(r.host, nullptr);

  // An idle host goes at once.
  Harness idle;
  idle.Make();
  WebViewHost::DestroyWhenIdle(std::move(idle.host));
  EXPECT_EQ(idle.host, nullptr);
}

}  // namespace
