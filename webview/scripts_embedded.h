// The page scripts as compiled into the program (generated from webview/scripts by
// cmake/embed_scripts.py). Use webview/scripts.h; this header is for its implementation.
#ifndef CORVEL_WEBVIEW_SCRIPTS_EMBEDDED_H_
#define CORVEL_WEBVIEW_SCRIPTS_EMBEDDED_H_

#include <string_view>

namespace scripts_embedded {

std::wstring_view Loader();
std::wstring_view PrintBlock();
std::wstring_view NavigationBar();
std::wstring_view PrintButton();
std::wstring_view PdfPrint();
// The watermark script up to and including the quote that opens the text, and from the quote
// that closes it.
std::wstring_view WatermarkPrefix();
std::wstring_view WatermarkSuffix();

}  // namespace scripts_embedded

#endif  // CORVEL_WEBVIEW_SCRIPTS_EMBEDDED_H_
