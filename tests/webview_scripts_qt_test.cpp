// The injected page scripts at work in a real browser engine (Qt WebEngine), with pages served
// by a small HTTP server on 127.0.0.1 that the test starts itself. Mouse and keyboard input is
// real: Qt events sent to the view's input widget, which the engine turns into DOM events (so
// the browser, not the test, decides which clicks happen). The views draw off screen unless
// QT_QPA_PLATFORM says otherwise (the suite runs under Xvfb, and passes with xcb too).
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QPdfWriter>
#include <QPoint>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include "base/app_state.h"
#include "tests/qt_test_environment.h"
#include "text/web_address.h"
#include "webview/navigation_policy.h"
#include "webview/page_messages.h"
#include "webview/preparation.h"
#include "webview/print_result.h"
#include "webview/scripts.h"
#include "webview/web_view_qt.h"

// The browser engine is not built for the sanitizers: its leaks at exit and its sized deletes
// are not ours to report. Our own code keeps every other check.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0:new_delete_type_mismatch=0:alloc_dealloc_mismatch=0";
}

// Readable failure messages for Qt strings.
void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

using WebView::QtWebView;

// Serves registered pages; paths under /hang/ are accepted and never answered, so a page that
// uses one never fires its load event.
class LocalServer {
 public:
  LocalServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] { Accept(); });
    listening_ = server_.listen(QHostAddress::LocalHost, 0);
  }

  bool listening() const { return listening_; }
  void Route(const QString& path, const QString& html) {
    pages_[path] = {html.toUtf8(), "text/html; charset=utf-8"};
  }
  void Route(const QString& path, const QByteArray& body, const QByteArray& type) {
    pages_[path] = {body, type};
  }
  std::wstring Url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path).toStdWString();
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
    if (!buffer.contains("\r\n\r\n")) {
      return;
    }
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    buffers_.erase(socket);
    const QString path = requestLine.size() > 1 ? QString::fromUtf8(requestLine[1]) : QString();
    if (path.startsWith(QStringLiteral("/hang/"))) {
      return;  // keep the connection open without an answer
    }
    const auto page = pages_.find(path);
    const QByteArray body = page != pages_.end() ? page->second.first : QByteArray("not found");
    const QByteArray type =
        page != pages_.end() ? page->second.second : QByteArray("text/html; charset=utf-8");
    const QByteArray status = page != pages_.end() ? "200 OK" : "404 Not Found";
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                  "\r\nCache-Control: no-store\r\n"
                  "Connection: close\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
  }

  QTcpServer server_;
  bool listening_ = false;
  std::map<QString, std::pair<QByteArray, QByteArray>> pages_;  // body, content type
  std::map<QTcpSocket*, QByteArray> buffers_;
};

QString Page(const QString& head, const QString& body) {
  return QStringLiteral("<!DOCTYPE html><html><head><meta charset='utf-8'>") + head +
         QStringLiteral("</head><body>") + body + QStringLiteral("</body></html>");
}

QString Q(const std::wstring& text) {
  return QString::fromStdWString(text);
}

class ScriptsQtTest : public testing::Test {
 protected:
  // One server for the suite, made once the application object exists.
  static void SetUpTestSuite() {
    server = new LocalServer();
    otherOrigin = new LocalServer();  // another port: another origin
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
    delete otherOrigin;
    otherOrigin = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(server_.listening());
    NewView();
    // Counts the mouse events that reach the top document, before any other script sees them.
    web_->AddDocumentScript(
        L"(function(){if(window!==window.top)return;var n={down:0,up:0,move:0};"
        L"window.inputSeen=n;['down','up','move'].forEach(function(t){"
        L"window.addEventListener('mouse'+t,function(){n[t]++;},true);});})();");
    web_->view()->resize(1024, 768);
    web_->view()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(web_->view()));
    web_->view()->activateWindow();
  }

  void TearDown() override {
    loads_.reset();
    web_.reset();
  }

  // A new view that records its page messages, with `events` (more than that) when given.
  void NewView(WebView::ViewEvents events = {}) {
    loads_.reset();
    web_ = std::make_unique<QtWebView>();
    events.pageMessage = [this](const std::wstring& message) { messages_.push_back(message); };
    web_->Connect(std::move(events));
    loads_ = std::make_unique<LoadWatcher>(*web_);
  }

  // Serves `html` at `path` and opens it; true once it has loaded.
  bool Open(const QString& path, const QString& html) {
    server_.Route(path, html);
    web_->Navigate(server_.Url(path));
    return loads_->Wait();
  }

  QVariant Eval(const QString& script) {
    bool finished = false;
    QVariant value = EvaluateAndWait(*web_, script, 5000, &finished);
    EXPECT_TRUE(finished) << script.toStdString();
    return value;
  }
  bool EvalBool(const QString& script) { return Eval(script).toBool(); }
  QString EvalString(const QString& script) { return Eval(script).toString(); }
  double EvalNumber(const QString& script) { return Eval(script).toDouble(); }

  bool WaitFor(const QString& condition, int timeoutMs = 5000) {
    return WaitUntil([&] { return EvalBool(condition); }, timeoutMs);
  }

  // Waits until at least `count` messages arrived, then a little longer for stray extras.
  std::vector<std::wstring> MessagesAfter(std::size_t count, int settleMs = 300) {
    WaitUntil([&] { return messages_.size() >= count; }, 5000);
    QTest::qWait(settleMs);
    return messages_;
  }

  // Centre of the first element matching `selector`, in view coordinates.
  QPoint CenterOf(const QString& selector) {
    const QVariantList xy =
        Eval(QStringLiteral("(function(){var r=document.querySelector('%1')"
                            ".getBoundingClientRect();return [r.left+r.width/2,r.top+r.height/2];})()")
                 .arg(selector))
            .toList();
    EXPECT_EQ(xy.size(), 2) << selector.toStdString();
    return xy.size() == 2 ? QPoint(qRound(xy[0].toDouble()), qRound(xy[1].toDouble())) : QPoint();
  }

  QWidget* Input() { return web_->view()->focusProxy(); }

  // Mouse input from the test is checked against what the top document saw: the engine drops
  // input until the page has drawn, and now and then a press right after that. A press the page
  // never saw is repeated; that is safe, as nothing in the page reacted to it.
  int Seen(const char* what) {
    return static_cast<int>(
        EvalNumber(QStringLiteral("window.inputSeen ? window.inputSeen.%1 : -1").arg(QLatin1String(what))));
  }

  bool MoveTo(QPoint to) {
    if (to == pointer_) {
      return true;
    }
    const int before = Seen("move");
    QTest::mouseMove(Input(), to);
    pointer_ = to;
    return WaitUntil([&] { return Seen("move") > before; }, 2000);
  }

  bool Press(QPoint at) {
    MoveTo(at);
    for (int attempt = 0; attempt < 4; ++attempt) {
      const int before = Seen("down");
      QTest::mousePress(Input(), Qt::LeftButton, Qt::NoModifier, at);
      if (WaitUntil([&] { return Seen("down") > before; }, 1000)) {
        return true;
      }
      QTest::mouseRelease(Input(), Qt::LeftButton, Qt::NoModifier, at);
      QTest::qWait(100);
    }
    return false;
  }

  bool Release(QPoint at) {
    const int before = Seen("up");
    QTest::mouseRelease(Input(), Qt::LeftButton, Qt::NoModifier, at);
    return WaitUntil([&] { return Seen("up") > before; }, 2000);
  }

  bool Click(QPoint at) { return Press(at) && Release(at); }

  // Press at `from`, move to `to` in steps, release there.
  bool Drag(QPoint from, QPoint to) {
    if (!Press(from)) {
      return false;
    }
    const int kSteps = 6;
    for (int i = 1; i <= kSteps; ++i) {
      if (!MoveTo(from + (to - from) * i / kSteps)) {
        return false;
      }
    }
    return Release(to);
  }

  // Waits until the page takes input at all.
  bool WaitUntilInputArrives() {
    int step = 0;
    return WaitUntil([&] { return MoveTo(QPoint(600 + (++step % 2) * 5, 700)); }, 8000) &&
           Click(QPoint(600, 700));
  }

  // A key typed on the view's window, its text given (so no keyboard layout is involved).
  void Key(char key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(web_->view()->window()->windowHandle(), key, modifiers);
    QTest::qWait(30);
  }

  static LocalServer* server;
  static LocalServer* otherOrigin;
  LocalServer& server_ = *server;
  std::unique_ptr<QtWebView> web_;
  std::unique_ptr<LoadWatcher> loads_;
  std::vector<std::wstring> messages_;
  QPoint pointer_{-1, -1};
};

LocalServer* ScriptsQtTest::server = nullptr;
LocalServer* ScriptsQtTest::otherOrigin = nullptr;

using Messages = std::vector<std::wstring>;

TEST_F(ScriptsQtTest, WindowPrintIsReplacedAndLockedAndPostsRequestPrint) {
  web_->AddDocumentScript(PrintBlockScript());
  // The page tries every way back to its own print function.
  const QString page = Page(QStringLiteral("<script>"
                                           "window.attempts=[];"
                                           "function mine(){window.pagePrinted=true;}"
                                           "try{window.print=mine;window.attempts.push('assigned');}"
                                           "catch(e){window.attempts.push('assign threw');}"
                                           "(function(){'use strict';try{window.print=mine;}"
                                           "catch(e){window.attempts.push('strict threw');}})();"
                                           "try{Object.defineProperty(window,'print',{value:mine});}"
                                           "catch(e){window.attempts.push('define threw');}"
                                           "try{delete window.print;}catch(e){}"
                                           "</script>"),
                            QStringLiteral("<iframe id='f' src='/print-frame'></iframe>"));
  server_.Route(QStringLiteral("/print-frame"),
                Page(QStringLiteral("<script>"
                                    "try{window.print();parent.frameResult='no error';}"
                                    "catch(e){parent.frameResult='threw';}"
                                    "</script>"),
                     QString()));
  ASSERT_TRUE(Open(QStringLiteral("/print"), page));

  EXPECT_EQ(EvalString(QStringLiteral("window.attempts.join(',')")),
            QStringLiteral("assigned,strict threw,define threw"));
  EXPECT_EQ(EvalString(QStringLiteral("(function(){var d=Object.getOwnPropertyDescriptor(window,'print');"
                                      "return d.writable+','+d.configurable;})()")),
            QStringLiteral("false,false"));
  // A frame has no host messaging object: print does nothing there, and throws nothing.
  EXPECT_EQ(EvalString(QStringLiteral("window.frameResult")), QStringLiteral("no error"));
  EXPECT_TRUE(messages_.empty());

  Eval(QStringLiteral("window.print()"));
  EXPECT_EQ(MessagesAfter(1), Messages{L"requestPrint"});
  EXPECT_FALSE(EvalBool(QStringLiteral("window.pagePrinted === true")));
}

TEST_F(ScriptsQtTest, PrintSaveAndOpenShortcutsNeverReachThePage) {
  web_->AddDocumentScript(PrintBlockScript());
  // The page watches keys on the document and the body; a window capture listener (which runs
  // before any document listener) keeps each event to read defaultPrevented afterwards.
  const QString page =
      Page(QStringLiteral(
               "<script>"
               "window.seen=[];window.events=[];"
               "function name(e){return (e.ctrlKey?'C':'')+(e.shiftKey?'S':'')+e.key;}"
               "function modifier(e){return ['Control','Shift','Meta','Alt'].indexOf(e.key)>=0;}"
               "window.addEventListener('keydown',function(e){if(!modifier(e))window.events.push(e);},true);"
               "document.addEventListener('keydown',function(e){if(!modifier(e))window.seen.push(name(e));});"
               "document.addEventListener('keydown',function(e){if(!modifier(e))window.seen.push('capture "
               "'+name(e));},true);"
               "</script>"),
           QStringLiteral("<input id='field'><script>"
                          "document.body.addEventListener('keydown',function(e){if(!modifier(e))window.seen."
                          "push('body '+name(e));});"
                          "</script>"));
  ASSERT_TRUE(Open(QStringLiteral("/keys"), page));
  ASSERT_TRUE(WaitUntilInputArrives());
  ASSERT_TRUE(Click(CenterOf(QStringLiteral("#field"))));
  ASSERT_TRUE(WaitFor(QStringLiteral("document.activeElement.id === 'field'")));

  Key('p', Qt::ControlModifier);
  Key('s', Qt::ControlModifier);
  Key('S', Qt::ControlModifier | Qt::ShiftModifier);
  Key('o', Qt::ControlModifier);
  Key('O', Qt::ControlModifier | Qt::ShiftModifier);
  Key('k', Qt::ControlModifier);  // not ours: the page must see it
  Key('x', Qt::NoModifier);

  ASSERT_TRUE(WaitFor(QStringLiteral("window.events.length >= 7")));
  EXPECT_EQ(EvalString(QStringLiteral(
                "window.events.map(function(e){return name(e)+'='+e.defaultPrevented;}).join(' ')")),
            QStringLiteral("Cp=true Cs=true CSS=true Co=true CSO=true Ck=false x=false"));
  EXPECT_EQ(EvalString(QStringLiteral("window.seen.join(',')")),
            QStringLiteral("capture Ck,body Ck,Ck,capture x,body x,x"));
  EXPECT_EQ(EvalString(QStringLiteral("document.getElementById('field').value")), QStringLiteral("x"));
  EXPECT_EQ(MessagesAfter(1), Messages{L"requestPrint"});
}

TEST_F(ScriptsQtTest, WatermarkPrintButtonAndBarComeBackAtOnceWhenRemoved) {
  // Quotes, a closing script tag, a line break and Arabic must all arrive as plain text.
  const std::wstring kWatermark = L"Ali O'Hara \"7\" </script>\\n\n\u0637\u0627\u0644\u0628";
  web_->AddDocumentScript(WatermarkScript(kWatermark));
  web_->AddDocumentScript(PrintButtonScript());
  web_->AddDocumentScript(NavigationBarScript());
  ASSERT_TRUE(Open(QStringLiteral("/pdf"),
                   Page(QString(), QStringLiteral("<button id='under' style='position:fixed;"
                                                  "left:400px;top:300px;width:200px;height:100px'"
                                                  " onclick='window.underClicked=true'>x</button>"))));

  ASSERT_TRUE(WaitUntilInputArrives());
  EXPECT_EQ(EvalString(QStringLiteral("document.getElementById('kelmo-watermark').textContent")),
            Q(kWatermark));
  EXPECT_EQ(EvalString(QStringLiteral(
                "(function(){var s=getComputedStyle(document.getElementById('kelmo-watermark'));"
                "return [s.position,s.pointerEvents,s.zIndex,s.opacity,s.color].join(' ');})()")),
            QStringLiteral("fixed none 2147483646 0.15 rgb(255, 0, 0)"));

  // Each removal is undone before the page's next microtask runs.
  const char* kIds[] = {"kelmo-watermark", "kelmo-print-btn", "kelmo-nav-container"};
  for (const char* id : kIds) {
    SCOPED_TRACE(id);
    Eval(QStringLiteral("window.back=null;document.getElementById('%1').remove();"
                        "Promise.resolve().then(function(){window.back="
                        "!!document.getElementById('%1');});")
             .arg(QLatin1String(id)));
    EXPECT_TRUE(EvalBool(QStringLiteral("window.back === true")));
  }
  Eval(
      QStringLiteral("window.back=null;document.body.innerHTML='';"
                     "Promise.resolve().then(function(){window.back=['kelmo-watermark',"
                     "'kelmo-print-btn','kelmo-nav-container'].every(function(id){"
                     "return document.getElementById(id)&&document.getElementById(id)"
                     ".parentNode===document.body;});});"));
  EXPECT_TRUE(EvalBool(QStringLiteral("window.back === true")));
  // A whole new body gets them too.
  Eval(
      QStringLiteral("window.back=null;document.documentElement.replaceChild("
                     "document.createElement('body'),document.body);"
                     "Promise.resolve().then(function(){window.back=['kelmo-watermark',"
                     "'kelmo-print-btn','kelmo-nav-container'].every(function(id){"
                     "return !!document.getElementById(id);});});"));
  EXPECT_TRUE(EvalBool(QStringLiteral("window.back === true")));
  EXPECT_EQ(EvalNumber(QStringLiteral("document.querySelectorAll('#kelmo-print-btn').length")), 1);

  // The watermark lets clicks through; the print button asks the host to print.
  Eval(
      QStringLiteral("document.body.innerHTML=\"<button id='under' style='position:fixed;"
                     "left:400px;top:300px;width:200px;height:100px' "
                     "onclick='window.underClicked=true'>x</button>\";"));
  ASSERT_TRUE(Click(CenterOf(QStringLiteral("#under"))));
  EXPECT_TRUE(WaitFor(QStringLiteral("window.underClicked === true")));
  EXPECT_TRUE(messages_.empty());
  ASSERT_TRUE(Click(CenterOf(QStringLiteral("#kelmo-print-btn"))));
  EXPECT_EQ(MessagesAfter(1), Messages{L"requestPrint"});
  EXPECT_EQ(EvalString(QStringLiteral("document.getElementById('kelmo-print-btn').style.transform")),
            QStringLiteral("scale(1.1)"));  // hover look while the pointer is on it
}

TEST_F(ScriptsQtTest, NavigationBarPostsClicksAndKeepsItsDraggedPosition) {
  // The init screen's own preparation, with its start page replaced by a local one.
  std::vector<ViewStep> plan = PlanInitPreparation();
  ASSERT_EQ(plan.back().kind, ViewStep::Kind::kNavigate);
  server_.Route(QStringLiteral("/start"), Page(QString(), QStringLiteral("<p>start</p>")));
  plan.back().text = server_.Url(QStringLiteral("/start"));
  ApplyPreparation(*web_, plan, nullptr);
  ASSERT_TRUE(loads_->Wait());

  ASSERT_TRUE(WaitUntilInputArrives());
  const QString kBar = QStringLiteral("document.getElementById('kelmo-nav-container')");
  const QString kPosition = QStringLiteral(
                                "(function(){var b=%1;return b.style.left+' '+"
                                "b.style.top;})()")
                                .arg(kBar);
  EXPECT_EQ(EvalString(kPosition), QStringLiteral("20px 20px"));
  EXPECT_EQ(EvalString(kBar + QStringLiteral(".style.opacity")), QStringLiteral("0.4"));

  // Hovering opens the bar up; wait for the padding transition before aiming at buttons.
  ASSERT_TRUE(MoveTo(CenterOf(QStringLiteral("#kelmo-nav-container"))));
  EXPECT_TRUE(WaitFor(kBar + QStringLiteral(".style.opacity === '1'")));
  QTest::qWait(450);
  const auto button = [](const char* message) {
    return QStringLiteral("#kelmo-nav-container button[data-message=%1]").arg(QLatin1String(message));
  };

  ASSERT_TRUE(Click(CenterOf(button("btn_fullscreen"))));
  EXPECT_EQ(MessagesAfter(1), Messages{L"btn_fullscreen"});
  EXPECT_FALSE(EvalBool(QStringLiteral("!!document.getElementById('kelmo-full-loader')")));
  ASSERT_TRUE(Click(CenterOf(button("btn_home"))));
  EXPECT_EQ(MessagesAfter(2), (Messages{L"btn_fullscreen", L"btn_home"}));
  EXPECT_EQ(EvalString(QStringLiteral("document.getElementById('kelmo-full-loader').style.display")),
            QStringLiteral("flex"));
  EXPECT_EQ(DispatchInitMessage(messages_.back()), PageRequest::kHome);
  // The overlay covers the bar until the next page; this page stays, so take it away.
  Eval(QStringLiteral("document.getElementById('kelmo-full-loader').style.display='none';"));

  // A drag that starts and ends on a button moves the bar and is not a click.
  const QPoint back = CenterOf(button("btn_back"));
  ASSERT_TRUE(Drag(back, back + QPoint(150, 100)));
  EXPECT_EQ(MessagesAfter(2), (Messages{L"btn_fullscreen", L"btn_home"}));
  EXPECT_EQ(EvalString(kPosition), QStringLiteral("170px 120px"));
  EXPECT_EQ(EvalString(QStringLiteral("localStorage.getItem('km_nx')+','+"
                                      "localStorage.getItem('km_ny')")),
            QStringLiteral("170,120"));
  // The next press is a click again; a move within 3 px is still a click and moves nothing.
  const QPoint reload = CenterOf(button("btn_reload"));
  ASSERT_TRUE(Drag(reload, reload + QPoint(3, -3)));
  EXPECT_EQ(MessagesAfter(3), (Messages{L"btn_fullscreen", L"btn_home", L"btn_reload"}));
  EXPECT_EQ(EvalString(kPosition), QStringLiteral("170px 120px"));

  // The next document of the same site starts where the bar was left.
  ASSERT_TRUE(Open(QStringLiteral("/next"), Page(QString(), QStringLiteral("<p>next</p>"))));
  EXPECT_EQ(EvalString(kPosition), QStringLiteral("170px 120px"));
  // A saved place outside this window would hide the bar: it starts in the corner instead.
  Eval(QStringLiteral("localStorage.setItem('km_nx','5000');"));
  ASSERT_TRUE(Open(QStringLiteral("/far"), Page(QString(), QStringLiteral("<p>far</p>"))));
  EXPECT_EQ(EvalString(kPosition), QStringLiteral("20px 20px"));
  EXPECT_EQ(EvalString(QStringLiteral("localStorage.getItem('km_nx')")), QStringLiteral("5000"));
}

// The page records, with its own observer, when the overlay appears, fades and goes.
const QString kLoaderProbe = QStringLiteral(
    "<script>window.t={};"
    "new MutationObserver(function(){var o=document.getElementById('kelmo-full-loader');"
    "var now=performance.now();"
    "if(o&&!t.shown){t.shown=now;var s=getComputedStyle(o);t.look=[o.parentNode===document.body,"
    "s.position,s.zIndex,s.backgroundColor,s.transitionDuration,"
    "o.textContent.indexOf('Loading...')>0].join(' ');}"
    "if(o&&o.style.opacity==='0'&&!t.faded)t.faded=now;"
    "if(!o&&t.shown&&!t.removed)t.removed=now;"
    "}).observe(document,{childList:true,subtree:true,attributes:true});"
    "window.addEventListener('load',function(){t.load=performance.now();});"
    "</script>");

TEST_F(ScriptsQtTest, LoaderLeavesHalfASecondAfterLoad) {
  web_->AddDocumentScript(LoaderScript());
  ASSERT_TRUE(Open(QStringLiteral("/loads"), Page(kLoaderProbe, QStringLiteral("<p>x</p>"))));
  ASSERT_TRUE(WaitFor(QStringLiteral("!!window.t.removed"), 3000));
  EXPECT_EQ(EvalString(QStringLiteral("t.look")),
            QStringLiteral("true fixed 2147483647 rgb(32, 32, 32) 0.5s true"));
  const double load = EvalNumber(QStringLiteral("t.load"));
  const double faded = EvalNumber(QStringLiteral("t.faded"));
  const double removed = EvalNumber(QStringLiteral("t.removed"));
  EXPECT_GT(EvalNumber(QStringLiteral("t.shown")), 0);
  EXPECT_NEAR(faded, load, 200);
  EXPECT_GE(removed - faded, 450);
  EXPECT_LT(removed - faded, 1500);
}

TEST_F(ScriptsQtTest, LoaderLeavesAfterFiveSecondsWhenLoadNeverComes) {
  web_->AddDocumentScript(LoaderScript());
  server_.Route(QStringLiteral("/slow"),
                Page(kLoaderProbe, QStringLiteral("<p>x</p><img src='/hang/picture.png'>")));
  web_->Navigate(server_.Url(QStringLiteral("/slow")));
  ASSERT_TRUE(WaitFor(QStringLiteral("!!(window.t && window.t.shown)")));
  ASSERT_TRUE(WaitFor(QStringLiteral("!!window.t.removed"), 9000));
  const double faded = EvalNumber(QStringLiteral("t.faded"));
  const double removed = EvalNumber(QStringLiteral("t.removed"));
  EXPECT_GE(faded, 5000);
  EXPECT_LT(faded, 7000);
  EXPECT_GE(removed - faded, 450);
  EXPECT_LT(removed - faded, 1500);
  EXPECT_NE(EvalString(QStringLiteral("document.readyState")), QStringLiteral("complete"));
}

TEST_F(ScriptsQtTest, GuardFlagsKeepASecondRunFromAddingAnything) {
  const std::wstring kScripts[] = {LoaderScript(), PrintBlockScript(), NavigationBarScript(),
                                   WatermarkScript(L"W"), PrintButtonScript()};
  for (const auto& script : kScripts) {
    web_->AddDocumentScript(script);
  }
  ASSERT_TRUE(Open(QStringLiteral("/twice"), Page(QString(), QStringLiteral("<p>x</p>"))));
  EXPECT_EQ(EvalString(QStringLiteral("['_kelmoLoaderAdded','_kelmoPrintBlockAdded','_kelmoNavAdded',"
                                      "'_kelmoWatermarkAdded','_kelmoPrintBtnAdded'].map(function(f){"
                                      "return window[f]===true;}).join(',')")),
            QStringLiteral("true,true,true,true,true"));
  // Once the loader has gone, running its script again must not bring it back.
  ASSERT_TRUE(WaitFor(QStringLiteral("!document.getElementById('kelmo-full-loader')"), 3000));
  for (const auto& script : kScripts) {
    Eval(Q(script));
  }
  // With its flag cleared, the bar still finds its element and adds no second one.
  Eval(QStringLiteral("delete window._kelmoNavAdded;"));
  Eval(Q(NavigationBarScript()));
  EXPECT_EQ(EvalString(
                QStringLiteral("['kelmo-nav-container','kelmo-watermark','kelmo-print-btn'].map(function(id){"
                               "return document.querySelectorAll('[id='+id+']').length;}).join(',')")),
            QStringLiteral("1,1,1"));
  EXPECT_EQ(EvalNumber(QStringLiteral("document.querySelectorAll('[id=kelmo-full-loader]').length")), 0);
  // One key handler only: Ctrl+P asks once.
  Eval(
      QStringLiteral("document.dispatchEvent(new KeyboardEvent('keydown',"
                     "{key:'p',ctrlKey:true,bubbles:true,cancelable:true}));"));
  EXPECT_EQ(MessagesAfter(1), Messages{L"requestPrint"});
}

TEST_F(ScriptsQtTest, PlayerPreparationShowsEachContentKind) {
  server_.Route(QStringLiteral("/lesson"), Page(QString(), QStringLiteral("<p>lesson</p>")));
  const std::wstring kUrl = server_.Url(QStringLiteral("/lesson"));
  int reveals = 0;
  const auto reveal = [&reveals] { ++reveals; };

  // Direct content runs the page script once, after parsing, in the top document.
  LinkContent direct;
  direct.contentKind = L"url_direct";
  direct.contentUrl = kUrl;
  direct.pageScript =
      L"window.chrome.webview.postMessage('script ' + document.readyState + ' ' + "
      L"!!document.body);";
  ApplyPreparation(*web_, PlanPlayerPreparation(direct), reveal);
  // Applied whole before the event loop runs (the engine has each script in place once added):
  // a view made ahead of its content navigates before the engine's own start-up work.
  EXPECT_EQ(reveals, 1);
  ASSERT_TRUE(loads_->Wait());
  EXPECT_EQ(MessagesAfter(1), Messages{L"script interactive true"});
  EXPECT_TRUE(
      EvalBool(QStringLiteral("window._kelmoLoaderAdded && window._kelmoPrintBlockAdded"
                              " && !window._kelmoWatermarkAdded")));

  // PDF content gets the watermark and the print button.
  messages_.clear();
  NewView();
  LinkContent pdf;
  pdf.contentKind = L"pdf";
  pdf.contentUrl = kUrl;
  pdf.watermarkText = L"Student 7";
  ApplyPreparation(*web_, PlanPlayerPreparation(pdf), reveal);
  ASSERT_TRUE(loads_->Wait());
  EXPECT_EQ(reveals, 2);
  EXPECT_EQ(EvalString(QStringLiteral("document.getElementById('kelmo-watermark').textContent+','+"
                                      "!!document.getElementById('kelmo-print-btn')")),
            QStringLiteral("Student 7,true"));

  // Any other kind shows the composed page, which reports itself once.
  messages_.clear();
  NewView();
  LinkContent other;
  other.contentKind = L"iframe";
  other.contentUrl = kUrl;
  other.watermarkText = L"W";
  ApplyPreparation(*web_, PlanPlayerPreparation(other), reveal);
  ASSERT_TRUE(loads_->Wait());
  ASSERT_EQ(MessagesAfter(1), Messages{L"pageLoaded"});
  EXPECT_EQ(DispatchPlayerMessage(messages_[0]), PageRequest::kPageLoaded);
  EXPECT_EQ(reveals, 3);
}

TEST_F(ScriptsQtTest, PrintResultsReachThePageAsJsonValues) {
  ASSERT_TRUE(Open(QStringLiteral("/results"),
                   Page(QStringLiteral("<script>window.got=[];"
                                       "window.chrome.webview.addEventListener('message',"
                                       "function(e){window.got.push(e.data);});</script>"),
                        QString())));
  web_->PostWebMessageAsJson(PrintResultMessage(PrintOutcome::kSuccess));
  web_->PostWebMessageAsJson(PrintResultMessage(PrintOutcome::kCancelled));
  web_->PostWebMessageAsJson(L"{not json");
  web_->PostWebMessageAsJson(PrintResultMessage(PrintOutcome::kPrinterUnavailable));
  ASSERT_TRUE(WaitFor(QStringLiteral("window.got.length >= 3")));
  EXPECT_EQ(EvalString(QStringLiteral("window.got.map(function(d){return Object.keys(d).join('/')+'='+"
                                      "d.status+(d.message?':'+d.message:'');}).join('|')")),
            QStringLiteral("type/status/message=success:Print job sent successfully.|"
                           "type/status=cancelled|"
                           "type/status/message=error:The selected printer is unavailable."));
  // Page-to-host: a string arrives as itself, anything else as its JSON text.
  Eval(
      QStringLiteral("window.chrome.webview.postMessage('requestPrint');"
                     "window.chrome.webview.postMessage({action:'requestPrint',n:1});"
                     "window.chrome.webview.postMessage('requestPrint ');"));
  const Messages got = MessagesAfter(3);
  ASSERT_EQ(got, (Messages{L"requestPrint", L"{\"action\":\"requestPrint\",\"n\":1}", L"requestPrint "}));
  EXPECT_TRUE(IsPrintRequest(got[0]));
  EXPECT_TRUE(IsPrintRequest(got[1]));
  EXPECT_FALSE(IsPrintRequest(got[2]));
}

TEST_F(ScriptsQtTest, PageMessagesComeFromTheTopDocumentOnly) {
  // Everything a frame could try: the messaging object, the console (a text that looks like a
  // message), and the web channel's transport itself. Each frame then tells the top document,
  // with the HTML postMessage, what it found.
  const QString frameScript = QStringLiteral(
      "<script>(function(){var found=[];"
      "var mark=String.fromCharCode(1);"
      "console.log(mark+'corvel-web-message'+mark+'requestPrint');"
      "console.log('requestPrint');"
      "try{window.chrome.webview.postMessage('requestPrint');found.push('webview');}catch(e){}"
      "try{window.qt.webChannelTransport.send(JSON.stringify({type:6,object:'corvelHost',method:0,"
      "args:['requestPrint'],id:1}));found.push('transport');}catch(e){}"
      "%2"
      "parent.postMessage('%1:'+(found.join('+')||'nothing'),'*');})();</script>");
  // Only a frame of another origin is also kept from the top document's own object.
  otherOrigin->Route(
      QStringLiteral("/frame"),
      Page(frameScript.arg(QStringLiteral("cross-origin"),
                           QStringLiteral("try{parent.chrome.webview.postMessage('requestPrint');"
                                          "found.push('parent');}catch(e){}")),
           QString()));
  server_.Route(QStringLiteral("/same-origin-frame"),
                Page(frameScript.arg(QStringLiteral("same-origin"), QString()), QString()));
  ASSERT_TRUE(
      Open(QStringLiteral("/top"),
           Page(QStringLiteral(
                    "<script>window.reports=[];window.chrome.webview.postMessage('top-first');"
                    "window.addEventListener('message',function(e){window.reports.push(e.data);"
                    "if(window.reports.length===2){window.chrome.webview.postMessage('top-after-frames');}});"
                    "</script>"),
                QStringLiteral("<iframe src='%1'></iframe><iframe src='/same-origin-frame'></iframe>")
                    .arg(Q(otherOrigin->Url(QStringLiteral("/frame")))))));
  ASSERT_TRUE(WaitFor(QStringLiteral("window.reports.length === 2"), 10000));
  const QString reports = EvalString(QStringLiteral("window.reports.slice().sort().join(',')"));
  EXPECT_EQ(reports, QStringLiteral("cross-origin:nothing,same-origin:nothing"))
      << "a frame must find no way to post";
  EXPECT_EQ(MessagesAfter(2, 500), (Messages{L"top-first", L"top-after-frames"}));

  // The top document's own console is no way in either.
  Eval(
      QStringLiteral("var m=String.fromCharCode(1);console.log(m+'corvel-web-message'+m+'requestPrint');"
                     "window.chrome.webview.postMessage('top-last');"));
  EXPECT_EQ(MessagesAfter(3, 300), (Messages{L"top-first", L"top-after-frames", L"top-last"}));
}

// The student's text and the player's controls stay in the lesson's top document: a frame of
// another origin finds neither the watermark nor any trace of the scripts. Only lesson pages are
// heard and granted permissions: a top-level page of another host posts in vain and is denied.
TEST_F(ScriptsQtTest, OnlyTheLessonsTopDocumentGetsTheScriptsMessagesAndPermissions) {
  const std::wstring content = server_.Url(QStringLiteral("/lesson"));
  const std::wstring platform = server_.Url(QString());
  WebView::ViewEvents events;
  events.hearsMessagesFrom = [&](const std::wstring& source, bool composed) {
    return IsLessonPage(source, composed, content, platform);
  };
  events.permission = [&](PagePermission permission, const std::wstring& origin) {
    return AnswerPagePermission(permission, origin, content, platform);
  };
  NewView(std::move(events));
  web_->AddDocumentScript(WatermarkScript(L"Student Name 0100 555 1234"));
  web_->AddDocumentScript(PrintButtonScript());
  web_->AddDocumentScript(LoaderScript());
  const QString spy = QStringLiteral(
      "<script>window.addEventListener('load',function(){"
      "var found=[];var text=document.documentElement.outerHTML;"
      "if(text.indexOf('Student'+' Name')>=0)found.push('text');"
      "['kelmo-watermark','kelmo-print-btn','kelmo-full-loader'].forEach(function(id){"
      "if(document.getElementById(id))found.push(id);});"
      "['_kelmoWatermarkAdded','_kelmoPrintBtnAdded','_kelmoLoaderAdded'].forEach(function(f){"
      "if(window[f])found.push(f);});"
      "parent.postMessage('frame:'+(found.join('+')||'nothing'),'*');});</script>");
  otherOrigin->Route(QStringLiteral("/spy"), Page(spy, QStringLiteral("<p>another site</p>")));
  ASSERT_TRUE(Open(
      QStringLiteral("/lesson"),
      Page(QStringLiteral("<script>window.addEventListener('message',function(e){"
                          "window.report=e.data;});</script>"),
           QStringLiteral("<iframe src='%1'></iframe>").arg(Q(otherOrigin->Url(QStringLiteral("/spy")))))));
  ASSERT_TRUE(WaitFor(QStringLiteral("typeof window.report === 'string'"), 10000));
  EXPECT_EQ(EvalString(QStringLiteral("window.report")), QStringLiteral("frame:nothing"));
  EXPECT_EQ(EvalString(QStringLiteral("document.getElementById('kelmo-watermark').textContent")),
            QStringLiteral("Student Name 0100 555 1234"));
  Eval(
      QStringLiteral("Notification.requestPermission().then(function(p){window.permission=p;});"
                     "window.chrome.webview.postMessage('from-the-lesson');"));
  ASSERT_TRUE(WaitFor(QStringLiteral("typeof window.permission === 'string'")));
  EXPECT_EQ(EvalString(QStringLiteral("window.permission")), QStringLiteral("granted"));

  // The same page on another host ("localhost" is not the lesson's 127.0.0.1).
  const QString elsewhere = Q(otherOrigin->Url(QStringLiteral("/elsewhere")))
                                .replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
  otherOrigin->Route(QStringLiteral("/elsewhere"), Page(QString(), QStringLiteral("<p>off the list</p>")));
  web_->Navigate(elsewhere.toStdWString());
  ASSERT_TRUE(loads_->Wait());
  Eval(
      QStringLiteral("Notification.requestPermission().then(function(p){window.permission=p;});"
                     "window.chrome.webview.postMessage('toggleFullscreen');"));
  ASSERT_TRUE(WaitFor(QStringLiteral("typeof window.permission === 'string'")));
  EXPECT_EQ(EvalString(QStringLiteral("window.permission")), QStringLiteral("denied"));
  EXPECT_EQ(MessagesAfter(1, 500), Messages{L"from-the-lesson"});
}

// The host the navigation policy judges is the host the engine loads: for every http(s) address
// of the navigation fuzzer's seeds (the escape table among them), a host the policy reads is the
// engine's own reading of the address, and an address the engine refuses has no host for the
// policy either.
TEST_F(ScriptsQtTest, ThePolicyReadsTheHostsTheEngineReads) {
  std::vector<std::wstring> addresses;
  for (const auto& entry : std::filesystem::directory_iterator(CORVEL_NAVIGATION_SEEDS)) {
    QFile file(QString::fromStdString(entry.path().string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    for (QByteArray piece : file.readAll().replace('\0', '\n').split('\n')) {
      const QString text = QString::fromUtf8(piece);
      if (text.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive) ||
          text.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive)) {
        addresses.push_back(text.toStdWString());
      }
    }
  }
  ASSERT_GT(addresses.size(), 40u);
  ASSERT_TRUE(Open(QStringLiteral("/hosts"), Page(QString(), QString())));
  QJsonArray list;
  for (const std::wstring& address : addresses)
    list.append(Q(address));
  // The engine's host and port ("" for the scheme's own), or null where it reads no address.
  const QVariantList engine =
      Eval(QStringLiteral("%1.map(function(a){try{var u=new URL(a);return [u.hostname,u.port];}"
                          "catch(e){return null;}})")
               .arg(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact))))
          .toList();
  ASSERT_EQ(engine.size(), static_cast<int>(addresses.size()));
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const std::string label = Q(addresses[i]).toStdString();
    const std::optional<WebAddress> ours = ParseWebAddress(addresses[i]);
    EXPECT_EQ(ExtractHost(addresses[i]), ours ? ours->host : std::wstring()) << label;
    const QVariant theirs = engine[static_cast<int>(i)];
    if (theirs.isNull()) {
      EXPECT_FALSE(ours.has_value()) << label << ": the engine reads no address";
    } else if (ours) {
      const QVariantList hostAndPort = theirs.toList();
      ASSERT_EQ(hostAndPort.size(), 2) << label;
      EXPECT_EQ(Q(ours->host), hostAndPort[0].toString()) << label;
      const int defaultPort = ours->scheme == L"https" ? 443 : 80;
      EXPECT_EQ(ours->port, hostAndPort[1].toString().isEmpty() ? defaultPort : hostAndPort[1].toInt())
          << label;
    }
  }
}

// A one-page PDF.
QByteArray LessonPdf() {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setTitle(QStringLiteral("Lesson"));
    QPainter painter(&writer);
    painter.setFont(QFont(QStringLiteral("Sans"), 24));
    painter.drawText(QPoint(600, 1200), QStringLiteral("Unit 3: Fractions"));
  }
  return buffer.data();
}

bool SameColour(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) <= 24 && std::abs(qGreen(a) - qGreen(b)) <= 24 &&
         std::abs(qBlue(a) - qBlue(b)) <= 24;
}

TEST_F(ScriptsQtTest, ThePdfViewersToolbarHasNoSaveOrPrintControl) {
  // The viewer's toolbar is drawn outside the page, where no script of ours reaches, so only its
  // picture can tell what it offers: paging, zoom, fit and rotation in the middle, and at the
  // right end one menu button. Save (a download arrow) and Print would sit left of that button,
  // in a part of the bar that must stay empty.
  web_->ConfigureSettings();
  server_.Route(QStringLiteral("/lesson.pdf"), LessonPdf(), "application/pdf");
  web_->Navigate(server_.Url(QStringLiteral("/lesson.pdf")));
  ASSERT_TRUE(loads_->Wait());

  const auto differing = [](const QImage& image, QRect area, QRgb background) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        count += SameColour(image.pixel(x, y), background) ? 0 : 1;
      }
    }
    return count;
  };
  QImage bar;
  QRect menu;
  QRect empty;
  QRgb background = 0;
  // The toolbar is drawn a moment after the load; its menu button is the sign that it is there.
  const bool drawn = WaitUntil(
      [&] {
        bar = web_->view()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const int width = bar.width();
        if (width < 800 || bar.height() < 60) {
          return false;
        }
        background = bar.pixel(width - 60, 6);
        menu = QRect(width - 48, 14, 28, 28);
        empty = QRect(width * 7 / 10, 6, width - 56 - width * 7 / 10, 38);
        return qGray(background) < 100 && differing(bar, menu, background) >= 10;
      },
      15000);
  ASSERT_TRUE(drawn) << "no PDF toolbar with its menu button on screen";
  EXPECT_EQ(differing(bar, empty, background), 0)
      << "something is drawn between the middle controls and the menu button (a save or print control?)";
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
