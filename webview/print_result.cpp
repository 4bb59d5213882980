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
