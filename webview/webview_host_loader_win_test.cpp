// WebViewHost over the real loader under Wine, which has no WebView2 runtime. The same source is
// built into two programs, each in a folder of its own:
//   CORVEL_HOST_TEST_LOADER_BESIDE    the stand-in WebView2Loader.dll next to the executable
//   CORVEL_HOST_TEST_BUILT_IN_LOADER  no WebView2Loader.dll: the built-in loader, with the
//                                     stand-in runtime registered or beside the executable
#include "webview/webview_host_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/fake_webview2_loader/fake_webview2_loader.h"
#include "tests/fake_webview2_runtime/fake_webview2_runtime.h"
#include "tests/fake_webview2_runtime/runtime_registration_win.h"
#include "text/text.h"

namespace {

using WebView::WebViewHost;

class ComApartment : public ::testing::Environment {
 public:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }
};
[[maybe_unused]] ::testing::Environment* const kCom = ::testing::AddGlobalTestEnvironment(new ComApartment);

HWND MakeParent() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"CorvelHostLoaderTestParent";
  RegisterClassExW(&windowClass);
  return CreateWindowExW(0, windowClass.lpszClassName, L"parent", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                         nullptr, nullptr, windowClass.hInstance, nullptr);
}

// A root under the temporary folder, unique to this process and test.
std::wstring TempRoot(const wchar_t* name) {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  return std::wstring(base) + L"corvel-loader-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
}

[[maybe_unused]] bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct Outcome {
  int calls = 0;
  bool success = true;
  HRESULT result = S_OK;
};

#if defined(CORVEL_HOST_TEST_BUILT_IN_LOADER)

FakeRuntimeCall LastRuntimeCall(const std::wstring& runtimeFolder) {
  FakeRuntimeCall call{};
  HMODULE library =
      GetModuleHandleW((runtimeFolder + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll").c_str());
  auto last = library ? reinterpret_cast<PFN_FakeRuntimeLastCall>(
                            reinterpret_cast<void (*)()>(GetProcAddress(library, "FakeRuntimeLastCall")))
                      : nullptr;
  if (last != nullptr)
    last(&call);
  return call;
}

// Removes folders when the scope ends, and at its start whatever an interrupted run left.
class RemovedFolders {
 public:
  explicit RemovedFolders(std::initializer_list<std::wstring> folders) : folders_(folders) { Remove(); }
  ~RemovedFolders() { Remove(); }

 private:
  void Remove() {
    std::error_code ignored;
    for (const std::wstring& folder : folders_)
      std::filesystem::remove_all(std::filesystem::path(folder), ignored);
  }
  std::vector<std::wstring> folders_;
};

std::wstring FixedRuntimeBesideThisProgram() {
  return fake_webview2::FolderOfThisProgram() + L"\\WebView2Runtime";
}

// One host start: the summary, and what the runtime library was called with.
struct Start {
  std::wstring statusMessage;
  HRESULT lastError = S_OK;
  int callbackCalls = 0;
};

Start StartHost(HWND parent, const std::wstring& root) {
  Start start;
  WebViewHost host;
  host.onInitialized = [&start](bool, HRESULT) { ++start.callbackCalls; };
  EXPECT_FALSE(host.Initialize(parent, root, 1));
  start.statusMessage = host.statusMessage;
  start.lastError = host.lastError;
  return start;
}

TEST(WebViewHostWithBuiltInLoaderTest, WithoutARuntimeTheEnvironmentCallFails) {
  HWND parent = MakeParent();
  const std::wstring root = TempRoot(L"none");
  RemovedFolders removed{FixedRuntimeBesideThisProgram(), root + L"_Evergreen_Env5"};
  const Start start = StartHost(parent, root);
  EXPECT_EQ(start.lastError, static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(start.statusMessage,
            L"WebView2 initialization failed. First=0x80070002 at CreateEnvironmentCall; last=0x80070002 at "
            L"CreateEnvironmentCall; runtime=Evergreen; lastUserData=" +
                root + L"_Evergreen_Env5");
  EXPECT_EQ(start.callbackCalls, 1);
  DestroyWindow(parent);
}

TEST(WebViewHostWithBuiltInLoaderTest, TheInstalledAndTheFixedRuntimeAreStartedWithTheirOwnData) {
  HWND parent = MakeParent();
  const std::wstring runtimes = TempRoot(L"runtimes");
  const std::wstring root = TempRoot(L"data");
  const std::wstring fixed = FixedRuntimeBesideThisProgram();
  RemovedFolders removed{fixed, runtimes, root + L"_Evergreen_Env5", root + L"_Fixed_Env5"};
  const std::wstring installed = runtimes + L"\\Application\\131.0.2903.70";
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(installed));
  fake_webview2::ScopedRuntimeRegistration registration(HKEY_LOCAL_MACHINE, installed, L"131.0.2903.70");
  ASSERT_TRUE(registration.ok());

  const Start evergreen = StartHost(parent, root);
  EXPECT_EQ(evergreen.lastError, kFakeRuntimeEnvironmentFailure);
  EXPECT_EQ(
      evergreen.statusMessage,
      L"WebView2 initialization failed. First=0x8007000A at CreateEnvironmentCallback; last=0x8007000A at "
      L"CreateEnvironmentCallback; runtime=Evergreen 131.0.2903.70; lastUserData=" +
          root + L"_Evergreen_Env5");
  FakeRuntimeCall call = LastRuntimeCall(installed);
  EXPECT_EQ(call.calls, 1);
  EXPECT_EQ(call.runtimeType, 0);
  ASSERT_NE(call.userDataFolder, nullptr);
  EXPECT_EQ(std::wstring(call.userDataFolder), root + L"_Evergreen_Env5");

  // A fixed-version runtime beside the executable wins over the installed one.
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(fixed));
  CloseHandle(CreateFileW((fixed + L"\\msedgewebview2.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  const Start fixedStart = StartHost(parent, root);
  EXPECT_EQ(
      fixedStart.statusMessage,
      L"WebView2 initialization failed. First=0x8007000A at CreateEnvironmentCallback; last=0x8007000A at "
      L"CreateEnvironmentCallback; runtime=Fixed 131.0.2903.70; lastUserData=" +
          root + L"_Fixed_Env5");
  call = LastRuntimeCall(fixed);
  EXPECT_EQ(call.calls, 1);
  EXPECT_EQ(call.runtimeType, 1);
  ASSERT_NE(call.userDataFolder, nullptr);
  EXPECT_EQ(std::wstring(call.userDataFolder), root + L"_Fixed_Env5");
  EXPECT_EQ(LastRuntimeCall(installed).calls, 1) << "the installed runtime must not be started again";
  DestroyWindow(parent);
}

#elif defined(CORVEL_HOST_TEST_LOADER_BESIDE)

FakeLoaderEnvironmentCall LastCall() {
  HMODULE loader = GetModuleHandleW(L"WebView2Loader.dll");
  FakeLoaderEnvironmentCall call{};
  if (loader == nullptr)
    return call;
  auto last = reinterpret_cast<PFN_FakeLoaderLastEnvironmentCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(loader, "FakeLoaderLastEnvironmentCall")));
  if (last != nullptr)
    last(&call);
  return call;
}

std::optional<std::wstring> Environment(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    return std::nullopt;
  return std::wstring(value, length);
}

TEST(WebViewHostWithStandInLoaderTest, TheRuntimeVersionIsReportedAndTheCompletionFailureNamed) {
  HWND parent = MakeParent();
  const std::wstring root = TempRoot(L"beside");
  const std::wstring folder = root + L"_Evergreen_Env5";
  SetEnvironmentVariableW(L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", L"--remote-debugging-port=9222");
  SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", L"C:\\elsewhere");
  Outcome outcome;
  const int callsBefore = LastCall().calls;  // the stand-in counts for the whole process
  {
    WebViewHost host;
    host.onInitialized = [&outcome](bool success, HRESULT result) {
      ++outcome.calls;
      outcome.success = success;
      outcome.result = result;
    };
    EXPECT_FALSE(host.Initialize(parent, root, 1));
    EXPECT_EQ(host.lastError, kFakeEnvironmentFailure);
    EXPECT_EQ(
        host.statusMessage,
        L"WebView2 initialization failed. First=0x80070002 at CreateEnvironmentCallback; last=0x80070002 at "
        L"CreateEnvironmentCallback; runtime=Evergreen 120.0.2210.91; lastUserData=" +
            folder);
  }
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_EQ(outcome.result, kFakeEnvironmentFailure);

  const FakeLoaderEnvironmentCall call = LastCall();
  EXPECT_EQ(call.calls - callsBefore, 1);
  EXPECT_EQ(call.browserFolder, nullptr) << "the installed runtime";
  ASSERT_NE(call.userDataFolder, nullptr);
  EXPECT_EQ(std::wstring(call.userDataFolder), folder);
  EXPECT_FALSE(call.hadOptions);
  EXPECT_EQ(call.threadId, GetCurrentThreadId());

  EXPECT_EQ(Environment(L"WEBVIEW2_USER_DATA_FOLDER"), std::optional<std::wstring>(folder));
  EXPECT_EQ(Environment(L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS"), std::nullopt);
  EXPECT_EQ(Environment(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER"), std::nullopt);
  RemoveDirectoryW(folder.c_str());
  DestroyWindow(parent);
}

TEST(WebViewHostWithStandInLoaderTest, ThreeAttemptsShareOneRecoveryTag) {
  HWND parent = MakeParent();
  const std::wstring root = TempRoot(L"attempts");
  const std::wstring base = root + L"_Evergreen_Env5";
  WebViewHost host;
  const int callsBefore = LastCall().calls;  // the stand-in counts for the whole process
  EXPECT_FALSE(host.Initialize(parent, root, 3));

  const FakeLoaderEnvironmentCall call = LastCall();
  EXPECT_EQ(call.calls - callsBefore, 3);
  ASSERT_NE(call.userDataFolder, nullptr);
  const std::wstring last = call.userDataFolder;
  const std::wstring prefix = base + L"_Recovery_" + std::to_wstring(GetCurrentProcessId()) + L"_";
  ASSERT_EQ(last.rfind(prefix, 0), 0u) << Utf16ToUtf8(last);
  ASSERT_EQ(last.substr(last.size() - 2), L"_2");
  const std::wstring tagged = last.substr(0, last.size() - 2);
  for (const std::wstring& folder : {base, tagged + L"_1", tagged + L"_2"}) {
    EXPECT_TRUE(IsDirectory(folder)) << Utf16ToUtf8(folder);
    RemoveDirectoryW(folder.c_str());
  }
  EXPECT_EQ(
      host.statusMessage,
      L"WebView2 initialization failed. First=0x80070002 at CreateEnvironmentCallback; last=0x80070002 at "
      L"CreateEnvironmentCallback; runtime=Evergreen 120.0.2210.91; lastUserData=" +
          last);
  DestroyWindow(parent);
}

TEST(WebViewHostWithStandInLoaderTest, QuitMessageDuringInitializationIsPassedOn) {
  HWND parent = MakeParent();
  const std::wstring root = TempRoot(L"quit");
  {
    WebViewHost host;
    PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, 42, 0);
    EXPECT_FALSE(host.Initialize(parent, root, 1));
    EXPECT_EQ(host.lastError, E_ABORT);
    EXPECT_EQ(host.statusMessage,
              L"WebView2 initialization failed. First=0x80004004 at ApplicationQuitDuringInitialization; "
              L"last=0x80004004 at ApplicationQuitDuringInitialization; runtime=Evergreen 120.0.2210.91; "
              L"lastUserData=" +
                  root + L"_Evergreen_Env5");
    // The caller's own loop ends with the same code; the stand-in's late completion is harmless.
    const ULONGLONG deadline = GetTickCount64() + 5000;
    int quitCode = -1;
    while (quitCode < 0 && GetTickCount64() < deadline) {
      MSG message;
      if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        continue;
      }
      if (message.message == WM_QUIT)
        quitCode = static_cast<int>(message.wParam);
      else
        DispatchMessageW(&message);
    }
    EXPECT_EQ(quitCode, 42);
    EXPECT_EQ(host.environment.Get(), nullptr);
  }
  RemoveDirectoryW((root + L"_Evergreen_Env5").c_str());
  DestroyWindow(parent);
}

#else
#error "choose CORVEL_HOST_TEST_LOADER_BESIDE or CORVEL_HOST_TEST_BUILT_IN_LOADER"
#endif

}  // namespace
