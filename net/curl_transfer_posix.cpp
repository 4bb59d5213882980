#include "net/curl_transfer_posix.h"

#include <mutex>
#include <stdexcept>

#include "base/curl_handles.h"
#include "text/text.h"

namespace {

struct TransferState {
  const CurlTransfer* transfer = nullptr;
  CURL* easy = nullptr;
  CurlOutcome* outcome = nullptr;
  bool headerOut = false;
  curl_off_t dataOut = 0;
  bool judged = false;
  bool chainRead = false;
};

// Only valid while the transfer runs: the connection may be gone once curl_easy_perform returns.
void ReadChain(TransferState& state) {
  if (state.chainRead)
    return;
  const curl_tlssessioninfo* info = nullptr;
  if (curl_easy_getinfo(state.easy, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || info == nullptr ||
      info->backend != CURLSSLBACKEND_OPENSSL || info->internals == nullptr) {
    return;
  }
  state.outcome->chain = CopyPeerChain(static_cast<const SSL*>(info->internals));
  state.chainRead = true;
}

int OnDebug(CURL*, curl_infotype type, char*, size_t size, void* user) noexcept {
  auto& state = *static_cast<TransferState*>(user);
  try {
    if (type == CURLINFO_HEADER_OUT) {
      state.headerOut = true;
      if (state.transfer->keepChain || state.transfer->judgeResponse)
        ReadChain(state);
    } else if (type == CURLINFO_DATA_OUT) {
      state.dataOut += static_cast<curl_off_t>(size);
    }
  } catch (...) {
    // Only memory exhaustion gets here; the chain then stays unread and is judged as absent.
  }
  return 0;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) noexcept {
  auto& state = *static_cast<TransferState*>(user);
  const size_t total = size * count;
  try {
    state.outcome->responseStarted = true;
    if (!state.judged && state.transfer->judgeResponse) {
      state.judged = true;
      ReadChain(state);
      if (!state.transfer->judgeResponse(state.outcome->chain)) {
        state.outcome->refused = true;
        return 0;  // ends the transfer before the body
      }
    }
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

  curl_easy_setopt(e, CURLOPT_URL, transfer.url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_PROXY, "");
  curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
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
  const curl_off_t bodySize = hasBody ? static_cast<curl_off_t>(transfer.body->size()) : 0;
  outcome.requestSent = state.headerOut && state.dataOut >= bodySize;
  return outcome;
}
