// Test set-up: the roots that "the system" trusts in this test process.
//
// Linux: SSL_CERT_FILE names a bundle of exactly the given certificates and SSL_CERT_DIR an
// empty folder, so OpenSSL's default store holds nothing else. The player loads that store once
// per process, so a TestTrustStore must be made before the first HTTPS request of the process
// (CTest runs every case in a process of its own).
// Windows (under Wine, in the prefix of the test run): the certificates are added to the current
// user's Root store and taken out again when the object goes; every construction first takes
// out what an earlier, interrupted run may have left there. The chain engine reads that store
// when the process first builds a chain, so the same rule applies.
#ifndef CORVEL_TESTS_TEST_TRUST_STORE_H_
#define CORVEL_TESTS_TEST_TRUST_STORE_H_

#include <string>
#include <vector>

class TestTrustStore {
 public:
  // pemFiles: names of files in tools/pki; none means that no test root is trusted.
  explicit TestTrustStore(const std::vector<std::string>& pemFiles);
  ~TestTrustStore();
  TestTrustStore(const TestTrustStore&) = delete;
  TestTrustStore& operator=(const TestTrustStore&) = delete;
};

// Whether this platform's HTTP client sends nothing once its certificate check has refused a
// pinned server. True for libcurl (the TLS handshake fails) and for Windows' WinHTTP (the
// request closed in its SENDING_REQUEST callback fails its send). Wine's WinHTTP goes on to send
// the request it had already prepared (dlls/winhttp/request.c: send_request), so under Wine
// only the request body, which the client wipes, stays unsent.
bool RefusedRequestsStaySilent();

#endif  // CORVEL_TESTS_TEST_TRUST_STORE_H_
