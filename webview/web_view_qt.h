// One Qt WebEngine view with the host side of the page protocol: document scripts added at the
// creation of every document, the `window.chrome.webview` messaging object, navigation and
// script execution. The Linux player and the web-view tests build on it.
//
// Like the Windows host, the view does some work itself and hands the rest to its owner:
// - every request carries the identification header, then passes `requestGate` (the player's
//   pin gate); a refused request is blocked and the owner's request callback never sees it;
// - new windows are folded into this view (the navigation policy still applies to them);
// - permission requests are answered by `answerPermission` (unset: microphone, camera and
//   notifications denied); other kinds keep the engine's default (Qt shows no prompt, so they
//   stay unanswered);
// - messages of a top document that `acceptsMessagesFrom` refuses are dropped;
// - local documents may read neither local files nor remote addresses;
// - a certificate the engine does not trust is accepted only when `acceptCertificate` says so.
//
// Everything runs on the GUI thread, the request callbacks included (Qt 6 calls a page's
// request interceptor there); a QApplication must exist before construction and outlive the
// object. Callbacks are invoked from the Qt event loop (also from the nested loops of the
// waiting calls below) and must not throw: they run inside Qt's event dispatch.
//
// Pages post messages with window.chrome.webview.postMessage(value): onWebMessage receives the
// value itself when it is a string and its JSON text otherwise, as the Windows host does. Only
// the top document can post: the messaging object lives in its main world and talks to the host
// over a QWebChannel, whose transport the engine gives to the top document alone. Scripts in
// frames find neither, and nothing they log or do reaches onWebMessage, which is also how the
// Windows host behaves (its handler sees top-level messages only).
//
// Downloads are refused, whatever starts them (a link, a script, the PDF viewer): a lesson's
// files leave the player only as what the page shows, with its watermark, or through the
// player's own print path.
#ifndef CORVEL_WEBVIEW_WEB_VIEW_QT_H_
#define CORVEL_WEBVIEW_WEB_VIEW_QT_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>

#include "webview/composed_page.h"
#include "webview/navigation_policy.h"
#include "webview/preparation.h"
#include "webview/print_requests.h"

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

class QtWebView {
 public:
  // With an empty storagePath the view uses an off-the-record profile (storage in memory for
  // the life of this object); otherwise cookies and storage persist under that folder.
  explicit QtWebView(QWidget* parent = nullptr, const QString& storagePath = QString());
  ~QtWebView();
  QtWebView(const QtWebView&) = delete;
  QtWebView& operator=(const QtWebView&) = delete;

  // The widget to place in a window. It may be reparented; this object deletes it unless its
  // new parent already has.
  QWebEngineView* view() const;
  QWebEnginePage* page() const;

  std::function<void(const std::wstring& message)> onWebMessage;
  // End of each main-frame load, whatever its outcome.
  std::function<void(bool ok)> onLoadFinished;
  // Asked before every main-frame navigation: links, scripts, redirects, history, folded new
  // windows and the owner's own Navigate. Setting `cancel` keeps the current page. The start of
  // the owner's NavigateToString is reported as "about:blank" (ComposedPageMark), as the Windows
  // host reports it; any other data: address is reported as it is.
  std::function<void(const std::wstring& uri, bool& cancel)> onNavigationStarting;
  // Asked for every request of the page (frames and workers too) once it carries the
  // identification header; false blocks it. Unset: everything passes. It may block for a
  // network probe: the engine holds the request until it answers.
  std::function<bool(const std::wstring& uri)> requestGate;
  // Every request that passed the gate; the owner may set further headers on `request`.
  std::function<void(const std::wstring& uri, QWebEngineUrlRequestInfo& request)> onWebResourceRequested;
  // Which top documents may post messages: the document's address and whether it is the
  // owner's composed page. Unset: every top document is heard.
  std::function<bool(const std::wstring& source, bool composedPage)> acceptsMessagesFrom;
  // The answer to a page's permission request, given the requesting origin.
  std::function<PermissionAnswer(PagePermission permission, const std::wstring& origin)> answerPermission;
  // A server certificate the engine does not trust by its own roots: the host and the chain
  // it presented (DER, server certificate first); true lets the load go on. Unset: refused.
  std::function<bool(const std::wstring& host, const std::vector<std::string>& derChain)> acceptCertificate;

  // The view's fixed settings: no context menu, scripts on, the built-in PDF viewer on. (The
  // engine's PDF viewer has no save or print control; its toolbar offers paging, zoom, fit,
  // rotation and a menu with two-page view, annotations, presentation and document properties.)
  void ConfigureSettings();
  // Runs `script` in the main world of every document created from now on, top documents and
  // frames alike (as WebView2's AddScriptToExecuteOnDocumentCreated does), before the
  // document's own scripts, in the order added. False when the script is empty.
  bool AddDocumentScript(const std::wstring& script);
  void Navigate(const std::wstring& url);
  // Shows `html` as a page; relative addresses resolve against `baseUrl` (none by default).
  void NavigateToString(const std::wstring& html, const QUrl& baseUrl = QUrl());
  void GoBack();
  void Reload();
  // Delivers a JSON value to the page's "message" listeners of window.chrome.webview
  // (event.data is the parsed value). Invalid JSON is dropped.
  void PostWebMessageAsJson(const std::wstring& json);
  // Applies a preparation plan in order; Reveal calls `reveal` (when set).
  void Apply(const std::vector<ViewStep>& steps, const std::function<void()>& reveal);
  // Prints the current page to `printer`, which must stay alive until `done` is called with the
  // outcome (once, from the event loop). False, without a call of `done`, while another print
  // of this view is still running.
  bool Print(QPrinter* printer, std::function<void(bool ok)> done);
  // The view's print requests: one printer dialog at a time (printing_qt.h).
  PrintRequests& printRequests() { return printRequests_; }

  // Runs `script` in the top document's main world and waits for its value (nested event
  // loop). `finished`, when given, tells whether the script returned before the timeout.
  QVariant EvaluateAndWait(const QString& script, int timeoutMs = 5000, bool* finished = nullptr);
  // Waits for the next load to finish (counted from the last Navigate, NavigateToString,
  // GoBack or Reload); returns its success, or false on timeout.
  bool WaitForLoad(int timeoutMs = 15000);
  // Runs the event loop until `condition` holds or the time is up; returns the last answer.
  static bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

 private:
  class Page;
  class RequestInterceptor;

  void MessageFromPage(const QString& text) noexcept;
  void LoadFinished(bool ok) noexcept;
  bool NavigationStarting(const QUrl& url) noexcept;  // false cancels
  void RequestStarting(QWebEngineUrlRequestInfo& request) noexcept;
  void ExpectLoad();

  std::unique_ptr<QWebEngineProfile> profile_;
  std::unique_ptr<RequestInterceptor> interceptor_;
  std::unique_ptr<QObject> messages_;  // the object the page's messaging script posts to
  std::unique_ptr<QWebChannel> channel_;
  std::unique_ptr<Page> page_;
  QPointer<QWebEngineView> view_;
  int scriptCount_ = 0;
  int loadsFinished_ = 0;
  int loadsExpectedAfter_ = 0;
  bool lastLoadOk_ = false;
  ComposedPageMark composedPage_;
  PrintRequests printRequests_;
  std::function<void(bool ok)> printDone_;
};

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_WEB_VIEW_QT_H_
