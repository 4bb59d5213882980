// Printing a PDF lesson: the document's own pages, each under the student's watermark.
//
// The engine's print of the current page would print its PDF viewer (toolbar and thumbnails),
// or the document without the page's watermark layer. Instead the host reads the PDF itself over
// a verified connection, and a print page of its own, in an off-screen page of the same engine,
// draws every page with PDF.js at the printer's resolution, one at a time, under the lesson's
// own watermark script; that page is then printed to the chosen printer. Each web-view backend
// only opens the off-screen page, runs scripts in it and prints it; the sequence, the time
// limits, the progress notice and the outcome are decided here, once.
//
// Threads: the UI thread, except `fetch`, which runs on a worker thread of its own.
#ifndef CORVEL_WEBVIEW_PDF_PRINT_H_
#define CORVEL_WEBVIEW_PDF_PRINT_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "webview/print_result.h"

// The PDF a lesson shows and the watermark laid over it.
struct PrintedDocument {
  std::wstring url;
  std::wstring watermarkText;
};

// A printed page in CSS pixels (96 per inch), and the resolution its picture is drawn at.
struct PrintPaper {
  double width = 816;  // US Letter, when the printer tells nothing
  double height = 1056;
  int dpi = 300;
};

// Pages are drawn at the printer's resolution, up to this: finer pictures of a 600-dpi printer
// would cost four times the memory and time for no visible gain on paper.
constexpr int kMaxPrintDpi = 300;

// The paper of a printer that reports its page size in inches and its resolution; sizes that
// make no sense give the default paper.
PrintPaper PaperFromInches(double widthInches, double heightInches, int printerDpi);

// The off-screen print page of one job, as a backend opens it (blank, ready for scripts).
class PdfPrintPage {
 public:
  virtual ~PdfPrintPage() = default;
  // The paper of the chosen printer.
  virtual PrintPaper Paper() const = 0;
  // Runs `script` in the page; `done` gets its value when that is a string, an empty string for
  // any other value, nothing when the script could not run. Later, from the event loop.
  virtual void Run(const std::wstring& script, std::function<void(std::optional<std::wstring>)> done) = 0;
  // Prints the page to the chosen printer; `done` once, now or later.
  virtual void Print(std::function<void(PrintOutcome)> done) = 0;
};

struct PdfPrintServices {
  // The document's bytes from a server whose certificate verified (HTTPS only), nothing
  // otherwise. Runs on a worker thread; must not touch the UI.
  std::function<std::optional<std::string>(const std::wstring& url)> fetch;
  // Runs `task` on the UI thread after `delayMs`; callable from any thread.
  std::function<void(int delayMs, std::function<void()> task)> post;
  // Opens the off-screen page for the chosen printer; `opened` gets it (nothing when it cannot be
  // made) later, from the event loop.
  std::function<void(std::function<void(std::unique_ptr<PdfPrintPage>)> opened)> open;
  // A message for the lesson's page: {"type":"printProgress","page":P,"pages":N} while a long job
  // runs.
  std::function<void(const std::wstring& json)> notify;
};

// One print of a PDF lesson to the chosen printer (the `open` of `services`): reads the document,
// renders it, prints it, and calls `done` once with the outcome. kDocumentUnreadable when the
// document cannot be read or drawn: then nothing is printed. The job keeps what it needs until
// `done`; the off-screen page is released from the event loop afterwards.
void PrintPdfDocument(const PdfPrintServices& services,
                      const PrintedDocument& document,
                      std::function<void(PrintOutcome)> done);

// The render state the print page reports, read from its JSON.
struct PdfRenderState {
  enum class Stage { kWaiting, kRendering, kRendered, kFailed };
  Stage stage = Stage::kFailed;
  int page = 0;   // pages drawn so far
  int pages = 0;  // pages of the document, 0 until it has been read
};
PdfRenderState ParseRenderState(const std::wstring& json);

#endif  // CORVEL_WEBVIEW_PDF_PRINT_H_
