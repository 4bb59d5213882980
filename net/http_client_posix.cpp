// The client's transport on libcurl with OpenSSL.
//
// Each request runs on a fresh easy handle; all handles of the process share one connection
// and name cache, so a client's requests and the requests of other clients
// (the page-script client) reuse one keep-alive connection per server where the server allows
// it, as WinHTTP pools its connections. A client's own state (default headers, pre-flighted
// hosts, pinning switched off) never travels with a connection: every transfer judges the
// certificate of the connection it is about to use by its own rule before it sends anything
// (net/curl_transfer_posix.h), and a connection whose server was refused is closed, never
// pooled.
//
// Error texts are the ones of the Windows client, with curl's own CURLcode as the number:
// failures before the request was fully sent are "WinHttpSendRequest failed: <code>", failures
// while waiting for the response "WinHttpReceiveResponse failed: <code>", and a body cut short
// after the headers "WinHttpReadData failed: <code>".
#include <mutex>
#include <stdexcept>

#include "base/curl_handles_posix.h"
#include "config/config.h"
#include "net/curl_transfer_posix.h"
#include "net/http_client.h"
#include "net/pinning_posix.h"
#include "text/text.h"

namespace {

HttpResponse Failure(const std::string& error) {
  HttpResponse response;
  response.error = error;
  return response;
}

std::string WithCode(const char* text, CURLcode code) {
  return std::string(text) + std::to_string(static_cast<int>(code));
}

// curl sends "Name:" lines with an empty value only when written as "Name;".
std::string CurlHeaderLine(const std::wstring& line) {
  std::string utf8 = Utf16ToUtf8(line);
  if (utf8.size() >= 2 && utf8.compare(utf8.size() - 2, 2, ": ") == 0) {
    utf8.resize(utf8.size() - 2);
    utf8 += ';';
  }
  return utf8;
}

// The process-wide connection and name cache. Made on first use and never destroyed: the shared
// client lives until the process ends and may still be in use while static objects go away.
class ConnectionCache {
 public:
  // Null when libcurl could not make the share.
  static CURLSH* Get() {
    static ConnectionCache* const cache = new ConnectionCache();
    return cache->share_.get();
  }

 private:
  ConnectionCache() {
    EnsureCurlGlobalInit();
    share_.reset(curl_share_init());
    if (!share_)
      return;
    curl_share_setopt(share_.get(), CURLSHOPT_LOCKFUNC, Lock);
    curl_share_setopt(share_.get(), CURLSHOPT_UNLOCKFUNC, Unlock);
    curl_share_setopt(share_.get(), CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }

  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<ConnectionCache*>(user)->locks_[Slot(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<ConnectionCache*>(user)->locks_[Slot(data)].unlock();
  }
  static std::size_t Slot(curl_lock_data data) {
    const auto slot = static_cast<std::size_t>(data);
    return slot < kLockSlots ? slot : 0;
  }

  static constexpr std::size_t kLockSlots = CURL_LOCK_DATA_LAST;
  std::mutex locks_[kLockSlots];
  base::UniqueCurlShare share_;
};

class CurlTransport : public HttpTransport {
 public:
  CurlTransport() : userAgent_(Utf16ToUtf8(config::ClientUserAgent())), share_(ConnectionCache::Get()) {
    if (share_ == nullptr)
      throw std::runtime_error("WinHttpOpen failed");
  }

  std::optional<UrlParts> SplitUrl(const std::wstring& url) override { return SplitHttpUrl(url); }

  HttpResponse Exchange(const std::wstring& method,
                        const UrlParts& url,
                        const std::vector<std::wstring>& headerLines,
                        const std::string& body,
                        ServerTrust trust,
                        bool preflight) override {
    CurlTransfer transfer = Base(url, url.path, trust);
    transfer.method = Utf16ToUtf8(method);
    for (const std::wstring& line : headerLines)
      transfer.headerLines.push_back(CurlHeaderLine(line));
    transfer.body = &body;

    CurlOutcome outcome;
    try {
      outcome = RunCurlTransfer(transfer);
    } catch (const std::runtime_error&) {
      return Failure("WinHttpConnect failed");
    }
    if (outcome.proxyStatus == 407)
      return Failure(kProxyAuthenticationError);
    if (outcome.refused && outcome.pinned) {
      ApplyPinCheck(outcome.check, url.host);
      return Failure(preflight ? PreflightFailure(url.host)
                               : "SSL Pin validation FAILED for " + Utf16ToUtf8(url.host));
    }
    // A pinned host that showed no certificate fails its pre-flight, whatever kept it away.
    if (preflight && !outcome.judged && IsPinnedHost(url.host) && !ValidateServerPins(PeerChain{}, url.host))
      return Failure(PreflightFailure(url.host));
    if (outcome.code != CURLE_OK) {
      if (outcome.headersComplete) {
        // A body cut short is not a completed exchange, whatever the status said.
        HttpResponse response;
        response.statusCode = static_cast<std::uint32_t>(outcome.status);
        response.body = std::move(outcome.body);
        response.error = WithCode("WinHttpReadData failed: ", outcome.code);
        return response;
      }
      if (!outcome.requestSent || outcome.code == CURLE_SEND_ERROR) {
        return Failure(WithCode("WinHttpSendRequest failed: ", outcome.code));
      }
      return Failure(WithCode("WinHttpReceiveResponse failed: ", outcome.code));
    }

    HttpResponse response;
    response.statusCode = static_cast<std::uint32_t>(outcome.status);
    response.body = std::move(outcome.body);
    response.success = response.statusCode >= 200 && response.statusCode <= 299;
    return response;
  }

 private:
  CurlTransfer Base(const UrlParts& url, const std::wstring& path, ServerTrust trust) const {
    CurlTransfer transfer;
    transfer.url = BuildCurlUrl(url.secure, url.host, url.port, path);
    transfer.userAgent = userAgent_;
    transfer.share = share_;
    transfer.host = url.host;
    transfer.trust = trust;
    return transfer;
  }

  std::string userAgent_;
  CURLSH* share_;  // the process-wide cache; not owned
};

}  // namespace

std::unique_ptr<HttpTransport> MakePlatformTransport() {
  return std::make_unique<CurlTransport>();
}
