#include "webview/web_view_qt.h"

#include <unistd.h>

#include <cstdio>

#include <QCoreApplication>
#include <QFile>
#include <QSslCertificate>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include "config/config.h"
#include "net/http_client.h"
#include "net/pinning.h"
#include "text/text.h"
#include "webview/navigation_policy.h"
#include "webview/pdf_print_qt.h"
#include "webview/print_result.h"
#include "webview/printing_qt.h"

namespace WebView {

namespace {

// The name under which the page's messaging script finds the host's object on the web channel.
const char kChannelObject[] = "corvelHost";

// The stand-in for the Windows host's messaging object, in the main world of the top document
// only, added first so that it exists before the injected scripts and the page's own scripts run.
// Messages go over the web channel, whose transport (qt.webChannelTransport) the engine gives to
// the top document alone; they wait, in order, until the channel is open. %1 is the web channel's
// own client library, kept inside this function.
const char kMessagingScript[] = R"JS((function () {
  var chromeObject = window.chrome;
  if (!chromeObject) {
    chromeObject = {};
    window.chrome = chromeObject;
  }
  if (chromeObject.webview) {
    return;
  }
  var QWebChannel = (function () {
%1
    return QWebChannel;
  })();
  var waiting = [];
  var host = null;
  function flush() {
    while (host && waiting.length) {
      host.post(waiting.shift());
    }
  }
  var attempts = 0;
  (function open() {
    var transport = window.qt && window.qt.webChannelTransport;
    if (!transport) {
      // The engine may install the transport a moment after the document is created.
      if (++attempts < 500) {
        setTimeout(open, 10);
      }
      return;
    }
    new QWebChannel(transport, function (channel) {
      host = channel.objects.%2;
      flush();
    });
  })();
  var events = new EventTarget();
  var webview = {};
  Object.defineProperties(webview, {
    postMessage: {
      value: function (message) {
        var text = typeof message === 'string' ? message : JSON.stringify(message);
        if (typeof text !== 'string') {
          throw new TypeError('postMessage: the value has no JSON form');
        }
        waiting.push(text);
        flush();
      }
    },
    addEventListener: {value: events.addEventListener.bind(events)},
    removeEventListener: {value: events.removeEventListener.bind(events)},
    _corvelDeliver: {
      value: function (json) {
        events.dispatchEvent(new MessageEvent('message', {data: JSON.parse(json)}));
      }
    }
  });
  Object.defineProperty(chromeObject, 'webview', {value: webview, enumerable: true});
})();)JS";

// The client side of the web channel, shipped inside the Qt WebChannel library.
QString WebChannelClientLibrary() {
  QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// What the page's messaging script calls; one per view, published on the view's web channel.
class MessageReceiver : public QObject {
  Q_OBJECT

 public:
  explicit MessageReceiver(std::function<void(const QString&)> deliver) : deliver_(std::move(deliver)) {}

 public slots:
  void post(const QString& text) { deliver_(text); }

 private:
  std::function<void(const QString&)> deliver_;
};

QString ToQString(const std::wstring& text) {
  return QString::fromStdWString(text);
}

PagePermission PermissionOf(QWebEnginePage::Feature feature) {
  switch (feature) {
    case QWebEnginePage::MediaAudioCapture:
      return PagePermission::kMicrophone;
    case QWebEnginePage::MediaVideoCapture:
      return PagePermission::kCamera;
    case QWebEnginePage::MediaAudioVideoCapture:
      return PagePermission::kMicrophoneAndCamera;
    case QWebEnginePage::Notifications:
      return PagePermission::kNotifications;
    default:
      return PagePermission::kOther;
  }
}

}  // namespace

void PrepareEngineEnvironment() {
  const bool root = geteuid() == 0;
  if (root && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
  // The engine reads any value of the variable, even an empty one, as "off".
  if (qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
    std::fprintf(stderr, "The web view's renderer sandbox is off (%s).\n",
                 root ? "the player runs as root, where the sandbox cannot start"
                      : "QTWEBENGINE_DISABLE_SANDBOX is set");
    std::fflush(stderr);
  }
}

class QtWebView::Page : public QWebEnginePage {
 public:
  Page(QWebEngineProfile* profile, QtWebView* owner) : QWebEnginePage(profile), owner_(owner) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    // Frames navigate freely, as in WebView2, whose policy sees top-level navigations.
    return !isMainFrame || owner_->NavigationStarting(url);
  }

  // A new window (target=_blank, window.open) loads in this page instead: the engine then
  // navigates this page to the address, through acceptNavigationRequest like any navigation.
  QWebEnginePage* createWindow(WebWindowType) override { return this; }

 private:
  QtWebView* owner_;
};

class QtWebView::RequestInterceptor : public QWebEngineUrlRequestInterceptor {
 public:
  explicit RequestInterceptor(QtWebView* owner) : owner_(owner) {}
  void interceptRequest(QWebEngineUrlRequestInfo& info) override { owner_->RequestStarting(info); }

 private:
  QtWebView* owner_;
};

namespace {

// The print of one request: the platform's printer choice over the view's window, then the
// engine's print to the chosen printer.
class QtPrintBackend final : public PrintBackend {
 public:
  QtPrintBackend(QtWebView& view,
                 const QtViewPlatform& platform,
                 const std::optional<PrintedDocument>& document)
      : view_(view), platform_(platform), document_(document) {}

  std::wstring ChoosePrinter() override {
    return platform_.choosePrinter ? platform_.choosePrinter(view_.view()->window()) : std::wstring();
  }

  void PrintTo(const std::wstring& printer, std::function<void(PrintOutcome)> done) override {
    const std::shared_ptr<QPrinter> target = MakePrinter(printer);
    if (!target) {
      done(PrintOutcome::kPrinterUnavailable);
      return;
    }
    if (document_) {
      QPointer<QWebEnginePage> page(view_.view()->page());
      QtWebView* view = &view_;
      PrintPdfDocument(QtPdfPrintServices(target, platform_.fetchDocument,
                                          [page, view](const std::wstring& json) {
                                            if (page)
                                              view->PostWebMessageAsJson(json);
                                          }),
                       *document_, std::move(done));
      return;
    }
    // The engine prints one page at a time; a second print while one runs fails at once.
    if (!view_.PrintTo(target,
                       [done](bool ok) { done(ok ? PrintOutcome::kSuccess : PrintOutcome::kPrintFailed); }))
      done(PrintOutcome::kPrintFailed);
  }

 private:
  QtWebView& view_;
  const QtViewPlatform& platform_;
  const std::optional<PrintedDocument>& document_;
};

}  // namespace

QtViewPlatform DefaultQtViewPlatform() {
  QtViewPlatform platform;
  platform.requestGate = [gate = DefaultPinGate()](const std::wstring& uri) {
    return PassesPinGate(gate, uri);
  };
  platform.pinnedChainTrusted = ChainMatchesPins;
  platform.choosePrinter = [](QWidget* owner) { return SelectPrinter(owner, EnumeratePrinters()); };
  platform.fetchDocument = FetchVerified;
  return platform;
}

QtWebView::QtWebView(QWidget* parent, const QString& storagePath, QtViewPlatform platform)
    : platform_(std::move(platform)) {
  if (storagePath.isEmpty()) {
    profile_ = std::make_unique<QWebEngineProfile>();
  } else {
    profile_ = std::make_unique<QWebEngineProfile>(QStringLiteral("corvel"));
    profile_->setPersistentStoragePath(storagePath);
    profile_->setCachePath(storagePath + QStringLiteral("/cache"));
  }
  // Nothing leaves as a download; unaccepted requests are cancelled by the engine too, but the
  // refusal must not depend on that.
  QObject::connect(profile_.get(), &QWebEngineProfile::downloadRequested,
                   [](QWebEngineDownloadRequest* download) { download->cancel(); });
  page_ = std::make_unique<Page>(profile_.get(), this);
  interceptor_ = std::make_unique<RequestInterceptor>(this);
  page_->setUrlRequestInterceptor(interceptor_.get());

  messages_ = std::make_unique<MessageReceiver>([this](const QString& text) { MessageFromPage(text); });
  channel_ = std::make_unique<QWebChannel>();
  channel_->registerObject(QString::fromLatin1(kChannelObject), messages_.get());
  page_->setWebChannel(channel_.get(), QWebEngineScript::MainWorld);

  QWebEngineScript messaging;
  messaging.setName(QStringLiteral("corvel-messaging"));
  messaging.setSourceCode(QString::fromUtf8(kMessagingScript)
                              .arg(WebChannelClientLibrary(), QString::fromLatin1(kChannelObject)));
  messaging.setInjectionPoint(QWebEngineScript::DocumentCreation);
  messaging.setWorldId(QWebEngineScript::MainWorld);
  messaging.setRunsOnSubFrames(false);
  page_->scripts().insert(messaging);

  QWebEnginePage* page = page_.get();
  QObject::connect(page, &QWebEnginePage::loadFinished, [this](bool ok) { LoadFinished(ok); });
  QObject::connect(page, &QWebEnginePage::titleChanged,
                   [](const QString& title) { ReportEvent("title " + title.toStdString()); });
  QObject::connect(page, &QWebEnginePage::fullScreenRequested, [this](QWebEngineFullScreenRequest request) {
    const EventScope scope(*this);
    if (!events_.fullscreenElement) {
      request.reject();
      return;
    }
    request.accept();
    try {
      events_.fullscreenElement(request.toggleOn());
    } catch (...) {
    }
  });
  // Qt keeps the browser in this process: only a renderer can fail on its own. The window
  // reloads or replaces the view: from the loop, after the engine's signal.
  QObject::connect(page, &QWebEnginePage::renderProcessTerminated,
                   [this, page](QWebEnginePage::RenderProcessTerminationStatus, int) {
                     QTimer::singleShot(0, page, [this] {
                       const EventScope scope(*this);
                       try {
                         if (!closed_ && events_.processFailed) {
                           events_.processFailed(ViewFailure::kRendererExited);
                         }
                       } catch (...) {
                       }
                     });
                   });
  QObject::connect(
      page, &QWebEnginePage::featurePermissionRequested,
      [this, page](const QUrl& origin, QWebEnginePage::Feature feature) {
        const EventScope scope(*this);
        const PagePermission permission = PermissionOf(feature);
        PermissionAnswer answer =
            permission == PagePermission::kOther ? PermissionAnswer::kDefault : PermissionAnswer::kDeny;
        try {
          if (events_.permission)
            answer = events_.permission(permission, origin.toString(QUrl::FullyEncoded).toStdWString());
        } catch (...) {
          answer = PermissionAnswer::kDeny;
        }
        if (answer == PermissionAnswer::kAllow) {
          page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionGrantedByUser);
        } else if (answer == PermissionAnswer::kDeny) {
          page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
        }
      });
  QObject::connect(page, &QWebEnginePage::certificateError, [this](const QWebEngineCertificateError& error) {
    bool accept = false;
    const std::wstring host = error.url().host().toStdWString();
    try {
      // Only an unknown issuer can be made good by a pinned key; a wrong name, a lapsed date or
      // a revoked certificate stays an error (and the pinned check repeats the name and dates:
      // the engine reports the first of several errors only).
      if (platform_.pinnedChainTrusted && error.isOverridable() &&
          error.type() == QWebEngineCertificateError::CertificateAuthorityInvalid) {
        std::vector<std::string> chain;
        for (const QSslCertificate& certificate : error.certificateChain()) {
          const QByteArray der = certificate.toDer();
          chain.emplace_back(der.constData(), static_cast<std::size_t>(der.size()));
        }
        accept = platform_.pinnedChainTrusted(host, chain);
        ReportEvent(std::string(accept ? "certificate accepted " : "certificate refused ") +
                    Utf16ToUtf8(host));
      }
    } catch (...) {
      accept = false;
    }
    QWebEngineCertificateError answer = error;
    if (accept) {
      answer.acceptCertificate();
    } else {
      answer.rejectCertificate();
    }
  });

  // A local document (the composed page, a file: address that got through) may neither read
  // the student's files nor fetch from the network with the rights of a local page.
  QWebEngineSettings* settings = page_->settings();
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);

  view_ = new QWebEngineView(parent);
  view_->setPage(page_.get());
}

QtWebView::~QtWebView() {
  // The view goes before its page, the page before its web channel, interceptor and profile.
  delete view_.data();
  page_.reset();
  channel_.reset();
  messages_.reset();
  interceptor_.reset();
  profile_.reset();
}

void QtWebView::Connect(ViewEvents events) {
  events_ = std::move(events);
  // The engine is ready as soon as the object exists; the window hears it from the event loop,
  // as it would hear a view that takes its time.
  QTimer::singleShot(0, page_.get(), [this] {
    const EventScope scope(*this);
    try {
      if (!closed_ && events_.ready)
        events_.ready(true);
    } catch (...) {
    }
  });
}

QWebEngineView* QtWebView::view() const {
  return view_.data();
}

QWebEnginePage* QtWebView::page() const {
  return page_.get();
}

void QtWebView::ConfigureSettings() {
  view_->setContextMenuPolicy(Qt::NoContextMenu);
  QWebEngineSettings* settings = page_->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, true);
  settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
  // A page's full-screen request (a video's button) reaches the window: see fullScreenRequested.
  settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
}

void QtWebView::AddDocumentScript(const std::wstring& script, std::function<void(bool added)> added) {
  bool inPlace = false;
  if (!script.empty() && !closed_) {
    // Every document, frames too, as WebView2's AddScriptToExecuteOnDocumentCreated does; before
    // the document's own scripts, in the order added.
    QWebEngineScript entry;
    entry.setName(QStringLiteral("corvel-document-script-%1").arg(++scriptCount_));
    entry.setSourceCode(ToQString(script));
    entry.setInjectionPoint(QWebEngineScript::DocumentCreation);
    entry.setWorldId(QWebEngineScript::MainWorld);
    entry.setRunsOnSubFrames(true);
    page_->scripts().insert(entry);
    inPlace = page_->scripts().contains(entry);
  }
  if (!added) {
    return;
  }
  // The engine's scripts are in place once inserted: confirmed at once, with this view's events.
  if (closed_) {
    return;
  }
  const EventScope scope(*this);
  try {
    added(inPlace);
  } catch (...) {
  }
}

void QtWebView::Navigate(const std::wstring& url) {
  if (!closed_) {
    page_->load(QUrl(ToQString(url)));
  }
}

void QtWebView::NavigateToString(const std::wstring& html) {
  NavigateToString(html, QUrl());
}

void QtWebView::NavigateToString(const std::wstring& html, const QUrl& baseUrl) {
  if (closed_) {
    return;
  }
  composedPage_.Set(html);
  composedBase_ = baseUrl;
  page_->setHtml(ToQString(html), baseUrl);
}

void QtWebView::GoBack() {
  page_->triggerAction(QWebEnginePage::Back);
}

void QtWebView::Reload() {
  if (const std::wstring* page = composedPage_.ToReload()) {
    NavigateToString(std::wstring(*page), composedBase_);
  } else {
    page_->triggerAction(QWebEnginePage::Reload);
  }
}

void QtWebView::PostWebMessageAsJson(const std::wstring& json) {
  const QString script = QStringLiteral(
                             "(function(){var w=window.chrome&&window.chrome.webview;"
                             "if(w&&w._corvelDeliver){try{w._corvelDeliver('%1');}catch(e){}}})();")
                             .arg(ToQString(JsStringEscape(json)));
  page_->runJavaScript(script, QWebEngineScript::MainWorld);
}

void QtWebView::Print() {
  RequestPrint(std::nullopt);
}

void QtWebView::PrintDocument(const PrintedDocument& document) {
  RequestPrint(document);
}

void QtWebView::RequestPrint(std::optional<PrintedDocument> document) {
  printRequests_.Request(
      [this, document] {
        // A PDF lesson's print takes a while after its dialog: one at a time.
        if (printingDocument_)
          return false;
        // The choice runs a nested event loop: never inside the page's message event.
        QTimer::singleShot(0, page_.get(), [this, document] { RunPrintRequest(document); });
        return !closed_;
      },
      [this] { PostWebMessageAsJson(PrintResultMessage(PrintOutcome::kCancelled)); });
}

void QtWebView::RunPrintRequest(const std::optional<PrintedDocument>& document) noexcept {
  const EventScope scope(*this);
  try {
    printRequests_.RunScheduled([this, &document] {
      if (closed_) {
        return;
      }
      QtPrintBackend backend(*this, platform_, document);
      QPointer<QWebEnginePage> page(page_.get());
      printingDocument_ = document.has_value();
      RunPrintFlow(backend, [this, page](const std::wstring& json) {
        if (page) {
          printingDocument_ = false;
          PostWebMessageAsJson(json);
        }
      });
    });
  } catch (...) {
  }
}

bool QtWebView::PrintTo(const std::shared_ptr<QPrinter>& printer, std::function<void(bool ok)> done) {
  return PrintViewTo(view_.data(), printer, std::move(done));
}

void QtWebView::Close() {
  if (closed_) {
    return;
  }
  closed_ = true;
  page_->triggerAction(QWebEnginePage::Stop);
  if (view_) {
    view_->hide();
  }
}

void QtWebView::DestroyWhenIdle(std::unique_ptr<QtWebView> view) {
  if (!view) {
    return;
  }
  view->Close();
  if (view->eventDepth_ == 0) {
    view.reset();
    return;
  }
  view->destroyWhenIdle_ = true;  // the outermost event frees it
  view.release();
}

QtWebView::EventScope::EventScope(QtWebView& view) noexcept : view_(view) {
  ++view_.eventDepth_;
}

QtWebView::EventScope::~EventScope() {
  if (--view_.eventDepth_ == 0 && view_.destroyWhenIdle_) {
    // Not from inside the engine's signal that is still being delivered: from the event loop.
    QtWebView* view = &view_;
    view->destroyWhenIdle_ = false;
    QTimer::singleShot(0, QCoreApplication::instance(), [view] { delete view; });
  }
}

// Entered from Qt's event dispatch: nothing may escape them.
void QtWebView::MessageFromPage(const QString& text) noexcept {
  const EventScope scope(*this);
  try {
    if (closed_) {
      return;
    }
    if (events_.hearsMessagesFrom &&
        !events_.hearsMessagesFrom(page_->url().toString(QUrl::FullyEncoded).toStdWString(),
                                   composedPage_.Showing())) {
      return;
    }
    if (events_.pageMessage) {
      events_.pageMessage(text.toStdWString());
    }
  } catch (...) {
  }
}

bool QtWebView::NavigationStarting(const QUrl& url) noexcept {
  const EventScope scope(*this);
  try {
    // setHtml loads its document from a data: address; every start consumes the mark.
    const std::wstring uri = composedPage_.AddressForPolicy(url.toString(QUrl::FullyEncoded).toStdWString());
    const bool allowed = !events_.navigationStarting || events_.navigationStarting(uri);
    if (allowed) {
      composedPage_.NavigationAllowed();
    }
    return allowed;
  } catch (...) {
    return false;
  }
}

void QtWebView::RequestStarting(QWebEngineUrlRequestInfo& request) noexcept {
  try {
    request.setHttpHeader(Utf16ToUtf8(config::IdentificationHeaderName()).c_str(),
                          Utf16ToUtf8(config::IdentificationHeaderValue()).c_str());
    const std::wstring uri = request.requestUrl().toString(QUrl::FullyEncoded).toStdWString();
    if (platform_.requestGate && !platform_.requestGate(uri)) {
      request.block(true);
      return;
    }
    if (events_.request) {
      for (const auto& [name, value] : events_.request(uri)) {
        request.setHttpHeader(QByteArray::fromStdString(Utf16ToUtf8(name)),
                              QByteArray::fromStdString(Utf16ToUtf8(value)));
      }
    }
  } catch (...) {
  }
}

void QtWebView::LoadFinished(bool ok) noexcept {
  const EventScope scope(*this);
  try {
    ReportEvent(std::string("load-finished ") + (ok ? "1 " : "0 ") +
                page_->url().toString().left(200).toStdString());
    if (events_.loaded) {
      events_.loaded(ok);
    }
  } catch (...) {
  }
}

}  // namespace WebView

#include "web_view_qt.moc"
