#include "webview/pdf_print_win.h"

#include <wrl/client.h>

#include <map>
#include <memory>
#include <utility>

#include <nlohmann/json.hpp>

#include "base/com_callback_win.h"
#include "base/window_messages.h"
#include "base/window_task_win.h"
#include "text/text.h"
#include "webview/print_requests.h"

using Microsoft::WRL::ComPtr;

namespace {

// A controller or a blank page that has not come by then is given up.
constexpr int kOpenLimitMs = 30000;
constexpr UINT_PTR kFirstTimer = 1;

// ---- Tasks on the UI thread ---------------------------------------------------------------------

// The UI thread's task window: runs tasks other threads post (WM_APP_RUN_UI_TASK) and the UI
// thread's own delayed tasks (one window timer each).
struct TaskWindow {
  HWND window = nullptr;
  std::map<UINT_PTR, std::function<void()>> delayed;
  UINT_PTR nextTimer = kFirstTimer;
};

// Never destroyed: a task still waiting when the thread ends is dropped, not run or released
// while the program is being torn down.
thread_local TaskWindow& taskWindow = *new TaskWindow;

LRESULT CALLBACK TaskWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  try {
    if (message == WM_APP_RUN_UI_TASK) {
      base::RunPostedWindowTask(lparam);
      return 0;
    }
    if (message == WM_TIMER) {
      KillTimer(window, wparam);
      const auto found = taskWindow.delayed.find(wparam);
      if (found == taskWindow.delayed.end())
        return 0;
      std::function<void()> task = std::move(found->second);
      taskWindow.delayed.erase(found);
      if (task)
        task();
      return 0;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// The calling (UI) thread's task window, made on first use.
HWND UiTaskWindow() {
  if (taskWindow.window)
    return taskWindow.window;
  static const wchar_t kClassName[] = L"CorvelPdfPrintTasks";
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = TaskWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);  // a second registration fails harmlessly
  taskWindow.window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
  return taskWindow.window;
}

// Runs `task` on the thread of `window` after `delayMs`; from any thread.
void PostTask(HWND window, int delayMs, std::function<void()> task) {
  if (delayMs > 0) {
    // Timers belong to the window's thread: the task that starts one goes there first.
    PostTask(window, 0, [delayMs, task = std::move(task)] {
      const UINT_PTR id = taskWindow.nextTimer++;
      taskWindow.delayed[id] = task;
      if (!SetTimer(taskWindow.window, id, static_cast<UINT>(delayMs), nullptr))
        taskWindow.delayed.erase(id);
    });
    return;
  }
  base::PostWindowTask(window, std::move(task));
}

// ---- The off-screen page ---------------------------------------------------------------------

// A script's completion value as the runtime reports it (JSON): a string as itself, any other
// value as an empty string.
std::optional<std::wstring> ScriptValue(HRESULT result, LPCWSTR json) {
  if (FAILED(result) || json == nullptr)
    return std::nullopt;
  const nlohmann::json value = nlohmann::json::parse(Utf16ToUtf8(json), nullptr, false);
  return value.is_string() ? Utf8ToUtf16(value.get<std::string>()) : std::wstring();
}

class WebView2PdfPrintPage final : public PdfPrintPage {
 public:
  WebView2PdfPrintPage(HWND window,
                       ComPtr<ICoreWebView2Environment> environment,
                       std::wstring printer,
                       const PrintPaper& paper)
      : window_(window), environment_(std::move(environment)), printer_(std::move(printer)), paper_(paper) {}

  ~WebView2PdfPrintPage() override {
    if (controller_)
      controller_->Close();
    if (window_)
      DestroyWindow(window_);
  }

  // Creates the controller in the page's hidden window and loads a blank document; `opened` gets
  // the page, or nothing, from the event loop.
  static void Open(const ComPtr<ICoreWebView2Environment>& environment,
                   const std::wstring& printer,
                   std::function<void(std::unique_ptr<PdfPrintPage>)> opened) {
    const PrintPaper paper = PrinterPaper(printer);
    const HWND tasks = UiTaskWindow();
    const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"STATIC", L"", WS_POPUP, 0, 0,
                                        static_cast<int>(paper.width), static_cast<int>(paper.height),
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    struct Opening {
      std::unique_ptr<WebView2PdfPrintPage> page;
      std::function<void(std::unique_ptr<PdfPrintPage>)> opened;
    };
    auto opening = std::make_shared<Opening>();
    opening->page = std::make_unique<WebView2PdfPrintPage>(window, environment, printer, paper);
    opening->opened = std::move(opened);
    // Once, from the event loop: never inside the runtime's own handler. What the runtime's
    // handlers still hold afterwards is empty.
    const auto answer = [tasks, weak = std::weak_ptr<Opening>(opening)](bool ok) {
      const std::shared_ptr<Opening> state = weak.lock();
      if (!state || !state->page)
        return;
      auto page = std::make_shared<std::unique_ptr<PdfPrintPage>>(std::move(state->page));
      std::function<void(std::unique_ptr<PdfPrintPage>)> opened = std::move(state->opened);
      state->opened = nullptr;
      PostTask(tasks, 0, [page, opened, ok] {
        std::unique_ptr<PdfPrintPage> loaded = std::move(*page);
        opened(ok ? std::move(loaded) : nullptr);
      });
    };
    PostTask(tasks, kOpenLimitMs, [opening, answer] { answer(false); });
    if (!window || !environment) {
      answer(false);
      return;
    }
    const auto created = base::ComCallback<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
        [opening, answer](HRESULT result, ICoreWebView2Controller* controller) {
          WebView2PdfPrintPage* page = opening->page.get();
          if (!page)
            return;
          ComPtr<ICoreWebView2> view;
          if (FAILED(result) || !controller || FAILED(controller->get_CoreWebView2(&view)) || !view) {
            answer(false);
            return;
          }
          page->controller_ = controller;
          page->view_ = view;
          controller->put_Bounds(
              RECT{0, 0, static_cast<LONG>(page->paper_.width), static_cast<LONG>(page->paper_.height)});
          EventRegistrationToken token{};
          view->add_NavigationCompleted(
              base::ComCallback<ICoreWebView2NavigationCompletedEventHandler>(
                  // Holds the opening (and so the page) until the answer has taken it.
                  [opening, answer](ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs* args) {
                    BOOL success = FALSE;
                    answer(args && SUCCEEDED(args->get_IsSuccess(&success)) && success);
                  })
                  .Get(),
              &token);
          if (FAILED(view->NavigateToString(
                  L"<!doctype html><html><head><meta charset=\"utf-8\"></head><body></body></html>")))
            answer(false);
        });
    if (!created || FAILED(environment->CreateCoreWebView2Controller(window, created.Get())))
      answer(false);
  }

  PrintPaper Paper() const override { return paper_; }

  void Run(const std::wstring& script, std::function<void(std::optional<std::wstring>)> done) override {
    const auto completed = base::ComCallback<ICoreWebView2ExecuteScriptCompletedHandler>(
        [done](HRESULT result, LPCWSTR json) { done(ScriptValue(result, json)); });
    if (!view_ || !completed || FAILED(view_->ExecuteScript(script.c_str(), completed.Get())))
      done(std::nullopt);
  }

  void Print(std::function<void(PrintOutcome)> done) override {
    PrintViewToPrinter(printer_, environment_, view_, &paper_, done);
  }

 private:
  HWND window_;
  ComPtr<ICoreWebView2Environment> environment_;
  std::wstring printer_;
  PrintPaper paper_;
  ComPtr<ICoreWebView2Controller> controller_;
  ComPtr<ICoreWebView2> view_;
};

// The print of one request of a PDF lesson: the printer dialog, then the document's pages.
class PdfLessonBackend final : public PrintBackend {
 public:
  PdfLessonBackend(HWND owner,
                   ComPtr<ICoreWebView2Environment> environment,
                   ComPtr<ICoreWebView2> view,
                   const PrintedDocument& document,
                   const PrinterSelector& selectPrinter,
                   std::function<std::optional<std::string>(const std::wstring&)> fetch)
      : owner_(owner),
        environment_(std::move(environment)),
        view_(std::move(view)),
        document_(document),
        select_(selectPrinter),
        fetch_(std::move(fetch)) {}

  std::wstring ChoosePrinter() override { return select_ ? select_(owner_) : std::wstring(); }

  void PrintTo(const std::wstring& printer, std::function<void(PrintOutcome)> done) override {
    PdfPrintServices services;
    services.fetch = fetch_;
    const HWND tasks = UiTaskWindow();
    services.post = [tasks](int delayMs, std::function<void()> task) {
      PostTask(tasks, delayMs, std::move(task));
    };
    services.open = [environment = environment_,
                     printer](std::function<void(std::unique_ptr<PdfPrintPage>)> opened) {
      WebView2PdfPrintPage::Open(environment, printer, std::move(opened));
    };
    services.notify = [view = view_](const std::wstring& json) { view->PostWebMessageAsJson(json.c_str()); };
    PrintPdfDocument(services, document_, std::move(done));
  }

 private:
  HWND owner_;
  ComPtr<ICoreWebView2Environment> environment_;
  ComPtr<ICoreWebView2> view_;
  PrintedDocument document_;
  const PrinterSelector& select_;
  std::function<std::optional<std::string>(const std::wstring&)> fetch_;
};

}  // namespace

PrintPaper PrinterPaper(const std::wstring& printer) {
  const HDC dc = CreateDCW(L"WINSPOOL", printer.c_str(), nullptr, nullptr);
  if (!dc)
    return PrintPaper{};
  const int dpiX = GetDeviceCaps(dc, LOGPIXELSX);
  const int dpiY = GetDeviceCaps(dc, LOGPIXELSY);
  const int width = GetDeviceCaps(dc, PHYSICALWIDTH);
  const int height = GetDeviceCaps(dc, PHYSICALHEIGHT);
  DeleteDC(dc);
  if (dpiX <= 0 || dpiY <= 0)
    return PrintPaper{};
  return PaperFromInches(static_cast<double>(width) / dpiX, static_cast<double>(height) / dpiY, dpiX);
}

void PrintPdfLesson(HWND owner,
                    ICoreWebView2Environment* environment,
                    ICoreWebView2* view,
                    const PrintedDocument& document,
                    const PrinterSelector& selectPrinter,
                    std::function<std::optional<std::string>(const std::wstring&)> fetch,
                    std::function<void()> ended) noexcept {
  if (view == nullptr)
    return;
  try {
    const ComPtr<ICoreWebView2> keptView(view);
    PdfLessonBackend backend(owner, ComPtr<ICoreWebView2Environment>(environment), keptView, document,
                             selectPrinter, std::move(fetch));
    RunPrintFlow(backend, [keptView, ended](const std::wstring& json) {
      keptView->PostWebMessageAsJson(json.c_str());
      if (ended)
        ended();
    });
  } catch (...) {
    if (ended)
      ended();
  }
}
