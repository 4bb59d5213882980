// Command-line arguments and output for the support tools, in UTF-8 on every platform.
#ifndef CORVEL_TOOLS_CONSOLE_H_
#define CORVEL_TOOLS_CONSOLE_H_

#include <string>
#include <vector>

namespace tools {

// The arguments after the program name, as UTF-8. On Windows they come from the wide command
// line, so characters outside the ANSI code page survive.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Writes UTF-8 text as it stands: through the wide console API to a console window, as raw
// bytes to a pipe or file.
void WriteOut(const std::string& utf8);
void WriteErr(const std::string& utf8);

}  // namespace tools

#endif  // CORVEL_TOOLS_CONSOLE_H_
