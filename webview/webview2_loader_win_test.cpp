// The WebView2 loader under Wine. The same source is built into three test programs, each in a
// folder of its own, because which loader serves a process is decided once by what lies next to
// the executable:
//   CORVEL_LOADER_TEST_BESIDE              the stand-in Microsoft loader next to the executable
//   CORVEL_LOADER_TEST_BUILT_IN            no WebView2Loader.dll: the built-in loader finds the
//                                          stand-in runtime through the registry and folders
//   CORVEL_LOADER_TEST_WITHOUT_ENVIRONMENT a stand-in loader lacking an entry point
#include "webview/webview2_loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/com_callback_win.h"
#include "base/module_path_win.h"
#include "tests/fake_webview2_loader/fake_webview2_loader.h"
#include "tests/fake_webview2_runtime/fake_webview2_runtime.h"
#include "tests/fake_webview2_runtime/runtime_registration_win.h"

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

[[maybe_unused]] ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> MakeHandler(
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
[[maybe_unused]] void PumpMessagesUntil(Done done, DWORD timeoutMs) {
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

// A folder under the temporary folder for this program's runtimes, removed at the end.
class TempFolder {
 public:
  explicit TempFolder(const wchar_t* name) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"corvel-runtime-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path_), ignored);
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

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
  EXPECT_EQ(WebView::ActiveLoader(), WebView::LoaderKind::kMicrosoft);
  HMODULE loader = GetModuleHandleW(L"WebView2Loader.dll");
  ASSERT_NE(loader, nullptr) << "the loader must stay loaded";
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(loader, path, MAX_PATH);
  EXPECT_EQ(Lower(std::wstring(path, length)), Lower(ExecutableFolder() + L"\\WebView2Loader.dll"));
}

TEST(WebView2LoaderBeside, AShippedLoaderWinsOverARegisteredRuntime) {
  TempFolder runtimes(L"beside");
  const std::wstring folder = runtimes.path() + L"\\131.0.2903.70";
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(folder));
  fake_webview2::ScopedRuntimeRegistration registration(HKEY_CURRENT_USER, folder, L"131.0.2903.70");
  ASSERT_TRUE(registration.ok());
  std::wstring version;
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(nullptr, version), S_OK);
  EXPECT_EQ(version, kFakeInstalledVersion) << "the answer must come from the shipped loader";
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

#elif defined(CORVEL_LOADER_TEST_BUILT_IN)

constexpr HRESULT kNoRuntime = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

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

std::wstring InstalledVersion() {
  std::wstring version = L"stale";
  const HRESULT hr = WebView::GetAvailableBrowserVersion(nullptr, version);
  if (FAILED(hr)) {
    EXPECT_EQ(hr, kNoRuntime);
    EXPECT_EQ(version, L"");
    return L"(none)";
  }
  return version;
}

// The registry value written in the 64-bit view instead of the updater's 32-bit one.
void Write64BitViewRecords(const std::wstring& folder, const std::wstring& version) {
  for (const auto& [subKey, name, value] :
       {std::tuple{fake_webview2::kClientKey, L"pv", version},
        std::tuple{fake_webview2::kClientStateKey, L"EBWebView", folder}}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
}

void Delete64BitViewRecords() {
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, fake_webview2::kClientKey, KEY_WOW64_64KEY, 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, fake_webview2::kClientStateKey, KEY_WOW64_64KEY, 0);
}

TEST(WebView2LoaderBuiltIn, ServesWhenNoLoaderLiesBesideTheExecutable) {
  // This program runs in the folder of the complete stand-in loader, as if someone had planted it.
  ASSERT_NE(GetFileAttributesW(L"WebView2Loader.dll"), INVALID_FILE_ATTRIBUTES)
      << "the test must run where a WebView2Loader.dll lies in the current directory";
  EXPECT_EQ(WebView::ActiveLoader(), WebView::LoaderKind::kBuiltIn);
  EXPECT_EQ(GetModuleHandleW(L"WebView2Loader.dll"), nullptr);
}

TEST(WebView2LoaderBuiltIn, FindsTheInstalledRuntimeThroughTheUpdatersRecords) {
  TempFolder runtimes(L"installed");
  const std::wstring current = runtimes.path() + L"\\Application\\131.0.2903.70";
  const std::wstring userCopy = runtimes.path() + L"\\User\\Application\\132.0.2957.11";
  const std::wstring old = runtimes.path() + L"\\Application\\85.0.564.40";
  const std::wstring withoutLibrary = runtimes.path() + L"\\Application\\133.0.3065.39";
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(current));
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(userCopy));
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(old));
  ASSERT_TRUE(fake_webview2::MakeFolders(withoutLibrary + L"\\EBWebView\\x64"));

  struct Registration {
    HKEY root;
    std::wstring folder;
    std::wstring installedVersion;
  };
  struct Case {
    const char* name;
    std::vector<Registration> registrations;
    std::wstring expected;
  };
  const Case cases[] = {
      {"nothing registered", {}, L"(none)"},
      {"machine-wide", {{HKEY_LOCAL_MACHINE, current, L"131.0.2903.70"}}, L"131.0.2903.70"},
      {"for the user", {{HKEY_CURRENT_USER, userCopy, L"132.0.2957.11"}}, L"132.0.2957.11"},
      {"machine-wide wins",
       {{HKEY_LOCAL_MACHINE, current, L"131.0.2903.70"}, {HKEY_CURRENT_USER, userCopy, L"132.0.2957.11"}},
       L"131.0.2903.70"},
      {"trailing separator", {{HKEY_LOCAL_MACHINE, current + L"\\", L"131.0.2903.70"}}, L"131.0.2903.70"},
      {"the folder names the running version during an update",
       {{HKEY_LOCAL_MACHINE, current, L"134.0.3124.51"}},
       L"131.0.2903.70"},
      {"empty pv", {{HKEY_LOCAL_MACHINE, current, L""}}, L"(none)"},
      {"pv 0.0.0.0 (uninstalled)", {{HKEY_LOCAL_MACHINE, current, L"0.0.0.0"}}, L"(none)"},
      {"too old", {{HKEY_LOCAL_MACHINE, old, L"85.0.564.40"}}, L"(none)"},
      {"library missing", {{HKEY_LOCAL_MACHINE, withoutLibrary, L"133.0.3065.39"}}, L"(none)"},
      {"a broken machine-wide runtime leaves the user's",
       {{HKEY_LOCAL_MACHINE, withoutLibrary, L"133.0.3065.39"},
        {HKEY_CURRENT_USER, userCopy, L"132.0.2957.11"}},
       L"132.0.2957.11"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<fake_webview2::ScopedRuntimeRegistration> > scoped;
    for (const Registration& r : c.registrations) {
      scoped.push_back(
          std::make_unique<fake_webview2::ScopedRuntimeRegistration>(r.root, r.folder, r.installedVersion));
      ASSERT_TRUE(scoped.back()->ok());
    }
    EXPECT_EQ(InstalledVersion(), c.expected);
  }

  // The updater writes to the 32-bit view; the same records in the 64-bit view are not its.
  Write64BitViewRecords(current, L"131.0.2903.70");
  EXPECT_EQ(InstalledVersion(), L"(none)");
  Delete64BitViewRecords();
}

TEST(WebView2LoaderBuiltIn, AFixedVersionFolderCountsWithItsLibraryAndReportsItsFileVersion) {
  TempFolder runtimes(L"fixed");
  const std::wstring fixed = runtimes.path() + L"\\WebView2Runtime";
  const std::wstring empty = runtimes.path() + L"\\Empty";
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(fixed));
  ASSERT_TRUE(fake_webview2::MakeFolders(empty));

  std::wstring version;
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(fixed.c_str(), version), S_OK);
  EXPECT_EQ(version, kFakeRuntimeFileVersion);
  EXPECT_EQ(WebView::GetAvailableBrowserVersion((fixed + L"\\").c_str(), version), S_OK);
  EXPECT_EQ(version, kFakeRuntimeFileVersion);
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(empty.c_str(), version), kNoRuntime);
  EXPECT_EQ(version, L"");

  // The variable overrides the argument, as it does for Microsoft's loader.
  SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", fixed.c_str());
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(nullptr, version), S_OK);
  EXPECT_EQ(version, kFakeRuntimeFileVersion);
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(empty.c_str(), version), S_OK);
  SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", empty.c_str());
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(fixed.c_str(), version), kNoRuntime);

  // The administrators' policy for this program wins over both; the machine's over the user's.
  constexpr wchar_t kPolicy[] = L"Software\\Policies\\Microsoft\\Edge\\WebView2\\BrowserExecutableFolder";
  const std::wstring self = base::ExecutablePath().substr(base::ExecutablePath().find_last_of(L'\\') + 1);
  const auto setPolicy = [&](HKEY root, const std::wstring& name, const std::wstring& folder) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, kPolicy, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  };
  setPolicy(HKEY_CURRENT_USER, L"other.exe", fixed);
  EXPECT_EQ(WebView::PolicyBrowserFolder(), std::nullopt) << "another program's policy";
  setPolicy(HKEY_CURRENT_USER, self, fixed + L"\\");
  EXPECT_EQ(WebView::PolicyBrowserFolder(), fixed);
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(empty.c_str(), version), S_OK) << "over the variable";
  EXPECT_EQ(version, kFakeRuntimeFileVersion);
  setPolicy(HKEY_LOCAL_MACHINE, L"*", empty);
  EXPECT_EQ(WebView::PolicyBrowserFolder(), empty);
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(fixed.c_str(), version), kNoRuntime);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicy);
  RegDeleteTreeW(HKEY_CURRENT_USER, kPolicy);

  // The player clears every inherited override before it looks for a runtime.
  WebView::ClearInheritedOverrides();
  EXPECT_EQ(GetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr, 0), 0u);
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(fixed.c_str(), version), S_OK);
}

TEST(WebView2LoaderBuiltIn, EnvironmentCreationReachesTheRuntimeLibraryWithItsRuntimeType) {
  TempFolder runtimes(L"create");
  const std::wstring installed = runtimes.path() + L"\\Application\\131.0.2903.70";
  const std::wstring fixed = runtimes.path() + L"\\WebView2Runtime";
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(installed));
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(fixed));
  fake_webview2::ScopedRuntimeRegistration registration(HKEY_LOCAL_MACHINE, installed, L"131.0.2903.70");
  ASSERT_TRUE(registration.ok());

  struct Case {
    const wchar_t* browserFolder;
    const wchar_t* userDataFolder;
    const wchar_t* userDataVariable;
    std::wstring runtimeFolder;
    int runtimeType;
    std::wstring expectedUserData;
  };
  const Case cases[] = {
      {nullptr, L"C:\\users\\student\\Corvel\\WebView2Data_Evergreen_Env5", nullptr, installed, 0,
       L"C:\\users\\student\\Corvel\\WebView2Data_Evergreen_Env5"},
      {fixed.c_str(), L"C:\\users\\student\\Corvel\\WebView2Data_Fixed_Env5", nullptr, fixed, 1,
       L"C:\\users\\student\\Corvel\\WebView2Data_Fixed_Env5"},
      {nullptr, L"C:\\given", L"C:\\from-the-variable", installed, 0, L"C:\\from-the-variable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expectedUserData);
    SetEnvironmentVariableW(L"WEBVIEW2_USER_DATA_FOLDER", c.userDataVariable);
    auto completion = std::make_shared<Completion>();
    auto handler = MakeHandler(completion);
    const int callsBefore = LastRuntimeCall(c.runtimeFolder).calls;
    ASSERT_EQ(WebView::CreateEnvironment(c.browserFolder, c.userDataFolder, handler.Get()), S_OK);
    EXPECT_EQ(completion->calls, 0) << "the completion must not run inside the call";

    const FakeRuntimeCall call = LastRuntimeCall(c.runtimeFolder);
    ASSERT_EQ(call.calls, callsBefore + 1) << "the runtime library of that runtime was not called";
    EXPECT_TRUE(call.checkRunningInstance);
    EXPECT_EQ(call.runtimeType, c.runtimeType);
    ASSERT_NE(call.userDataFolder, nullptr);
    EXPECT_EQ(std::wstring(call.userDataFolder), c.expectedUserData);
    EXPECT_FALSE(call.hadOptions);

    handler.Reset();
    PumpMessagesUntil([&] { return completion->calls > 0; }, 5000);
    ASSERT_EQ(completion->calls, 1) << "the completion never arrived through the message loop";
    EXPECT_EQ(completion->result, kFakeRuntimeEnvironmentFailure);
    EXPECT_EQ(completion->threadId, GetCurrentThreadId());
    EXPECT_TRUE(completion->handlerDestroyed);
  }
  SetEnvironmentVariableW(L"WEBVIEW2_USER_DATA_FOLDER", nullptr);
  EXPECT_NE(GetModuleHandleW((installed + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll").c_str()), nullptr)
      << "the runtime library stays loaded";
}

TEST(WebView2LoaderBuiltIn, WithoutARuntimeNothingIsCalledOrKept) {
  auto completion = std::make_shared<Completion>();
  auto handler = MakeHandler(completion);
  EXPECT_EQ(WebView::CreateEnvironment(nullptr, L"C:\\data", handler.Get()), kNoRuntime);
  EXPECT_EQ(WebView::CreateEnvironment(nullptr, L"C:\\data", nullptr), E_POINTER);
  handler.Reset();
  EXPECT_TRUE(completion->handlerDestroyed) << "nobody may keep the handler";
  PumpMessagesUntil([] { return false; }, 100);
  EXPECT_EQ(completion->calls, 0);
}

#elif defined(CORVEL_LOADER_TEST_WITHOUT_ENVIRONMENT)

TEST(WebView2LoaderWithoutEnvironmentExport, AnIncompleteLoaderIsUnloadedAndTheBuiltInServes) {
  EXPECT_EQ(WebView::ActiveLoader(), WebView::LoaderKind::kBuiltIn);
  EXPECT_EQ(GetModuleHandleW(L"WebView2Loader.dll"), nullptr);
  TempFolder runtimes(L"partial");
  const std::wstring fixed = runtimes.path() + L"\\WebView2Runtime";
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(fixed));
  std::wstring version;
  EXPECT_EQ(WebView::GetAvailableBrowserVersion(fixed.c_str(), version), S_OK);
  EXPECT_EQ(version, kFakeRuntimeFileVersion);
}

#else
#error "choose the loader test setup"
#endif

}  // namespace
