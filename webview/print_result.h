// The outcome of a print request and the "printResult" message the host posts to the page.
#ifndef CORVEL_WEBVIEW_PRINT_RESULT_H_
#define CORVEL_WEBVIEW_PRINT_RESULT_H_

#include <cstdint>
#include <string>

enum class PrintOutcome {
  kCancelled,               // no printer chosen
  kSuccess,                 // the job reached the printer
  kEnvironmentUnavailable,  // the runtime cannot create print settings
  kSettingsFailed,          // creating the print settings failed
  kPrinterNameFailed,       // the settings cannot take a printer name
  kPrintApiUnavailable,     // the view cannot print with settings
  kPrinterUnavailable,      // the runtime reports the printer unavailable
  kUnknownError,            // the runtime reports another print status
  kPrintFailed,             // the print call itself failed
  kDocumentUnreadable,      // a PDF lesson's document could not be read or drawn
};

// Status values of the runtime's print completion.
constexpr int kPrintStatusSucceeded = 0;
constexpr int kPrintStatusPrinterUnavailable = 1;

// Maps a print completion (a result code, negative on failure, and the runtime's print status)
// to its outcome. A failed result code wins over any status.
PrintOutcome PrintCompletionOutcome(std::int32_t resultCode, int printStatus);

// The message for the page, as compact JSON to be posted as JSON (not as a string), e.g.
// {"type":"printResult","status":"success","message":"Print job sent successfully."}.
// "cancelled" carries no "message" key.
std::wstring PrintResultMessage(PrintOutcome outcome);

#endif  // CORVEL_WEBVIEW_PRINT_RESULT_H_
