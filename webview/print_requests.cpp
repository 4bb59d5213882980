#include "webview/print_requests.h"

namespace {

// Set while a printer dialog of this thread is open.
thread_local bool choosingPrinter = false;

}  // namespace

bool PrintRequests::Accept() {
  if (state_ != State::Idle)
    return false;
  state_ = State::Waiting;
  return true;
}

bool PrintRequests::Begin() {
  if (state_ != State::Waiting)
    return false;
  state_ = State::Open;
  return true;
}

void PrintRequests::End() {
  state_ = State::Idle;
}

std::wstring ChoosePrinterAlone(const std::function<std::wstring()>& choose) {
  if (choosingPrinter || !choose)
    return {};
  choosingPrinter = true;
  struct Closed {
    ~Closed() { choosingPrinter = false; }
  } closed;
  return choose();
}
