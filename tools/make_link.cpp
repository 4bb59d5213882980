// corvel-make-link: writes a launch link the way the platform's web site does, for support and
// for tests. Each field becomes an envelope under the link key (the configured one unless
// --key-hex names another).
//
//   corvel-make-link [--key-hex HEX] [--no-mac] [--percent-encode] TOKEN CONTENT_LINK_ID DOMAIN
//
// Prints the link and a line break. Exit status 0, 1 when the key is refused, 2 on bad usage.
#include <exception>
#include <string>
#include <vector>

#include "config/config.h"
#include "link/envelope_writer.h"
#include "tools/console.h"
#include "tools/key_option.h"

namespace {

constexpr char kUsage[] =
    "usage: corvel-make-link [--key-hex HEX] [--no-mac] [--percent-encode] TOKEN CONTENT_LINK_ID DOMAIN\n"
    "  --key-hex HEX     envelope key in hex instead of the configured link key\n"
    "  --no-mac          leave the integrity tag out (a link the player refuses)\n"
    "  --percent-encode  write every \":\" and \"+\" after the scheme as a browser might (%3A, %2B)\n";

int Usage(const std::string& problem) {
  tools::WriteErr("corvel-make-link: " + problem + "\n" + kUsage);
  return 2;
}

std::string PercentEncodeSeparators(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ':') {
      out += "%3A";
    } else if (c == '+') {
      out += "%2B";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments = tools::Utf8Arguments(argc, argv);
  config::SecretBytes key;
  bool haveKey = false;
  bool withMac = true;
  bool percentEncode = false;
  std::vector<std::string> fields;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string& argument = arguments[i];
    if (argument == "--key-hex") {
      if (i + 1 >= arguments.size())
        return Usage("--key-hex needs a value");
      if (!tools::TakeKeyHex(arguments[++i], key))
        return Usage("--key-hex takes hex digits");
      haveKey = true;
    } else if (argument == "--no-mac") {
      withMac = false;
    } else if (argument == "--percent-encode") {
      percentEncode = true;
    } else if (argument == "--") {
      fields.insert(fields.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
      break;
    } else if (argument.size() > 1 && argument[0] == '-' && argument[1] == '-') {
      return Usage("unknown option " + argument);
    } else {
      fields.push_back(argument);
    }
  }
  if (fields.size() != 3)
    return Usage("expected TOKEN CONTENT_LINK_ID DOMAIN");
  if (!haveKey)
    key = config::LinkKey();

  std::string link;
  try {
    for (const std::string& field : fields) {
      if (!link.empty())
        link += ':';
      link += EncryptEnvelope(field, key.str(), withMac);
    }
  } catch (const std::exception& e) {
    key.Wipe();
    tools::WriteErr(std::string("corvel-make-link: ") + e.what() + "\n");
    return 1;
  }
  key.Wipe();
  // Envelopes are base64, so ":" only ever separates them; "+" is what browsers mangle.
  tools::WriteOut("corvel:" + (percentEncode ? PercentEncodeSeparators(link) : link) + "\n");
  return 0;
}
