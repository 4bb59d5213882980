// corvel-inspect-link: runs the player's own link decoding on a link or one envelope and says
// what the player would make of it.
//
//   corvel-inspect-link [--key-hex HEX] [--trace] LINK
//       the error code the player would report (and its diagnostic code), or the three fields
//       (token masked) and whether the content link id is a direct address; asks no server
//   corvel-inspect-link [--key-hex HEX] [--trace] --resolve LINK
//       the whole link handling of the player against the link's platform: built-in pins, the
//       served pin list, then the content request and the page script as the player makes them;
//       prints the content fields the player window would get, or the error code
//   corvel-inspect-link [--key-hex HEX] --envelope TEXT
//       the plaintext of one envelope, or the exact error message
//
// Exit status 0 on success, 1 on a link or envelope error, 2 on bad usage. With --resolve a
// refused certificate on the platform's own domain shows the interception notice, which ends
// the process with 0 as it ends the player.
#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/diagnostics.h"
#include "base/app_state.h"
#include "config/config.h"
#include "link/envelope.h"
#include "link/launch_link.h"
#include "net/content_source.h"
#include "net/pin_list.h"
#include "net/pinning.h"
#include "text/text.h"
#include "tools/console.h"
#include "tools/key_option.h"

namespace {

constexpr int kOk = 0;
constexpr int kRefused = 1;
constexpr int kBadUsage = 2;

constexpr char kUsage[] =
    "usage: corvel-inspect-link [--key-hex HEX] [--trace] LINK\n"
    "       corvel-inspect-link [--key-hex HEX] [--trace] --resolve LINK\n"
    "       corvel-inspect-link [--key-hex HEX] --envelope TEXT\n"
    "  --key-hex HEX  envelope key in hex instead of the configured link key\n"
    "  --trace        also print the parser's diagnostic lines (to standard error)\n"
    "  --resolve      ask the link's platform for the content, as the player does\n"
    "  --envelope     decrypt one envelope instead of a whole link\n";

// One entry per way of inspecting; a new mode adds an enumerator, its flag and its function.
enum class Mode { kLink, kResolve, kEnvelope };

struct Options {
  Mode mode = Mode::kLink;
  config::SecretBytes key;  // empty: the configured link key
  bool trace = false;
  std::string input;
};

int Usage(const std::string& problem) {
  tools::WriteErr("corvel-inspect-link: " + problem + "\n" + kUsage);
  return kBadUsage;
}

// Fills options, or returns the usage problem.
std::optional<std::string> ParseOptions(std::vector<std::string>& arguments, Options& options) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--key-hex") {
      if (i + 1 >= arguments.size())
        return "--key-hex needs a value";
      if (!tools::TakeKeyHex(arguments[++i], options.key))
        return "--key-hex takes hex digits";
    } else if (argument == "--envelope") {
      if (options.mode == Mode::kResolve)
        return "--envelope and --resolve exclude each other";
      options.mode = Mode::kEnvelope;
    } else if (argument == "--resolve") {
      if (options.mode == Mode::kEnvelope)
        return "--envelope and --resolve exclude each other";
      options.mode = Mode::kResolve;
    } else if (argument == "--trace") {
      options.trace = true;
    } else if (argument == "--") {
      positional.insert(positional.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        arguments.end());
      break;
    } else if (argument.size() > 1 && argument[0] == '-' && argument[1] == '-') {
      return "unknown option " + argument;
    } else {
      positional.push_back(argument);
    }
  }
  if (positional.size() != 1) {
    return options.mode == Mode::kEnvelope ? "expected one envelope" : "expected one link";
  }
  if (options.trace && options.mode == Mode::kEnvelope)
    return "--trace applies to a link";
  options.input = positional.front();
  return std::nullopt;
}

// The first two characters and the length: enough to tell tokens apart, not to use one. Short
// tokens show nothing but their length.
std::string MaskToken(const std::string& token) {
  std::string shown;
  if (token.size() >= 8) {
    int characters = 0;
    for (std::size_t i = 0; i < token.size(); ++i) {
      const bool startsCharacter = (static_cast<unsigned char>(token[i]) & 0xC0) != 0x80;
      if (startsCharacter && ++characters > 2)
        break;
      shown += token[i];
    }
  }
  return shown + "\xE2\x80\xA6 (" + std::to_string(token.size()) + " bytes)";
}

// The player's test: the link's content link id is used as the address itself.
bool IsDirectAddress(const std::string& contentLinkId) {
  return contentLinkId.rfind("http://", 0) == 0 || contentLinkId.rfind("https://", 0) == 0;
}

LinkParseOptions TakeParseOptions(Options& options) {
  LinkParseOptions parseOptions;
  if (options.trace) {
    parseOptions.trace = [](const std::string& line) { tools::WriteErr("trace: " + line + "\n"); };
  }
  parseOptions.keyOverride = options.key.str();
  options.key.Wipe();
  return parseOptions;
}

int ReportLinkError(const std::string& errorCode) {
  std::string text =
      "error: " + errorCode + "\n" + "diagnostic code: " + BuildLinkErrorCode(errorCode) + "\n";
  // The player shows a server's text to the user as it stands instead of a diagnostic code.
  static constexpr char kServerPrefix[] = "server:";
  if (errorCode.rfind(kServerPrefix, 0) == 0)
    text += "message: " + errorCode.substr(sizeof(kServerPrefix) - 1) + "\n";
  tools::WriteOut(text);
  return kRefused;
}

int InspectLink(Options& options) {
  LinkParseOptions parseOptions = TakeParseOptions(options);
  LinkFields fields;
  std::string errorCode;
  const bool decoded = DecodeLaunchLink(Utf8ToUtf16(options.input), fields, errorCode, parseOptions);
  config::SecureWipe(parseOptions.keyOverride.data(), parseOptions.keyOverride.size());
  if (!decoded)
    return ReportLinkError(errorCode);
  tools::WriteOut("token: " + MaskToken(fields.token) + "\n" + "content link id: " + fields.contentLinkId +
                  "\n" + "domain: " + fields.domain + "\n" +
                  "direct address: " + (IsDirectAddress(fields.contentLinkId) ? "yes" : "no") + "\n");
  config::SecureWipe(fields.token.data(), fields.token.size());
  return kOk;
}

// The player's order: built-in pins, then the served list (which also installs the shared
// client's secret header), then the link. A pin list that cannot be had leaves the built-in pins
// alone, as in the player.
int ResolveLink(Options& options) {
  LinkParseOptions parseOptions = TakeParseOptions(options);
  ReplacePins(DefaultPins());
  if (!LoadDynamicPins())
    tools::WriteErr("note: the pin list could not be loaded; only the built-in pins apply\n");
  std::string errorCode;
  const bool parsed =
      ParseSchemeArgs(Utf8ToUtf16(options.input), errorCode, NetContentSource(), parseOptions);
  config::SecureWipe(parseOptions.keyOverride.data(), parseOptions.keyOverride.size());
  if (!parsed)
    return ReportLinkError(errorCode);
  const AppState& state = GetAppState();
  tools::WriteOut("content kind: " + Utf16ToUtf8(state.contentKind) + "\n" + "address: " +
                  Utf16ToUtf8(state.contentUrl) + "\n" + "watermark: " + Utf16ToUtf8(state.watermarkText) +
                  "\n" + "script number: " + std::to_string(state.scriptId) + "\n" +
                  "page script length: " + std::to_string(Utf16ToUtf8(state.pageScript).size()) + "\n" +
                  "platform domain: " + Utf16ToUtf8(state.platformDomain) + "\n");
  return kOk;
}

int InspectEnvelope(Options& options) {
  if (options.key.empty())
    options.key = config::LinkKey();
  std::string plaintext;
  try {
    plaintext = DecryptEnvelope(options.input, options.key.str());
  } catch (const std::exception& e) {
    options.key.Wipe();
    tools::WriteOut(std::string("error: ") + e.what() + "\n");
    return kRefused;
  }
  options.key.Wipe();
  tools::WriteOut(plaintext + "\n");
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments = tools::Utf8Arguments(argc, argv);
  Options options;
  if (const std::optional<std::string> problem = ParseOptions(arguments, options))
    return Usage(*problem);
  try {
    switch (options.mode) {
      case Mode::kLink:
        return InspectLink(options);
      case Mode::kResolve:
        return ResolveLink(options);
      case Mode::kEnvelope:
        return InspectEnvelope(options);
    }
  } catch (const std::exception& e) {
    tools::WriteErr(std::string("corvel-inspect-link: ") + e.what() + "\n");
  }
  return kRefused;
}
