// The PDF print job over a scripted page and a task queue of the test's own.
#include "webview/pdf_print.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// The "UI thread": tasks posted from any thread, run by Pump on the test's thread.
class Loop {
 public:
  void Post(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
    ready_.notify_one();
  }
  bool Pump(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!ready_.wait_until(lock, deadline, [this] { return !tasks_.empty(); }))
        return false;
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
};

struct Script {
  std::optional<std::wstring> ranValue = L"corvel-ran";
  int failAt = -1;  // the script that fails (no value)
  std::wstring finalState = L"rendered";
};

class ScriptedPage final : public PdfPrintPage {
 public:
  ScriptedPage(Loop& loop, const Script& script, std::vector<std::string>& log)
      : loop_(loop), script_(script), log_(log) {}
  ~ScriptedPage() override { log_.push_back(inCallback_ ? "released inside a callback" : "released"); }
  PrintPaper Paper() const override { return PaperFromInches(8.27, 11.69, 600); }
  void Run(const std::wstring& script, std::function<void(std::optional<std::wstring>)> done) override {
    const int index = runs_++;
    std::optional<std::wstring> value = script_.ranValue;
    if (index == script_.failAt)
      value.reset();
    if (script.rfind(L"JSON.stringify", 0) == 0)
      value = polls_++ == 0 ? L"{\"state\":\"rendering\",\"page\":0,\"pages\":2}"
                            : L"{\"state\":\"" + script_.finalState + L"\",\"page\":2,\"pages\":2}";
    if (script.rfind(L"corvelPdfPrint.render(", 0) == 0)
      log_.push_back("render " +
                     std::string(script.find(L"\"dpi\":300") != std::wstring::npos ? "300" : "?"));
    loop_.Post([this, done, value] {
      inCallback_ = true;
      done(value);
      inCallback_ = false;
    });
  }
  void Print(std::function<void(PrintOutcome)> done) override {
    log_.push_back("print");
    done(PrintOutcome::kSuccess);
  }

 private:
  Loop& loop_;
  Script script_;
  std::vector<std::string>& log_;
  int runs_ = 0;
  int polls_ = 0;
  bool inCallback_ = false;
};

// Reading, opening, the scripts in order, the document with the paper capped at 300 dpi, the
// page's report, the print: each failure ends the job with its outcome, nothing is printed after
// one, and the page is released from the loop once the job has ended.
TEST(PdfPrintTest, EachStageDecidesTheOutcomeAndThePageIsReleasedAfterwards) {
  struct Case {
    const char* name;
    std::optional<std::string> document;
    Script script;
    PrintOutcome outcome;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"unreadable", std::nullopt, {}, PrintOutcome::kDocumentUnreadable, {}},
      {"printed", "%PDF", {}, PrintOutcome::kSuccess, {"opened", "render 300", "print", "released"}},
      {"a script fails", "%PDF", {L"corvel-ran", 2}, PrintOutcome::kPrintFailed, {"opened", "released"}},
      {"a script returns early", "%PDF", {L"", -1}, PrintOutcome::kPrintFailed, {"opened", "released"}},
      {"not drawable",
       "%PDF",
       {L"corvel-ran", -1, L"failed"},
       PrintOutcome::kDocumentUnreadable,
       {"opened", "render 300", "released"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loop loop;
    std::vector<std::string> log;
    std::optional<PrintOutcome> outcome;
    PdfPrintServices services;
    services.fetch = [&c](const std::wstring&) { return c.document; };
    services.post = [&loop](int, std::function<void()> task) { loop.Post(std::move(task)); };
    services.open = [&](std::function<void(std::unique_ptr<PdfPrintPage>)> opened) {
      log.push_back("opened");
      loop.Post([&, opened] { opened(std::make_unique<ScriptedPage>(loop, c.script, log)); });
    };
    PrintPdfDocument(services, {L"https://platform.test/a.pdf", L"Student"}, [&](PrintOutcome o) {
      EXPECT_FALSE(outcome.has_value()) << "one outcome";
      outcome = o;
    });
    ASSERT_TRUE(loop.Pump([&] { return outcome && (log.empty() || log.back().rfind("released", 0) == 0); }));
    EXPECT_EQ(*outcome, c.outcome);
    EXPECT_EQ(log, c.log);
  }
}

TEST(PdfPrintTest, PaperAndRenderStateAreReadDefensively) {
  const PrintPaper a4 = PaperFromInches(8.27, 11.69, 1200);
  EXPECT_NEAR(a4.width, 793.9, 0.1);
  EXPECT_EQ(a4.dpi, kMaxPrintDpi);
  const PrintPaper nonsense = PaperFromInches(0, 1e9, 30);
  EXPECT_EQ(nonsense.width, PrintPaper{}.width);
  EXPECT_EQ(nonsense.dpi, PrintPaper{}.dpi);

  using Stage = PdfRenderState::Stage;
  EXPECT_EQ(ParseRenderState(L"{\"state\":\"rendered\",\"page\":3,\"pages\":3}").stage, Stage::kRendered);
  // Done only when every page was drawn.
  EXPECT_EQ(ParseRenderState(L"{\"state\":\"rendered\",\"page\":2,\"pages\":3}").stage, Stage::kFailed);
  EXPECT_EQ(ParseRenderState(L"{\"state\":\"rendered\",\"page\":0,\"pages\":0}").stage, Stage::kFailed);
  EXPECT_EQ(ParseRenderState(L"{\"state\":\"rendering\",\"page\":\"1\"}").page, 0);
  EXPECT_EQ(ParseRenderState(L"not json").stage, Stage::kFailed);
}

}  // namespace
