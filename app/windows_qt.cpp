#include "app/windows_qt.h"

#include <utility>

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "app/splash_qt.h"
#include "base/app_state.h"
#include "webview/test_hooks_qt.h"

QPointer<QWidget> g_mainWindow;
std::unique_ptr<WebView::QtWebView> g_playerHost;
std::unique_ptr<WebView::QtWebView> g_initHost;

namespace {

const char kWindowIcon[] = ":/corvel/corvel.ico";

std::vector<QPointer<QWidget>> g_windows;

void ShowInFront(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
  window->update();
}

// A main window: black, the loading line until its view covers it, and what the portable
// wiring asks of a window (WindowShell).
class MainWindow : public QWidget, public WindowShell {
 public:
  MainWindow(WindowSize size, bool player) : size_(size), player_(player) {
    setWindowTitle(QString::fromStdWString(MainWindowTitle()));
    const QIcon icon(QString::fromLatin1(kWindowIcon));
    if (!icon.isNull()) {
      setWindowIcon(icon);
    }
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::black);
    setPalette(colours);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    resize(size.width, size.height);
  }

  bool closed() const { return closed_; }

  // The view fills the client area.
  void AddView(QWidget* view) { layout()->addWidget(view); }

  bool Exists() const override { return !closed_; }

  bool SetFullscreen(bool on) override {
    if (on) {
      savedGeometry_ = saveGeometry();
      showFullScreen();
    } else {
      showNormal();
      // The player comes back at its creation size, the init screen where it was.
      if (player_) {
        resize(size_.width, size_.height);
      } else {
        restoreGeometry(savedGeometry_);
      }
    }
    return true;
  }

  void Show() override {
    show();
    update();
  }

  void Reveal() override {
    DestroySplash();
    ShowInFront(this);
  }

  void DismissSplash() override { DestroySplash(); }

  void RunLater(std::function<void()> task) override { QTimer::singleShot(0, this, std::move(task)); }

  bool AskRetry(const std::wstring& text) override {
    QMessageBox box(QMessageBox::Warning, QString::fromStdWString(MainWindowTitle()),
                    QString::fromStdWString(text), QMessageBox::Retry | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Retry);
    WebView::AnswerWhenShown(&box, [&box](const std::string& answer) {
      WebView::TestEvent("retry-box: " + box.text().toStdString());
      const bool retry = answer == "ok" || answer == "yes";
      box.button(retry ? QMessageBox::Retry : QMessageBox::Cancel)->click();
    });
    return box.exec() == QMessageBox::Retry;
  }

  void RestartView() override;

  void Close() override { close(); }

  // What the player's view shows; a new view after a failure shows it again.
  void SetContent(const LinkContent& content) { content_ = content; }

  void FailStart(const std::wstring& summary) override {
    // The box runs a nested loop: never inside the view's event that found the failure.
    QTimer::singleShot(0, this, [this, summary] {
      DestroySplash();
      WebView::ReportEvent("start failed " + QString::fromStdWString(summary).toStdString());
      if (!closed_) {
        QMessageBox::critical(
            this, QStringLiteral("Web View Error"),
            QStringLiteral("Failed to initialize the web view.\n\n") + QString::fromStdWString(summary));
        close();
      }
    });
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    QFont font(QString::fromWCharArray(kLoadingFontFace));
    font.setPixelSize(kLoadingFontPixels);
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    painter.setPen(QColor(kLoadingTextGrey, kLoadingTextGrey, kLoadingTextGrey));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, QString::fromStdWString(kLoadingText));
  }

  void closeEvent(QCloseEvent* event) override {
    event->accept();
    closed_ = true;
    ShutdownWebViewHosts();
    if (g_mainWindow == this) {
      g_mainWindow = nullptr;
    }
    WebView::ReportEvent("window closed");
    QCoreApplication::exit(0);
  }

 private:
  WindowSize size_;
  bool player_;
  LinkContent content_;
  bool closed_ = false;
  QByteArray savedGeometry_;
};

MainWindow* NewMainWindow(WindowSize size, bool player) {
  auto* window = new MainWindow(size, player);
  g_windows.emplace_back(window);
  return window;
}

// A view for `window`, with its data in the folder both windows share.
std::unique_ptr<WebView::QtWebView> NewView(MainWindow* window) {
  const QString folder = WebViewDataFolder();
  QDir().mkpath(QFileInfo(folder).path());
  auto view = std::make_unique<WebView::QtWebView>(window, folder);
  view->page()->setBackgroundColor(QColor(0x12, 0x12, 0x12));
  window->AddView(view->view());
  return view;
}

InitScreenFlags& GetInitScreenState() {
  static InitScreenFlags state;
  return state;
}

void StartPlayerView(MainWindow* window, const LinkContent& content) {
  PlayerWindowState& state = GetPlayerWindowState();
  ResetPlayerWindow(state);
  window->SetContent(content);
  if (!g_playerHost) {  // none made ahead, or a new one after a failure
    g_playerHost = NewView(window);
  }
  g_playerHost->Connect(PlayerViewEvents(*g_playerHost, *window, state, content));
}

void StartInitView(MainWindow* window) {
  g_initHost = NewView(window);
  g_initHost->Connect(InitScreenViewEvents(*g_initHost, *window, GetInitScreenState()));
}

void MainWindow::RestartView() {
  if (closed_) {
    return;
  }
  WebView::ReportEvent("view restarted");
  if (player_) {
    WebView::QtWebView::DestroyWhenIdle(std::move(g_playerHost));
    StartPlayerView(this, content_);
  } else {
    WebView::QtWebView::DestroyWhenIdle(std::move(g_initHost));
    StartInitView(this);
  }
}

}  // namespace

PlayerWindowState& GetPlayerWindowState() {
  static PlayerWindowState state;
  return state;
}

QString WebViewDataFolder() {
  QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (base.isEmpty()) {
    base = QDir::homePath() + QStringLiteral("/.local/share");
  }
  return base + QLatin1Char('/') + QString::fromStdWString(GetAppState().displayName) +
         QStringLiteral("/WebEngineData");
}

QWidget* CreatePlayerFrame() {
  MainWindow* window = NewMainWindow(kPlayerWindowSize, true);
  window->show();
  return window;
}

void StartPlayerBrowser(QWidget* window) {
  auto* frame = dynamic_cast<MainWindow*>(window);
  if (frame != nullptr && !frame->closed() && !g_playerHost) {
    g_playerHost = NewView(frame);
  }
}

bool CreatePlayerWindow(QWidget* window, const LinkContent& content) {
  // The frame may have been closed while the link was processed (a message box was open).
  auto* frame = dynamic_cast<MainWindow*>(window);
  if (frame == nullptr || frame->closed()) {
    return false;
  }
  PlayerWindowState& state = GetPlayerWindowState();
  g_mainWindow = window;
  state.window = window;
  StartPlayerView(frame, content);
  return true;
}

bool CreateInitScreen() {
  MainWindow* window = NewMainWindow(kInitScreenSize, false);
  window->show();
  g_mainWindow = window;
  StartInitView(window);
  return true;
}

void ShutdownWebViewHosts() {
  const bool any = g_playerHost || g_initHost;
  WebView::QtWebView::DestroyWhenIdle(std::move(g_playerHost));
  WebView::QtWebView::DestroyWhenIdle(std::move(g_initHost));
  if (any) {
    WebView::ReportEvent("web views closed");
  }
}

WebView::QtWebView* CurrentWebView() {
  if (g_playerHost) {
    return g_playerHost.get();
  }
  return g_initHost.get();
}

void DestroyMainWindows() {
  ShutdownWebViewHosts();
  for (QPointer<QWidget>& window : g_windows) {
    delete window.data();
  }
  g_windows.clear();
  g_mainWindow = nullptr;
}
