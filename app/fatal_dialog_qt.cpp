// The fatal diagnostic dialog of the Linux player: the same title, texts and code as the
// Windows dialog in a dark Qt window, with the code on the clipboard. The player program links
// this file in place of base/fatal_dialog_posix.cpp (app/CMakeLists.txt); the support tools and
// the unit tests keep the standard-error version.
//
// The dialog lives in the player's own process, which ends with exit code 0 when it is closed.
// The web views are closed first. Without a display (or before the application object exists)
// only the standard-error text remains, as in base/fatal_dialog_posix.cpp.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextOption>
#include <QThread>
#include <QVBoxLayout>

#include "base/fatal_dialog.h"
#include "base/shutdown_hook.h"
#include "text/text.h"
#include "webview/test_hooks_qt.h"

namespace {

const char kDialogStyle[] = R"CSS(
QDialog { background: #1a1a2e; }
QLabel { color: #cccccc; font-size: 13px; }
QLabel#icon { color: #eeeeee; font-size: 48px; }
QLabel#heading { color: #e94560; font-size: 18px; font-weight: bold; }
QLabel#codeLabel { color: #e94560; font-size: 12px; }
QLabel#info { color: #888888; font-size: 11px; }
QPlainTextEdit { background: #0f3460; color: #e94560; border: 1px solid #e94560; border-radius: 4px;
                 font-family: monospace; font-size: 11px; padding: 8px; }
QPushButton { background: #e94560; color: #ffffff; border: none; border-radius: 4px; font-size: 13px;
              padding: 8px 24px; margin: 5px; }
QPushButton:hover { background: #c73e54; }
QPushButton#close { background: #555555; }
)CSS";

// How long a worker thread waits for the GUI thread to take the dialog over.
constexpr auto kHandOverWait = std::chrono::seconds(10);

// The dialog is on screen (set on the GUI thread).
std::atomic<bool> g_dialogShown{false};

QString Q(const std::wstring& text) {
  return QString::fromStdWString(text);
}

void WriteText(const std::wstring& title,
               const std::wstring& english,
               const std::wstring& arabic,
               const std::string& code) {
  const std::string text =
      Utf16ToUtf8(title) + "\n\n" + Utf16ToUtf8(BuildDiagnosticFallbackText(english, arabic, code)) + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

[[noreturn]] void EndProcess() {
  std::fflush(stdout);
  std::fflush(stderr);
  // Other threads may still run: end at once, without static destructors.
  std::_Exit(0);
}

// A caller whose turn it is not: the dialog under way ends the process. The GUI thread keeps its
// events going meanwhile, since the dialog (or its hand-over from a worker thread) needs them.
[[noreturn]] void WaitForTheEnd() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() == app->thread()) {
    for (;;) {
      QEventLoop loop;
      loop.exec();
    }
  }
  for (;;) {
    std::this_thread::sleep_for(std::chrono::hours(1));
  }
}

bool DisplayAvailable() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    return false;
  }
  const QString platform = QGuiApplication::platformName();
  return platform != QStringLiteral("offscreen") && platform != QStringLiteral("minimal");
}

void CopyToClipboard(const QString& code) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(code, QClipboard::Clipboard);
  if (clipboard->supportsSelection()) {
    clipboard->setText(code, QClipboard::Selection);
  }
}

// One click in the code box selects all of it.
class SelectAllOnClick : public QObject {
 public:
  explicit SelectAllOnClick(QPlainTextEdit* box) : QObject(box), box_(box) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease) {
      box_->selectAll();
    }
    return false;
  }

 private:
  QPlainTextEdit* box_;
};

QLabel* Paragraph(const QString& text, QWidget* parent, const char* name = nullptr) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  if (name != nullptr) {
    label->setObjectName(QString::fromLatin1(name));
  }
  return label;
}

// Shows the dialog on the GUI thread and returns when it is closed.
void RunDialog(const std::wstring& title,
               const std::wstring& english,
               const std::wstring& arabic,
               const std::string& code) {
  const QString codeText = QString::fromLatin1(code.c_str());
  CopyToClipboard(codeText);
  // The player is over: only the dialog stays on screen, as when it outlives the player.
  for (QWidget* window : QApplication::topLevelWidgets()) {
    window->hide();
  }

  QDialog dialog(nullptr,
                 Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  dialog.setWindowTitle(Q(title));
  dialog.setStyleSheet(QString::fromLatin1(kDialogStyle));
  dialog.setFixedSize(700, 580);

  auto* layout = new QVBoxLayout(&dialog);
  layout->setContentsMargins(20, 20, 20, 20);
  layout->setSpacing(6);
  layout->addWidget(Paragraph(QStringLiteral("\u26A0"), &dialog, "icon"));
  layout->addWidget(Paragraph(Q(title), &dialog, "heading"));
  layout->addWidget(Paragraph(Q(english), &dialog));
  QLabel* arabicText = Paragraph(Q(arabic), &dialog);
  arabicText->setLayoutDirection(Qt::RightToLeft);
  layout->addWidget(arabicText);
  layout->addSpacing(10);
  layout->addWidget(Paragraph(QStringLiteral("\U0001F512 Diagnostic Code / ") + QStringLiteral("كود التشخيص"),
                              &dialog, "codeLabel"));

  auto* box = new QPlainTextEdit(codeText, &dialog);
  box->setReadOnly(true);
  box->setFixedHeight(76);
  box->document()->setDefaultTextOption(QTextOption(Qt::AlignCenter));
  box->setPlainText(codeText);  // again, so the centred option applies to the text
  box->viewport()->installEventFilter(new SelectAllOnClick(box));
  layout->addWidget(box);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  auto* copy = new QPushButton(QStringLiteral("\U0001F4CB Copy Code"), &dialog);
  auto* close = new QPushButton(QStringLiteral("Close"), &dialog);
  close->setObjectName(QStringLiteral("close"));
  buttons->addWidget(copy);
  buttons->addWidget(close);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  QObject::connect(copy, &QPushButton::clicked, &dialog, [box, codeText] {
    box->selectAll();
    CopyToClipboard(codeText);
  });
  QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);

  layout->addWidget(Paragraph(QStringLiteral("The code has been copied to your clipboard automatically."),
                              &dialog, "info"));
  layout->addWidget(
      Paragraph(QStringLiteral("Please send this code to support for assistance."), &dialog, "info"));
  QLabel* arabicInfo = Paragraph(QStringLiteral("تم نسخ الكود ") + QStringLiteral("تلقائياً. ") +
                                     QStringLiteral("يرجى إرساله ") + QStringLiteral("للدعم الفني."),
                                 &dialog, "info");
  arabicInfo->setLayoutDirection(Qt::RightToLeft);
  layout->addWidget(arabicInfo);
  layout->addStretch(1);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    dialog.move(area.x() + (area.width() - 700) / 2, area.y() + (area.height() - 580) / 2);
  }

  // Closing the dialog ends the process at once, also when a caller that waits for the end runs
  // an event loop above this one.
  QObject::connect(&dialog, &QDialog::finished, [] { EndProcess(); });
  g_dialogShown = true;
  WebView::AnswerWhenShown(&dialog, [&](const std::string&) {
    WebView::TestEvent("diagnostic-dialog: title=" + dialog.windowTitle().toStdString() +
                       " code=" + box->toPlainText().toStdString() +
                       " clipboard=" + QGuiApplication::clipboard()->text().toStdString());
    close->click();
  });
  dialog.exec();
}

}  // namespace

void ShowFatalDiagnosticDialog(const std::wstring& title,
                               const std::wstring& english,
                               const std::wstring& arabic,
                               const std::string& code) {
  // A second caller on the GUI thread while the dialog is up comes from its own event loop.
  if (!ClaimFatalDialog() || g_dialogShown) {
    WaitForTheEnd();
  }
  RunShutdownHookOnce();
  WriteText(title, english, arabic, code);

  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    EndProcess();
  }
  if (QThread::currentThread() == app->thread()) {
    if (DisplayAvailable()) {
      RunDialog(title, english, arabic, code);
    }
    EndProcess();
  }

  // From another thread: the GUI thread shows the dialog and ends the process when it closes.
  auto started = std::make_shared<std::promise<void>>();
  std::future<void> handedOver = started->get_future();
  QMetaObject::invokeMethod(
      app,
      [started, title, english, arabic, code] {
        started->set_value();
        if (DisplayAvailable()) {
          RunDialog(title, english, arabic, code);
        }
        EndProcess();
      },
      Qt::QueuedConnection);
  if (handedOver.wait_for(kHandOverWait) == std::future_status::ready) {
    // The GUI thread owns the end now; this thread has nothing left to do.
    for (;;) {
      std::this_thread::sleep_for(std::chrono::hours(1));
    }
  }
  EndProcess();
}
