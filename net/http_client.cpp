#include "net/http_client.h"

#include <exception>
#include <utility>

#include "text/text.h"

namespace {

constexpr std::size_t kMaxHostLength = 255;   // a host buffer of 256 units, NUL included
constexpr std::size_t kMaxPathLength = 2047;  // a path buffer of 2048 units, NUL included

bool IsAsciiAlnum(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsPlainHostName(const std::wstring& host) {
  for (wchar_t c : host) {
    if (!IsAsciiAlnum(c) && c != L'-' && c != L'.' && c != L'_')
      return false;
  }
  return true;
}

bool IsBracketedIpv6(const std::wstring& host) {
  if (host.size() < 3 || host.front() != L'[' || host.back() != L']')
    return false;
  for (std::size_t i = 1; i + 1 < host.size(); ++i) {
    const wchar_t c = host[i];
    if (!IsHexDigit(c) && c != L':' && c != L'.')
      return false;
  }
  return true;
}

}  // namespace

std::wstring NormalizeBaseUrl(const std::wstring& text) {
  std::wstring base = text;
  while (!base.empty() && (base.back() == L'/' || base.back() == L'\\'))
    base.pop_back();
  if (base.empty())
    return {};
  if (base.size() > 2 && base.find(L"://") != std::wstring::npos)
    return base;
  return L"https://" + base;
}

std::vector<std::wstring> BuildHeaderLines(const std::map<std::wstring, std::wstring>& defaults,
                                           const std::wstring& contentType) {
  std::vector<std::wstring> lines;
  lines.reserve(defaults.size() + 1);
  for (const auto& [name, value] : defaults)
    lines.push_back(name + L": " + value);
  if (!contentType.empty())
    lines.push_back(L"Content-Type: " + contentType);
  return lines;
}

std::optional<UrlParts> SplitHttpUrl(const std::wstring& url) {
  const std::size_t schemeEnd = url.find(L"://");
  if (schemeEnd == std::wstring::npos)
    return std::nullopt;
  const std::wstring scheme = ToLowerCopy(url.substr(0, schemeEnd));
  UrlParts parts;
  if (scheme == L"https") {
    parts.secure = true;
    parts.port = 443;
  } else if (scheme == L"http") {
    parts.port = 80;
  } else {
    return std::nullopt;
  }

  const std::size_t authorityStart = schemeEnd + 3;
  std::size_t authorityEnd = url.find_first_of(L"/?", authorityStart);
  if (authorityEnd == std::wstring::npos)
    authorityEnd = url.size();
  const std::wstring authority = url.substr(authorityStart, authorityEnd - authorityStart);
  parts.path = url.substr(authorityEnd);
  if (authority.find(L'@') != std::wstring::npos)
    return std::nullopt;

  std::wstring portText;
  bool hasPort = false;
  if (!authority.empty() && authority.front() == L'[') {
    const std::size_t close = authority.find(L']');
    if (close == std::wstring::npos)
      return std::nullopt;
    parts.host = authority.substr(0, close + 1);
    const std::wstring rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != L':')
        return std::nullopt;
      hasPort = true;
      portText = rest.substr(1);
    }
    if (!IsBracketedIpv6(parts.host))
      return std::nullopt;
  } else {
    const std::size_t colon = authority.find(L':');
    parts.host = authority.substr(0, colon);
    if (colon != std::wstring::npos) {
      hasPort = true;
      portText = authority.substr(colon + 1);
    }
    if (!IsPlainHostName(parts.host))
      return std::nullopt;
  }
  if (parts.host.empty() || parts.host.size() > kMaxHostLength)
    return std::nullopt;
  if (parts.path.size() > kMaxPathLength)
    return std::nullopt;

  if (hasPort) {
    if (portText.empty() || portText.size() > 5)
      return std::nullopt;
    unsigned long port = 0;
    for (wchar_t c : portText) {
      if (c < L'0' || c > L'9')
        return std::nullopt;
      port = port * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (port == 0 || port > 65535)
      return std::nullopt;
    parts.port = static_cast<std::uint16_t>(port);
  }
  return parts;
}

HttpClient::HttpClient() : transport_(MakePlatformTransport()) {}

HttpClient::HttpClient(std::unique_ptr<HttpTransport> transport) : transport_(std::move(transport)) {}

HttpClient::~HttpClient() = default;

HttpClient& HttpClient::Shared() {
  // Made once even when threads race here; never destroyed, so a request still running on
  // another thread at exit never meets a dead client.
  static HttpClient* const shared = [] { return new HttpClient(); }();
  return *shared;
}

void HttpClient::SetDefaultHeader(const std::wstring& name, const std::wstring& value) {
  std::lock_guard<std::mutex> guard(lock_);
  defaultHeaders_[name] = value;
}

void HttpClient::DisablePinning() {
  pinningDisabled_ = true;
}

HttpResponse HttpClient::Get(const std::wstring& url) {
  return Request(L"GET", url, {}, {});
}

HttpResponse HttpClient::Post(const std::wstring& url,
                              const std::string& body,
                              const std::wstring& contentType) {
  return Request(L"POST", url, body, contentType);
}

HttpResponse HttpClient::Put(const std::wstring& url,
                             const std::string& body,
                             const std::wstring& contentType) {
  return Request(L"PUT", url, body, contentType);
}

HttpResponse HttpClient::Request(const std::wstring& method,
                                 const std::wstring& url,
                                 const std::string& body,
                                 const std::wstring& contentType) {
  // Callers rely on a response, never an exception; only memory exhaustion can throw in here.
  try {
    return RequestUnguarded(method, url, body, contentType);
  } catch (const std::exception& e) {
    HttpResponse response;
    response.error = std::string("Request failed: ") + e.what();
    return response;
  }
}

HttpResponse HttpClient::RequestUnguarded(const std::wstring& method,
                                          const std::wstring& url,
                                          const std::string& body,
                                          const std::wstring& contentType) {
  const std::optional<UrlParts> parts = transport_->SplitUrl(url);
  if (!parts) {
    HttpResponse response;
    response.error = "Failed to parse URL";
    return response;
  }

  const bool pinned = !pinningDisabled_;
  const std::wstring server = parts->host + L":" + std::to_wstring(parts->port);
  std::map<std::wstring, std::wstring> headers;
  bool preflight = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    headers = defaultHeaders_;
    preflight = parts->secure && pinned && preflightedHosts_.count(server) == 0;
  }
  HttpResponse response =
      transport_->Exchange(method, *parts, BuildHeaderLines(headers, contentType), body,
                           pinned ? ServerTrust::kPinned : ServerTrust::kPinsOrSystem, preflight);
  if (preflight && response.error != PreflightFailure(parts->host)) {
    std::lock_guard<std::mutex> guard(lock_);
    preflightedHosts_.insert(server);
  }
  return response;
}

std::string PreflightFailure(const std::wstring& host) {
  return "Pre-flight SSL Pin validation FAILED for " + Utf16ToUtf8(host) + ". MITM Attack Prevented!";
}

std::optional<std::string> FetchVerified(const std::wstring& address) {
  static const std::wstring kHttps = L"https://";
  if (ToLowerCopy(address.substr(0, kHttps.size())) != kHttps)
    return std::nullopt;
  HttpClient client;
  client.DisablePinning();
  HttpResponse response = client.Get(address);
  if (!response.success)
    return std::nullopt;
  return std::move(response.body);
}
