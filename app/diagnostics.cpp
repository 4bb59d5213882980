#include "app/diagnostics.h"

#include <string>

#include "config/config.h"
#include "text/text.h"

namespace {

std::string XorWithDiagnosticKey(std::string text) {
  const config::SecretBytes key = config::DiagnosticKey();
  const std::string& k = key.str();
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char>(text[i] ^ k[i % k.size()]);
  return text;
}

}  // namespace

std::string BuildLinkErrorCode(const std::string& reason, std::time_t timestamp) {
  std::string text = "ERRDIAG|v1|ts=";
  text += std::to_string(static_cast<long long>(timestamp));
  text += "|";
  text += "reason=";
  text += reason;
  text += "|";
  text += "END";
  return Base64Encode(XorWithDiagnosticKey(std::move(text)));
}

std::string BuildLinkErrorCode(const std::string& reason) {
  return BuildLinkErrorCode(reason, std::time(nullptr));
}

std::string DecodeLinkErrorCode(const std::string& code) {
  const std::vector<unsigned char> bytes = Base64Decode(code);
  return XorWithDiagnosticKey(std::string(bytes.begin(), bytes.end()));
}
