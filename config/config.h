// Build-time configuration of the player: endpoints, keys, pins, header names, domain lists.
//
// The values come from the JSON file selected with -DCORVEL_CONFIG (config/corvel.json by
// default) and are compiled in obfuscated: no value is stored as plain text in a binary. Each
// accessor rebuilds its value on every call; callers keep the result only as long as they need
// it. Key material comes back as SecretBytes, which zeroes its bytes when it goes away.
// All accessors are thread-safe and never fail.
#ifndef CORVEL_CONFIG_CONFIG_H_
#define CORVEL_CONFIG_CONFIG_H_

#include <cstddef>
#include <string>
#include <vector>

namespace config {

// Overwrites memory with zero bytes in a way the compiler may not drop.
void SecureWipe(void* data, std::size_t size);

// Owns secret bytes and wipes them on destruction, on Wipe() and when moved from.
class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::string bytes) : bytes_(std::move(bytes)) {}
  ~SecretBytes() { Wipe(); }
  SecretBytes(SecretBytes&& other) noexcept;
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;

  const std::string& str() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  void Wipe();

 private:
  std::string bytes_;
};

// One product whose HTTPS scanning is accepted when it is identified and running.
struct InspectorEntry {
  std::wstring issuerFragment;             // lower case, found in the issuer of its certificates
  std::vector<std::wstring> processNames;  // lower case executable names, no path
  std::wstring signerFragment;             // lower case, found in the signer of its executables
};

// Keys.
SecretBytes LinkKey();        // 32 bytes: AES-256 and HMAC-SHA256 key of the launch link
SecretBytes DiagnosticKey();  // 16 bytes: XOR key of the link diagnostic code

// Platform endpoints.
std::wstring PlatformBaseUrl();     // the reference platform's own base address
std::wstring PinListUrl();          // GET, JSON array of {"scope", "pins"}
std::wstring VersionUrl();          // built-in version check address
std::wstring VersionPath();         // appended to a link's platform domain
std::wstring ContentPath();         // appended to a link's platform domain (PUT)
std::string PageScriptUrlPrefix();  // the decimal script id is appended

// Content data request.
std::string FormTokenField();
std::string FormContentLinkField();
std::wstring ConstantHeaderName();
std::wstring ConstantHeaderValue();
std::wstring XSecret();
std::string ContentWrapperKey();
std::string ContentTypeKey();
std::string ContentUrlKey();
std::string ContentVideoUrlKey();
std::string ContentWatermarkKey();
std::string ContentScriptIdKey();

std::wstring ClientUserAgent();

// Certificate pinning.
std::wstring BuiltinPinScope();
std::vector<std::string> BuiltinPins();         // four bare Base64 SHA-256 SPKI digests
std::wstring PrimaryDomain();                   // host suffix that marks the platform's own hosts
std::vector<InspectorEntry> KnownInspectors();  // 21 entries, in table order

// Navigation policy and web view.
std::vector<std::wstring> AllowedDomains();  // 39 entries, in policy order
std::vector<std::wstring> CdnFamilyA();
std::vector<std::wstring> CdnFamilyB();
std::wstring IdentificationHeaderName();
std::wstring IdentificationHeaderValue();
std::vector<std::wstring> IdentificationUrlPatterns();  // lower case substrings
std::wstring InitStartUrl();
std::wstring InitHomeUrl();
std::vector<std::wstring> InitHeaderNames();  // two names sharing InitHeaderValue()
std::wstring InitHeaderValue();

// Third-party hosts.
std::wstring YouTubeDomain();       // "youtube.com"
std::wstring YouTubeShortDomain();  // "youtu.be"
std::wstring YouTubeEmbedPrefix();  // "https://www.youtube.com/embed/"
std::wstring ZoomDomain();          // "zoom.us"

// Downloads.
std::wstring FallbackDownloadUrl();
// Hosts, besides the fallback address's own, whose https addresses an update prompt may open.
std::vector<std::wstring> DownloadHosts();
std::wstring RuntimeInstallerUrl();

}  // namespace config

#endif  // CORVEL_CONFIG_CONFIG_H_
