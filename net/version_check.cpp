#include "net/version_check.h"

#include "net/http_client.h"
#include "net/server_api.h"

UpdateInfo CheckForUpdate(double currentVersion, const std::wstring& baseUrl) {
  try {
    const HttpResponse response = HttpClient::Shared().Get(BuildVersionUrl(baseUrl));
    if (!response.success)
      return {};
    return ParseUpdateInfo(response.body, currentVersion);
  } catch (...) {
    return {};  // the shared client could not be made, or memory ran out: no update
  }
}
