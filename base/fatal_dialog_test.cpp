#include "base/fatal_dialog.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/shutdown_hook.h"

namespace {

TEST(FatalDialogTest, DialogDocumentEscapesEveryInsertedValue) {
  const std::wstring hostile = L"</title><script>x()</script>\" onload=\"y() %3Cb%3E";
  const std::wstring doc = BuildDiagnosticDocument(hostile, hostile, hostile, "SSL_<evil>\"host%22");
  EXPECT_EQ(doc.find(L"<script>x()"), std::wstring::npos);
  EXPECT_EQ(doc.find(L'"'), std::wstring::npos);    // nothing can end the quoted command line
  EXPECT_EQ(doc.find(L"%3C"), std::wstring::npos);  // nor turn into markup once percent-decoded
  EXPECT_EQ(doc.find(L"%22"), std::wstring::npos);
  EXPECT_NE(
      doc.find(
          L"<h2>&lt;/title&gt;&lt;script&gt;x()&lt;/script&gt;&quot; onload=&quot;y() &#37;3Cb&#37;3E</h2>"),
      std::wstring::npos);
  EXPECT_NE(
      doc.find(
          L"<textarea id='dc' readonly onclick='this.select()'>SSL_&lt;evil&gt;&quot;host&#37;22</textarea>"),
      std::wstring::npos);
  // Exactly one script element: the dialog's own.
  EXPECT_EQ(doc.find(L"<script>"), doc.rfind(L"<script>"));

  const std::wstring line = BuildDiagnosticCommandLine(L"Link Error", L"en", L"ar", "CODE");
  EXPECT_EQ(line.rfind(L"mshta \"about:<html><head><title>Link Error</title><hta:application id='diag' ", 0),
            0u);
  const std::wstring tail = L"(screen.height-580)/2);</script></body></html>\"";
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
  EXPECT_NE(line.find(L"<p>en</p><p class='ar'>ar</p>"), std::wstring::npos);
}

TEST(FatalDialogTest, FallbackTextPutsTheCodeOnItsOwnLine) {
  EXPECT_EQ(BuildDiagnosticFallbackText(L"English.", L"\u0639\u0631\u0628\u064a.", "Q0FC"),
            L"English.\n\n\u0639\u0631\u0628\u064a.\n\nDiagnostic Code:\nQ0FC");
}

int g_hookCalls = 0;

TEST(FatalDialogTest, ShutdownHookRunsAtMostOnce) {
  SetShutdownHook([] { ++g_hookCalls; });
  RunShutdownHookOnce();
  RunShutdownHookOnce();
  EXPECT_EQ(g_hookCalls, 1);
  SetShutdownHook(nullptr);
}

// Catches a second dialog from another thread, and an owner whose own nested call would wait
// for itself.
TEST(FatalDialogTest, OnlyTheFirstCallersThreadGetsTheFatalDialog) {
  EXPECT_TRUE(ClaimFatalDialog());
  bool otherThread = true;
  std::thread([&otherThread] { otherThread = ClaimFatalDialog(); }).join();
  EXPECT_FALSE(otherThread);
  EXPECT_TRUE(ClaimFatalDialog()) << "the owner's thread, once more";
}

}  // namespace
