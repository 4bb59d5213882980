// The Qt WebEngine side of printing a PDF lesson (pdf_print.h) and of printing a page at all.
#ifndef CORVEL_WEBVIEW_PDF_PRINT_QT_H_
#define CORVEL_WEBVIEW_PDF_PRINT_QT_H_

#include <functional>
#include <memory>

#include "webview/pdf_print.h"

class QPrinter;
class QWebEngineView;

namespace WebView {

// Prints the view's current page to `printer` (kept alive until `done`). A printer that writes a
// PDF file gets the engine's own PDF, text and all; any other gets the engine's print, which
// draws the pages as pictures. False when a print of this view is still running.
bool PrintViewTo(QWebEngineView* view,
                 const std::shared_ptr<QPrinter>& printer,
                 std::function<void(bool ok)> done);

// The services of a PDF print to `printer`: the off-screen page in an off-the-record profile of
// its own, the event loop of the application, and `fetch` and `notify` as given.
PdfPrintServices QtPdfPrintServices(const std::shared_ptr<QPrinter>& printer,
                                    std::function<std::optional<std::string>(const std::wstring&)> fetch,
                                    std::function<void(const std::wstring&)> notify);

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_PDF_PRINT_QT_H_
