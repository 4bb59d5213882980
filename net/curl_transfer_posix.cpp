#include "net/curl_transfer_posix.h"

#include <openssl/x509_vfy.h>

#include <memory>
#include <mutex>
#include <stdexcept>

#include "base/curl_handles_posix.h"
#include "text/text.h"

namespace {

// What the certificate check found for one transfer. Written on the transfer's own thread: in
// the handshake of the connection it opens, or before its request on a kept-alive one.
struct Verdict {
  bool judged = false;
  bool pinned = false;
  PinCheck check = PinCheck::kRefused;
};

// The handshake check of one connection, owned by the connection's SSL_CTX (which outlives the
// transfer that opened it when the connection is kept alive).
struct HandshakeJudge {
  std::wstring host;
  ServerTrust trust;
  std::shared_ptr<Verdict> verdict;  // the opening transfer's
};

struct TransferState {
  const CurlTransfer* transfer = nullptr;
  CURL* easy = nullptr;
  CurlOutcome* outcome = nullptr;
  bool secure = false;
  bool prerequested = false;  // the connection (and a proxy's tunnel) is ready for the request
  bool headerOut = false;
  curl_off_t dataOut = 0;
  std::shared_ptr<Verdict> verdict = std::make_shared<Verdict>();
};

void FreeJudge(void*, void* judge, CRYPTO_EX_DATA*, int, long, void*) {
  delete static_cast<HandshakeJudge*>(judge);
}

int JudgeIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, FreeJudge);
  return index;
}

void Judge(Verdict& verdict, const PeerChain& sent, const std::wstring& host, ServerTrust trust) {
  verdict.pinned = IsPinnedHost(host);
  verdict.check = CheckServerTrust(sent, host, trust);
  verdict.judged = true;
}

// OpenSSL's whole verification of the server's chain, replaced: the sent certificates go to the
// player's check. No other verification runs (libcurl's own is switched off).
int VerifyInHandshake(X509_STORE_CTX* store, void*) noexcept {
  try {
    auto* connection =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* judge =
        connection == nullptr
            ? nullptr
            : static_cast<HandshakeJudge*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(connection), JudgeIndex()));
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (judge == nullptr || leaf == nullptr || X509_up_ref(leaf) != 1)
      return 0;
    PeerChain sent;
    sent.emplace_back(leaf);
    STACK_OF(X509)* others = X509_STORE_CTX_get0_untrusted(store);
    for (int i = 0; others != nullptr && i < sk_X509_num(others); ++i) {
      X509* certificate = sk_X509_value(others, i);
      if (certificate == leaf || certificate == nullptr || X509_up_ref(certificate) != 1)
        continue;
      sent.emplace_back(certificate);
    }
    Judge(*judge->verdict, sent, judge->host, judge->trust);
    if (judge->verdict->check == PinCheck::kTrusted)
      return 1;
  } catch (...) {
    // Only memory exhaustion gets here: the server is refused.
  }
  X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
  return 0;
}

CURLcode OnSslContext(CURL*, void* context, void* user) noexcept {
  auto& state = *static_cast<TransferState*>(user);
  auto* ssl = static_cast<SSL_CTX*>(context);
  try {
    auto judge = std::make_unique<HandshakeJudge>(
        HandshakeJudge{state.transfer->host, state.transfer->trust, state.verdict});
    if (JudgeIndex() < 0 || SSL_CTX_set_ex_data(ssl, JudgeIndex(), judge.get()) != 1)
      return CURLE_SSL_CERTPROBLEM;
    judge.release();  // FreeJudge frees it with the context
  } catch (...) {
    return CURLE_OUT_OF_MEMORY;
  }
  SSL_CTX_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_cert_verify_callback(ssl, VerifyInHandshake, nullptr);
  // The check belongs to the first handshake; a renegotiated one would show a chain that nothing
  // judges for the transfer that is using the connection then.
  SSL_CTX_set_options(ssl, SSL_OP_NO_RENEGOTIATION);
  return CURLE_OK;
}

// Called once the connection for the request is ready, new or kept alive, before any byte of the
// request goes out. A new connection was judged in its handshake; a kept-alive one that another
// transfer opened is judged now, by this transfer's own rule, off the chain it showed then.
int OnPrerequest(void* user, char*, char*, int, int) noexcept {
  auto& state = *static_cast<TransferState*>(user);
  state.prerequested = true;
  if (!state.secure)
    return CURL_PREREQFUNC_OK;
  try {
    Verdict& verdict = *state.verdict;
    if (!verdict.judged) {
      const curl_tlssessioninfo* info = nullptr;
      PeerChain sent;
      if (curl_easy_getinfo(state.easy, CURLINFO_TLS_SSL_PTR, &info) == CURLE_OK && info != nullptr &&
          info->backend == CURLSSLBACKEND_OPENSSL && info->internals != nullptr) {
        sent = CopyPeerChain(static_cast<const SSL*>(info->internals));
      }
      Judge(verdict, sent, state.transfer->host, state.transfer->trust);
    }
    return verdict.check == PinCheck::kTrusted ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
  } catch (...) {
    return CURL_PREREQFUNC_ABORT;
  }
}

int OnDebug(CURL*, curl_infotype type, char*, size_t size, void* user) noexcept {
  auto& state = *static_cast<TransferState*>(user);
  if (type == CURLINFO_HEADER_OUT && state.prerequested) {  // not a proxy's CONNECT
    state.headerOut = true;
  } else if (type == CURLINFO_DATA_OUT) {
    state.dataOut += static_cast<curl_off_t>(size);
  }
  return 0;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) noexcept {
  auto& state = *static_cast<TransferState*>(user);
  const size_t total = size * count;
  try {
    state.outcome->responseStarted = true;
    if (total <= 2 && total > 0 && (data[0] == '\r' || data[0] == '\n')) {
      long status = 0;
      curl_easy_getinfo(state.easy, CURLINFO_RESPONSE_CODE, &status);
      if (status >= 200)
        state.outcome->headersComplete = true;
    }
  } catch (...) {
    return 0;
  }
  return total;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) noexcept {
  auto& state = *static_cast<TransferState*>(user);
  const size_t total = size * count;
  try {
    state.outcome->body.append(data, total);
  } catch (...) {
    return 0;
  }
  return total;
}

bool HasHeader(const std::vector<std::string>& lines, const std::string& lowerName) {
  for (const std::string& line : lines) {
    if (line.size() <= lowerName.size())
      continue;
    if (line[lowerName.size()] != ':' && line[lowerName.size()] != ';')
      continue;
    bool same = true;
    for (size_t i = 0; i < lowerName.size() && same; ++i) {
      char c = line[i];
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
      same = c == lowerName[i];
    }
    if (same)
      return true;
  }
  return false;
}

}  // namespace

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string BuildCurlUrl(bool secure, const std::wstring& host, unsigned port, const std::wstring& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = secure ? "https://" : "http://";
  url += Utf16ToUtf8(host) + ":" + std::to_string(port);
  for (unsigned char c : Utf16ToUtf8(path)) {
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`') {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0x0F];
    } else {
      url += static_cast<char>(c);
    }
  }
  return url;
}

CurlOutcome RunCurlTransfer(const CurlTransfer& transfer) {
  EnsureCurlGlobalInit();
  base::UniqueCurl easy(curl_easy_init());
  if (!easy)
    throw std::runtime_error("curl_easy_init failed");
  CURL* e = easy.get();

  CurlOutcome outcome;
  TransferState state;
  state.transfer = &transfer;
  state.easy = e;
  state.outcome = &outcome;
  state.secure = transfer.url.rfind("https://", 0) == 0;

  curl_easy_setopt(e, CURLOPT_URL, transfer.url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  // The proxy comes from the environment (https_proxy, all_proxy, no_proxy): libcurl reads it
  // when none is set here. HTTPS goes through it in a tunnel, judged as on a direct connection.
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  // libcurl's own verification is off: the player's check replaces it (OnSslContext). The same
  // settings on every transfer let all clients share kept-alive connections, each judged anew.
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, OnSslContext);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &state);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnPrerequest);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, &state);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, transfer.connectTimeoutMs);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, transfer.idleTimeoutSeconds);
  curl_easy_setopt(e, CURLOPT_USERAGENT, transfer.userAgent.c_str());
  if (transfer.share != nullptr)
    curl_easy_setopt(e, CURLOPT_SHARE, transfer.share);
  // The debug stream is the only place that tells when the request went out; nothing is printed.
  curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, OnDebug);
  curl_easy_setopt(e, CURLOPT_DEBUGDATA, &state);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &state);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &state);

  const bool hasBody = transfer.body != nullptr && !transfer.body->empty();
  if (transfer.method == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (transfer.method == "GET" && !hasBody) {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  } else if (hasBody || transfer.method == "POST" || transfer.method == "PUT") {
    static const char kEmpty[] = "";
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(hasBody ? transfer.body->size() : 0));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, hasBody ? transfer.body->data() : kEmpty);
    if (transfer.method != "POST")
      curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, transfer.method.c_str());
  } else {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, transfer.method.c_str());
  }

  // Only the caller's headers go out: curl's own Accept, Expect and form Content-Type are removed.
  std::vector<std::string> lines = transfer.headerLines;
  if (!HasHeader(lines, "accept"))
    lines.push_back("Accept:");
  if (!HasHeader(lines, "expect"))
    lines.push_back("Expect:");
  if (!HasHeader(lines, "content-type"))
    lines.push_back("Content-Type:");
  base::UniqueCurlSlist headers;
  for (const std::string& line : lines) {
    curl_slist* extended = curl_slist_append(headers.get(), line.c_str());
    if (extended == nullptr)
      throw std::runtime_error("curl_slist_append failed");
    headers.release();
    headers.reset(extended);
  }
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());

  outcome.code = curl_easy_perform(e);
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &outcome.status);
  curl_easy_getinfo(e, CURLINFO_HTTP_CONNECTCODE, &outcome.proxyStatus);
  outcome.judged = state.verdict->judged;
  outcome.pinned = state.verdict->pinned;
  outcome.check = state.verdict->check;
  outcome.refused = outcome.judged && outcome.check != PinCheck::kTrusted;
  const curl_off_t bodySize = hasBody ? static_cast<curl_off_t>(transfer.body->size()) : 0;
  outcome.requestSent = state.headerOut && state.dataOut >= bodySize;
  return outcome;
}
