// Printing on Linux: the player's own dark printer choice over the printers Qt knows (CUPS),
// default printer first and pre-selected, and the printer the engine prints the page to. The
// print request itself is the view's (QtWebView::Print, print_requests.h).
//
// GUI thread only.
#ifndef CORVEL_WEBVIEW_PRINTING_QT_H_
#define CORVEL_WEBVIEW_PRINTING_QT_H_

#include <memory>
#include <string>
#include <vector>

#include "webview/printers.h"

class QPrinter;
class QWidget;

namespace WebView {

// The printers to offer, in display order (default first, then by name). With the test hook
// CORVEL_TEST_PRINTER_PDF=<file> (test builds only) a stand-in printer that writes a PDF file
// there is added as the default (its port is the file path, its driver "pdf"), so tests print
// for real without a print server.
std::vector<PrinterEntry> EnumeratePrinters();

// Shows the modal choice over `printers` (display order, first pre-selected) and returns the
// chosen name; empty when the user cancels or closes it. An empty list shows only a notice and
// Cancel. Print or a double-click on an entry chooses.
std::wstring SelectPrinter(QWidget* owner, const std::vector<PrinterEntry>& printers);

// A printer for `name`: the stand-in printer's PDF file when the test hook names it, otherwise
// the system's printer of that name; null when there is none.
std::shared_ptr<QPrinter> MakePrinter(const std::wstring& name);

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_PRINTING_QT_H_
