// The version check: does the platform offer a newer player, and is it mandatory?
#ifndef CORVEL_NET_VERSION_CHECK_H_
#define CORVEL_NET_VERSION_CHECK_H_

#include <string>

struct UpdateInfo {
  bool hasUpdate = false;   // the server's version is greater than the running one
  bool isRequired = false;  // only set with hasUpdate
  std::wstring link;        // download link offered by the server; only set with hasUpdate
};

// Asks the platform (the built-in address when baseUrl normalises to nothing, else baseUrl
// followed by the version path) over the shared client. Versions compare as decimal numbers, so
// 4.9 is newer than 4.11. Every failure means no update. Never throws, never shows anything;
// blocks the caller for the request (a pin failure on a platform host may end the process).
UpdateInfo CheckForUpdate(double currentVersion, const std::wstring& baseUrl);

#endif  // CORVEL_NET_VERSION_CHECK_H_
