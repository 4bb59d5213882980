// The yardstick of the launch benchmark (tools/bench-launch): the least a Qt WebEngine program
// can do to show an address. One window with one view that loads the address at once, nothing
// checked, nothing injected; plugins are on, as the engine's PDF viewer needs them. Writes "corvel-event:
// load-finished <0|1> <address>" on standard error when the page has loaded, the line the player writes, and
// ends on "close" from standard input or when the window is closed.
//
//   corvel-plain-view ADDRESS
//
// The reference platform's test certificate is not one the engine trusts; it is accepted for
// loopback addresses only. As root the engine runs without its sandbox, as the player's does.
#include <cstdio>

#include <QApplication>
#include <QSocketNotifier>
#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvel-plain-view ADDRESS\n");
    return 2;
  }
  if (geteuid() == 0) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
  QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  const QUrl address(QString::fromUtf8(argv[1]));

  QWebEngineView view;
  view.settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);  // the PDF viewer is one
  QObject::connect(view.page(), &QWebEnginePage::certificateError, [](QWebEngineCertificateError error) {
    if (error.url().host() == QStringLiteral("127.0.0.1")) {
      error.acceptCertificate();
    } else {
      error.rejectCertificate();
    }
  });
  QObject::connect(&view, &QWebEngineView::loadFinished, [&view](bool ok) {
    std::fprintf(stderr, "corvel-event: load-finished %d %s\n", ok ? 1 : 0,
                 view.url().toString().toUtf8().constData());
    std::fflush(stderr);
  });
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&input] {
    char line[256];
    if (fgets(line, sizeof line, stdin) == nullptr || QByteArray(line).trimmed() == "close") {
      input.setEnabled(false);
      QApplication::quit();
    }
  });
  view.resize(1280, 720);
  view.show();
  view.load(address);
  return QApplication::exec();
}
