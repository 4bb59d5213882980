#include "webview/print_result.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "text/text.h"

namespace {

TEST(PrintResultTest, MessagesAreCompactJsonInKeyOrder) {
  const struct {
    PrintOutcome outcome;
    const wchar_t* json;
  } kCases[] = {
      {PrintOutcome::kCancelled, L"{\"type\":\"printResult\",\"status\":\"cancelled\"}"},
      {PrintOutcome::kSuccess,
       L"{\"type\":\"printResult\",\"status\":\"success\",\"message\":\"Print job sent "
       L"successfully.\"}"},
      {PrintOutcome::kEnvironmentUnavailable,
       L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"Failed to create print "
       L"environment\"}"},
      {PrintOutcome::kSettingsFailed,
       L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"Failed to create print "
       L"settings\"}"},
      {PrintOutcome::kPrinterNameFailed,
       L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"Failed to set printer "
       L"name\"}"},
      {PrintOutcome::kPrintApiUnavailable,
       L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"Print API not available\"}"},
      {PrintOutcome::kPrinterUnavailable,
       L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"The selected printer is "
       L"unavailable.\"}"},
      {PrintOutcome::kUnknownError,
       L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"Print failed with unknown "
       L"error.\"}"},
      {PrintOutcome::kPrintFailed,
       L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"Print failed. Please "
       L"check your printer.\"}"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.json));
    EXPECT_EQ(PrintResultMessage(c.outcome), c.json);
  }
}

TEST(PrintResultTest, CompletionMapping) {
  const struct {
    std::int32_t resultCode;
    int status;
    PrintOutcome outcome;
  } kCases[] = {
      {0, 0, PrintOutcome::kSuccess},
      {1, 0, PrintOutcome::kSuccess},  // S_FALSE is not a failure
      {0, 1, PrintOutcome::kPrinterUnavailable},
      {0, 2, PrintOutcome::kUnknownError},
      {0, -1, PrintOutcome::kUnknownError},
      {static_cast<std::int32_t>(0x80004005u), 0, PrintOutcome::kPrintFailed},  // failed call wins
      {static_cast<std::int32_t>(0x80070005u), 1, PrintOutcome::kPrintFailed},
      {INT32_MIN, 2, PrintOutcome::kPrintFailed},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.resultCode << " / " << c.status);
    EXPECT_EQ(PrintCompletionOutcome(c.resultCode, c.status), c.outcome);
  }
}

}  // namespace
