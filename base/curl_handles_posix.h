// Owners for the libcurl objects of the Linux build.
#ifndef CORVEL_BASE_CURL_HANDLES_POSIX_H_
#define CORVEL_BASE_CURL_HANDLES_POSIX_H_

#include <curl/curl.h>

#include <memory>

namespace base {

struct CurlEasyDeleter {
  void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};

struct CurlSlistDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

struct CurlShareDeleter {
  void operator()(CURLSH* share) const noexcept { curl_share_cleanup(share); }
};

using UniqueCurl = std::unique_ptr<CURL, CurlEasyDeleter>;
using UniqueCurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;
using UniqueCurlShare = std::unique_ptr<CURLSH, CurlShareDeleter>;

}  // namespace base

#endif  // CORVEL_BASE_CURL_HANDLES_POSIX_H_
