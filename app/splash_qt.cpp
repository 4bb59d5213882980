#include "app/splash_qt.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include "app/splash_geometry.h"
#include "base/stable_names.h"
#include "webview/test_hooks_qt.h"

namespace {

// Compiled in from resources/splash.png (app/CMakeLists.txt); a build without it shows none.
const char kSplashImage[] = ":/corvel/splash.png";
constexpr int kSplashTimeoutMs = 15000;

class SplashWindow : public QWidget {
 public:
  explicit SplashWindow(const QPixmap& image)
      : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
        image_(image) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromWCharArray(kSplashWindowTitle));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawPixmap(rect(), image_);
  }

 private:
  QPixmap image_;
};

QPointer<QWidget> g_splash;

}  // namespace

bool CreateSplash(int maxWidth, int maxHeight) {
  if (g_splash) {
    return true;
  }
  const QPixmap image(QString::fromLatin1(kSplashImage));
  if (image.isNull()) {
    return false;
  }
  QRect screen(0, 0, 0, 0);
  if (const QScreen* primary = QGuiApplication::primaryScreen()) {
    screen = primary->geometry();
  }
  const SplashSize box = SplashTargetBox(maxWidth, maxHeight, screen.width(), screen.height());
  const SplashSize size = FitSplashImage({image.width(), image.height()}, box);
  const SplashPoint corner = CentreOnScreen(size, screen.width(), screen.height());

  auto* window = new SplashWindow(
      image.scaled(size.width, size.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  window->setGeometry(screen.x() + corner.x, screen.y() + corner.y, size.width, size.height);
  window->show();
  g_splash = window;
  QTimer::singleShot(kSplashTimeoutMs, window, [] { DestroySplash(); });
  WebView::TestEvent("splash shown " + std::to_string(size.width) + "x" + std::to_string(size.height));
  return true;
}

void DestroySplash() {
  if (!g_splash) {
    return;
  }
  QWidget* window = g_splash.data();
  g_splash = nullptr;
  window->close();  // deletes it (WA_DeleteOnClose)
  WebView::TestEvent("splash removed");
}
