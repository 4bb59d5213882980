// The command side of the Linux player's test hooks (webview/test_hooks_qt.h): with
// CORVEL_TEST_HOOKS on, standard input takes one command per line:
//
//   js <script>          runs the script in the top document of the current web view and
//                        reports "js-result <value>"
//   close                closes the main window, as the user would
//   window               reports the main window's title, size and state
//   screenshot <file>    saves what the main window shows as a PNG and reports
//                        "screenshot <file>" (or "screenshot-failed <file>")
//
// GUI thread only.
#ifndef CORVEL_APP_TEST_COMMANDS_QT_H_
#define CORVEL_APP_TEST_COMMANDS_QT_H_

// Starts reading standard input when the hooks are on; otherwise does nothing.
void StartTestCommands();

#endif  // CORVEL_APP_TEST_COMMANDS_QT_H_
