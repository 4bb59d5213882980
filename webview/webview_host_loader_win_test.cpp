// WebViewHost over the real loader under Wine, which has no WebView2 runtime. The same source is
// built into two programs, each in a folder of its own:
//   CORVEL_HOST_TEST_LOADER_BESIDE  the stand-in WebView2Loader.dll next to the executable
//   CORVEL_HOST_TEST_LOADER_ABSENT  no WebView2Loader.dll anywhere
#include "webview/webview_host.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/fake_webview2_loader/fake_webview2_loader.h"
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

#if defined(CORVEL_HOST_TEST_LOADER_ABSENT)

TEST(WebViewHostWithoutLoaderTest, TheEnvironmentCallFailsWithTheLoadersReason) {
  HWND parent = MakeParent();
  const std::wstring root = TempRoot(L"absent");
  Outcome outcome;
  {
    WebViewHost host;
    host.onInitialized = [&outcome](bool success, HRESULT result) {
      ++outcome.calls;
      outcome.success = success;
      outcome.result = result;
    };
    EXPECT_FALSE(host.Initialize(parent, root, 1));
    EXPECT_EQ(host.lastError, static_cast<HRESULT>(0x8007007E));
    EXPECT_EQ(
        host.statusMessage,
        L"WebView2 initialization failed. First=0x8007007E at CreateEnvironmentCall; last=0x8007007E at "
        L"CreateEnvironmentCall; runtime=Evergreen; lastUserData=" +
            root + L"_Evergreen_Env5");
  }
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_FALSE(outcome.success);
  EXPECT_EQ(outcome.result, static_cast<HRESULT>(0x8007007E));
  RemoveDirectoryW((root + L"_Evergreen_Env5").c_str());
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
#error "choose CORVEL_HOST_TEST_LOADER_BESIDE or CORVEL_HOST_TEST_LOADER_ABSENT"
#endif

}  // namespace
