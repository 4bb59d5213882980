#include "net/content_source.h"

#include "net/content_data.h"
#include "net/http_client.h"

ContentSource NetContentSource() {
  ContentSource source;
  source.getContentData = GetContentData;
  // The script runs in the platform's pages: it is taken only from a server whose certificate
  // has been checked, so never over plain HTTP.
  source.fetchPageScript = FetchVerified;
  return source;
}
