// The fatal diagnostic dialog where no desktop shell is wired in: the same title, texts and code
// go to standard error, then the process ends with exit code 0 like on Windows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "base/fatal_dialog.h"
#include "base/shutdown_hook.h"
#include "text/text.h"

void ShowFatalDiagnosticDialog(const std::wstring& title,
                               const std::wstring& english,
                               const std::wstring& arabic,
                               const std::string& code) {
  if (!ClaimFatalDialog()) {
    // Another thread's dialog is under way and ends the process.
    for (;;)
      std::this_thread::sleep_for(std::chrono::hours(1));
  }
  RunShutdownHookOnce();
  const std::string text =
      Utf16ToUtf8(title) + "\n\n" + Utf16ToUtf8(BuildDiagnosticFallbackText(english, arabic, code)) + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  std::fflush(stdout);
  // Other threads may still run: end at once, without static destructors.
  std::_Exit(0);
}
