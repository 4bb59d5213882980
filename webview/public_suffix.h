// Registrable domains by the Public Suffix List, which the build turns into a table (Debian's
// publicsuffix data by default, CORVEL_PUBLIC_SUFFIX_LIST to give another copy).
#ifndef CORVEL_WEBVIEW_PUBLIC_SUFFIX_H_
#define CORVEL_WEBVIEW_PUBLIC_SUFFIX_H_

#include <string>

// The registrable domain of a canonical host (lower case): its public suffix and the one label
// before it, so "lms.platform.com.eg" gives "platform.com.eg" and "teacher.github.io" gives
// "teacher.github.io". Empty for an IP address, for a host that is a public suffix itself
// ("com.eg", "github.io") and for an empty host. One trailing "." is ignored.
std::wstring RegistrableDomain(const std::wstring& host);

#endif  // CORVEL_WEBVIEW_PUBLIC_SUFFIX_H_
