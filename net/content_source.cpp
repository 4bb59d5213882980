#include "net/content_source.h"

#include "net/content_data.h"
#include "net/http_client.h"

ContentSource NetContentSource() {
  ContentSource source;
  source.getContentData = GetContentData;
  source.fetchPageScript = [](const std::wstring& address) -> std::optional<std::string> {
    HttpClient client;
    client.DisablePinning();
    HttpResponse response = client.Get(address);
    if (!response.success)
      return std::nullopt;
    return std::move(response.body);
  };
  return source;
}
