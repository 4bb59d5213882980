// The embedded browser as a window sees it, the same on every platform: the events a window
// handles, in portable types, and the operations it calls. WebView::WebViewHost adapts Microsoft
// Edge WebView2 to it (webview_host_win.h), WebView::QtWebView adapts Qt WebEngine
// (web_view_qt.h); app/main_windows.cpp wires the player window and the init screen to it once.
//
// What every view does by itself, before a window hears of it: each request carries the
// identification header and passes the certificate-pin gate (pin_gate.h; a refused host is
// answered "Blocked" and the interception warning starts); a certificate the engine does not
// trust is accepted only for a pinned host whose chain carries a pinned key; new windows open in
// the same view, after the window's navigation policy; downloads are refused; a print request
// runs its printer choice later, from the view's own event loop; a view closed from inside one
// of its own events is freed once that event has returned.
//
// Threads: the UI thread only. Events arrive one at a time from the engine's event loop and are
// never re-entered. A handler must return promptly: no nested event loop (a modal dialog), no
// blocking work and no end of the process inside it. Handlers must not throw.
#ifndef CORVEL_WEBVIEW_WEB_VIEW_H_
#define CORVEL_WEBVIEW_WEB_VIEW_H_

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "webview/navigation_policy.h"
#include "webview/pdf_print.h"

namespace WebView {

using RequestHeaders = std::vector<std::pair<std::wstring, std::wstring>>;

// A process of the engine that failed while the view was open.
enum class ViewFailure {
  kRendererExited,        // the page's renderer ended: the view shows the engine's error page
  kRendererUnresponsive,  // the page's renderer hangs
  kBrowserExited,         // the browser process ended: the view is dead
};

// What a window handles. Every member is optional.
struct ViewEvents {
  // Every top-level navigation, new windows included; the host's own composed page starts as
  // "about:blank". False cancels it (the current page stays). Unset: every navigation goes on.
  std::function<bool(const std::wstring& uri)> navigationStarting;
  // Every request of the page (frames and workers too) that passed the pin gate: the headers to
  // set on it.
  std::function<RequestHeaders(const std::wstring& uri)> request;
  // Which top documents are heard: the document's address and whether it is the host's own
  // composed page. Unset: every top document.
  std::function<bool(const std::wstring& source, bool composedPage)> hearsMessagesFrom;
  // A message of a heard top document: a posted string as itself, any other value as its JSON.
  std::function<void(const std::wstring& message)> pageMessage;
  // A page's permission request, with the requesting origin. Unset: microphone, camera and
  // notifications are denied, other kinds keep the engine's own handling.
  std::function<PermissionAnswer(PagePermission permission, const std::wstring& origin)> permission;
  // The view is ready (true), or could not be started (false).
  std::function<void(bool success)> ready;
  // A top-level navigation ended, whatever its outcome.
  std::function<void(bool success)> loaded;
  // An element of the page went full screen (true: a video's full-screen button) or left it.
  // Unset: the engine keeps the element within the view.
  std::function<void(bool fullscreen)> fullscreenElement;
  // A process of the engine failed (not while the view is being closed); heard from the event
  // loop, after the engine's own event. Unset: the engine's error page, or a dead view, stays.
  std::function<void(ViewFailure failure)> processFailed;
};

class BrowserView {
 public:
  virtual ~BrowserView() = default;

  // The fixed settings: no context menus, developer tools, status bar, zoom control or
  // browser shortcuts, and a PDF viewer without save or print controls.
  virtual void ConfigureSettings() = 0;
  // Runs `script` at the creation of every later document, before the document's own scripts.
  // `added` (when set) says whether the script is in place; only then is it sure to run in the
  // next document. WebView2 confirms later, from the event loop; Qt's engine has the script in
  // place at once and confirms before this returns. Callers take either.
  virtual void AddDocumentScript(const std::wstring& script, std::function<void(bool added)> added) = 0;
  void AddDocumentScript(const std::wstring& script) { AddDocumentScript(script, nullptr); }
  virtual void Navigate(const std::wstring& url) = 0;
  // Shows a page the host composed (its navigation starts as "about:blank").
  virtual void NavigateToString(const std::wstring& html) = 0;
  virtual void GoBack() = 0;
  virtual void Reload() = 0;
  // Delivers a JSON value to the page's "message" listeners of window.chrome.webview.
  virtual void PostWebMessageAsJson(const std::wstring& json) = 0;
  // A print request of the page (from a message handler): returns at once. The printer choice
  // and the print run later from the view's own event loop, one at a time (print_flow.h); a
  // request while another waits or its choice is open is answered "cancelled" at once. Every
  // outcome reaches the page as a "printResult" message.
  virtual void Print() = 0;
  // A print request of a PDF lesson (from a message handler), answered like Print(): what is
  // printed is the document's own pages, each under the watermark (pdf_print.h).
  virtual void PrintDocument(const PrintedDocument& document) = 0;
  // Closes the view, waiting a bounded time for its browser; nothing happens afterwards.
  virtual void Close() = 0;
};

// Where the views and the windows report what they do, as short lines ("navigation allowed <uri>",
// "web-message <text>", "load-finished 1 <uri>", "revealed", ...): one observer for the process,
// which the Linux player installs for its test hooks (their event lines); none by default. Any
// thread may report; the observer must take that.
using EventObserver = std::function<void(const std::string& event)>;
void SetEventObserver(EventObserver observer);
void ReportEvent(const std::string& event);

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_WEB_VIEW_H_
