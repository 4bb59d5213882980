#include "app/startup_platform_qt.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QLabel>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

#include "app/splash_qt.h"
#include "app/windows_qt.h"
#include "text/text.h"
#include "webview/test_hooks_qt.h"

namespace {

QString Q(const std::wstring& text) {
  return QString::fromStdWString(text);
}

const char* IconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation:
      return "information";
    case MessageIcon::kError:
      return "error";
    case MessageIcon::kWarning:
      return "warning";
    case MessageIcon::kQuestion:
      return "question";
  }
  return "none";
}

const char* ButtonsName(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOk:
      return "ok";
    case MessageButtons::kOkCancel:
      return "ok-cancel";
    case MessageButtons::kYesNo:
      return "yes-no";
  }
  return "none";
}

}  // namespace

std::wstring InstanceLockFileName(const std::wstring& mutexName) {
  std::wstring name;
  for (wchar_t c : mutexName) {
    const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                       c == L'.' || c == L'-' || c == L'_';
    name += plain ? c : L'_';
  }
  return name + L".lock";
}

QtStartupPlatform::QtStartupPlatform() = default;

QtStartupPlatform::~QtStartupPlatform() = default;

InstanceLock QtStartupPlatform::AcquireInstanceLock(const std::wstring& mutexName) {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) {
    return InstanceLock::kFailed;
  }
  lock_ = std::make_unique<QLockFile>(folder + QLatin1Char('/') + Q(InstanceLockFileName(mutexName)));
  // A lock is taken over only when its holder has gone, never for its age: the default would
  // let a second instance in once the first has run for 30 s.
  lock_->setStaleLockTime(0);
  if (lock_->tryLock(0)) {
    WebView::TestEvent("instance lock " + lock_->fileName().toStdString());
    return InstanceLock::kAcquired;
  }
  return lock_->error() == QLockFile::LockFailedError ? InstanceLock::kAlreadyRunning : InstanceLock::kFailed;
}

void QtStartupPlatform::ReleaseInstanceLock() {
  lock_.reset();  // unlocks when held
}

bool QtStartupPlatform::CreateSplash() {
  return ::CreateSplash(700, 450);
}

void QtStartupPlatform::DrainMessages() {
  QCoreApplication::processEvents();
}

void QtStartupPlatform::RunWhileResponsive(const std::function<void()>& work) {
  QEventLoop loop;
  std::atomic<bool> finished{false};
  std::thread worker;
  try {
    worker = std::thread([&] {
      work();
      finished = true;
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
  } catch (...) {
    work();
    return;
  }
  // The application's exit (a window closed meanwhile) leaves this loop too: it goes on until the
  // work is done, and the exit stays for the application's own loop.
  while (!finished) {
    loop.exec();
  }
  worker.join();
}

bool QtStartupPlatform::CreateInitScreen() {
  return ::CreateInitScreen();
}

bool QtStartupPlatform::InitHostExists() {
  return g_initHost != nullptr;
}

bool QtStartupPlatform::CreatePlayerFrame() {
  frame_ = ::CreatePlayerFrame();
  return frame_ != nullptr;
}

void QtStartupPlatform::StartPlayerBrowser() {
  ::StartPlayerBrowser(frame_);
}

bool QtStartupPlatform::CreatePlayerWindow(const LinkContent& content) {
  return ::CreatePlayerWindow(frame_, content);
}

int QtStartupPlatform::RunMessageLoop() {
  // The window may have been closed already, inside a nested loop of the start-up.
  if (!g_mainWindow) {
    return 0;
  }
  return QApplication::exec();
}

void QtStartupPlatform::ShutdownWebViewHosts() {
  ::ShutdownWebViewHosts();
}

// The GUI thread may be busy (a start-up request), so the wait is bounded; a task it has not
// started when the wait ends is taken back.
bool QtStartupPlatform::RunOnMainThread(std::function<void()> task, unsigned timeoutMs) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    return false;
  }
  struct HandOver {
    std::mutex lock;
    bool started = false;
    bool withdrawn = false;
    std::promise<void> done;
  };
  auto handOver = std::make_shared<HandOver>();
  std::future<void> finished = handOver->done.get_future();
  QMetaObject::invokeMethod(
      app,
      [task = std::move(task), handOver] {
        {
          const std::lock_guard<std::mutex> guard(handOver->lock);
          if (handOver->withdrawn) {
            return;
          }
          handOver->started = true;
        }
        try {
          if (task) {
            task();
          }
        } catch (...) {
        }
        handOver->done.set_value();
      },
      Qt::QueuedConnection);
  if (finished.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready) {
    return true;
  }
  const std::lock_guard<std::mutex> guard(handOver->lock);
  handOver->withdrawn = !handOver->started;
  return false;
}

MessageAnswer QtStartupPlatform::ShowMessage(const MessageBoxRequest& request) {
  QMessageBox box;
  box.setWindowTitle(Q(request.caption));
  box.setText(Q(request.text));
  box.setTextFormat(Qt::PlainText);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  switch (request.icon) {
    case MessageIcon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case MessageIcon::kError:
      box.setIcon(QMessageBox::Critical);
      break;
    case MessageIcon::kWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case MessageIcon::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
  }
  switch (request.buttons) {
    case MessageButtons::kOk:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageButtons::kOkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Ok);
      break;
    case MessageButtons::kYesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      break;
  }
  if (request.rightToLeft) {
    // Right-aligned, read right to left (the server writes Arabic after or instead of English).
    box.setLayoutDirection(Qt::RightToLeft);
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
      label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      label->setLayoutDirection(Qt::RightToLeft);
    }
  }
  WebView::AnswerWhenShown(&box, [&box, &request](const std::string& answer) {
    WebView::TestEvent("message-box: caption=" + Utf16ToUtf8(request.caption) +
                       " icon=" + IconName(request.icon) + " buttons=" + ButtonsName(request.buttons) +
                       " rtl=" + (request.rightToLeft ? "1" : "0") + " text=" + Utf16ToUtf8(request.text));
    QMessageBox::StandardButton wanted = QMessageBox::NoButton;
    if (answer == "ok")
      wanted = QMessageBox::Ok;
    if (answer == "cancel")
      wanted = QMessageBox::Cancel;
    if (answer == "yes")
      wanted = QMessageBox::Yes;
    if (answer == "no")
      wanted = QMessageBox::No;
    QAbstractButton* button = box.button(wanted);
    if (button == nullptr) {
      button = box.button(request.buttons == MessageButtons::kYesNo      ? QMessageBox::No
                          : request.buttons == MessageButtons::kOkCancel ? QMessageBox::Cancel
                                                                         : QMessageBox::Ok);
    }
    if (button != nullptr) {
      button->click();
    }
  });
  switch (box.exec()) {
    case QMessageBox::Ok:
      return MessageAnswer::kOk;
    case QMessageBox::Cancel:
      return MessageAnswer::kCancel;
    case QMessageBox::Yes:
      return MessageAnswer::kYes;
    case QMessageBox::No:
      return MessageAnswer::kNo;
    default:
      return MessageAnswer::kOther;
  }
}

void QtStartupPlatform::OpenInBrowser(const std::wstring& link) {
  WebView::TestEvent("open-in-browser " + Utf16ToUtf8(link));
  // Tests follow the update paths without starting a browser on the machine.
  if (!WebView::TestHooksEnabled()) {
    QDesktopServices::openUrl(QUrl(Q(link)));
  }
}

void QtStartupPlatform::Log(const std::string& line) {
  const std::string text = line + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}
