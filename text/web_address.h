// Web addresses read the way the browser engine reads them.
//
// The player judges addresses (where the view may go, which host a request is for, which host a
// pin or a permission belongs to) that the engine will load. The host it judges must be the host
// the engine connects to, so the parser follows the URL standard's parsing of "http" and "https"
// addresses as far as the host and port go: surrounding spaces and controls dropped, tabs and
// line breaks removed, any run of "/" and "\" after the scheme, user-info up to the last "@",
// the port, IPv4 addresses in every form the standard accepts ("0x7f.1" is 127.0.0.1) and IPv6
// literals written canonically.
//
// Where the standard would transform a host in ways the player does not repeat (percent-escapes,
// characters outside ASCII letters, digits, "-", "_" and "."), the address is not parsed at
// all: a host the player cannot name for certain is never judged as some other host.
//
// Pure functions; they never throw except std::bad_alloc.
#ifndef CORVEL_TEXT_WEB_ADDRESS_H_
#define CORVEL_TEXT_WEB_ADDRESS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct WebAddress {
  std::wstring scheme;     // "http" or "https"
  std::wstring host;       // lower case; IPv4 dotted decimal; IPv6 compressed, in brackets
  std::uint16_t port = 0;  // as written, or the scheme's default (80, 443)
  bool hasUserInfo = false;
  std::wstring rest;  // what follows the authority (path, query, fragment), as written
};

// An "http:" or "https:" address (any letter case), or nothing.
std::optional<WebAddress> ParseWebAddress(const std::wstring& address);

// The web address an address stands for: itself, or the http(s) origin inside a "blob:" address.
std::optional<WebAddress> ParseWebOrBlobAddress(const std::wstring& address);

// A host as written in an address, in its canonical form (see WebAddress::host), or nothing
// when it is empty or not one the parser reads.
std::optional<std::wstring> CanonicalHost(const std::wstring& host);

// The 16 bytes of an IPv6 literal (without its brackets), or nothing.
std::optional<std::array<std::uint8_t, 16>> ParseIpv6(const std::wstring& text);

// The host is an IP address in canonical form ("10.0.0.1" or "[...]").
bool IsIpAddressHost(const std::wstring& canonicalHost);

// The host is the domain or a subdomain of it (both lower case; one trailing "." on the host is
// ignored).
bool HostIsOrIsUnder(const std::wstring& host, const std::wstring& domain);

#endif  // CORVEL_TEXT_WEB_ADDRESS_H_
