// The --key-hex option shared by the support tools.
#ifndef CORVEL_TOOLS_KEY_OPTION_H_
#define CORVEL_TOOLS_KEY_OPTION_H_

#include <string>

#include "config/config.h"

namespace tools {

// Turns hex digits (either case, an even number, at least one byte) into key bytes. The
// argument text is wiped afterwards, valid or not. False for anything that is not hex.
bool TakeKeyHex(std::string& hex, config::SecretBytes& key);

}  // namespace tools

#endif  // CORVEL_TOOLS_KEY_OPTION_H_
