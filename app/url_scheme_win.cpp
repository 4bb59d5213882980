#include "app/url_scheme.h"

#include <windows.h>  // before every other Windows header

#include <shellapi.h>

#include "base/module_path_win.h"
#include "base/unique_handle_win.h"

namespace {

base::UniqueHKey CreateKey(HKEY hive, const std::wstring& name) {
  base::UniqueHKey key;
  if (RegCreateKeyExW(hive, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS) {
    key.reset();
  }
  return key;
}

// REG_SZ with its terminating zero: (length + 1) * 2 bytes.
void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

bool RegisterUrlProtocol(const std::wstring& scheme,
                         const std::wstring& displayName,
                         const std::wstring& executablePath) {
  const std::wstring keyName = L"Software\\Classes\\" + scheme;
  base::UniqueHKey key = CreateKey(HKEY_CURRENT_USER, keyName);
  if (!key)
    key = CreateKey(HKEY_LOCAL_MACHINE, keyName);
  if (!key)
    return false;
  SetString(key.get(), nullptr, displayName);
  SetString(key.get(), L"URL Protocol", L"");
  key.reset();

  // The subkeys always go to the user's hive, even when the scheme key had to fall back.
  if (base::UniqueHKey icon = CreateKey(HKEY_CURRENT_USER, keyName + L"\\DefaultIcon")) {
    SetString(icon.get(), nullptr, executablePath + L",1");
  }
  if (base::UniqueHKey command = CreateKey(HKEY_CURRENT_USER, keyName + L"\\shell\\open\\command")) {
    SetString(command.get(), nullptr, L"\"" + executablePath + L"\" \"%1\"");
  }
  return true;
}

std::wstring GetModulePath() {
  return base::ExecutablePath();
}

std::vector<std::wstring> SplitProcessCommandLine() {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  const base::UniqueLocalMemory owner(list);
  if (!list)
    return arguments;
  for (int i = 0; i < count; ++i)
    arguments.emplace_back(list[i]);
  return arguments;
}
