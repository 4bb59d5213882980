#include "app/windows_qt.h"

#include <algorithm>
#include <thread>
#include <utility>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QPainter>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineView>

#include "core/app_state.h"
#include "app/splash_qt.h"
#include "config/config.h"
#include "net/pinning.h"
#include "text/text.h"
#include "webview/navigation_policy.h"
#include "webview/page_messages.h"
#include "webview/preparation.h"
#include "webview/printing_qt.h"
#include "webview/test_hooks_qt.h"

QPointer<QWidget> g_mainWindow;
std::unique_ptr<WebView::QtWebView> g_playerHost;
std::unique_ptr<WebView::QtWebView> g_initHost;

namespace {

using WebView::TestEvent;

const wchar_t kLoadingText[] = L"جاري التحميل... Loading...";
const char kWindowIcon[] = ":/corvel/corvel.ico";
constexpr int kPlayerWidth = 1280;
constexpr int kPlayerHeight = 720;
constexpr int kInitWidth = 1024;
constexpr int kInitHeight = 768;

std::vector<QPointer<QWidget>> g_windows;

// A web view must not be freed while one of its own callbacks runs further up the stack (the
// printer choice and the fatal dialog run nested event loops inside them, in which the window
// may close). Views closed meanwhile wait here, hidden and stopped, until the callbacks return.
int g_callbackDepth = 0;
std::vector<std::unique_ptr<WebView::QtWebView>> g_closedViews;

class CallbackScope {
 public:
  CallbackScope() { ++g_callbackDepth; }
  ~CallbackScope() { --g_callbackDepth; }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
};

void FreeClosedViews() {
  if (g_closedViews.empty()) {
    return;
  }
  if (g_callbackDepth > 0) {
    QTimer::singleShot(50, [] { FreeClosedViews(); });
    return;
  }
  g_closedViews.clear();
}

void CloseView(std::unique_ptr<WebView::QtWebView> view) {
  if (!view) {
    return;
  }
  if (g_callbackDepth == 0) {
    view.reset();
    return;
  }
  view->page()->triggerAction(QWebEnginePage::Stop);
  view->view()->hide();
  g_closedViews.push_back(std::move(view));
  QTimer::singleShot(0, [] { FreeClosedViews(); });
}

std::string Narrow(const std::wstring& text) {
  return Utf16ToUtf8(text);
}

QString WindowTitle() {
  const AppState& state = GetAppState();
  return QString::fromStdWString(state.displayName + L" V " + state.versionText);
}

class MainWindow : public QWidget {
 public:
  MainWindow(int width, int height) {
    setWindowTitle(WindowTitle());
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
    resize(width, height);
  }

  bool closed() const { return closed_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    QFont font(QStringLiteral("Segoe UI"));
    font.setPixelSize(24);
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    painter.setPen(QColor(200, 200, 200));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, QString::fromStdWString(kLoadingText));
  }

  void closeEvent(QCloseEvent* event) override {
    event->accept();
    closed_ = true;
    ShutdownWebViewHosts();
    if (g_mainWindow == this) {
      g_mainWindow = nullptr;
    }
    TestEvent("window closed");
    QCoreApplication::exit(0);
  }

 private:
  bool closed_ = false;
};

// The view fills the window's client area.
void AddView(QWidget* window, QWidget* view) {
  QLayout* layout = window->layout();
  if (layout == nullptr) {
    layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
  }
  layout->addWidget(view);
}

MainWindow* NewMainWindow(int width, int height) {
  auto* window = new MainWindow(width, height);
  g_windows.emplace_back(window);
  return window;
}

// The engine refuses certificates it cannot trust by its own roots; the platform's servers are
// trusted by their pinned keys instead, as the player's own HTTPS requests are.
bool AcceptPinnedCertificate(const std::wstring& host, const std::vector<std::string>& derChain) {
  const bool accepted = ChainMatchesPins(host, derChain);
  TestEvent("certificate " + std::string(accepted ? "accepted " : "refused ") + Narrow(host));
  return accepted;
}

// The pin gate: an HTTPS host whose pin check fails is blocked, and the interception notice
// starts on a thread of its own (it waits a moment, then ends the process).
bool PassesPinGate(const std::wstring& uri) {
  CallbackScope scope;
  const std::optional<std::wstring> host = PinGateHost(uri);
  if (!host) {
    return true;
  }
  const WebGateAnswer answer = PassWebHostGate(*host);
  if (answer == WebGateAnswer::kAllow) {
    return true;
  }
  TestEvent("request blocked by pin gate " + Narrow(uri));
  if (answer == WebGateAnswer::kRefuseAndWarn) {
    // One warning per refused host: later requests to it are blocked without another.
    try {
      std::thread(ShowWebPinFailureNotice, *host).detach();
    } catch (...) {
      // Without a thread there is no notice; the request stays blocked.
    }
  }
  return false;
}

void InstallCommonHooks(WebView::QtWebView& host) {
  host.page()->setBackgroundColor(QColor(0x12, 0x12, 0x12));
  host.requestGate = PassesPinGate;
  host.acceptCertificate = AcceptPinnedCertificate;
  if (WebView::TestHooksEnabled()) {
    QWebEnginePage* page = host.page();
    QObject::connect(page, &QWebEnginePage::loadFinished, page, [page](bool ok) {
      TestEvent(std::string("load-finished ") + (ok ? "1 " : "0 ") +
                page->url().toString().left(200).toStdString());
    });
    QObject::connect(page, &QWebEnginePage::titleChanged, page,
                     [](const QString& title) { TestEvent("title " + title.toStdString()); });
  }
}

void ShowInFront(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
  window->update();
}

void RevealPlayer() {
  PlayerWindowState& state = GetPlayerWindowState();
  state.revealed = true;
  DestroySplash();
  if (state.window) {
    ShowInFront(state.window);
  }
  TestEvent("revealed");
}

void TogglePlayerFullscreen() {
  PlayerWindowState& state = GetPlayerWindowState();
  if (!state.window) {
    return;
  }
  state.fullscreen = !state.fullscreen;
  if (state.fullscreen) {
    state.window->showFullScreen();
  } else {
    state.window->showNormal();
    state.window->resize(kPlayerWidth, kPlayerHeight);
  }
  TestEvent(std::string("fullscreen ") + (state.fullscreen ? "1" : "0"));
}

// A page's print request: accepted here, in the page-message callback, and shown from the
// event loop once the callback has returned (the printer choice runs a nested loop). The view
// that asked must still be the window's own by then; a closed one is left alone.
void RequestPrint(std::unique_ptr<WebView::QtWebView>& slot, QWidget* owner) {
  if (!slot || !WebView::AcceptPrintRequest(*slot)) {
    return;
  }
  WebView::QtWebView* host = slot.get();
  QPointer<QWidget> window(owner);
  QTimer::singleShot(0, host->page(), [&slot, host, window] {
    CallbackScope scope;
    if (slot.get() == host) {
      WebView::RunPrintRequest(*host, window);
    }
  });
}

void PlayerMessage(const std::wstring& message) {
  CallbackScope scope;
  TestEvent("web-message " + Narrow(message));
  PlayerWindowState& state = GetPlayerWindowState();
  switch (DispatchPlayerMessage(message)) {
    case PlayerMessageAction::Print:
      RequestPrint(g_playerHost, state.window);
      break;
    case PlayerMessageAction::ToggleFullscreen:
      TogglePlayerFullscreen();
      break;
    case PlayerMessageAction::PageLoaded:
      if (state.window && !state.revealed) {
        state.revealed = true;
        state.window->show();
        state.window->update();
        TestEvent("revealed by page");
      }
      break;
    case PlayerMessageAction::None:
      break;
  }
}

struct InitScreenState {
  bool fullscreen = false;
  QByteArray savedGeometry;
};

InitScreenState& GetInitScreenState() {
  static InitScreenState state;
  return state;
}

void ToggleInitFullscreen(QWidget* window) {
  InitScreenState& state = GetInitScreenState();
  if (state.fullscreen) {
    window->showNormal();
    window->restoreGeometry(state.savedGeometry);
    state.fullscreen = false;
  } else {
    state.savedGeometry = window->saveGeometry();
    window->showFullScreen();
    state.fullscreen = true;
  }
  TestEvent(std::string("fullscreen ") + (state.fullscreen ? "1" : "0"));
}

void InitMessage(QWidget* window, const std::wstring& message) {
  CallbackScope scope;
  TestEvent("web-message " + Narrow(message));
  if (!g_initHost) {
    return;
  }
  switch (DispatchInitMessage(message)) {
    case InitMessageAction::Print:
      RequestPrint(g_initHost, window);
      break;
    case InitMessageAction::Home:
      g_initHost->Navigate(config::InitHomeUrl());
      break;
    case InitMessageAction::Back:
      g_initHost->GoBack();
      break;
    case InitMessageAction::Reload:
      g_initHost->Reload();
      break;
    case InitMessageAction::ToggleFullscreen:
      ToggleInitFullscreen(window);
      break;
    case InitMessageAction::None:
      break;
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

bool ChainMatchesPins(const std::wstring& host, const std::vector<std::string>& derChain) {
  const std::optional<PinEntry> entry = LookupPins(host);
  if (!entry || entry->pins.empty()) {
    return false;
  }
  // Only the chain built from the server's certificate with verified signatures counts: a
  // pinned certificate that was merely sent along proves nothing.
  const PresentedChain chain = InspectServerChain(derChain, host, entry->pins);
  return chain.chainBuilt &&
         std::any_of(chain.pins.begin(), chain.pins.end(), [&entry](const std::string& pin) {
           return !pin.empty() && std::find(entry->pins.begin(), entry->pins.end(), pin) != entry->pins.end();
         });
}

QWidget* CreatePlayerFrame() {
  MainWindow* window = NewMainWindow(kPlayerWidth, kPlayerHeight);
  window->show();
  return window;
}

bool CreatePlayerWindow(QWidget* window) {
  // The frame may have been closed while the link was processed (a message box was open).
  const auto* frame = dynamic_cast<MainWindow*>(window);
  if (window == nullptr || (frame != nullptr && frame->closed())) {
    return false;
  }
  PlayerWindowState& state = GetPlayerWindowState();
  g_mainWindow = window;
  state.window = window;
  state.revealed = false;

  const QString folder = WebViewDataFolder();
  QDir().mkpath(QFileInfo(folder).path());
  g_playerHost = std::make_unique<WebView::QtWebView>(window, folder);
  WebView::QtWebView& host = *g_playerHost;
  InstallCommonHooks(host);
  AddView(window, host.view());

  host.onWebMessage = PlayerMessage;
  host.onWebResourceRequested = [](const std::wstring& uri, QWebEngineUrlRequestInfo& request) {
    if (const std::optional<std::wstring> referer = PlayerRefererFor(uri, GetAppState().platformDomain)) {
      request.setHttpHeader("Referer", QByteArray::fromStdString(Narrow(*referer)));
    }
  };
  host.onNavigationStarting = [](const std::wstring& uri, bool& cancel) {
    CallbackScope scope;
    const AppState& app = GetAppState();
    cancel = !PlayerAllowsNavigation(uri, app.contentUrl, app.platformDomain, app.contentKind);
    TestEvent(std::string("navigation ") + (cancel ? "blocked " : "allowed ") + Narrow(uri).substr(0, 300));
  };
  host.Apply(PlanPlayerPreparation(GetAppState()), RevealPlayer);
  return true;
}

bool CreateInitScreen() {
  MainWindow* window = NewMainWindow(kInitWidth, kInitHeight);
  window->show();
  g_mainWindow = window;

  const QString folder = WebViewDataFolder();
  QDir().mkpath(QFileInfo(folder).path());
  g_initHost = std::make_unique<WebView::QtWebView>(window, folder);
  WebView::QtWebView& host = *g_initHost;
  InstallCommonHooks(host);
  AddView(window, host.view());

  QPointer<QWidget> guard(window);
  host.onWebMessage = [guard](const std::wstring& message) {
    if (guard) {
      InitMessage(guard, message);
    }
  };
  host.onNavigationStarting = [](const std::wstring& uri, bool&) {
    AppState& app = GetAppState();
    if (const std::optional<std::wstring> domain = TrackPlatformSite(uri, app.platformDomain)) {
      app.platformDomain = *domain;
      TestEvent("platform-domain " + Narrow(*domain));
    }
    TestEvent("navigation allowed " + Narrow(uri).substr(0, 300));
  };
  host.onLoadFinished = [guard](bool) {
    DestroySplash();
    if (guard) {
      ShowInFront(guard);
      TestEvent("init shown");
    }
  };
  host.onWebResourceRequested = [](const std::wstring&, QWebEngineUrlRequestInfo& request) {
    for (const auto& [name, value] : InitScreenRequestHeaders()) {
      request.setHttpHeader(QByteArray::fromStdString(Narrow(name)),
                            QByteArray::fromStdString(Narrow(value)));
    }
  };
  host.Apply(PlanInitPreparation(), nullptr);
  return true;
}

void ShutdownWebViewHosts() {
  const bool any = g_playerHost || g_initHost;
  CloseView(std::move(g_playerHost));
  g_playerHost = nullptr;
  CloseView(std::move(g_initHost));
  g_initHost = nullptr;
  if (any) {
    TestEvent("web views closed");
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
  g_closedViews.clear();
  for (QPointer<QWidget>& window : g_windows) {
    delete window.data();
  }
  g_windows.clear();
  g_mainWindow = nullptr;
}
