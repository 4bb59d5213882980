#include "tests/test_trust_store.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

TestTrustStore::TestTrustStore(const std::vector<std::string>& pemFiles) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("corvel-trust-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder / "empty");
  const std::filesystem::path bundle = folder / "roots.pem";
  std::ofstream out(bundle, std::ios::binary | std::ios::trunc);
  for (const std::string& file : pemFiles) {
    std::ifstream in(std::string(CORVEL_PKI_DIR) + "/" + file, std::ios::binary);
    out << in.rdbuf();
  }
  out.close();
  setenv("SSL_CERT_FILE", bundle.c_str(), 1);
  setenv("SSL_CERT_DIR", (folder / "empty").c_str(), 1);
}

TestTrustStore::~TestTrustStore() {
  std::error_code ignored;
  std::filesystem::remove_all(
      std::filesystem::temp_directory_path() / ("corvel-trust-" + std::to_string(getpid())), ignored);
}

bool RefusedRequestsStaySilent() {
  return true;
}
