#include "webview/print_requests.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

namespace {

TEST(PrintRequestsTest, OneDialogAtATimeAndEveryOtherRequestRefusedUntilItCloses) {
  PrintRequests requests;
  EXPECT_FALSE(requests.Begin()) << "nothing accepted yet: a stray schedule shows nothing";

  ASSERT_TRUE(requests.Accept());
  EXPECT_FALSE(requests.Accept()) << "a second request while the first waits for its turn";
  ASSERT_TRUE(requests.Begin());
  EXPECT_FALSE(requests.Accept()) << "a request while the dialog is open";
  EXPECT_FALSE(requests.Begin()) << "the same request must not open a second dialog";
  EXPECT_TRUE(requests.busy());
  requests.End();
  EXPECT_FALSE(requests.busy());
  EXPECT_FALSE(requests.Begin()) << "a schedule left over from a refused request";

  // Served again once the dialog has closed; a request that could not be scheduled frees the
  // way as well.
  ASSERT_TRUE(requests.Accept());
  requests.End();
  EXPECT_TRUE(requests.Accept());
}

// Catches a second printer dialog stacked on the first from inside its nested loop (another
// view's request, or one that slipped past its PrintRequests), and a guard left set by a
// dialog that threw, which would refuse every later request.
TEST(PrintRequestsTest, OnlyOnePrinterChoiceRunsOnAThreadAtATime) {
  int innerChoices = 0;
  std::wstring inner = L"not asked";
  const std::wstring outer = ChoosePrinterAlone([&] {
    inner = ChoosePrinterAlone([&] {
      ++innerChoices;
      return std::wstring(L"Inner");
    });
    // Another thread has a dialog of its own.
    std::wstring elsewhere;
    std::thread([&elsewhere] {
      elsewhere = ChoosePrinterAlone([] { return std::wstring(L"Other"); });
    }).join();
    EXPECT_EQ(elsewhere, L"Other");
    return std::wstring(L"Outer");
  });
  EXPECT_EQ(outer, L"Outer");
  EXPECT_EQ(inner, L"") << "answered at once, as cancelled";
  EXPECT_EQ(innerChoices, 0) << "no second dialog";

  EXPECT_THROW(ChoosePrinterAlone([]() -> std::wstring { throw std::runtime_error("dialog failed"); }),
               std::runtime_error);
  EXPECT_EQ(ChoosePrinterAlone([] { return std::wstring(L"Again"); }), L"Again") << "closed after the throw";
  EXPECT_EQ(ChoosePrinterAlone(nullptr), L"");
}

}  // namespace
