// The Linux player's pieces in one process: the rules of its start-up platform (instance lock
// file, URL handler entry), the pinned-certificate answer, the printer choice, the fatal path
// from a worker thread (the program links the player's dialog, app/fatal_dialog_qt.cpp), and
// the hooks the player puts on QtWebView (navigation policy, request gate and headers, folded new
// windows, printing), driven in a real Qt WebEngine against a small HTTP server on 127.0.0.1
// that the test starts itself. The views draw off screen unless QT_QPA_PLATFORM says otherwise.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QLockFile>
#include <QPrinter>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebEngineUrlRequestInfo>

#include <gtest/gtest.h>

#include "app/identity.h"
#include "app/startup_platform_qt.h"
#include "app/url_scheme.h"
#include "app/windows_qt.h"
#include "base/shutdown_hook.h"
#include "config/config.h"
#include "net/pinning.h"
#include "tests/qt_test_environment.h"
#include "text/text.h"
#include "webview/printing_qt.h"
#include "webview/test_hooks_qt.h"
#include "webview/web_view_qt.h"

// The browser engine is not built for the sanitizers: its leaks at exit and its sized deletes
// are not ours to report.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0:new_delete_type_mismatch=0:alloc_dealloc_mismatch=0";
}

namespace {

using WebView::QtWebView;

// Serves registered pages and remembers every request's path and headers.
class RecordingServer {
 public:
  struct Request {
    QString path;
    std::map<QByteArray, QByteArray> headers;  // names lower-cased
  };

  RecordingServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] { Accept(); });
    listening_ = server_.listen(QHostAddress::LocalHost, 0);
  }

  bool listening() const { return listening_; }
  void Route(const QString& path, const QString& html) { pages_[path] = html.toUtf8(); }
  QString Url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
  }
  std::vector<Request> RequestsFor(const QString& path) const {
    std::vector<Request> found;
    for (const Request& request : requests_) {
      if (request.path == path) {
        found.push_back(request);
      }
    }
    return found;
  }

 private:
  void Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Read(socket); });
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  void Read(QTcpSocket* socket) {
    QByteArray& buffer = buffers_[socket];
    buffer += socket->readAll();
    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
      return;
    }
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    buffers_.erase(socket);
    Request request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.path = first.size() > 1 ? QString::fromUtf8(first[1]) : QString();
    for (int i = 1; i < lines.size(); ++i) {
      const int colon = lines[i].indexOf(':');
      if (colon > 0) {
        request.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
      }
    }
    requests_.push_back(request);
    const auto page = pages_.find(request.path);
    const QByteArray body = page != pages_.end() ? page->second : QByteArray("not found");
    socket->write(QByteArray("HTTP/1.1 ") + (page != pages_.end() ? "200 OK" : "404 Not Found") +
                  "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                  "Connection: close\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
  }

  QTcpServer server_;
  bool listening_ = false;
  std::map<QString, QByteArray> pages_;
  std::map<QTcpSocket*, QByteArray> buffers_;
  std::vector<Request> requests_;
};

QString Page(const QString& body) {
  return QStringLiteral("<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>") + body +
         QStringLiteral("</body></html>");
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name)) {
    old_ = qgetenv(name);
    if (value.isNull()) {
      qunsetenv(name);
    } else {
      qputenv(name, value);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      qputenv(name_, old_);
    } else {
      qunsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

std::string ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

TEST(PlayerPlatformQtTest, InstanceLockFileNamesAreSafeFileNames) {
  const struct {
    std::wstring mutexName;
    std::wstring file;
  } cases[] = {
      {L"Local\\KelmoPlayer.WebView2.ec87116c3d86a899", L"Local_KelmoPlayer.WebView2.ec87116c3d86a899.lock"},
      {L"a/b/../c", L"a_b_.._c.lock"},  // no folder can be named through the lock
      {L"x y:z|\u00e9", L"x_y_z__.lock"},
      {L"", L".lock"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InstanceLockFileName(c.mutexName), c.file) << Utf16ToUtf8(c.mutexName);
  }
  // The two roles lock different files.
  EXPECT_NE(InstanceLockFileName(BuildInstanceMutexName(L"Corvel|player")),
            InstanceLockFileName(BuildInstanceMutexName(L"Corvel|init")));
}

TEST(PlayerPlatformQtTest, InstanceLockKeepsOutASecondInstanceUntilItsHolderIsGone) {
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  ::chmod(runtime.path().toLocal8Bit().constData(), 0700);
  ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  const std::wstring name = BuildInstanceMutexName(L"Corvel|player");
  const QString lockPath =
      runtime.path() + QLatin1Char('/') + QString::fromStdWString(InstanceLockFileName(name));

  QtStartupPlatform first;
  QtStartupPlatform second;
  ASSERT_EQ(first.AcquireInstanceLock(name), InstanceLock::kAcquired);
  EXPECT_EQ(second.AcquireInstanceLock(name), InstanceLock::kAlreadyRunning);
  EXPECT_EQ(second.AcquireInstanceLock(BuildInstanceMutexName(L"Corvel|init")), InstanceLock::kAcquired)
      << "the other role has a lock of its own";
  second.ReleaseInstanceLock();

  // A holder that has run for an hour is still running: its lock must not be taken over.
  ASSERT_TRUE(QFile(lockPath).open(QIODevice::ReadOnly));
  {
    QFile held(lockPath);
    ASSERT_TRUE(held.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        held.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
  }
  EXPECT_EQ(second.AcquireInstanceLock(name), InstanceLock::kAlreadyRunning);

  first.ReleaseInstanceLock();
  EXPECT_EQ(second.AcquireInstanceLock(name), InstanceLock::kAcquired);
  second.ReleaseInstanceLock();

  // A lock left by a process that has ended (a crash) is taken over.
  const pid_t child = fork();
  if (child == 0) {
    _exit(0);
  }
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  {
    QFile stale(lockPath);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly | QIODevice::Truncate));
    stale.write(QByteArray::number(child) + "\n" + QCoreApplication::applicationName().toUtf8() + "\n" +
                QSysInfo::machineHostName().toUtf8() + "\n");
  }
  EXPECT_EQ(second.AcquireInstanceLock(name), InstanceLock::kAcquired);
}

// The shutdown hook's hand-over on Linux: a worker's task runs on the GUI thread, and a GUI thread
// that does not get to its events is waited for only as long as asked; the task is then taken
// back and never runs late.
TEST(PlayerPlatformQtTest, HandedOverTasksRunOnTheGuiThreadOrNotAtAll) {
  QtStartupPlatform platform;
  const std::thread::id gui = std::this_thread::get_id();
  std::atomic<bool> done{false};
  bool handed = false;
  std::thread::id ranOn;
  std::thread worker([&] {
    handed = platform.RunOnMainThread([&ranOn] { ranOn = std::this_thread::get_id(); }, 10000);
    done = true;
  });
  EXPECT_TRUE(WaitUntil([&done] { return done.load(); }, 10000));
  worker.join();
  EXPECT_TRUE(handed);
  EXPECT_EQ(ranOn, gui);

  ranOn = std::thread::id();
  std::thread impatient(
      [&] { handed = platform.RunOnMainThread([&ranOn] { ranOn = std::this_thread::get_id(); }, 200); });
  impatient.join();  // the GUI thread serves no events meanwhile
  EXPECT_FALSE(handed);
  WaitUntil([] { return false; }, 300);
  EXPECT_EQ(ranOn, std::thread::id()) << "a task taken back runs neither late";
}

TEST(PlayerPlatformQtTest, DesktopEntryQuotesTheProgramPathAsOneArgument) {
  const struct {
    std::wstring path;
    std::string exec;
  } cases[] = {
      {L"/opt/corvel/corvel", "Exec=\"/opt/corvel/corvel\" %u\n"},
      {L"/home/a b/My Apps/corvel", "Exec=\"/home/a b/My Apps/corvel\" %u\n"},
      // ", `, $ and \ are escaped inside the quotes, then every \ once more for the string.
      {L"/x/\"q\"/`c`/$HOME/b\\s/corvel",
       "Exec=\"/x/\\\\\"q\\\\\"/\\\\`c\\\\`/\\\\$HOME/b\\\\\\\\s/corvel\" %u\n"},
      // A % would start a field code.
      {L"/data/100%/corvel", "Exec=\"/data/100%%/corvel\" %u\n"},
      {L"/\u0645\u0646\u0635\u0629/corvel", "Exec=\"/\xd9\x85\xd9\x86\xd8\xb5\xd8\xa9/corvel\" %u\n"},
  };
  for (const auto& c : cases) {
    const std::string entry = BuildSchemeDesktopEntry(L"corvel", L"Kelmo Desktop Player", c.path);
    EXPECT_NE(entry.find(c.exec), std::string::npos) << entry;
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
    EXPECT_NE(entry.find("\nMimeType=x-scheme-handler/corvel;\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nName=Kelmo Desktop Player\n"), std::string::npos) << entry;
  }
  // A line break in a name cannot start a key of its own.
  const std::string entry = BuildSchemeDesktopEntry(L"corvel", L"A\nExec=evil", L"/p");
  EXPECT_NE(entry.find("\nName=A\\nExec=evil\n"), std::string::npos) << entry;
  EXPECT_EQ(entry.find("\nExec=evil"), std::string::npos) << entry;
}

TEST(PlayerPlatformQtTest, DesktopEntryIsWrittenIntoTheUsersDataFolderOnly) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  {
    ScopedEnv data("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toLocal8Bit());
    EXPECT_EQ(QString::fromStdString(UserApplicationsFolder()),
              home.path() + QStringLiteral("/data/applications"));
  }
  ScopedEnv homeEnv("HOME", home.path().toLocal8Bit());
  for (const QByteArray& unusable : {QByteArray(), QByteArray(""), QByteArray("relative/share")}) {
    ScopedEnv data("XDG_DATA_HOME", unusable);
    EXPECT_EQ(QString::fromStdString(UserApplicationsFolder()),
              home.path() + QStringLiteral("/.local/share/applications"));
  }

  const QString folder = home.path() + QStringLiteral("/new/applications");
  const QString file = folder + QStringLiteral("/corvel.desktop");
  ASSERT_TRUE(
      WriteSchemeDesktopEntry(folder.toStdString(), L"corvel", L"Kelmo Desktop Player", L"/opt/corvel"));
  EXPECT_EQ(ReadFile(file), BuildSchemeDesktopEntry(L"corvel", L"Kelmo Desktop Player", L"/opt/corvel"));

  // The same text again leaves the file alone; a moved program rewrites it.
  const QDateTime old = QDateTime::currentDateTime().addSecs(-600);
  {
    QFile existing(file);
    ASSERT_TRUE(existing.open(QIODevice::ReadWrite));
    ASSERT_TRUE(existing.setFileTime(old, QFileDevice::FileModificationTime));
  }
  ASSERT_TRUE(
      WriteSchemeDesktopEntry(folder.toStdString(), L"corvel", L"Kelmo Desktop Player", L"/opt/corvel"));
  EXPECT_EQ(QFileInfo(file).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
  ASSERT_TRUE(
      WriteSchemeDesktopEntry(folder.toStdString(), L"corvel", L"Kelmo Desktop Player", L"/usr/bin/corvel"));
  EXPECT_EQ(ReadFile(file), BuildSchemeDesktopEntry(L"corvel", L"Kelmo Desktop Player", L"/usr/bin/corvel"));

  // A folder that cannot be made, or nothing to register.
  QFile blocker(home.path() + QStringLiteral("/blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  EXPECT_FALSE(WriteSchemeDesktopEntry((home.path() + QStringLiteral("/blocker/applications")).toStdString(),
                                       L"corvel", L"K", L"/opt/corvel"));
  EXPECT_FALSE(WriteSchemeDesktopEntry(folder.toStdString(), L"corvel", L"K", L""));
}

std::vector<std::string> DerChain(const char* pemFile) {
  std::vector<std::string> chain;
  for (const QSslCertificate& certificate : QSslCertificate::fromPath(
           QString::fromLatin1(CORVEL_PKI_DIR) + QLatin1Char('/') + QLatin1String(pemFile))) {
    const QByteArray der = certificate.toDer();
    chain.emplace_back(der.constData(), static_cast<std::size_t>(der.size()));
  }
  return chain;
}

TEST(PlayerPlatformQtTest, OnlyAChainWithAPinnedKeyMakesGoodAnUntrustedCertificate) {
  ReplacePins(DefaultPins());
  const std::wstring platformHost = config::BuiltinPinScope();
  const std::vector<std::string> main = DerChain("chain-main.pem");
  const std::vector<std::string> interceptor = DerChain("chain-interceptor.pem");
  ASSERT_EQ(main.size(), 3u);
  ASSERT_EQ(interceptor.size(), 2u);

  EXPECT_TRUE(ChainMatchesPins(platformHost, main));
  EXPECT_FALSE(ChainMatchesPins(platformHost, interceptor)) << "a foreign chain on a pinned host";
  EXPECT_FALSE(ChainMatchesPins(L"unpinned.example", main)) << "no pins: the engine's own verdict stands";
  EXPECT_FALSE(ChainMatchesPins(platformHost, {})) << "no chain";
  EXPECT_FALSE(ChainMatchesPins(platformHost, {std::string("not a certificate")}));
  // Any element of the verified chain may carry the pin: the root alone is enough...
  EXPECT_TRUE(ChainMatchesPins(platformHost, DerChain("chain-root-only.pem")));
  // ...but a pinned certificate that the server's own does not chain to proves nothing.
  EXPECT_FALSE(ChainMatchesPins(platformHost, {interceptor[0], main.back()}));
  EXPECT_FALSE(ChainMatchesPins(platformHost, DerChain("chain-spliced.pem")));

  ReplacePins({PinEntry{platformHost, {}}});
  EXPECT_FALSE(ChainMatchesPins(platformHost, main)) << "an entry without pins trusts nothing";
  ReplacePins(DefaultPins());
}

class PlayerViewQtTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { server = new RecordingServer(); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(server->listening());
    // A gate that refuses the addresses with "/refused" in them, and asks no network.
    WebView::QtViewPlatform platform = WebView::DefaultQtViewPlatform();
    platform.requestGate = [this](const std::wstring& uri) {
      gateAsked_.push_back(uri);
      return uri.find(L"/refused") == std::wstring::npos;
    };
    view_ = std::make_unique<QtWebView>(nullptr, QString(), platform);
    WebView::ViewEvents events;
    events.pageMessage = [this](const std::wstring& message) { messages_.push_back(message); };
    events.navigationStarting = [this](const std::wstring& uri) {
      navigations_.push_back(uri);
      return uri.find(L"/blocked") == std::wstring::npos;
    };
    events.request = [this](const std::wstring& uri) {
      ownerSaw_.push_back(uri);
      return WebView::RequestHeaders{{L"X-Owner", L"added"}};
    };
    view_->Connect(std::move(events));
    loads_ = std::make_unique<LoadWatcher>(*view_);
  }

  QString Eval(const QString& script) { return EvaluateAndWait(*view_, script).toString(); }
  bool Open(const QString& path, const QString& body) {
    server->Route(path, Page(body));
    view_->Navigate(server->Url(path).toStdWString());
    return loads_->Wait();
  }

  static RecordingServer* server;
  std::unique_ptr<QtWebView> view_;
  std::unique_ptr<LoadWatcher> loads_;
  std::vector<std::wstring> gateAsked_;
  std::vector<std::wstring> ownerSaw_;
  std::vector<std::wstring> messages_;
  std::vector<std::wstring> navigations_;
};

RecordingServer* PlayerViewQtTest::server = nullptr;

TEST_F(PlayerViewQtTest, NavigationsAskThePolicyAndNewWindowsStayInTheView) {
  // The owner's own page arrives as about:blank.
  view_->NavigateToString(L"<p>composed</p>");
  ASSERT_TRUE(loads_->Wait());
  ASSERT_EQ(navigations_, std::vector<std::wstring>{L"about:blank"});

  server->Route(QStringLiteral("/blocked"), Page(QStringLiteral("blocked")));
  server->Route(QStringLiteral("/next"), Page(QStringLiteral("<p id=next>next</p>")));
  ASSERT_TRUE(
      Open(QStringLiteral("/start"),
           QStringLiteral("<a id=off href='/blocked'>off</a><a id=new target=_blank href='/next'>new</a>"
                          "<iframe src='/blocked?frame'></iframe>")));
  const std::wstring start = server->Url(QStringLiteral("/start")).toStdWString();
  EXPECT_EQ(navigations_.back(), start);
  // Frames are not the policy's business.
  ASSERT_TRUE(WaitUntil([] { return !server->RequestsFor(QStringLiteral("/blocked?frame")).empty(); }, 5000));

  // A cancelled click keeps the page, and the server never sees the request.
  Eval(QStringLiteral("document.getElementById('off').click()"));
  ASSERT_TRUE(
      WaitUntil([this] { return navigations_.back().find(L"/blocked") != std::wstring::npos; }, 5000));
  WaitUntil([] { return false; }, 500);
  EXPECT_TRUE(server->RequestsFor(QStringLiteral("/blocked")).empty());
  EXPECT_EQ(Eval(QStringLiteral("location.pathname")), QStringLiteral("/start"));

  // target=_blank loads in this view, through the policy.
  Eval(QStringLiteral("setTimeout(function(){document.getElementById('new').click();},10)"));
  ASSERT_TRUE(WaitUntil([this] { return Eval(QStringLiteral("location.pathname")) == "/next"; }, 10000));
  EXPECT_EQ(navigations_.back(), server->Url(QStringLiteral("/next")).toStdWString());
}

TEST_F(PlayerViewQtTest, RequestsCarryTheIdentificationHeaderAndPassTheGateFirst) {
  server->Route(QStringLiteral("/refused.js"), QStringLiteral("window.loaded = true;"));
  server->Route(QStringLiteral("/allowed.js"), QStringLiteral("window.allowed = true;"));
  ASSERT_TRUE(Open(QStringLiteral("/headers"),
                   QStringLiteral("<script src='/refused.js'></script><script src='/allowed.js'></script>")));

  const auto page = server->RequestsFor(QStringLiteral("/headers"));
  ASSERT_EQ(page.size(), 1u);
  const QByteArray name =
      QByteArray::fromStdString(Utf16ToUtf8(config::IdentificationHeaderName())).toLower();
  EXPECT_EQ(page[0].headers.at(name).toStdString(), Utf16ToUtf8(config::IdentificationHeaderValue()));
  EXPECT_EQ(page[0].headers.count("x-owner"), 1u);

  // The refused script never left the engine and the owner never saw it.
  EXPECT_TRUE(server->RequestsFor(QStringLiteral("/refused.js")).empty());
  EXPECT_EQ(Eval(QStringLiteral("String(window.loaded) + ',' + String(window.allowed)")),
            QStringLiteral("undefined,true"));
  const std::wstring refused = server->Url(QStringLiteral("/refused.js")).toStdWString();
  EXPECT_NE(std::find(gateAsked_.begin(), gateAsked_.end(), refused), gateAsked_.end());
  EXPECT_EQ(std::find(ownerSaw_.begin(), ownerSaw_.end(), refused), ownerSaw_.end());
  EXPECT_EQ(server->RequestsFor(QStringLiteral("/allowed.js")).at(0).headers.count("x-owner"), 1u);
}

TEST_F(PlayerViewQtTest, PrintsToAPrinterAndRefusesASecondPrintWhileOneRuns) {
  ASSERT_TRUE(Open(QStringLiteral("/print"), QStringLiteral("<h1>Print me</h1>")));
  QTemporaryDir folder;
  auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setOutputFileName(folder.path() + QStringLiteral("/out.pdf"));

  int calls = 0;
  bool outcome = false;
  ASSERT_TRUE(view_->PrintTo(printer, [&](bool ok) {
    ++calls;
    outcome = ok;
  }));
  EXPECT_FALSE(view_->PrintTo(printer, [&](bool) { ++calls; }));
  ASSERT_TRUE(WaitUntil([&calls] { return calls > 0; }, 30000));
  WaitUntil([] { return false; }, 200);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(outcome);
  EXPECT_EQ(ReadFile(folder.path() + QStringLiteral("/out.pdf")).substr(0, 5), "%PDF-");
  // Done: the next print may start.
  EXPECT_TRUE(view_->PrintTo(printer, [&](bool) { ++calls; }));
  ASSERT_TRUE(WaitUntil([&calls] { return calls == 2; }, 30000));
}

// The pin gate's notice comes from a worker thread: the web views must be closed on the GUI
// thread before the end, and the GUI thread ends the process with 0. (Drawn off screen, the
// dialog falls back to its standard-error text.)
TEST(PlayerFatalDialogQtTest, AWorkerThreadHandsTheEndToTheGuiThreadAfterTheWebViewsClose) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScopedEnv hooks("CORVEL_TEST_HOOKS", QByteArray("1"));
  EXPECT_EXIT(
      {
        WebView::SetEventObserver(WebView::TestEvent);  // as the player does with its test hooks on
        QtStartupPlatform platform;
        platform.InitializeMainThread();
        InstallPlatformShutdownHook(platform);
        g_playerHost = std::make_unique<QtWebView>();
        std::thread([] { ShowWebPinFailureNotice(L"pinned.example"); }).detach();
        QCoreApplication::exec();
        std::fputs("the event loop ended instead of the process\n", stderr);
        std::exit(3);
      },
      testing::ExitedWithCode(0),
      "corvel-event: web views closed\n.*Network Connection Intercepted.*Diagnostic "
      "Code:\nMITM_PIN_pinned\\.example");
}

TEST(PlayerPrintingQtTest, TheStandInPrinterIsTheDefaultAndTheChoiceAnswersForTheTest) {
  ScopedEnv noCups("CUPS_SERVER", QByteArray("/nonexistent/cups.sock"));
  {
    ScopedEnv printer("CORVEL_TEST_PRINTER_PDF", QByteArray("/tmp/x.pdf"));
    const std::vector<PrinterEntry> printers = WebView::EnumeratePrinters();
    ASSERT_FALSE(printers.empty());
    EXPECT_EQ(printers[0].name, L"Corvel Test PDF");
    EXPECT_TRUE(printers[0].isDefault);
    EXPECT_EQ(printers[0].port, L"/tmp/x.pdf");
  }
  EXPECT_TRUE(WebView::EnumeratePrinters().empty()) << "no print server, no stand-in";

  const std::vector<PrinterEntry> offered = {{L"Default One", L"", L"", true}, {L"Other", L"", L"", false}};
  {
    ScopedEnv answer("CORVEL_TEST_ANSWER", QByteArray("ok"));
    EXPECT_EQ(WebView::SelectPrinter(nullptr, offered), L"Default One") << "the first entry is pre-selected";
    EXPECT_EQ(WebView::SelectPrinter(nullptr, {}), L"") << "an empty list has no Print button";
  }
  ScopedEnv answer("CORVEL_TEST_ANSWER", QByteArray("cancel"));
  EXPECT_EQ(WebView::SelectPrinter(nullptr, offered), L"");
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) {
    return RUN_ALL_TESTS();
  }
  PrepareTestEngineEnvironment();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
