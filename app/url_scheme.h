// Registration of the player as the handler of its URL scheme, and the running executable's path.
#ifndef CORVEL_APP_URL_SCHEME_H_
#define CORVEL_APP_URL_SCHEME_H_

#include <string>
#include <vector>

// Writes, at every start, Software\Classes\<scheme> (display name, "URL Protocol"),
// ...\DefaultIcon ("<exe>,1") and ...\shell\open\command ("\"<exe>\" \"%1\"") for the current
// user; the scheme key falls back to the machine hive when the user's hive refuses it. False
// only when neither hive accepts the scheme key.
bool RegisterUrlProtocol(const std::wstring& scheme, const std::wstring& displayName,
                         const std::wstring& executablePath);

// The full path of the running executable; empty when it cannot be read.
std::wstring GetModulePath();

// The process's command line split into arguments (program first); empty when it cannot be
// split.
std::vector<std::wstring> SplitProcessCommandLine();

#endif  // CORVEL_APP_URL_SCHEME_H_
