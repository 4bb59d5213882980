#include "webview/print_result.h"

namespace {

// Error texts are part of the contract with the platform's pages: keep them as they are.
const wchar_t* ErrorText(PrintOutcome outcome) {
  switch (outcome) {
    case PrintOutcome::EnvironmentUnavailable:
      return L"Failed to create print environment";
    case PrintOutcome::SettingsFailed:
      return L"Failed to create print settings";
    case PrintOutcome::PrinterNameFailed:
      return L"Failed to set printer name";
    case PrintOutcome::PrintApiUnavailable:
      return L"Print API not available";
    case PrintOutcome::PrinterUnavailable:
      return L"The selected printer is unavailable.";
    case PrintOutcome::UnknownError:
      return L"Print failed with unknown error.";
    case PrintOutcome::PrintFailed:
      return L"Print failed. Please check your printer.";
    case PrintOutcome::Cancelled:
    case PrintOutcome::Success:
      break;
  }
  return L"Print failed with unknown error.";
}

}  // namespace

PrintOutcome PrintCompletionOutcome(std::int32_t resultCode, int printStatus) {
  if (resultCode < 0) {
    return PrintOutcome::PrintFailed;
  }
  switch (printStatus) {
    case kPrintStatusSucceeded:
      return PrintOutcome::Success;
    case kPrintStatusPrinterUnavailable:
      return PrintOutcome::PrinterUnavailable;
    default:
      return PrintOutcome::UnknownError;
  }
}

std::wstring PrintResultMessage(PrintOutcome outcome) {
  // The texts contain nothing that JSON would need escaped.
  switch (outcome) {
    case PrintOutcome::Cancelled:
      return L"{\"type\":\"printResult\",\"status\":\"cancelled\"}";
    case PrintOutcome::Success:
      return L"{\"type\":\"printResult\",\"status\":\"success\","
             L"\"message\":\"Print job sent successfully.\"}";
    default:
      return std::wstring(L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"") +
             ErrorText(outcome) + L"\"}";
  }
}
