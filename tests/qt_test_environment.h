// The engine environment of the Qt WebEngine test programs, and the waits they use on a view (the
// product's views have none: they only ever react to their engine).
#ifndef CORVEL_TESTS_QT_TEST_ENVIRONMENT_H_
#define CORVEL_TESTS_QT_TEST_ENVIRONMENT_H_

#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
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

// Runs the event loop until `condition` holds or the time is up; returns the last answer.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() >= timeoutMs) {
      return condition();
    }
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Runs `script` in the top document's main world and waits for its value. `finished`, when
// given, tells whether the script returned before the timeout.
inline QVariant EvaluateAndWait(WebView::QtWebView& view,
                                const QString& script,
                                int timeoutMs = 5000,
                                bool* finished = nullptr) {
  // Shared with the callback, which may still arrive after a timeout.
  struct Result {
    bool done = false;
    QVariant value;
  };
  auto result = std::make_shared<Result>();
  view.page()->runJavaScript(script, QWebEngineScript::MainWorld, [result](const QVariant& value) {
    result->done = true;
    result->value = value;
  });
  WaitUntil([&result] { return result->done; }, timeoutMs);
  if (finished != nullptr) {
    *finished = result->done;
  }
  return result->value;
}

// Counts the main-frame loads of a view's page. Wait() returns once a load has finished since the
// previous Wait() (or since the watcher was made), with that load's success; false on timeout.
class LoadWatcher {
 public:
  explicit LoadWatcher(WebView::QtWebView& view) {
    // The connection ends with this watcher (its context), whichever of the two goes first.
    QObject::connect(view.page(), &QWebEnginePage::loadFinished, &context_, [this](bool ok) {
      ++finished_;
      lastOk_ = ok;
    });
  }
  bool Wait(int timeoutMs = 15000) {
    const bool loaded = WaitUntil([this] { return finished_ > seen_; }, timeoutMs);
    seen_ = finished_;
    return loaded && lastOk_;
  }

 private:
  QObject context_;
  int finished_ = 0;
  int seen_ = 0;
  bool lastOk_ = false;
};

#endif  // CORVEL_TESTS_QT_TEST_ENVIRONMENT_H_
