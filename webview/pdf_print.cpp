#include "webview/pdf_print.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "text/text.h"
#include "webview/pdfjs_embedded.h"
#include "webview/scripts.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 200;
// A job that has not finished drawing by then shows its progress on the lesson's page.
constexpr auto kProgressAfter = std::chrono::milliseconds(1500);
// A page that takes longer than this to draw (or a document that takes it to open) ends the job.
constexpr auto kStallLimit = std::chrono::seconds(60);

// A script's completion value that tells it ran to its end (a failing script gives none).
const wchar_t kRan[] = L"corvel-ran";

std::wstring Ran(std::wstring script) {
  script += L"\n;'";
  script += kRan;
  script += L"';";
  return script;
}

struct Job {
  PdfPrintServices services;
  PrintedDocument document;
  std::function<void(PrintOutcome)> done;
  std::shared_ptr<Job> self;  // the job keeps itself until it ends
  std::unique_ptr<PdfPrintPage> page;
  std::string pdf;
  Clock::time_point started = Clock::now();
  Clock::time_point lastStep = started;
  PdfRenderState shown;  // last progress sent to the lesson's page
  bool progressing = false;

  void Finish(PrintOutcome outcome) {
    if (!self)
      return;
    std::shared_ptr<Job> keep = std::move(self);
    // The page may be inside one of its own callbacks: it is released from the event loop.
    std::shared_ptr<PdfPrintPage> released(std::move(page));
    services.post(0, [released] {});
    std::function<void(PrintOutcome)> report = std::move(done);
    if (report)
      report(outcome);
  }

  void Fetched(std::optional<std::string> body) {
    if (!body || body->empty()) {
      Finish(PrintOutcome::kDocumentUnreadable);
      return;
    }
    pdf = std::move(*body);
    services.open([job = self](std::unique_ptr<PdfPrintPage> opened) {
      if (!job->self)
        return;
      if (!opened) {
        job->Finish(PrintOutcome::kPrintFailed);
        return;
      }
      job->page = std::move(opened);
      job->scripts = job->Scripts();
      job->RunScripts(0);
    });
  }

  std::vector<std::wstring> scripts;  // what is still to run in the page, in order

  std::vector<std::wstring> Scripts() const {
    return {Ran(Utf8ToUtf16(embedded::PdfJs())), Ran(Utf8ToUtf16(embedded::PdfJsWorker())),
            Ran(PdfPrintPageScript()), Ran(WatermarkScript(document.watermarkText))};
  }

  // The reader, its worker, the print page and the watermark, in that order, each only after
  // the one before has run to its end.
  void RunScripts(std::size_t index) {
    if (index == scripts.size()) {
      scripts.clear();
      StartRendering();
      return;
    }
    page->Run(scripts[index], [job = self, index](std::optional<std::wstring> value) {
      if (!job->self)
        return;
      if (value != kRan) {
        job->Finish(PrintOutcome::kPrintFailed);
        return;
      }
      job->RunScripts(index + 1);
    });
  }

  void StartRendering() {
    const PrintPaper paper = page->Paper();
    const nlohmann::json settings = {{"width", paper.width}, {"height", paper.height}, {"dpi", paper.dpi}};
    std::wstring call = L"corvelPdfPrint.render('" + Utf8ToUtf16(Base64Encode(pdf)) + L"'," +
                        Utf8ToUtf16(settings.dump()) + L");";
    pdf.clear();
    pdf.shrink_to_fit();
    lastStep = Clock::now();
    page->Run(Ran(std::move(call)), [job = self](std::optional<std::wstring> value) {
      if (!job->self)
        return;
      if (value != kRan)
        job->Finish(PrintOutcome::kPrintFailed);
      else
        job->Poll();
    });
  }

  void Poll() {
    services.post(kPollMs, [job = self] {
      if (!job->self)
        return;
      job->page->Run(L"JSON.stringify(window.corvelPdfPrint||{})", [job](std::optional<std::wstring> value) {
        if (job->self)
          job->Follow(ParseRenderState(value.value_or(L"")));
      });
    });
  }

  void Follow(const PdfRenderState& state) {
    const Clock::time_point now = Clock::now();
    if (state.page != shown.page || state.pages != shown.pages)
      lastStep = now;
    switch (state.stage) {
      case PdfRenderState::Stage::kFailed:
        Finish(PrintOutcome::kDocumentUnreadable);
        return;
      case PdfRenderState::Stage::kRendered:
        Print();
        return;
      case PdfRenderState::Stage::kWaiting:
      case PdfRenderState::Stage::kRendering:
        break;
    }
    if (now - lastStep > kStallLimit) {
      Finish(PrintOutcome::kDocumentUnreadable);
      return;
    }
    if (now - started > kProgressAfter && state.pages > 0 &&
        (state.page != shown.page || state.pages != shown.pages || !progressing)) {
      progressing = true;
      Notify(state.page, state.pages);
    }
    shown = state;
    Poll();
  }

  void Notify(int page, int pages) {
    if (services.notify) {
      services.notify(L"{\"type\":\"printProgress\",\"page\":" + std::to_wstring(page) + L",\"pages\":" +
                      std::to_wstring(pages) + L"}");
    }
  }

  void Print() {
    if (progressing)
      Notify(shown.pages, shown.pages);
    page->Print([job = self](PrintOutcome outcome) { job->Finish(outcome); });
  }
};

}  // namespace

PrintPaper PaperFromInches(double widthInches, double heightInches, int printerDpi) {
  PrintPaper paper;
  // Anything from a label to A0.
  const auto sensible = [](double inches) { return std::isfinite(inches) && inches >= 1 && inches <= 50; };
  if (sensible(widthInches) && sensible(heightInches)) {
    paper.width = widthInches * 96;
    paper.height = heightInches * 96;
  }
  if (printerDpi >= 72)
    paper.dpi = std::min(printerDpi, kMaxPrintDpi);
  return paper;
}

PdfRenderState ParseRenderState(const std::wstring& json) {
  PdfRenderState state;
  const nlohmann::json value = nlohmann::json::parse(Utf16ToUtf8(json), nullptr, false);
  if (!value.is_object())
    return state;
  const auto number = [&value](const char* key) {
    const auto found = value.find(key);
    return found != value.end() && found->is_number_integer() ? found->get<int>() : 0;
  };
  state.page = number("page");
  state.pages = number("pages");
  const auto stage = value.find("state");
  if (stage == value.end() || !stage->is_string())
    return state;
  const std::string name = stage->get<std::string>();
  if (name == "waiting")
    state.stage = PdfRenderState::Stage::kWaiting;
  else if (name == "rendering")
    state.stage = PdfRenderState::Stage::kRendering;
  else if (name == "rendered" && state.pages > 0 && state.page == state.pages)
    state.stage = PdfRenderState::Stage::kRendered;
  return state;
}

void PrintPdfDocument(const PdfPrintServices& services,
                      const PrintedDocument& document,
                      std::function<void(PrintOutcome)> done) {
  auto job = std::make_shared<Job>();
  job->services = services;
  job->document = document;
  job->done = std::move(done);
  job->self = job;
  // Only the UI thread holds the job: the worker gets a weak reference, so the job (and what its
  // callbacks hold) is never released there.
  const std::weak_ptr<Job> weak = job;
  try {
    std::thread([fetch = services.fetch, post = services.post, url = document.url, weak] {
      std::optional<std::string> body;
      try {
        body = fetch(url);
      } catch (...) {
      }
      post(0, [weak, body] {
        if (const std::shared_ptr<Job> job = weak.lock())
          job->Fetched(body);
      });
    }).detach();
  } catch (...) {
    job->Finish(PrintOutcome::kPrintFailed);
  }
}
