#include "webview/print_result.h"

namespace {

// Error texts are part of the contract with the platform's pages: keep them as they are.
const wchar_t* ErrorText(PrintOutcome outcome) {
  switch (outcome) {
    case PrintOutcome::kEnvironmentUnavailable:
      return L"Failed to create print environment";
    case PrintOutcome::kSettingsFailed:
      return L"Failed to create print settings";
    case PrintOutcome::kPrinterNameFailed:
      return L"Failed to set printer name";
    case PrintOutcome::kPrintApiUnavailable:
      return L"Print API not available";
    case PrintOutcome::kPrinterUnavailable:
      return L"The selected printer is unavailable.";
    case PrintOutcome::kUnknownError:
      return L"Print failed with unknown error.";
    case PrintOutcome::kPrintFailed:
      return L"Print failed. Please check your printer.";
    case PrintOutcome::kDocumentUnreadable:
      return L"The lesson's PDF could not be read for printing. Nothing was printed.\\n"
             L"\u062a\u0639\u0630\u0651\u0631\u062a \u0642\u0631\u0627\u0621\u0629 \u0645\u0644\u0641 PDF "
             L"\u0627\u0644\u062e\u0627\u0635 \u0628\u0627\u0644\u062f\u0631\u0633 "
             L"\u0644\u0644\u0637\u0628\u0627\u0639\u0629. "
             L"\u0644\u0645 \u062a\u062a\u0645 \u0637\u0628\u0627\u0639\u0629 \u0623\u064a "
             L"\u0634\u064a\u0621.";
    case PrintOutcome::kCancelled:
    case PrintOutcome::kSuccess:
      break;
  }
  return L"Print failed with unknown error.";
}

}  // namespace

PrintOutcome PrintCompletionOutcome(std::int32_t resultCode, int printStatus) {
  if (resultCode < 0) {
    return PrintOutcome::kPrintFailed;
  }
  switch (printStatus) {
    case kPrintStatusSucceeded:
      return PrintOutcome::kSuccess;
    case kPrintStatusPrinterUnavailable:
      return PrintOutcome::kPrinterUnavailable;
    default:
      return PrintOutcome::kUnknownError;
  }
}

std::wstring PrintResultMessage(PrintOutcome outcome) {
  // The texts contain nothing that JSON would need escaped.
  switch (outcome) {
    case PrintOutcome::kCancelled:
      return L"{\"type\":\"printResult\",\"status\":\"cancelled\"}";
    case PrintOutcome::kSuccess:
      return L"{\"type\":\"printResult\",\"status\":\"success\","
             L"\"message\":\"Print job sent successfully.\"}";
    default:
      return std::wstring(L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"") +
             ErrorText(outcome) + L"\"}";
  }
}
