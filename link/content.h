// The server's description of a content and the YouTube and Zoom address rules.
#ifndef CORVEL_LINK_CONTENT_H_
#define CORVEL_LINK_CONTENT_H_

#include <cstdint>
#include <string>
#include <vector>

// Filled from the server's JSON answer (all texts UTF-8). Missing fields keep these defaults.
struct ContentData {
  std::string type = "video";
  std::string url;
  std::string videoUrl;  // used instead of url when it is a YouTube address
  std::string watermarkText;
  std::int32_t scriptId = 1;        // appended to the page-script request for YouTube content
  std::vector<std::string> extras;  // never filled, never read
};

// Whether an address is on YouTube's hosts (its main or short-link domain, or a subdomain) or on
// Zoom's. The host is the one the browser engine reads (text/web_address.h): a domain that only
// appears in a path, a query or user-info does not count.
bool IsYouTubeUrl(const std::wstring& address);
bool IsZoomUrl(const std::wstring& address);

// Turns the usual YouTube address shapes (short link, embed, shorts, live, watch) into the
// embed address with an "origin" parameter from GetAppState().platformDomain. Anything it does
// not recognise comes back unchanged.
std::wstring NormalizeYouTubeUrl(const std::wstring& address);
// The same with the platform domain given.
std::wstring NormalizeYouTubeUrl(const std::wstring& address, const std::wstring& platformDomain);

#endif  // CORVEL_LINK_CONTENT_H_
