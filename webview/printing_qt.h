// Printing on Linux: the player's own dark printer choice over the printers Qt knows (CUPS),
// default printer first and pre-selected, then the engine prints the current page to the chosen
// printer and the page is told the outcome with a "printResult" message.
//
// GUI thread only.
#ifndef CORVEL_WEBVIEW_PRINTING_QT_H_
#define CORVEL_WEBVIEW_PRINTING_QT_H_

#include <string>
#include <vector>

#include "webview/printers.h"

class QWidget;

namespace WebView {

class QtWebView;

// The printers to offer, in display order (default first, then by name). With the test hook
// CORVEL_TEST_PRINTER_PDF=<file> a stand-in printer that writes a PDF file there is added as
// the default (its port is the file path, its driver "pdf"), so tests print for real without a
// print server.
std::vector<PrinterEntry> EnumeratePrinters();

// Shows the modal choice over `printers` (display order, first pre-selected) and returns the
// chosen name; empty when the user cancels or closes it. An empty list shows only a notice and
// Cancel. Print or a double-click on an entry chooses.
std::wstring SelectPrinter(QWidget* owner, const std::vector<PrinterEntry>& printers);

// A print request of `host`'s page: the choice, the print, and the result message posted to
// the page ("cancelled" when nothing was chosen).
void ShowSystemPrintDialog(QtWebView& host, QWidget* owner);

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_PRINTING_QT_H_
