// Test helper: the certificates of the project's test PKI (tools/pki) as DER bytes.
#ifndef CORVEL_NET_PKI_TEST_UTIL_H_
#define CORVEL_NET_PKI_TEST_UTIL_H_

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "text/text.h"

// Every certificate of a PEM file of tools/pki, in file order.
inline std::vector<std::string> ReadPkiCertificates(const std::string& name) {
  std::ifstream in(std::string(CORVEL_PKI_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
  static const std::string kEnd = "-----END CERTIFICATE-----";
  std::vector<std::string> certificates;
  for (std::size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at)) {
    const std::size_t start = at + kBegin.size();
    const std::size_t end = pem.find(kEnd, start);
    if (end == std::string::npos)
      break;
    std::string base64;
    for (char c : pem.substr(start, end - start)) {
      if (c != '\r' && c != '\n' && c != ' ')
        base64 += c;
    }
    const std::vector<unsigned char> der = Base64Decode(base64);
    certificates.emplace_back(der.begin(), der.end());
    at = end;
  }
  return certificates;
}

// The pins of the test keys (tools/pki/print-pins.sh).
inline constexpr char kPinLeafA[] = "pa+rnUqZHWwINISU1zOrqeggo+o71tR7BtDJksCwbuY=";
inline constexpr char kPinInterA[] = "YAneOZlyNgbcmwOk9Yw6uk1uipQejDsm+Kmn59V89Lc=";
inline constexpr char kPinRootA[] = "MdZlF+6r+Hvk+UCjTexLQHGFeY2i2N1JH8MonKUIiXo=";
inline constexpr char kPinLeafX[] = "CdvOo1X4WL60ifNkOMYn2PT1E0Di1t6OQOLTu9DyO2o=";
inline constexpr char kPinRootX[] = "i5jvjgBE4ng9UO71j3Qi1e+M/9htcVr+pUkEV1H1HhY=";

#endif  // CORVEL_NET_PKI_TEST_UTIL_H_
