// Windows-only checks of the shell under Wine: the URL scheme in the registry, the argument
// selection from real command lines, the instance mutex across processes, the version query.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/identity.h"
#include "app/startup.h"
#include "app/url_scheme.h"
#include "base/unique_handle_win.h"
#include "text/text.h"

namespace {

const std::wstring kScheme = L"corvel-test-" + std::to_wstring(GetCurrentProcessId());

struct RegValue {
  DWORD type = 0;
  std::wstring text;
  DWORD bytes = 0;
};

std::optional<RegValue> Read(HKEY hive, const std::wstring& key, const wchar_t* name) {
  base::UniqueHKey handle;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
    return std::nullopt;
  RegValue value;
  wchar_t buffer[1024] = {};
  value.bytes = sizeof(buffer);
  if (RegQueryValueExW(handle.get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(buffer),
                       &value.bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.text = buffer;
  return value;
}

void DeleteScheme(HKEY hive) {
  RegDeleteTreeW(hive, (L"Software\\Classes\\" + kScheme).c_str());
}

// The probe program beside this test: runs with a command line of our choosing.
std::wstring ProbePath() {
  std::wstring path = GetModulePath();
  return path.substr(0, path.rfind(L'\\') + 1) + L"app_win_probe.exe";
}

// Runs the probe with the given arguments; returns its exit code and standard output.
std::pair<DWORD, std::string> RunProbe(const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  base::UniqueKernelHandle reader(readEnd), writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring line = L"\"" + ProbePath() + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "probe did not start";
    return {~0u, ""};
  }
  base::UniqueKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
  writer.reset();
  std::string output;
  char chunk[512];
  DWORD got = 0;
  while (ReadFile(reader.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
    output.append(chunk, got);
  WaitForSingleObject(processHandle.get(), 10000);
  DWORD code = 0;
  GetExitCodeProcess(processHandle.get(), &code);
  return {code, output};
}

TEST(AppWinTest, UrlSchemeValuesReadBackWithTheirTypesAndSizes) {
  const std::wstring exe = L"C:\\Program Files\\Corvel App\\corvel.exe";  // blanks: stored quoted
  ASSERT_TRUE(RegisterUrlProtocol(kScheme, L"Kelmo Desktop Player", exe));
  const std::wstring key = L"Software\\Classes\\" + kScheme;
  struct Expect {
    std::wstring key;
    const wchar_t* name;
    std::wstring text;
  };
  const Expect values[] = {
      {key, nullptr, L"Kelmo Desktop Player"},
      {key, L"URL Protocol", L""},
      {key + L"\\DefaultIcon", nullptr, exe + L",1"},
      {key + L"\\shell\\open\\command", nullptr, L"\"" + exe + L"\" \"%1\""},
  };
  for (const Expect& e : values) {
    const std::optional<RegValue> v = Read(HKEY_CURRENT_USER, e.key, e.name);
    ASSERT_TRUE(v.has_value()) << Utf16ToUtf8(e.key);
    EXPECT_EQ(v->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v->text, e.text);
    EXPECT_EQ(v->bytes, (e.text.size() + 1) * 2);  // with the terminating zero
  }
  // Written again at every start, whatever is there.
  ASSERT_TRUE(RegisterUrlProtocol(kScheme, L"Kelmo Desktop Player", L"C:\\Other\\corvel.exe"));
  EXPECT_EQ(Read(HKEY_CURRENT_USER, key + L"\\DefaultIcon", nullptr)->text, L"C:\\Other\\corvel.exe,1");
  DeleteScheme(HKEY_CURRENT_USER);
}

TEST(AppWinTest, SchemeKeyFallsBackToTheMachineHiveWhileSubkeysStayWithTheUser) {
  // Map the user's hive onto a volatile key: a non-volatile key cannot be created below it, so
  // the user's hive refuses the scheme key and every subkey.
  const std::wstring volatileName = L"Software\\CorvelVolatile" + std::to_wstring(GetCurrentProcessId());
  base::UniqueHKey volatileKey;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, volatileName.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, volatileKey.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, volatileKey.get()), ERROR_SUCCESS);
  const bool registered = RegisterUrlProtocol(kScheme, L"Kelmo Desktop Player", L"C:\\A\\corvel.exe");
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  volatileKey.reset();
  RegDeleteTreeW(HKEY_CURRENT_USER, volatileName.c_str());
  EXPECT_TRUE(registered);
  const std::wstring key = L"Software\\Classes\\" + kScheme;
  const std::optional<RegValue> machine = Read(HKEY_LOCAL_MACHINE, key, nullptr);
  ASSERT_TRUE(machine.has_value());
  EXPECT_EQ(machine->text, L"Kelmo Desktop Player");
  EXPECT_FALSE(Read(HKEY_LOCAL_MACHINE, key + L"\\DefaultIcon", nullptr).has_value());
  EXPECT_FALSE(Read(HKEY_CURRENT_USER, key, nullptr).has_value());
  DeleteScheme(HKEY_LOCAL_MACHINE);
}

TEST(AppWinTest, ArgumentSelectionFromRealCommandLines) {
  struct Case {
    std::wstring arguments;
    std::string selected;
  };
  const Case cases[] = {
      {L"\"corvel://abc:def:ghi/\"", "corvel://abc:def:ghi/"},  // quotes removed
      {L"corvel:one corvel:two", "corvel:one"},                 // only the first argument
      {L"\"\" corvel:raw", "\"\" corvel:raw"},                  // empty argument: the raw line
      {L"\"\" CORVEL:raw", ""},                                 // the raw-line test is case-sensitive
      {L"", ""},
  };
  for (const Case& c : cases) {
    const auto [code, output] = RunProbe(L"select " + c.arguments);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(output, c.selected) << Utf16ToUtf8(c.arguments);
  }
}

TEST(AppWinTest, ASecondProcessSeesTheInstanceMutex) {
  const std::wstring name = BuildInstanceMutexName(L"CorvelTest|" + std::to_wstring(GetCurrentProcessId()));
  EXPECT_EQ(RunProbe(L"mutex " + name).first, 0u);  // nobody holds it
  base::UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
  ASSERT_TRUE(mutex);
  EXPECT_EQ(RunProbe(L"mutex " + name).first, 2u);  // ERROR_ALREADY_EXISTS in the other process
  mutex.reset();
  EXPECT_EQ(RunProbe(L"mutex " + name).first, 0u);
}

TEST(AppWinTest, TrueVersionQueryAnswers) {
  const int version = GetTrueWindowsVersion();
  EXPECT_TRUE(version == 10 || version == 11) << version;  // Wine reports Windows 10 by default
}

}  // namespace
