#include "app/diagnostics.h"

#include <gtest/gtest.h>

#include "text/text.h"

namespace {

TEST(DiagnosticsTest, LinkErrorCodeDecodesBackToItsPlainText) {
  const std::string code = BuildLinkErrorCode("exception_MAC verification failed", 1765000000);
  EXPECT_EQ(DecodeLinkErrorCode(code),
            "ERRDIAG|v1|ts=1765000000|reason=exception_MAC verification failed|END");
  // The code is Base64 without line breaks and carries no plain text.
  EXPECT_EQ(code.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
            std::string::npos);
  const std::vector<unsigned char> raw = Base64Decode(code);
  EXPECT_EQ(raw.size(), DecodeLinkErrorCode(code).size());
  EXPECT_EQ(std::string(raw.begin(), raw.end()).find("ERRDIAG"), std::string::npos);

  EXPECT_EQ(DecodeLinkErrorCode(BuildLinkErrorCode("", 7)), "ERRDIAG|v1|ts=7|reason=|END");
  // A reason longer than the key repeats the key; non-ASCII reasons survive.
  const std::string reason = "server:\xd8\xae\xd8\xb7\xd8\xa3 " + std::string(40, 'x');
  const std::string plain = DecodeLinkErrorCode(BuildLinkErrorCode(reason));
  EXPECT_EQ(plain.rfind("ERRDIAG|v1|ts=", 0), 0u);
  EXPECT_NE(plain.find("|reason=" + reason + "|END"), std::string::npos);
}

}  // namespace
