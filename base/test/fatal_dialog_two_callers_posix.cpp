// Two threads reach the fatal dialog at once: only the first one's dialog may run. The test that
// runs this program checks that the second caller's code never appears.
#include <chrono>
#include <cstdio>
#include <thread>

#include "base/fatal_dialog.h"
#include "base/shutdown_hook.h"

int main() {
  SetShutdownHook([] {
    std::fputs("shutdown hook ran\n", stdout);
    std::fflush(stdout);
    // The second caller arrives while the first dialog is under way.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
  });
  std::thread second([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ShowFatalDiagnosticDialog(L"Second", L"second caller", L"second caller", "SECOND-CALLER");
  });
  second.detach();
  ShowFatalDiagnosticDialog(L"First", L"first caller", L"first caller", "FIRST-CALLER");
}
