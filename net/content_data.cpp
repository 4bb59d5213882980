#include "net/content_data.h"

#include "config/config.h"
#include "net/http_client.h"
#include "net/server_api.h"

std::optional<ContentData> GetContentData(const std::wstring& domain,
                                          const std::string& contentLinkId,
                                          const std::string& token,
                                          std::string& errorText) {
  try {
    HttpClient& client = HttpClient::Shared();
    client.SetDefaultHeader(config::ConstantHeaderName(), config::ConstantHeaderValue());
    const HttpResponse response =
        client.Put(BuildContentUrl(domain), BuildContentForm(token, contentLinkId), kFormContentType);
    if (!response.success) {
      if (std::optional<std::string> message = ParseServerMessage(response.body))
        errorText = *message;
      if (errorText.empty() && !response.error.empty())
        errorText = response.error;
      return std::nullopt;
    }
    return ParseContentData(response.body);
  } catch (const std::exception& e) {
    errorText = e.what();  // the shared client could not be made
    return std::nullopt;
  }
}
