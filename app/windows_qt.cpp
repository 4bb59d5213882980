#include "app/windows_qt.h"

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

#include "app/splash_qt.h"
#include "base/app_state.h"
#include "config/config.h"
#include "net/pinning.h"
#include "text/text.h"
#include "webview/navigation_policy.h"
#include "webview/preparation.h"
#include "webview/printing_qt.h"
#include "webview/test_hooks_qt.h"

QPointer<QWidget> g_mainWindow;
std::unique_ptr<WebView::QtWebView> g_playerHost;
std::unique_ptr<WebView::QtWebView> g_initHost;

namespace {

using WebView::TestEvent;

const char kWindowIcon[] = ":/corvel/corvel.ico";

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

class MainWindow : public QWidget {
 public:
  explicit MainWindow(WindowSize size) {
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

MainWindow* NewMainWindow(WindowSize size) {
  auto* window = new MainWindow(size);
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
  const std::optional<PinGateTarget> target = PinGateTargetOf(uri);
  if (!target) {
    return true;
  }
  // An HTTPS address whose host cannot be read for certain is not loaded at all.
  const WebGateAnswer answer =
      target->host.empty() ? WebGateAnswer::kRefuse : PassWebHostGate(target->host, target->port);
  if (answer == WebGateAnswer::kAllow) {
    return true;
  }
  TestEvent("request blocked by pin gate " + Narrow(uri));
  if (answer == WebGateAnswer::kRefuseAndWarn) {
    // One warning per refused host: later requests to it are blocked without another.
    try {
      std::thread(ShowWebPinFailureNotice, target->host).detach();
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

// Applies what the portable rules decided for the player window.
void ApplyPlayerAction(PlayerWindowAction action) {
  PlayerWindowState& state = GetPlayerWindowState();
  switch (action) {
    case PlayerWindowAction::kPrint:
      RequestPrint(g_playerHost, state.window);
      return;
    case PlayerWindowAction::kEnterFullscreen:
      state.window->showFullScreen();
      break;
    case PlayerWindowAction::kLeaveFullscreen:
      state.window->showNormal();
      state.window->resize(kPlayerWindowSize.width, kPlayerWindowSize.height);
      break;
    case PlayerWindowAction::kShow:
      state.window->show();
      state.window->update();
      break;
    case PlayerWindowAction::kReveal:
      DestroySplash();
      if (state.window) {
        ShowInFront(state.window);
      }
      break;
    case PlayerWindowAction::kNone:
      return;
  }
  RecordPlayerAction(state, action);
  if (action == PlayerWindowAction::kEnterFullscreen || action == PlayerWindowAction::kLeaveFullscreen) {
    TestEvent(std::string("fullscreen ") + (state.fullscreen ? "1" : "0"));
  } else if (action == PlayerWindowAction::kShow) {
    TestEvent("revealed by page");
  } else {
    TestEvent("revealed");
  }
}

void PlayerMessage(const std::wstring& message) {
  CallbackScope scope;
  TestEvent("web-message " + Narrow(message));
  const PlayerWindowState& state = GetPlayerWindowState();
  ApplyPlayerAction(PlayerPageMessageAction(state, !state.window.isNull(), message));
}

// The init screen's full-screen state and the geometry it returns to.
struct InitScreenState : InitScreenFlags {
  QByteArray savedGeometry;
};

InitScreenState& GetInitScreenState() {
  static InitScreenState state;
  return state;
}

void ApplyInitAction(QWidget* window, InitScreenAction action) {
  InitScreenState& state = GetInitScreenState();
  switch (action) {
    case InitScreenAction::kPrint:
      RequestPrint(g_initHost, window);
      return;
    case InitScreenAction::kHome:
      g_initHost->Navigate(config::InitHomeUrl());
      return;
    case InitScreenAction::kBack:
      g_initHost->GoBack();
      return;
    case InitScreenAction::kReload:
      g_initHost->Reload();
      return;
    case InitScreenAction::kEnterFullscreen:
      state.savedGeometry = window->saveGeometry();
      window->showFullScreen();
      break;
    case InitScreenAction::kLeaveFullscreen:
      window->showNormal();
      window->restoreGeometry(state.savedGeometry);
      break;
    case InitScreenAction::kNone:
      return;
  }
  RecordInitAction(state, action);
  TestEvent(std::string("fullscreen ") + (state.fullscreen ? "1" : "0"));
}

void InitMessage(QWidget* window, const std::wstring& message) {
  CallbackScope scope;
  TestEvent("web-message " + Narrow(message));
  if (!g_initHost) {
    return;
  }
  ApplyInitAction(window, InitPageMessageAction(GetInitScreenState(), message));
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
  MainWindow* window = NewMainWindow(kPlayerWindowSize);
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
  ResetPlayerWindow(state);

  const QString folder = WebViewDataFolder();
  QDir().mkpath(QFileInfo(folder).path());
  g_playerHost = std::make_unique<WebView::QtWebView>(window, folder);
  WebView::QtWebView& host = *g_playerHost;
  InstallCommonHooks(host);
  AddView(window, host.view());

  host.onWebMessage = PlayerMessage;
  host.acceptsMessagesFrom = [](const std::wstring& source, bool composedPage) {
    const bool heard = PlayerHearsMessagesFrom(source, composedPage);
    if (!heard) {
      TestEvent("web-message ignored from " + Narrow(source).substr(0, 200));
    }
    return heard;
  };
  host.answerPermission = [](PagePermission permission, const std::wstring& origin) {
    const PermissionAnswer answer = PlayerPermission(permission, origin);
    TestEvent(std::string("permission ") +
              (answer == PermissionAnswer::kAllow  ? "granted "
               : answer == PermissionAnswer::kDeny ? "denied "
                                                   : "default ") +
              Narrow(origin).substr(0, 200));
    return answer;
  };
  host.onWebResourceRequested = [](const std::wstring& uri, QWebEngineUrlRequestInfo& request) {
    for (const auto& [name, value] : PlayerRequestHeaders(uri)) {
      request.setHttpHeader(QByteArray::fromStdString(Narrow(name)),
                            QByteArray::fromStdString(Narrow(value)));
      TestEvent("request header " + Narrow(name) + " " + Narrow(value) + " " + Narrow(uri).substr(0, 200));
    }
  };
  host.onNavigationStarting = [](const std::wstring& uri, bool& cancel) {
    CallbackScope scope;
    cancel = PlayerCancelsNavigation(uri);
    TestEvent(std::string("navigation ") + (cancel ? "blocked " : "allowed ") + Narrow(uri).substr(0, 300));
  };
  host.Apply(PlanPlayerPreparation(GetAppState()), [] { ApplyPlayerAction(PlayerWindowAction::kReveal); });
  return true;
}

bool CreateInitScreen() {
  MainWindow* window = NewMainWindow(kInitScreenSize);
  window->show();
  g_mainWindow = window;

  const QString folder = WebViewDataFolder();
  QDir().mkpath(QFileInfo(folder).path());
  g_initHost = std::make_unique<WebView::QtWebView>(window, folder);
  WebView::QtWebView& host = *g_initHost;
  InstallCommonHooks(host);
  AddView(window, host.view());

  host.answerPermission = InitScreenPermission;
  QPointer<QWidget> guard(window);
  host.onWebMessage = [guard](const std::wstring& message) {
    if (guard) {
      InitMessage(guard, message);
    }
  };
  host.onNavigationStarting = [](const std::wstring& uri, bool&) {
    if (const std::optional<std::wstring> domain = FollowPlatformSite(uri)) {
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
