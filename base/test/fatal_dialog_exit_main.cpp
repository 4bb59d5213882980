// Shows the interception notice and must never come back: the test that runs this program
// checks that the shutdown hook ran first and that the process ended with exit code 0.
#include <cstdio>

#include "base/fatal_dialog.h"
#include "base/shutdown_hook.h"

int main() {
  SetShutdownHook([] {
    std::fputs("shutdown hook ran\n", stdout);
    std::fflush(stdout);
  });
  ShowFatalDiagnosticDialog(L"Network Connection Intercepted - اتصال غير آمن",
                            L"A security program is blocking the secure connection.",
                            L"برنامج حماية يمنع الاتصال الآمن.", "SSL_127.0.0.1");
}
