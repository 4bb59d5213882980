// The diagnostic code of a failed launch link, shown in the fatal dialog (base/fatal_dialog.h)
// and decoded by support (tools/decode_diag.cpp).
#ifndef CORVEL_APP_DIAGNOSTICS_H_
#define CORVEL_APP_DIAGNOSTICS_H_

#include <ctime>
#include <string>

// Base64 of "ERRDIAG|v1|ts=<seconds>|reason=<reason>|END" XOR-ed with the diagnostic key.
std::string BuildLinkErrorCode(const std::string& reason);
std::string BuildLinkErrorCode(const std::string& reason, std::time_t timestamp);

// Support's side: the plain text of a link diagnostic code (Base64, then XOR with the key).
std::string DecodeLinkErrorCode(const std::string& code);

#endif  // CORVEL_APP_DIAGNOSTICS_H_
