#include "config/config.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "text/text.h"

namespace {

nlohmann::json LoadFile() {
  std::ifstream in(CORVEL_CONFIG_FILE, std::ios::binary);
  return nlohmann::json::parse(in);
}

std::wstring W(const nlohmann::json& v) { return Utf8ToUtf16(v.get<std::string>()); }

std::vector<std::wstring> WList(const nlohmann::json& v) {
  std::vector<std::wstring> out;
  for (const auto& item : v) out.push_back(W(item));
  return out;
}

// Catches a generator that mixes up values, drops list entries or corrupts bytes on the way.
TEST(ConfigTest, EveryAccessorRebuildsTheConfiguredValue) {
  const nlohmann::json f = LoadFile();
  std::string key;
  for (size_t i = 0; i < 32; ++i) {
    key += static_cast<char>(std::stoi(f["link_key_hex"].get<std::string>().substr(2 * i, 2), nullptr, 16));
  }
  EXPECT_EQ(config::LinkKey().str(), key);
  EXPECT_EQ(config::DiagnosticKey().str(), f["diagnostic_key"].get<std::string>());
  EXPECT_EQ(config::PinListUrl(), W(f["pin_list_url"]));
  EXPECT_EQ(config::VersionUrl(), W(f["version_url"]));
  EXPECT_EQ(config::VersionPath(), W(f["version_path"]));
  EXPECT_EQ(config::ContentPath(), W(f["content_path"]));
  EXPECT_EQ(config::PageScriptUrlPrefix(), f["page_script_url_prefix"].get<std::string>());
  EXPECT_EQ(config::FormTokenField(), f["form_token_field"].get<std::string>());
  EXPECT_EQ(config::FormContentLinkField(), f["form_content_link_field"].get<std::string>());
  EXPECT_EQ(config::ConstantHeaderName(), W(f["constant_header_name"]));
  EXPECT_EQ(config::ConstantHeaderValue(), W(f["constant_header_value"]));
  EXPECT_EQ(config::XSecret(), W(f["x_secret"]));
  EXPECT_EQ(config::ContentVideoUrlKey(), f["content_video_url_key"].get<std::string>());
  EXPECT_EQ(config::ContentScriptIdKey(), f["content_script_id_key"].get<std::string>());
  EXPECT_EQ(config::ClientUserAgent(), W(f["client_user_agent"]));
  EXPECT_EQ(config::BuiltinPinScope(), W(f["builtin_pins"]["scope"]));
  EXPECT_EQ(config::BuiltinPins(), f["builtin_pins"]["pins"].get<std::vector<std::string>>());
  EXPECT_EQ(config::PrimaryDomain(), W(f["primary_domain"]));
  EXPECT_EQ(config::AllowedDomains(), WList(f["allowed_domains"]));
  EXPECT_EQ(config::AllowedDomains().size(), 39u);
  EXPECT_EQ(config::CdnFamilyA(), WList(f["cdn_family_a"]));
  EXPECT_EQ(config::CdnFamilyB(), WList(f["cdn_family_b"]));
  EXPECT_EQ(config::IdentificationUrlPatterns(), WList(f["identification_url_patterns"]));
  EXPECT_EQ(config::InitHeaderNames(), WList(f["init_header_names"]));
  EXPECT_EQ(config::InitStartUrl(), W(f["init_start_url"]));
  EXPECT_EQ(config::YouTubeEmbedPrefix(), W(f["youtube_embed_prefix"]));
  EXPECT_EQ(config::ZoomDomain(), W(f["zoom_domain"]));
  EXPECT_EQ(config::RuntimeInstallerUrl(), W(f["runtime_installer_url"]));

  const auto inspectors = config::KnownInspectors();
  ASSERT_EQ(inspectors.size(), 21u);
  for (size_t i = 0; i < inspectors.size(); ++i) {
    const auto& row = f["known_inspectors"][i];
    EXPECT_EQ(inspectors[i].issuerFragment, W(row["issuer"]));
    EXPECT_EQ(inspectors[i].processNames, WList(row["processes"]));
    EXPECT_EQ(inspectors[i].signerFragment, W(row["signer"]));
  }
}

TEST(ConfigTest, SecretBytesWipeOnRequestAndWhenMovedFrom) {
  config::SecretBytes key = config::LinkKey();
  ASSERT_EQ(key.size(), 32u);
  config::SecretBytes moved = std::move(key);
  EXPECT_TRUE(key.empty());  // NOLINT(bugprone-use-after-move): the moved-from state is the contract
  EXPECT_EQ(moved.size(), 32u);
  moved.Wipe();
  EXPECT_TRUE(moved.empty());

  std::string buffer = "secret material";
  config::SecureWipe(buffer.data(), buffer.size());
  EXPECT_EQ(buffer, std::string(15, '\0'));
}

}  // namespace
