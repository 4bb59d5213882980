// Registration of the player as the handler of its URL scheme, the running executable's path and
// the process's command line. url_scheme_win.cpp registers the scheme in the registry,
// url_scheme_posix.cpp as a freedesktop desktop entry.
#ifndef CORVEL_APP_URL_SCHEME_H_
#define CORVEL_APP_URL_SCHEME_H_

#include <string>
#include <vector>

// Makes `executablePath` the handler of "<scheme>:" links for the current user, rewritten at
// every start. False when the registration could not be written at all.
//
// Windows: Software\Classes\<scheme> (display name, "URL Protocol"), ...\DefaultIcon
// ("<exe>,1") and ...\shell\open\command ("\"<exe>\" \"%1\"") for the current user; the scheme
// key falls back to the machine hive when the user's hive refuses it (false only when neither
// accepts it). Elsewhere: the desktop entry of BuildSchemeDesktopEntry in UserApplicationsFolder().
bool RegisterUrlProtocol(const std::wstring& scheme,
                         const std::wstring& displayName,
                         const std::wstring& executablePath);

// The full path of the running executable; empty when it cannot be read.
std::wstring GetModulePath();

// The process's command line split into arguments (program first); empty when it cannot be
// split.
std::vector<std::wstring> SplitProcessCommandLine();

// ---- The freedesktop registration (url_scheme_posix.cpp) ----------------------------------------

// The desktop entry that makes `executablePath` the handler of "<scheme>:" links. Name and path
// are escaped as the desktop-entry format asks (the path is one quoted argument).
std::string BuildSchemeDesktopEntry(const std::wstring& scheme,
                                    const std::wstring& displayName,
                                    const std::wstring& executablePath);

// Writes the entry as "<applicationsDir>/<scheme>.desktop" (creating the folder), replacing the
// file atomically and only when its text differs. False when it cannot be written.
bool WriteSchemeDesktopEntry(const std::string& applicationsDir,
                             const std::wstring& scheme,
                             const std::wstring& displayName,
                             const std::wstring& executablePath);

// The user's applications folder: $XDG_DATA_HOME/applications, or ~/.local/share/applications
// when XDG_DATA_HOME is unset, empty or relative.
std::string UserApplicationsFolder();

#endif  // CORVEL_APP_URL_SCHEME_H_
