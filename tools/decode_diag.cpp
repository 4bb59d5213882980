// corvel-decode-diag: support's decoder for the diagnostic code that the player shows when a
// launch link fails.
//
//   corvel-decode-diag CODE
//
// Prints the plain text, then the time and the reason on lines of their own. Exit status 0, 1
// when the code does not decode to a link diagnostic text, 2 on bad usage.
#include <ctime>
#include <string>
#include <vector>

#include "app/diagnostics.h"
#include "tools/console.h"

namespace {

constexpr char kHead[] = "ERRDIAG|v1|ts=";
constexpr char kReasonMark[] = "|reason=";
constexpr char kTail[] = "|END";

// "2026-11-01 12:00:00 UTC", or the digits as they stand when they are not a plain time.
std::string TimeText(const std::string& digits) {
  if (digits.empty() || digits.size() > 12 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return digits;
  }
  const std::time_t seconds = static_cast<std::time_t>(std::stoll(digits));
  // The tool is single-threaded, so the shared result of gmtime is fine.
  const std::tm* parts = std::gmtime(&seconds);
  char text[32];
  if (parts == nullptr || std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", parts) == 0)
    return digits;
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = tools::Utf8Arguments(argc, argv);
  if (arguments.size() != 1 || arguments[0].empty() || arguments[0].rfind("--", 0) == 0) {
    tools::WriteErr("usage: corvel-decode-diag CODE\n");
    return 2;
  }
  const std::string text = DecodeLinkErrorCode(arguments[0]);
  const std::size_t head = sizeof(kHead) - 1;
  const std::size_t tail = sizeof(kTail) - 1;
  const std::size_t reasonAt = text.find(kReasonMark, head);
  const bool wellFormed = text.rfind(kHead, 0) == 0 && text.size() >= head + tail &&
                          text.compare(text.size() - tail, tail, kTail) == 0 &&
                          reasonAt != std::string::npos &&
                          reasonAt + sizeof(kReasonMark) - 1 <= text.size() - tail;
  if (!wellFormed) {
    tools::WriteOut(text + "\n");
    tools::WriteErr("corvel-decode-diag: not a link diagnostic code\n");
    return 1;
  }
  const std::string reasonStart = text.substr(reasonAt + sizeof(kReasonMark) - 1);
  tools::WriteOut(text + "\n" + "time: " + TimeText(text.substr(head, reasonAt - head)) + "\n" +
                  "reason: " + reasonStart.substr(0, reasonStart.size() - tail) + "\n");
  return 0;
}
