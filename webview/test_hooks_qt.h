// Test hooks of the Linux player, for its end-to-end tests and the demo. Both are off unless
// their environment variable is set; nothing a page or a link carries can turn them on.
//
// CORVEL_TEST_HOOKS=1: the player reports what it does as lines "corvel-event: <text>" on
// standard error (navigation decisions, loads, titles, web messages, the reveal) and takes
// commands on standard input (app/test_commands_qt.h).
//
// CORVEL_TEST_ANSWER=ok|cancel|yes|no: every dialog the player shows (message boxes, the printer
// choice, the fatal diagnostic dialog) really appears, reports what it shows as an event line,
// and a moment later answers itself with that button where it has one (otherwise with its
// default way out), so a test can drive the paths behind them without a person.
//
// GUI thread only, except TestEvent, which any thread may call.
#ifndef CORVEL_WEBVIEW_TEST_HOOKS_QT_H_
#define CORVEL_WEBVIEW_TEST_HOOKS_QT_H_

#include <functional>
#include <optional>
#include <string>

class QDialog;

namespace WebView {

bool TestHooksEnabled();

// The requested answer, lower-cased; nothing when the hook is off.
std::optional<std::string> TestAnswer();

// Writes "corvel-event: " + text on standard error, line breaks shown as "\n", when either hook
// is on; otherwise nothing.
void TestEvent(const std::string& text);

// With an answer requested: `answer` runs from the event loop shortly after `dialog` has been
// shown (its own modal loop is running by then). Does nothing without an answer.
void AnswerWhenShown(QDialog* dialog, std::function<void(const std::string& answer)> answer);

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_TEST_HOOKS_QT_H_
