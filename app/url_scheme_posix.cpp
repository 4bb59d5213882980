// Registration of the player as the handler of its URL scheme on a freedesktop system: a desktop
// entry in the user's applications folder that claims "x-scheme-handler/<scheme>"; the desktop
// reads it from there and passes the link as the program's first argument ("Exec=... %u").
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "app/url_scheme.h"
#include "text/text.h"

namespace {

namespace fs = std::filesystem;

// The string escapes of a desktop entry value.
std::string EscapeDesktopString(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// One quoted argument of an Exec key: ", `, $ and \ take a backslash inside the quotes, % is
// doubled (field codes), then the string escapes apply to the whole.
std::string QuoteExecArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '%') {
      quoted += "%%";
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return EscapeDesktopString(quoted);
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0')
    return home;
  if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr)
    return user->pw_dir;
  return "/";
}

std::string ReadWholeFile(const fs::path& path, bool& readable) {
  std::ifstream file(path, std::ios::binary);
  readable = static_cast<bool>(file);
  return readable ? std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>())
                  : std::string();
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0)
      return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// Writes `text` beside `path` and renames it over `path`: a reader sees the old entry or the new
// one, never half of one.
bool ReplaceFile(const fs::path& path, const std::string& text) {
  const std::string temporary = path.string() + ".new-" + std::to_string(getpid());
  unlink(temporary.c_str());  // a leftover of this process id
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0)
    return false;
  const bool written = WriteAll(fd, text) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string BuildSchemeDesktopEntry(const std::wstring& scheme,
                                    const std::wstring& displayName,
                                    const std::wstring& executablePath) {
  std::string entry = "[Desktop Entry]\n";
  entry += "Type=Application\n";
  entry += "Name=" + EscapeDesktopString(Utf16ToUtf8(displayName)) + "\n";
  entry += "Exec=" + QuoteExecArgument(Utf16ToUtf8(executablePath)) + " %u\n";
  entry += "Terminal=false\n";
  entry += "NoDisplay=true\n";
  entry += "MimeType=x-scheme-handler/" + Utf16ToUtf8(scheme) + ";\n";
  return entry;
}

std::string UserApplicationsFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base = data != nullptr ? data : "";
  if (base.empty() || base[0] != '/')
    base = HomeFolder() + "/.local/share";
  return base + "/applications";
}

bool WriteSchemeDesktopEntry(const std::string& applicationsDir,
                             const std::wstring& scheme,
                             const std::wstring& displayName,
                             const std::wstring& executablePath) {
  if (scheme.empty() || executablePath.empty() || applicationsDir.empty())
    return false;
  std::error_code error;
  fs::create_directories(applicationsDir, error);
  if (error || !fs::is_directory(applicationsDir, error))
    return false;
  const std::string text = BuildSchemeDesktopEntry(scheme, displayName, executablePath);
  const fs::path path = fs::path(applicationsDir) / (Utf16ToUtf8(scheme) + ".desktop");
  bool readable = false;
  if (ReadWholeFile(path, readable) == text && readable)
    return true;  // the same entry: the file is left alone
  return ReplaceFile(path, text);
}

bool RegisterUrlProtocol(const std::wstring& scheme,
                         const std::wstring& displayName,
                         const std::wstring& executablePath) {
  return WriteSchemeDesktopEntry(UserApplicationsFolder(), scheme, displayName, executablePath);
}

std::wstring GetModulePath() {
  std::error_code error;
  const fs::path path = fs::read_symlink("/proc/self/exe", error);
  return error ? std::wstring() : Utf8ToUtf16(path.string());
}

std::vector<std::wstring> SplitProcessCommandLine() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  if (!file)
    return {};
  const std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::wstring> arguments;
  std::size_t start = 0;
  while (start < raw.size()) {
    std::size_t end = raw.find('\0', start);
    if (end == std::string::npos)
      end = raw.size();
    arguments.push_back(Utf8ToUtf16(raw.substr(start, end - start)));
    start = end + 1;
  }
  return arguments;
}
