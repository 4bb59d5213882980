// The web view on Linux: one Qt WebEngine page and its widget, adapted to the portable contract
// of web_view.h. The Linux player and the web-view tests build on it.
//
// What it does by itself, as the contract says: every request carries the identification header
// and passes the certificate-pin gate (pin_gate.h); a certificate the engine does not trust by
// its own roots is accepted only when it is an authority error and the chain carries a key
// pinned for the host (ChainMatchesPins, which also checks the name and the dates); new windows
// load in this page, through the window's navigation policy; downloads are refused; local
// documents may read neither local files nor remote addresses; the messaging object of the page
// (window.chrome.webview) lives in the top document alone.
//
// Pages post messages with window.chrome.webview.postMessage(value): the value itself when it is
// a string, its JSON text otherwise, as WebView2 delivers them. Only the top document can post:
// the messaging object lives in its main world and talks to the host over a QWebChannel, whose
// transport the engine gives to the top document alone.
//
// Everything runs on the GUI thread, the request events included (Qt 6 calls a page's request
// interceptor there); a QApplication must exist before construction and outlive the object.
#ifndef CORVEL_WEBVIEW_WEB_VIEW_QT_H_
#define CORVEL_WEBVIEW_WEB_VIEW_QT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>
#include <QString>
#include <QUrl>

#include "webview/composed_page.h"
#include "webview/pin_gate.h"
#include "webview/print_requests.h"
#include "webview/web_view.h"

class QObject;
class QPrinter;
class QWebChannel;
class QWebEngineProfile;
class QWebEngineUrlRequestInfo;
class QWebEngineView;
class QWebEnginePage;
class QWidget;

namespace WebView {

// Settles the engine's process environment; call before the QApplication is made. The engine's
// renderer sandbox refuses to start as root (it cannot drop the rights it would need to shed), so
// as root the engine runs without it. Whenever the sandbox is off, a line on standard error says
// so and why.
void PrepareEngineEnvironment();

// What the view needs from outside: the certificate-pin gate, the trust in a pinned chain, the
// printer choice. DefaultQtViewPlatform() gives the real ones; tests replace single members.
struct QtViewPlatform {
  // Whether a request of the page may go on (the certificate-pin gate, pin_gate.h).
  std::function<bool(const std::wstring& uri)> requestGate;
  // A chain (DER, server certificate first) the engine does not trust by its own roots, for a
  // host: true when a key pinned for it is in the chain (ChainMatchesPins).
  std::function<bool(const std::wstring& host, const std::vector<std::string>& derChain)> pinnedChainTrusted;
  // The printer choice over `owner` (a modal dialog) and the printer to print to; empty: none.
  std::function<std::wstring(QWidget* owner)> choosePrinter;
  // A PDF lesson's document for printing, from a server whose certificate verified (worker
  // thread; FetchVerified).
  std::function<std::optional<std::string>(const std::wstring& url)> fetchDocument;
};
QtViewPlatform DefaultQtViewPlatform();

class QtWebView final : public BrowserView {
 public:
  // With an empty storagePath the view uses an off-the-record profile (storage in memory for
  // the life of this object); otherwise cookies and storage persist under that folder.
  explicit QtWebView(QWidget* parent = nullptr,
                     const QString& storagePath = QString(),
                     QtViewPlatform platform = DefaultQtViewPlatform());
  ~QtWebView() override;
  QtWebView(const QtWebView&) = delete;
  QtWebView& operator=(const QtWebView&) = delete;

  // The window's events (web_view.h); set before the first navigation. ready(true) comes at
  // once: the engine is usable as soon as the object exists.
  void Connect(ViewEvents events);

  // The widget to place in a window. It may be reparented; this object deletes it unless its
  // new parent already has.
  QWebEngineView* view() const;
  QWebEnginePage* page() const;

  // BrowserView. The engine's PDF viewer has no save or print control; its toolbar offers
  // paging, zoom, fit, rotation and a menu with two-page view, annotations, presentation and
  // document properties.
  void ConfigureSettings() override;
  using BrowserView::AddDocumentScript;
  void AddDocumentScript(const std::wstring& script, std::function<void(bool added)> added) override;
  void Navigate(const std::wstring& url) override;
  void NavigateToString(const std::wstring& html) override;
  void GoBack() override;
  void Reload() override;
  void PostWebMessageAsJson(const std::wstring& json) override;
  void Print() override;
  void PrintDocument(const PrintedDocument& document) override;
  void Close() override;

  // Shows `html` as a page with relative addresses resolved against `baseUrl`.
  void NavigateToString(const std::wstring& html, const QUrl& baseUrl);

  // Prints the current page to `printer`, which must stay alive until `done` is called with the
  // outcome (once, from the event loop). False, without a call of `done`, while another print
  // of this view is still running.
  bool PrintTo(const std::shared_ptr<QPrinter>& printer, std::function<void(bool ok)> done);

  // Frees `view` now, or, when one of its own events is still on the stack (a window closed from
  // inside a page message, or inside the printer choice's loop), once that event has returned;
  // meanwhile the view is closed and hidden.
  static void DestroyWhenIdle(std::unique_ptr<QtWebView> view);

 private:
  class Page;
  class RequestInterceptor;

  // Keeps the view alive (DestroyWhenIdle) while one of its events runs.
  class EventScope {
   public:
    explicit EventScope(QtWebView& view) noexcept;
    ~EventScope();
    EventScope(const EventScope&) = delete;
    EventScope& operator=(const EventScope&) = delete;

   private:
    QtWebView& view_;
  };

  void MessageFromPage(const QString& text) noexcept;
  void LoadFinished(bool ok) noexcept;
  bool NavigationStarting(const QUrl& url) noexcept;  // false cancels
  void RequestStarting(QWebEngineUrlRequestInfo& request) noexcept;
  void RequestPrint(std::optional<PrintedDocument> document);
  void RunPrintRequest(const std::optional<PrintedDocument>& document) noexcept;

  QtViewPlatform platform_;
  ViewEvents events_;
  std::unique_ptr<QWebEngineProfile> profile_;
  std::unique_ptr<RequestInterceptor> interceptor_;
  std::unique_ptr<QObject> messages_;  // the object the page's messaging script posts to
  std::unique_ptr<QWebChannel> channel_;
  std::unique_ptr<Page> page_;
  QPointer<QWebEngineView> view_;
  int scriptCount_ = 0;
  bool closed_ = false;
  int eventDepth_ = 0;
  bool destroyWhenIdle_ = false;
  ComposedPageMark composedPage_;
  QUrl composedBase_;  // the base address of the host's own page
  PrintRequests printRequests_;
  bool printingDocument_ = false;  // a PDF lesson's print is being prepared or printed
};

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_WEB_VIEW_QT_H_
