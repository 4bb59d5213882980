// The fatal diagnostic dialog: the one way the program ends itself after an unrecoverable error
// (a failed launch link, a connection a security program intercepts). Any layer may call it.
//
// On Windows the dialog is an HTML Application run by the system's mshta (fatal_dialog_win.cpp),
// so it stays on screen after the player has gone; elsewhere the same texts go to standard error
// (fatal_dialog_posix.cpp). The Linux player links its own Qt dialog in place of the latter
// (app/fatal_dialog_qt.cpp).
#ifndef CORVEL_BASE_FATAL_DIALOG_H_
#define CORVEL_BASE_FATAL_DIALOG_H_

#include <string>

// Runs the shutdown hook, copies the code to the clipboard, shows the dialog (title, English
// text, Arabic text, ASCII code) in a process of its own and ends this process with exit code 0.
// Callable from any thread; never returns. Only one dialog runs: a caller on another thread
// while one is under way waits for the process to end.
[[noreturn]] void ShowFatalDiagnosticDialog(const std::wstring& title,
                                            const std::wstring& english,
                                            const std::wstring& arabic,
                                            const std::string& code);

// The turn for the one fatal dialog of the process. The first caller gets true and goes on to
// show its dialog. A caller on another thread gets false and must wait for the process to end,
// which the first caller's dialog brings about. A caller on the first caller's own thread (a
// nested message loop in the shutdown hook or the dialog's start) gets true: the first dialog is
// not running yet, and that thread cannot wait for itself.
bool ClaimFatalDialog();

// The dialog as the HTML Application document that mshta shows; every inserted value is
// escaped, so no title, text or code can add markup or leave the quoted command line.
std::wstring BuildDiagnosticDocument(const std::wstring& title,
                                     const std::wstring& english,
                                     const std::wstring& arabic,
                                     const std::string& code);

// The command line that starts the dialog: mshta "about:<document>".
std::wstring BuildDiagnosticCommandLine(const std::wstring& title,
                                        const std::wstring& english,
                                        const std::wstring& arabic,
                                        const std::string& code);

// The message-box fallback text: English, a blank line, Arabic, a blank line, the code.
std::wstring BuildDiagnosticFallbackText(const std::wstring& english,
                                         const std::wstring& arabic,
                                         const std::string& code);

#endif  // CORVEL_BASE_FATAL_DIALOG_H_
