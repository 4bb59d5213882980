// The player's entry point on Linux: the same start-up sequence as on Windows (app/startup.h)
// over the Qt platform (app/startup_platform_qt.h). The link is the first argument, as a
// desktop's URL handler passes it ("Exec=... %u").

#include <string>
#include <vector>

#include <QApplication>

#include "core/fatal_dialog.h"
#include "app/splash_qt.h"
#include "app/startup.h"
#include "app/startup_platform_qt.h"
#include "app/test_commands_qt.h"
#include "app/windows_qt.h"
#include "text/text.h"

#if defined(__SANITIZE_ADDRESS__)
// The test build runs the player with the sanitizers; the browser engine is not built for them:
// its leaks at exit and its sized deletes are not ours to report.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0:new_delete_type_mismatch=0:alloc_dealloc_mismatch=0";
}
#endif

int main(int argc, char** argv) {
  // Taken before Qt reads its own options from the command line.
  std::vector<std::wstring> arguments;
  std::wstring rawCommandLine;
  for (int i = 0; i < argc; ++i) {
    arguments.push_back(Utf8ToUtf16(argv[i]));
    if (i >= 1) {
      rawCommandLine += (i > 1 ? L" " : L"") + arguments.back();
    }
  }

  WebView::PrepareEngineEnvironment();
  QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  // The windows end the event loop themselves; closing a message box or the splash must not.
  QApplication::setQuitOnLastWindowClosed(false);
  StartTestCommands();

  int exitCode = 1;
  try {
    QtStartupPlatform platform(arguments);
    exitCode = RunStartup(platform, rawCommandLine);
  } catch (...) {
    // Nothing in the sequence throws by design; a last guard keeps an escaping exception from
    // ending the process without a word.
    ShowFatalDiagnosticDialog(L"Corvel", L"The player stopped because of an unexpected error.",
                              L"توقف البرنامج بسبب خطأ غير متوقع.", "UNHANDLED_EXCEPTION");
  }
  // Early ends of the sequence leave windows behind; the engine must be gone before Qt is.
  DestroyMainWindows();
  DestroySplash();
  return exitCode;
}
