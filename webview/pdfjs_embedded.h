// PDF.js (pdfjs-dist, legacy build) and its worker, compiled in by cmake/embed_files.py: the
// exact bytes of the package's minified scripts, UTF-8, unmasked on each call.
#ifndef CORVEL_WEBVIEW_PDFJS_EMBEDDED_H_
#define CORVEL_WEBVIEW_PDFJS_EMBEDDED_H_

#include <string>

namespace embedded {
std::string PdfJs();
std::string PdfJsWorker();
}  // namespace embedded

#endif  // CORVEL_WEBVIEW_PDFJS_EMBEDDED_H_
