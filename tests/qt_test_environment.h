// The engine environment of the Qt WebEngine test programs; call before the QApplication is made.
#ifndef CORVEL_TESTS_QT_TEST_ENVIRONMENT_H_
#define CORVEL_TESTS_QT_TEST_ENVIRONMENT_H_

#include <QtGlobal>

#include "webview/web_view_qt.h"

// Each test process draws off screen unless told otherwise (QT_QPA_PLATFORM=xcb shows the
// windows): processes that share one X display take activation and focus from each other, which
// the engine answers by dropping input. The machine has no GPU and no network beyond loopback.
inline void PrepareTestEngineEnvironment() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  WebView::PrepareEngineEnvironment();
  if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) {
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            "--disable-gpu --disable-background-networking --disable-component-update --no-first-run");
  }
}

#endif  // CORVEL_TESTS_QT_TEST_ENVIRONMENT_H_
