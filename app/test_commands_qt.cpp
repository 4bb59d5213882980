#include "app/test_commands_qt.h"

#include <unistd.h>

#include <string>

#include <QCoreApplication>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include "app/windows_qt.h"
#include "webview/test_hooks_qt.h"

namespace {

using WebView::TestEvent;

void RunJs(const QString& script) {
  WebView::QtWebView* view = CurrentWebView();
  if (view == nullptr) {
    TestEvent("js-result (no view)");
    return;
  }
  view->page()->runJavaScript(script, QWebEngineScript::MainWorld, [](const QVariant& value) {
    TestEvent("js-result " + value.toString().toStdString());
  });
}

void SaveScreenshot(const QString& file) {
  QWidget* window = g_mainWindow;
  if (window == nullptr) {
    TestEvent("screenshot-failed " + file.toStdString());
    return;
  }
  // What the display shows of the window: the engine draws outside the widget tree.
  QPixmap image;
  if (QScreen* screen = window->screen()) {
    image = screen->grabWindow(window->winId());
  }
  if (image.isNull()) {
    image = window->grab();
  }
  const bool saved = !image.isNull() && image.save(file, "PNG");
  TestEvent((saved ? "screenshot " : "screenshot-failed ") + file.toStdString());
}

void RunCommand(const QString& line) {
  const QString command = line.section(QLatin1Char(' '), 0, 0);
  const QString argument = line.section(QLatin1Char(' '), 1);
  if (command == QStringLiteral("js")) {
    RunJs(argument);
  } else if (command == QStringLiteral("close")) {
    if (g_mainWindow) {
      g_mainWindow->close();
    } else {
      TestEvent("close (no window)");
    }
  } else if (command == QStringLiteral("screenshot")) {
    SaveScreenshot(argument);
  } else if (command == QStringLiteral("window")) {
    QWidget* window = g_mainWindow;
    if (window == nullptr) {
      TestEvent("window (none)");
    } else {
      TestEvent("window title=" + window->windowTitle().toStdString() +
                " size=" + std::to_string(window->width()) + "x" + std::to_string(window->height()) +
                " visible=" + (window->isVisible() ? "1" : "0") +
                " fullscreen=" + (window->isFullScreen() ? "1" : "0"));
    }
  } else if (!command.isEmpty()) {
    TestEvent("unknown-command " + command.toStdString());
  }
}

class CommandReader : public QObject {
 public:
  explicit CommandReader(QObject* parent)
      : QObject(parent), notifier_(STDIN_FILENO, QSocketNotifier::Read, this) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { Read(); });
  }

 private:
  void Read() {
    char chunk[4096];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count <= 0) {
      notifier_.setEnabled(false);  // end of input: no more commands
      return;
    }
    pending_.append(chunk, static_cast<int>(count));
    for (int end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
      const QString line = QString::fromUtf8(pending_.left(end)).trimmed();
      pending_.remove(0, end + 1);
      RunCommand(line);
    }
  }

  QSocketNotifier notifier_;
  QByteArray pending_;
};

}  // namespace

void StartTestCommands() {
  if (!WebView::TestHooksEnabled() || QCoreApplication::instance() == nullptr) {
    return;
  }
  new CommandReader(QCoreApplication::instance());
}
