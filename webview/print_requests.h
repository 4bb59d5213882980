// Print requests of one view: at most one printer dialog at a time, and never inside the
// handler that received the request.
//
// A page asks to print from a message handler of the web view. The dialog is modal and runs a
// nested event loop, which a WebView2 event handler must not do (the runtime delivers its
// callbacks one at a time and cannot re-enter the handler that is still on the stack), so the
// request is only accepted there and the dialog runs later from the ordinary event loop. While
// an accepted request waits for its turn or its dialog is open, any further request is
// answered "cancelled" at once: a page that asks twice (a double-click) gets one dialog and an
// answer for every request. Both web-view backends keep one PrintRequests per view.
//
// Not thread-safe: the UI thread only.
#ifndef CORVEL_WEBVIEW_PRINT_REQUESTS_H_
#define CORVEL_WEBVIEW_PRINT_REQUESTS_H_

#include <functional>
#include <string>

class PrintRequests {
 public:
  // A page asked to print. True: the request is accepted, and the caller schedules the dialog
  // (then calls Begin from the event loop). False: another request is waiting or its dialog is
  // open; the caller answers this one "cancelled" now.
  bool Accept();

  // The scheduled dialog is about to open. False when no accepted request is waiting (a stale
  // or repeated schedule): nothing is to be shown.
  bool Begin();

  // The dialog closed, or the accepted request could not be scheduled or run; requests are
  // accepted again.
  void End();

  bool busy() const { return state_ != State::Idle; }

 private:
  enum class State { Idle, Waiting, Open };
  State state_ = State::Idle;
};

// The printer choice of a request that is to run: `choose` shows the dialog (a nested event loop)
// and returns the chosen printer's name, empty for none. One dialog per thread at a time: a
// request whose choice would start while one is open (another view's, or one that slipped past
// its PrintRequests) gets the empty name at once, without a second dialog. `choose` may throw;
// the dialog counts as closed either way.
std::wstring ChoosePrinterAlone(const std::function<std::wstring()>& choose);

#endif  // CORVEL_WEBVIEW_PRINT_REQUESTS_H_
