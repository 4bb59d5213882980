#include "webview/pdf_print_qt.h"

#include <QCoreApplication>
#include <QPageLayout>
#include <QPointer>
#include <QPrinter>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <utility>

namespace WebView {

namespace {

// A page that has not loaded its blank document by then is given up.
constexpr int kOpenLimitMs = 30000;

void Post(int delayMs, std::function<void()> task) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app)
    return;
  // From any thread: the timer is started on the application's thread.
  QMetaObject::invokeMethod(
      app, [app, delayMs, task = std::move(task)] { QTimer::singleShot(delayMs, app, task); },
      Qt::QueuedConnection);
}

QPageLayout EdgeToEdge(const QPrinter& printer) {
  QPageLayout layout = printer.pageLayout();
  layout.setMinimumMargins(QMarginsF());
  layout.setMargins(QMarginsF());
  return layout;
}

class QtPdfPrintPage final : public PdfPrintPage {
 public:
  explicit QtPdfPrintPage(std::shared_ptr<QPrinter> printer)
      : printer_(std::move(printer)), profile_(new QWebEngineProfile()), page_(new QWebEnginePage(profile_)) {
    // The page reads nothing from anywhere: its document and scripts all come from the host.
    QWebEngineSettings* settings = page_->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  }

  ~QtPdfPrintPage() override {
    delete view_;
    delete page_;  // before its profile
    delete profile_;
  }

  static void Open(std::shared_ptr<QPrinter> printer,
                   std::function<void(std::unique_ptr<PdfPrintPage>)> opened) {
    auto pending = std::make_shared<std::unique_ptr<PdfPrintPage>>(std::make_unique<QtPdfPrintPage>(printer));
    QWebEnginePage* page = static_cast<QtPdfPrintPage*>(pending->get())->page_;
    auto answered = std::make_shared<bool>(false);
    // Once, from the event loop: never inside the page's own signal, which may release it.
    const auto answer = [pending, opened, answered](bool ok) {
      if (*answered)
        return;
      *answered = true;
      Post(0, [pending, opened, ok] {
        std::unique_ptr<PdfPrintPage> loaded = std::move(*pending);
        opened(ok ? std::move(loaded) : nullptr);
      });
    };
    QObject::connect(page, &QWebEnginePage::loadFinished, page, answer);
    QTimer::singleShot(kOpenLimitMs, page, [answer] { answer(false); });
    page->setHtml(
        QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"></head><body></body></html>"));
  }

  PrintPaper Paper() const override {
    const QRectF full = EdgeToEdge(*printer_).fullRectPoints();
    return PaperFromInches(full.width() / 72, full.height() / 72, printer_->resolution());
  }

  void Run(const std::wstring& script, std::function<void(std::optional<std::wstring>)> done) override {
    page_->runJavaScript(QString::fromStdWString(script), [done](const QVariant& value) {
      if (!value.isValid())
        done(std::nullopt);
      else
        done(value.typeId() == QMetaType::QString ? value.toString().toStdWString() : std::wstring());
    });
  }

  void Print(std::function<void(PrintOutcome)> done) override {
    printer_->setFullPage(true);
    printer_->setPageLayout(EdgeToEdge(*printer_));
    if (!view_) {
      view_ = new QWebEngineView();
      view_->setAttribute(Qt::WA_DontShowOnScreen);
      view_->setPage(page_);
    }
    if (!PrintViewTo(view_, printer_,
                     [done](bool ok) { done(ok ? PrintOutcome::kSuccess : PrintOutcome::kPrintFailed); }))
      done(PrintOutcome::kPrintFailed);
  }

 private:
  std::shared_ptr<QPrinter> printer_;
  QWebEngineProfile* profile_;
  QWebEnginePage* page_;
  QWebEngineView* view_ = nullptr;
};

}  // namespace

bool PrintViewTo(QWebEngineView* view,
                 const std::shared_ptr<QPrinter>& printer,
                 std::function<void(bool ok)> done) {
  if (!view || view->property("corvelPrinting").toBool())
    return false;
  view->setProperty("corvelPrinting", true);
  QPointer<QWebEngineView> guarded(view);
  auto finished = [guarded, printer, done](bool ok) {
    if (guarded)
      guarded->setProperty("corvelPrinting", false);
    try {
      done(ok);
    } catch (...) {
    }
  };
  const auto connection = std::make_shared<QMetaObject::Connection>();
  if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
    QWebEnginePage* page = view->page();
    *connection = QObject::connect(page, &QWebEnginePage::pdfPrintingFinished, view,
                                   [connection, finished](const QString&, bool ok) {
                                     QObject::disconnect(*connection);
                                     finished(ok);
                                   });
    page->printToPdf(printer->outputFileName(), printer->pageLayout());
  } else {
    *connection =
        QObject::connect(view, &QWebEngineView::printFinished, view, [connection, finished](bool ok) {
          QObject::disconnect(*connection);
          finished(ok);
        });
    view->print(printer.get());
  }
  return true;
}

PdfPrintServices QtPdfPrintServices(const std::shared_ptr<QPrinter>& printer,
                                    std::function<std::optional<std::string>(const std::wstring&)> fetch,
                                    std::function<void(const std::wstring&)> notify) {
  PdfPrintServices services;
  services.fetch = std::move(fetch);
  services.post = Post;
  services.open = [printer](std::function<void(std::unique_ptr<PdfPrintPage>)> opened) {
    QtPdfPrintPage::Open(printer, std::move(opened));
  };
  services.notify = std::move(notify);
  return services;
}

}  // namespace WebView
