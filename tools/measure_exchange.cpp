// corvel-measure-exchange: runs the player's start-up exchange for one launch link against the
// local reference platform and reports its cost as the server saw it.
//
//   corvel-measure-exchange [--control URL] LINK
//
// The exchange is the player's own, in the player's order and over the player's clients: the
// built-in pins, the served pin list, the version check, the link (content request and, for
// YouTube content, the page script) and the version check against the link's platform. Before
// it the reference platform's log and counters are cleared through its control port (by default
// the port 36 above the configured platform address's, plain HTTP); after it the log is read back. Prints one
// JSON object:
//   {"wall_ms", "steps_ms": {...}, "parsed", "error", "content_kind", "page_script_bytes",
//    "connections", "handshakes", "requests": [{"method", "path", "port", "connection"}...]}
// where connections and handshakes are the server's per-port counts. One exchange per process:
// the shared client, its pre-flights and the pin store live as long as the process, as in the
// player. Exit status 0 when the exchange ran (whatever the link gave), 1 when the control port
// could not be used, 2 on bad usage.
#include <chrono>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "config/config.h"
#include "link/launch_link.h"
#include "net/content_source.h"
#include "net/http_client.h"
#include "net/pin_list.h"
#include "net/pinning.h"
#include "net/version_check.h"
#include "text/text.h"
#include "tools/console.h"

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr char kUsage[] = "usage: corvel-measure-exchange [--control URL] LINK\n";

// The reference platform's control port sits 36 above its main port.
std::wstring DefaultControlUrl() {
  const std::optional<UrlParts> base = SplitHttpUrl(config::PlatformBaseUrl());
  if (!base)
    return L"http://127.0.0.1:47479";
  return L"http://" + base->host + L":" + std::to_wstring(base->port + 36);
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The running version as the player reads it from its version text ("4.11.0" gives 4.11).
double RunningVersion() {
  try {
    return std::stod(Utf16ToUtf8(GetAppState().versionText));
  } catch (const std::exception&) {
    return 3.0;
  }
}

int Measure(const std::wstring& control, const std::wstring& link) {
  // The control client is a plain-HTTP client of its own; the control port is neither logged
  // nor counted by the server.
  HttpClient controlClient;
  controlClient.DisablePinning();
  const HttpResponse reset = controlClient.Post(control + L"/reset", "{}", L"application/json");
  if (!reset.success) {
    tools::WriteErr("corvel-measure-exchange: control port not reachable: " + reset.error + "\n");
    return 1;
  }

  Json steps = Json::object();
  const Clock::time_point start = Clock::now();
  Clock::time_point stepStart = start;
  auto endStep = [&](const char* name) {
    steps[name] = MillisecondsSince(stepStart);
    stepStart = Clock::now();
  };

  ReplacePins(DefaultPins());
  LoadDynamicPins();
  endStep("pin_list");
  CheckForUpdate(RunningVersion(), L"");
  endStep("version_check");
  std::string errorCode;
  const bool parsed = ParseSchemeArgs(link, errorCode, NetContentSource());
  endStep("link");
  if (parsed) {
    CheckForUpdate(RunningVersion(), GetAppState().platformDomain);
    endStep("platform_version_check");
  }
  const double wall = MillisecondsSince(start);

  const HttpResponse logResponse = controlClient.Get(control + L"/log");
  const Json log = Json::parse(logResponse.body, nullptr, /*allow_exceptions=*/false);
  if (!logResponse.success || !log.is_object()) {
    tools::WriteErr("corvel-measure-exchange: the server's log could not be read: " + logResponse.error +
                    "\n");
    return 1;
  }

  Json requests = Json::array();
  for (const Json& request : log.value("requests", Json::array())) {
    requests.push_back({{"method", request.value("method", "")},
                        {"path", request.value("path", "")},
                        {"port", request.value("port", 0)},
                        {"connection", request.value("connection", 0)}});
  }
  const AppState& state = GetAppState();
  const Json report = {
      {"wall_ms", wall},
      {"steps_ms", steps},
      {"parsed", parsed},
      {"error", parsed ? std::string() : errorCode},
      {"content_kind", Utf16ToUtf8(state.contentKind)},
      {"page_script_bytes", Utf16ToUtf8(state.pageScript).size()},
      {"connections", log.value("connections", Json::object())},
      {"handshakes", log.value("handshakes", Json::object())},
      {"requests", requests},
  };
  tools::WriteOut(report.dump() + "\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = tools::Utf8Arguments(argc, argv);
  std::wstring control = DefaultControlUrl();
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--control" && i + 1 < arguments.size()) {
      control = NormalizeBaseUrl(Utf8ToUtf16(arguments[++i]));
    } else if (arguments[i].rfind("--", 0) == 0) {
      tools::WriteErr("corvel-measure-exchange: unknown option " + arguments[i] + "\n" + kUsage);
      return 2;
    } else {
      positional.push_back(arguments[i]);
    }
  }
  if (positional.size() != 1) {
    tools::WriteErr(std::string("corvel-measure-exchange: expected one link\n") + kUsage);
    return 2;
  }
  try {
    return Measure(control, Utf8ToUtf16(positional.front()));
  } catch (const std::exception& e) {
    tools::WriteErr(std::string("corvel-measure-exchange: ") + e.what() + "\n");
    return 1;
  }
}
