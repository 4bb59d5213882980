// The WebView2 side of printing a PDF lesson (pdf_print.h): the off-screen page is a second
// controller of the view's environment in a window that is never shown.
#ifndef CORVEL_WEBVIEW_PDF_PRINT_WIN_H_
#define CORVEL_WEBVIEW_PDF_PRINT_WIN_H_

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "webview/pdf_print.h"
#include "webview/printing_win.h"
#include "webview/webview2.h"

// The paper of a spooler printer (its default page size and resolution); the default paper when
// the printer cannot be asked.
PrintPaper PrinterPaper(const std::wstring& printer);

// One print request of a PDF lesson shown in `view`: the printer dialog over `owner`, then the
// document's pages under the watermark (PrintPdfDocument) to the chosen printer. Every outcome
// reaches `view` as a "printResult" message, then `ended` runs. `fetch` reads the document
// (FetchVerified). UI thread only; runs the dialog's modal loop, so never from inside a WebView2
// event handler.
void PrintPdfLesson(HWND owner,
                    ICoreWebView2Environment* environment,
                    ICoreWebView2* view,
                    const PrintedDocument& document,
                    const PrinterSelector& selectPrinter,
                    std::function<std::optional<std::string>(const std::wstring&)> fetch,
                    std::function<void()> ended) noexcept;

#endif  // CORVEL_WEBVIEW_PDF_PRINT_WIN_H_
