// The player's entry point on Linux: the same start-up sequence as on Windows (app/startup.h)
// over the Qt platform (app/startup_platform_qt.h). The link is the first argument, as a
// desktop's URL handler passes it ("Exec=... %u").

#include <string>

#include <QApplication>

#include "app/splash_qt.h"
#include "app/startup.h"
#include "app/startup_platform_qt.h"
#include "app/test_commands_qt.h"
#include "app/windows_qt.h"
#include "text/text.h"
#include "webview/test_hooks_qt.h"

#if defined(__SANITIZE_ADDRESS__)
// The test build runs the player with the sanitizers; the browser engine is not built for them:
// its leaks at exit and its sized deletes are not ours to report.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0:new_delete_type_mismatch=0:alloc_dealloc_mismatch=0";
}
#endif

int main(int argc, char** argv) {
  // Taken before Qt reads its own options from the command line.
  std::wstring rawCommandLine;
  for (int i = 1; i < argc; ++i) {
    rawCommandLine += (i > 1 ? L" " : L"") + Utf8ToUtf16(argv[i]);
  }

  WebView::PrepareEngineEnvironment();
  QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  // The windows end the event loop themselves; closing a message box or the splash must not.
  QApplication::setQuitOnLastWindowClosed(false);
  StartTestCommands();
  // The test hooks' event lines: what the views and the windows do.
  if (WebView::TestHooksEnabled() || WebView::TestAnswer()) {
    WebView::SetEventObserver(WebView::TestEvent);
  }

  int exitCode = 1;
  try {
    QtStartupPlatform platform;
    exitCode = RunStartup(platform, rawCommandLine);
  } catch (...) {
    ShowUnexpectedErrorDialog();
  }
  // Early ends of the sequence leave windows behind; the engine must be gone before Qt is.
  DestroyMainWindows();
  DestroySplash();
  return exitCode;
}
