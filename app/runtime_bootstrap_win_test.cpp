#include "app/runtime_bootstrap_win.h"

#include <objbase.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "config/config.h"
#include "tests/fake_webview2_runtime/runtime_registration_win.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr UINT kInFront = MB_SETFOREGROUND | MB_TOPMOST;

struct Message {
  std::wstring text;
  std::wstring caption;
  UINT flags;
  bool operator==(const Message&) const = default;
};

void PrintTo(const Message& message, std::ostream* out) {
  *out << "{caption length " << message.caption.size() << ", flags 0x" << std::hex << message.flags << "}";
}

const Message kOffer{
    L"WebView2 Runtime is required to run this application.\n"
    L"يحتاج هذا التطبيق إلى WebView2 Runtime للتشغيل.\n\n"
    L"Would you like to install it now?",
    L"Kelmo \u2014 Component Required", MB_YESNO | MB_ICONQUESTION | kInFront};
const Message kInstalling{
    L"WebView2 Runtime is being downloaded and installed.\n"
    L"جاري تحميل وتثبيت WebView2 Runtime.\n\n"
    L"Please wait...",
    L"Installing...", MB_ICONINFORMATION | kInFront};
const Message kDownloadFailed{L"Failed to download WebView2 Runtime.\nPlease check your internet connection.",
                              L"Download Error", MB_ICONERROR | kInFront};
const Message kInstallFailed{L"WebView2 installation may have failed.\nPlease restart the application.",
                             L"Installation", MB_ICONWARNING | kInFront};

constexpr wchar_t kInstalledQuery[] = L"<installed>";

std::wstring ThisExecutable() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring BesideThisExecutable(const std::wstring& name) {
  const std::wstring self = ThisExecutable();
  return self.substr(0, self.find_last_of(L'\\') + 1) + name;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out << bytes;
}

// Every test gets folders of its own (tests run in parallel): an application folder standing
// for the executable's, and a temporary folder for the installer. The outside world is faked
// except the file system and, unless a test says otherwise, the signature check.
class RuntimeBootstrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::temp_directory_path() /
            (L"corvel-bootstrap-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::wstring(test->name(), test->name() + std::strlen(test->name())));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / L"app");
    std::filesystem::create_directories(root_ / L"temp");
    appFolder_ = (root_ / L"app").wstring();
    tempFolder_ = (root_ / L"temp").wstring() + L"\\";

    calls_ = DefaultRuntimeBootstrapCalls();
    calls_.modulePath = [this] { return appFolder_ + L"\\corvel.exe"; };
    calls_.tempFolder = [this] { return tempFolder_; };
    calls_.runtimeVersion = [this](const wchar_t* folder, std::wstring& version) -> HRESULT {
      queries_.push_back(folder ? folder : kInstalledQuery);
      version.clear();
      if (folder != nullptr) {
        version = fixedVersion_;
        return S_OK;
      }
      if (!installed_())
        return installedAbsent_;
      version = L"120.0.2210.91";
      return S_OK;
    };
    calls_.messageBox = [this](const std::wstring& text, const std::wstring& caption, UINT flags) {
      messages_.push_back({text, caption, flags});
      return flags & MB_YESNO ? answer_ : IDOK;
    };
    calls_.download = [this](const std::wstring& url, const std::wstring& file) -> HRESULT {
      downloads_.push_back({url, file});
      if (FAILED(downloadResult_))
        return downloadResult_;
      if (!downloadedFrom_.empty()) {
        if (!CopyFileW(downloadedFrom_.c_str(), file.c_str(), FALSE))
          return E_FAIL;
      } else {
        WriteBytes(file, "not an installer");
      }
      return S_OK;
    };
    calls_.runAndWait = [this](const std::wstring& file) {
      runs_.push_back(file);
      return true;
    };
  }

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    CoUninitialize();
  }

  void TrustEveryInstaller() {
    calls_.verifySignature = [this](const std::wstring& file, HANDLE held) {
      verified_.push_back(file);
      return held != INVALID_HANDLE_VALUE && held != nullptr;
    };
  }

  std::filesystem::path root_;
  std::wstring appFolder_, tempFolder_;
  // Where the last download went: a fresh folder of its own in the temporary folder.
  std::wstring Installer() const { return downloads_.empty() ? std::wstring() : downloads_.back().second; }
  bool TempFolderEmpty() const { return std::filesystem::is_empty(std::filesystem::path(tempFolder_)); }
  RuntimeBootstrapCalls calls_;

  std::function<bool()> installed_ = [] { return false; };
  HRESULT installedAbsent_ = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);  // as without WebView2Loader.dll
  std::wstring fixedVersion_;
  int answer_ = IDYES;
  HRESULT downloadResult_ = S_OK;
  std::wstring downloadedFrom_;  // a file to copy as the download; empty: a few plain bytes

  std::vector<std::wstring> queries_;
  std::vector<Message> messages_;
  std::vector<std::pair<std::wstring, std::wstring>> downloads_;
  std::vector<std::wstring> verified_;
  std::vector<std::wstring> runs_;
};

TEST_F(RuntimeBootstrapTest, InstalledRuntimeIsEnoughWithoutAnyMessage) {
  installed_ = [] { return true; };
  EXPECT_TRUE(EnsureWebView2Runtime(calls_));
  EXPECT_THAT(messages_, IsEmpty());
  EXPECT_THAT(downloads_, IsEmpty());
  EXPECT_THAT(queries_, ElementsAre(kInstalledQuery));  // no fixed folder: not asked about it
}

TEST_F(RuntimeBootstrapTest, FixedRuntimeCountsOnlyAsAFileThatReportsAVersion) {
  const std::wstring fixedFolder = appFolder_ + L"\\WebView2Runtime";
  const std::wstring fixedExe = fixedFolder + L"\\msedgewebview2.exe";
  struct Case {
    const char* name;
    bool makeFolder;
    bool exeAsFile;
    bool exeAsFolder;
    std::wstring fixedVersion;
    bool expectFixedQuery;
    bool expectInstalledQuery;
  } cases[] = {
      {"folder without the executable", true, false, false, L"1.0", false, true},
      {"a folder named like the executable", true, false, true, L"1.0", false, true},
      {"executable present and reporting a version", true, true, false, L"118.0.1", true, false},
      {"executable present but no version (broken runtime)", true, true, false, L"", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(fixedFolder);
    if (c.makeFolder)
      std::filesystem::create_directories(fixedFolder);
    if (c.exeAsFile)
      WriteBytes(fixedExe, "MZ");
    if (c.exeAsFolder)
      std::filesystem::create_directories(fixedExe);
    fixedVersion_ = c.fixedVersion;
    installed_ = [] { return true; };
    queries_.clear();

    EXPECT_TRUE(EnsureWebView2Runtime(calls_));
    std::vector<std::wstring> expected;
    if (c.expectFixedQuery)
      expected.push_back(fixedFolder);
    if (c.expectInstalledQuery)
      expected.push_back(kInstalledQuery);
    EXPECT_EQ(queries_, expected);
    EXPECT_THAT(messages_, IsEmpty());
  }
}

TEST_F(RuntimeBootstrapTest, UnreadableModulePathSkipsTheFixedRuntime) {
  calls_.modulePath = [] { return std::wstring(); };
  installed_ = [] { return true; };
  EXPECT_TRUE(EnsureWebView2Runtime(calls_));
  EXPECT_THAT(queries_, ElementsAre(kInstalledQuery));
}

TEST_F(RuntimeBootstrapTest, DecliningTheOfferStopsWithoutDownloading) {
  for (int answer : {IDNO, IDCANCEL, 0}) {
    messages_.clear();
    answer_ = answer;
    installedAbsent_ = answer == IDNO ? S_OK : E_FAIL;  // success without a version is no runtime
    EXPECT_FALSE(EnsureWebView2Runtime(calls_)) << answer;
    EXPECT_THAT(messages_, ElementsAre(kOffer)) << answer;
    EXPECT_THAT(downloads_, IsEmpty()) << answer;
    EXPECT_TRUE(TempFolderEmpty());
  }
}

TEST_F(RuntimeBootstrapTest, FailedDownloadIsReportedAndNothingRuns) {
  downloadResult_ = INET_E_DOWNLOAD_FAILURE;
  EXPECT_FALSE(EnsureWebView2Runtime(calls_));
  EXPECT_THAT(messages_, ElementsAre(kOffer, kInstalling, kDownloadFailed));
  ASSERT_EQ(downloads_.size(), 1u);
  EXPECT_EQ(downloads_[0].first, config::RuntimeInstallerUrl());
  const std::wstring file = downloads_[0].second;
  EXPECT_EQ(file.rfind(tempFolder_ + L"Corvel-", 0), 0u) << std::filesystem::path(file).string();
  EXPECT_EQ(file.size(), tempFolder_.size() + 7 + 36 + 1 + std::wcslen(L"WebView2Installer.exe"))
      << std::filesystem::path(file).string();
  EXPECT_THAT(runs_, IsEmpty());
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(RuntimeBootstrapTest, UnsignedDownloadIsDeletedAndNeverStarted) {
  // The real signature check: once with a few plain bytes, once with an unsigned program.
  for (const std::wstring& source : {std::wstring(), ThisExecutable()}) {
    messages_.clear();
    downloadedFrom_ = source;
    EXPECT_FALSE(EnsureWebView2Runtime(calls_));
    EXPECT_THAT(messages_, ElementsAre(kOffer, kInstalling, kDownloadFailed));
    EXPECT_TRUE(TempFolderEmpty());
    EXPECT_THAT(runs_, IsEmpty());
  }
}

TEST_F(RuntimeBootstrapTest, NoFileToCheckIsAFailedDownload) {
  TrustEveryInstaller();
  // A download that reports success but leaves nothing, and a temporary folder that cannot be
  // read: nothing is verified or started either way.
  calls_.download = [](const std::wstring&, const std::wstring&) { return S_OK; };
  EXPECT_FALSE(EnsureWebView2Runtime(calls_));
  calls_.tempFolder = [] { return std::wstring(); };
  EXPECT_FALSE(EnsureWebView2Runtime(calls_));
  EXPECT_THAT(messages_,
              ElementsAre(kOffer, kInstalling, kDownloadFailed, kOffer, kInstalling, kDownloadFailed));
  EXPECT_THAT(verified_, IsEmpty());
  EXPECT_THAT(runs_, IsEmpty());
}

TEST_F(RuntimeBootstrapTest, VerifiedInstallerIsHeldAgainstReplacementUntilItHasRun) {
  TrustEveryInstaller();
  installed_ = [this] { return !runs_.empty(); };
  calls_.verifySignature = [this](const std::wstring& file, HANDLE held) {
    verified_.push_back(file);
    // Another process must not be able to swap the file between the check and the start.
    base::UniqueFileHandle writer(CreateFileW(file.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer.valid());
    EXPECT_FALSE(DeleteFileW(file.c_str()));
    return held != INVALID_HANDLE_VALUE;
  };
  calls_.runAndWait = [this](const std::wstring& file) {
    runs_.push_back(file);
    EXPECT_FALSE(MoveFileW(file.c_str(), (file + L".moved").c_str()));
    return true;
  };
  EXPECT_TRUE(EnsureWebView2Runtime(calls_));
  EXPECT_THAT(verified_, ElementsAre(Installer()));
  EXPECT_THAT(runs_, ElementsAre(Installer()));
}

TEST_F(RuntimeBootstrapTest, SuccessfulInstallDeletesTheInstaller) {
  TrustEveryInstaller();
  installed_ = [this] { return !runs_.empty(); };  // the runtime appears once the installer ran
  EXPECT_TRUE(EnsureWebView2Runtime(calls_));
  EXPECT_THAT(messages_, ElementsAre(kOffer, kInstalling));
  EXPECT_THAT(runs_, ElementsAre(Installer()));
  EXPECT_TRUE(TempFolderEmpty());
  EXPECT_THAT(queries_, ElementsAre(kInstalledQuery, kInstalledQuery));
}

TEST_F(RuntimeBootstrapTest, RuntimeStillAbsentAfterInstallLeavesNothingBehind) {
  TrustEveryInstaller();
  for (bool started : {true, false}) {  // an installer that would not start is no different
    messages_.clear();
    runs_.clear();
    calls_.runAndWait = [this, started](const std::wstring& file) {
      runs_.push_back(file);
      return started;
    };
    EXPECT_FALSE(EnsureWebView2Runtime(calls_));
    EXPECT_THAT(messages_, ElementsAre(kOffer, kInstalling, kInstallFailed));
    EXPECT_THAT(runs_, ElementsAre(Installer()));
    EXPECT_TRUE(TempFolderEmpty());
  }
}

#ifndef CORVEL_SIGNED_TEST_INSTALLER
TEST_F(RuntimeBootstrapTest, RealStartWaitsForTheInstallerToEnd) {
  TrustEveryInstaller();
  calls_.runAndWait = DefaultRuntimeBootstrapCalls().runAndWait;
  downloadedFrom_ = BesideThisExecutable(L"runtime_bootstrap_test_installer.exe");
  ASSERT_TRUE(Exists(downloadedFrom_));
  // Only a finished installer leaves the marker.
  installed_ = [&] { return Exists(Installer() + L".ran"); };
  EXPECT_TRUE(EnsureWebView2Runtime(calls_));
  EXPECT_THAT(messages_, ElementsAre(kOffer, kInstalling));
  EXPECT_TRUE(TempFolderEmpty()) << "the folder goes with what the installer left";
}
#else
// The stand-in installer signed at build time with a throw-away certificate. Wine accepts a
// self-signed signer that Windows would only accept with its root trusted; what matters here is
// that the real check passes a good signature and refuses the same file altered.
std::wstring SignedInstaller() {
  return BesideThisExecutable(L"runtime_bootstrap_test_signed_installer.exe");
}

// The signature check and the start are real; only a finished installer leaves its marker.
TEST_F(RuntimeBootstrapTest, SignedInstallerRunsThroughTheRealCheckAndStart) {
  calls_.runAndWait = DefaultRuntimeBootstrapCalls().runAndWait;
  // The signature check is real; the player's own check also wants Microsoft as the signer,
  // which a throw-away certificate is not.
  calls_.verifySignature = VerifyAuthenticodeSignature;
  EXPECT_FALSE(DefaultRuntimeBootstrapCalls().verifySignature(SignedInstaller(), INVALID_HANDLE_VALUE));
  EXPECT_TRUE(IsMicrosoftSigner(L"Microsoft Corporation"));
  for (const wchar_t* other :
       {L"Corvel Test Signer", L"Microsoft Corporation ", L"microsoft corporation", L""})
    EXPECT_FALSE(IsMicrosoftSigner(other)) << other;
  downloadedFrom_ = SignedInstaller();
  ASSERT_TRUE(Exists(downloadedFrom_));
  installed_ = [&] { return Exists(Installer() + L".ran"); };
  EXPECT_TRUE(EnsureWebView2Runtime(calls_));
  EXPECT_THAT(messages_, ElementsAre(kOffer, kInstalling));
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(RuntimeBootstrapTest, TamperedSignedInstallerIsRefused) {
  const std::wstring tampered = (root_ / L"tampered.exe").wstring();
  ASSERT_TRUE(CopyFileW(SignedInstaller().c_str(), tampered.c_str(), FALSE));
  {
    std::fstream file(std::filesystem::path(tampered), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(0x400);  // inside the code, covered by the signature's hash
    file.put('\xCC');
  }
  EXPECT_TRUE(VerifyAuthenticodeSignature(SignedInstaller(), INVALID_HANDLE_VALUE));
  EXPECT_FALSE(VerifyAuthenticodeSignature(tampered, INVALID_HANDLE_VALUE));

  calls_.runAndWait = DefaultRuntimeBootstrapCalls().runAndWait;
  downloadedFrom_ = tampered;
  EXPECT_FALSE(EnsureWebView2Runtime(calls_));
  EXPECT_THAT(messages_, ElementsAre(kOffer, kInstalling, kDownloadFailed));
  EXPECT_TRUE(TempFolderEmpty());
}
#endif

TEST(RuntimeSignatureTest, OnlyAVerifiedSignaturePasses) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       (L"corvel-signature-" + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  const std::wstring plain = (folder / L"plain.exe").wstring();
  WriteBytes(plain, std::string(4096, 'x'));
  const std::wstring unsignedProgram = (folder / L"unsigned.exe").wstring();
  ASSERT_TRUE(CopyFileW(ThisExecutable().c_str(), unsignedProgram.c_str(), FALSE));
  const std::wstring empty = (folder / L"empty.exe").wstring();
  WriteBytes(empty, "");

  for (const std::wstring& file : {plain, unsignedProgram, empty, (folder / L"missing.exe").wstring()}) {
    EXPECT_FALSE(VerifyAuthenticodeSignature(file, INVALID_HANDLE_VALUE));
    base::UniqueFileHandle held(
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (held) {
      EXPECT_FALSE(VerifyAuthenticodeSignature(file, held.get()));
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

// The real calls end to end, with no WebView2Loader.dll anywhere (the built-in loader serves):
// without a runtime the offer comes up, and answered No, nothing else happens; with the stand-in
// runtime registered for the user, the check passes without a word.
TEST(RuntimeBootstrapRealTest, TheBuiltInLoaderDecidesBetweenTheOfferAndSilence) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  RuntimeBootstrapCalls calls = DefaultRuntimeBootstrapCalls();
  std::vector<Message> messages;
  calls.messageBox = [&](const std::wstring& text, const std::wstring& caption, UINT flags) {
    messages.push_back({text, caption, flags});
    return IDNO;
  };
  EXPECT_FALSE(EnsureWebView2Runtime(calls));
  EXPECT_THAT(messages, ElementsAre(kOffer));

  messages.clear();
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring runtimes =
      std::wstring(temp) + L"corvel-bootstrap-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring folder = runtimes + L"\\Application\\131.0.2903.70";
  ASSERT_TRUE(fake_webview2::PlaceRuntimeLibrary(folder));
  {
    fake_webview2::ScopedRuntimeRegistration registration(HKEY_CURRENT_USER, folder, L"131.0.2903.70");
    ASSERT_TRUE(registration.ok());
    EXPECT_TRUE(EnsureWebView2Runtime(calls));
    EXPECT_THAT(messages, IsEmpty());
  }
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(runtimes), ignored);
  CoUninitialize();
}

}  // namespace
