// The WebView2 loader against the stand-in WebView2Loader.dll, under Wine. The same source is
// built into three test programs, each in a folder of its own, because what the loader finds is
// decided once per process by what lies next to the executable:
//   CORVEL_LOADER_TEST_BESIDE              the complete stand-in next to the executable
//   CORVEL_LOADER_TEST_ABSENT              no WebView2Loader.dll anywhere
//   CORVEL_LOADER_TEST_WITHOUT_ENVIRONMENT a stand-in lacking CreateCoreWebView2EnvironmentWithOptions
#include "webview/webview2_loader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/com_callback.h"
#include "tests/fake_webview2_loader/fake_webview2_loader.h"

namespace {

using Microsoft::WRL::ComPtr;

// What an environment-completed handler saw; shared with the handler so it outlives it.
struct Completion {
  int calls = 0;
  HRESULT result = E_PENDING;
  bool hadEnvironment = false;
  DWORD threadId = 0;
  bool handlerDestroyed = false;
};

struct DestroyedFlag {
  explicit DestroyedFlag(std::shared_ptr<Completion> c) : completion(std::move(c)) {}
  ~DestroyedFlag() { completion->handlerDestroyed = true; }
  std::shared_ptr<Completion> completion;
};

ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> MakeHandler(
    const std::shared_ptr<Completion>& completion) {
  auto flag = std::make_shared<DestroyedFlag>(completion);
  return base::ComCallback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [flag](HRESULT result, ICoreWebView2Environment* environment) {
        Completion& c = *flag->completion;
        ++c.calls;
        c.result = result;
        c.hadEnvironment = environment != nullptr;
        c.threadId = GetCurrentThreadId();
        return S_OK;
      });
}

// Dispatches this thread's messages until `done` or the time is up.
template <typename Done>
void PumpMessagesUntil(Done done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done())
      return;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline)
      return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
  }
}

#if defined(CORVEL_LOADER_TEST_BESIDE)

std::wstring Lower(std::wstring text) {
  CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::wstring ExecutableFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L'\\'));
}

FakeLoaderEnvironmentCall LastEnvironmentCall() {
  FakeLoaderEnvironmentCall call{};
  HMODULE loader = GetModuleHandleW(L"WebView2Loader.dll");
  auto last = reinterpret_cast<PFN_FakeLoaderLastEnvironmentCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(loader, "FakeLoaderLastEnvironmentCall")));
  if (last != nullptr)
    last(&call);
  return call;
}

TEST(WebView2LoaderBeside, LoadsTheLoaderNextToTheExecutable) {
  EXPECT_EQ(WebView::LoaderStatus(), S_OK);
  HMODULE loader = GetModuleHandleW(L"WebView2Loader.dll");
  ASSERT_NE(loader, nullptr) << "the loader must stay loaded";
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(loader, path, MAX_PATH);
  EXPECT_EQ(Lower(std::wstring(path, length)), Lower(ExecutableFolder() + L"\\WebView2Loader.dll"));
}

TEST(WebView2LoaderBeside, ReportsTheRuntimeVersionPerFolder) {
  struct Case {
    const wchar_t* folder;
    HRESULT expected;
    std::wstring version;
  };
  const Case cases[] = {
      {nullptr, S_OK, kFakeInstalledVersion},
      {L"C:\\Program Files\\Corvel\\WebView2Runtime", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L""},
      {kFakeFolderWithoutVersion, S_OK, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder ? c.folder : L"(installed runtime)");
    std::wstring version = L"left over from an earlier call";
    EXPECT_EQ(WebView::GetAvailableBrowserVersion(c.folder, version), c.expected);
    EXPECT_EQ(version, c.version);
  }
}

TEST(WebView2LoaderBeside, EnvironmentCreationCompletesLaterOnThisThreadThroughTheHandler) {
  struct Case {
    const wchar_t* browserFolder;
    const wchar_t* userDataFolder;
  };
  const Case cases[] = {
      {nullptr, L"C:\\Users\\student\\AppData\\Local\\Corvel\\WebView2Data_Evergreen_Env5"},
      {L"C:\\Program Files\\Corvel\\WebView2Runtime", L"D:\\data_Fixed_Env5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.userDataFolder);
    auto completion = std::make_shared<Completion>();
    auto handler = MakeHandler(completion);
    ASSERT_NE(handler, nullptr);

    const int callsBefore = LastEnvironmentCall().calls;
    ASSERT_EQ(WebView::CreateEnvironment(c.browserFolder, c.userDataFolder, handler.Get()), S_OK);
    EXPECT_EQ(completion->calls, 0) << "the completion must not run inside the call";

    const FakeLoaderEnvironmentCall call = LastEnvironmentCall();
    EXPECT_EQ(call.calls, callsBefore + 1);
    EXPECT_EQ(call.browserFolder ? std::wstring(call.browserFolder) : L"(null)",
              c.browserFolder ? std::wstring(c.browserFolder) : L"(null)");
    EXPECT_EQ(call.userDataFolder ? std::wstring(call.userDataFolder) : L"(null)",
              std::wstring(c.userDataFolder));
    EXPECT_FALSE(call.hadOptions) << "no environment options are passed";

    handler.Reset();  // the loader holds its own reference until the completion ran
    EXPECT_FALSE(completion->handlerDestroyed);
    PumpMessagesUntil([&] { return completion->calls > 0; }, 5000);
    ASSERT_EQ(completion->calls, 1) << "the completion never arrived through the message loop";
    EXPECT_EQ(completion->result, kFakeEnvironmentFailure);
    EXPECT_FALSE(completion->hadEnvironment);
    EXPECT_EQ(completion->threadId, GetCurrentThreadId());
    EXPECT_TRUE(completion->handlerDestroyed) << "the loader's reference was not released";

    PumpMessagesUntil([] { return false; }, 50);
    EXPECT_EQ(completion->calls, 1) << "the completion must run exactly once";
  }
}

TEST(WebView2LoaderBeside, RefusesANullHandler) {
  const int callsBefore = LastEnvironmentCall().calls;
  EXPECT_EQ(WebView::CreateEnvironment(nullptr, L"C:\\data", nullptr), E_POINTER);
  EXPECT_EQ(LastEnvironmentCall().calls, callsBefore) << "a null handler must not reach the runtime";
}

#elif defined(CORVEL_LOADER_TEST_ABSENT) || defined(CORVEL_LOADER_TEST_WITHOUT_ENVIRONMENT)

#if defined(CORVEL_LOADER_TEST_ABSENT)
#define LOADER_SUITE WebView2LoaderAbsent
constexpr HRESULT kNoRuntime = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
#else
#define LOADER_SUITE WebView2LoaderWithoutEnvironmentExport
constexpr HRESULT kNoRuntime = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
#endif

TEST(LOADER_SUITE, EveryEntryPointReportsNoRuntime) {
#if defined(CORVEL_LOADER_TEST_ABSENT)
  // This program runs in the folder of the complete stand-in, as if someone had planted it there.
  ASSERT_NE(GetFileAttributesW(L"WebView2Loader.dll"), INVALID_FILE_ATTRIBUTES)
      << "the test must run where a WebView2Loader.dll lies in the current directory";
#endif
  EXPECT_EQ(WebView::LoaderStatus(), kNoRuntime);

  for (const wchar_t* folder : {static_cast<const wchar_t*>(nullptr), kFakeFolderWithoutVersion}) {
    std::wstring version = L"stale";
    EXPECT_EQ(WebView::GetAvailableBrowserVersion(folder, version), kNoRuntime);
    EXPECT_EQ(version, L"");
  }

  auto completion = std::make_shared<Completion>();
  auto handler = MakeHandler(completion);
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(WebView::CreateEnvironment(nullptr, L"C:\\data", handler.Get()), kNoRuntime);
  handler.Reset();
  EXPECT_TRUE(completion->handlerDestroyed) << "nobody may keep the handler";
  PumpMessagesUntil([] { return false; }, 100);
  EXPECT_EQ(completion->calls, 0);

  // An unusable loader is not kept in the process.
  EXPECT_EQ(GetModuleHandleW(L"WebView2Loader.dll"), nullptr);
}

#else
#error "choose the loader test setup"
#endif

}  // namespace
