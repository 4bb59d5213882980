#include "webview/pin_gate.h"

#include <thread>

#include "text/text.h"
#include "webview/navigation_policy.h"
#include "webview/web_view.h"

namespace WebView {

PinGate DefaultPinGate() {
  PinGate gate;
  gate.check = PassWebHostGate;
  gate.known = KnownWebHostGate;
  gate.warn = [](const std::wstring& host) { ShowWebPinFailureNotice(host); };
  return gate;
}

bool PassesPinGate(const PinGate& gate, const std::wstring& uri) noexcept {
  try {
    const std::optional<PinGateTarget> target = PinGateTargetOf(uri);
    if (!target)
      return true;
    const WebGateAnswer answer =
        target->host.empty() || !gate.check ? WebGateAnswer::kRefuse : gate.check(target->host, target->port);
    if (answer == WebGateAnswer::kAllow)
      return true;
    ReportEvent("request blocked by pin gate " + Utf16ToUtf8(uri));
    if (answer == WebGateAnswer::kRefuseAndWarn && gate.warn) {
      // One warning per refused host: later requests to it are blocked without another.
      std::thread(gate.warn, target->host).detach();
    }
  } catch (...) {
    // Without a thread there is no warning; the request stays blocked.
  }
  return false;
}

std::optional<bool> PinGateAnswerAtOnce(const PinGate& gate, const std::wstring& uri) noexcept {
  try {
    const std::optional<PinGateTarget> target = PinGateTargetOf(uri);
    if (!target)
      return true;
    if (target->host.empty() || !gate.check)
      return PassesPinGate(gate, uri);  // refused without a probe
    if (!gate.known)
      return std::nullopt;
    const std::optional<WebGateAnswer> answer = gate.known(target->host, target->port);
    if (!answer)
      return std::nullopt;
    if (*answer == WebGateAnswer::kAllow)
      return true;
  } catch (...) {
    return std::nullopt;
  }
  // Refused before: blocked again, the warning is already on its way.
  return PassesPinGate(gate, uri);
}

}  // namespace WebView
