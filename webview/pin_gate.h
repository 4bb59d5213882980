// The certificate-pin gate every web view puts before its page's requests, on every platform:
// the browser never loads from a pinned host whose keys do not match (an intercepting proxy).
//
// UI thread; the warning runs on a thread of its own.
#ifndef CORVEL_WEBVIEW_PIN_GATE_H_
#define CORVEL_WEBVIEW_PIN_GATE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "net/pinning.h"

namespace WebView {

struct PinGate {
  // The answer for an HTTPS host and port (blocks for the probe; net/pinning.h).
  std::function<WebGateAnswer(const std::wstring& host, std::uint16_t port)> check;
  // The answer when it needs no probe, without blocking; nothing when it would probe. Unset: every
  // answer is taken from `check`.
  std::function<std::optional<WebGateAnswer>(const std::wstring& host, std::uint16_t port)> known;
  // The interception warning for a refused host; ends the process. Started on a detached thread.
  std::function<void(const std::wstring& host)> warn;
};

// The process-wide gate (PassWebHostGate) and the interception warning (ShowWebPinFailureNotice).
PinGate DefaultPinGate();

// Whether a request of the page may go on. HTTPS requests pass the gate; a refused one is
// blocked, and on the host's first refusal the warning starts on a detached thread (it waits a
// moment, so the refused request is answered first). An HTTPS address whose host cannot be read
// for certain is blocked without a warning; other schemes pass. Never throws.
bool PassesPinGate(const PinGate& gate, const std::wstring& uri) noexcept;

// PassesPinGate's answer when the gate has it without a probe; nothing when deciding would block
// on the network (the caller then asks PassesPinGate away from its UI thread).
std::optional<bool> PinGateAnswerAtOnce(const PinGate& gate, const std::wstring& uri) noexcept;

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_PIN_GATE_H_
