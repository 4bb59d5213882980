// The content data request: what lies behind a content link id.
#ifndef CORVEL_NET_CONTENT_DATA_H_
#define CORVEL_NET_CONTENT_DATA_H_

#include <optional>
#include <string>

#include "link/content.h"

// PUT of the form (token, content link id) to the domain's content path over the shared client,
// after installing the constant header on it (it stays for every later request). Nothing on
// failure; errorText then holds the server's "message" text or, when there is none, the client's
// error text (left untouched for a 2xx answer that cannot be read). Never throws; blocks.
std::optional<ContentData> GetContentData(const std::wstring& domain,
                                          const std::string& contentLinkId,
                                          const std::string& token,
                                          std::string& errorText);

#endif  // CORVEL_NET_CONTENT_DATA_H_
