// Printing on Windows: the printers the spooler knows, the player's own printer dialog, and
// printing the current page of a view silently to the chosen printer.
//
// Everything here runs on the UI thread. The dialog is modal and runs a nested message loop, so
// window messages and WebView2 events of the thread keep being dispatched while it is open; it
// must therefore never be opened from inside a WebView2 event handler (the runtime cannot
// deliver events to a handler that is still running).
#ifndef CORVEL_WEBVIEW_PRINTING_WIN_H_
#define CORVEL_WEBVIEW_PRINTING_WIN_H_

#include <windows.h>

#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "webview/pdf_print.h"
#include "webview/printers.h"
#include "webview/webview2.h"

// The spooler's local and connected printers, default printer first (BuildPrinterList). Empty
// when the spooler reports none or cannot be asked.
std::vector<PrinterEntry> EnumeratePrinters();

// Shows the printer dialog over `owner` (may be null) with EnumeratePrinters() and returns the
// chosen printer's name; empty when the user cancelled or there was nothing to choose.
std::wstring SelectPrinter(HWND owner);

// The same dialog over a given list, shown in the order given.
std::wstring SelectPrinterFrom(HWND owner, std::vector<PrinterEntry> printers);

// Chooses a printer for a print request; returns empty for "no printer".
using PrinterSelector = std::function<std::wstring(HWND owner)>;

// One print request of a view's page (RunPrintFlow): the printer dialog over `owner` (SelectPrinter,
// or `selectPrinter`) and the silent print of the view's current page to the chosen printer with
// the runtime's default settings, without the browser's own print preview. Every outcome,
// including a cancelled choice, is posted to the view as a "printResult" JSON message; the print
// completion is posted when the runtime reports it, and its handler keeps the view alive until
// then. Nothing happens without a view; a request whose choice would start while a printer
// dialog of this thread is open gets "cancelled" at once (one dialog at a time).
void PrintViewPage(HWND owner, ICoreWebView2Environment* environment, ICoreWebView2* view) noexcept;
void PrintViewPage(HWND owner,
                   ICoreWebView2Environment* environment,
                   ICoreWebView2* view,
                   const PrinterSelector& selectPrinter) noexcept;

// Prints the view's page silently to `printerName` and gives the outcome to `done` (at once for a
// failure before printing, from the runtime's completion otherwise). With `paper`: on that paper,
// edge to edge, backgrounds included, without the runtime's header and footer.
void PrintViewToPrinter(const std::wstring& printerName,
                        const Microsoft::WRL::ComPtr<ICoreWebView2Environment>& environment,
                        const Microsoft::WRL::ComPtr<ICoreWebView2>& view,
                        const PrintPaper* paper,
                        const std::function<void(PrintOutcome)>& done);

// The dialog's controls.
constexpr int kPrinterDialogListId = 1001;
constexpr int kPrinterDialogPrintId = 1002;
constexpr int kPrinterDialogCancelId = 1003;
constexpr int kPrinterDialogLabelId = 1004;
constexpr int kPrinterDialogNoticeId = 1005;
constexpr int kPrinterDialogItemHeight = printer_dialog::kItemHeight;  // pixels

// The dialog's classic in-memory template (DLGTEMPLATE and five DLGITEMTEMPLATEs, each item on a
// 4-byte boundary), in 16-bit words; the vector's storage is suitably aligned for it.
std::vector<WORD> BuildPrinterDialogTemplate();

#endif  // CORVEL_WEBVIEW_PRINTING_WIN_H_
