#include "net/pin_list.h"

#include "config/config.h"
#include "net/http_client.h"
#include "net/pinning.h"
#include "net/server_api.h"

bool LoadDynamicPins() {
  try {
    HttpClient& client = HttpClient::Shared();
    client.SetDefaultHeader(kSecretHeaderName, config::XSecret());
    const HttpResponse response = client.Get(config::PinListUrl());
    if (!response.success)
      return false;
    const std::optional<std::vector<PinEntry>> served = ParsePinList(response.body);
    if (!served)
      return false;
    std::vector<PinEntry> entries = DefaultPins();
    entries.insert(entries.end(), served->begin(), served->end());
    ReplacePins(entries);
    return true;
  } catch (...) {
    return false;
  }
}
