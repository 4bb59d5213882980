#include "webview/printers.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/text.h"

namespace {

std::vector<std::wstring> Names(const std::vector<PrinterEntry>& printers) {
  std::vector<std::wstring> names;
  for (const PrinterEntry& p : printers)
    names.push_back(p.name);
  return names;
}

PrinterEntry Printer(const wchar_t* name, bool isDefault = false) {
  return PrinterEntry{name, L"port", L"driver", isDefault};
}

TEST(SortPrintersTest, DefaultFirstThenByUtf16CodeUnits) {
  // U+1F5A8 (printer symbol) is a surrogate pair D83D DDA8 in UTF-16, so it sorts before U+FF21
  // (fullwidth A) although its code point is larger; comparing UTF-32 values would swap them.
  const std::wstring beyondBmp = Utf8ToUtf16("\xF0\x9F\x96\xA8 Office");
  const std::wstring fullwidth = Utf8ToUtf16("\xEF\xBC\xA1 Office");
  const std::wstring accented = Utf8ToUtf16("\xC3\x89tage 2");  // U+00C9

  const struct {
    const char* fault;
    std::vector<PrinterEntry> input;
    std::vector<std::wstring> expected;
  } kCases[] = {
      {"the default printer must come first whatever its name",
       {Printer(L"Alpha"), Printer(L"Zeta", true), Printer(L"Beta")},
       {L"Zeta", L"Alpha", L"Beta"}},
      {"a shorter prefix sorts first",
       {Printer(L"HP LaserJet"), Printer(L"HP"), Printer(L"HP LaserJet 2")},
       {L"HP", L"HP LaserJet", L"HP LaserJet 2"}},
      {"the order is case-sensitive: upper case before lower case",
       {Printer(L"hp"), Printer(L"HP"), Printer(L"Brother"), Printer(L"brother")},
       {L"Brother", L"HP", L"brother", L"hp"}},
      {"names are compared by code unit, not by locale",
       {Printer(accented.c_str()), Printer(L"Zebra"), Printer(L"epson")},
       {L"Zebra", L"epson", accented}},
      {"characters beyond the BMP sort as UTF-16 surrogates",
       {Printer(fullwidth.c_str()), Printer(beyondBmp.c_str()), Printer(L"~")},
       {L"~", beyondBmp, fullwidth}},
      {"several defaults are sorted among themselves, before the rest",
       {Printer(L"b"), Printer(L"B", true), Printer(L"a"), Printer(L"A", true)},
       {L"A", L"B", L"a", L"b"}},
      {"an empty name sorts first in its group", {Printer(L"x"), Printer(L"")}, {L"", L"x"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    std::vector<PrinterEntry> printers = c.input;
    SortPrinters(printers);
    EXPECT_EQ(Names(printers), c.expected);
  }
}

TEST(SortPrintersTest, KeepsEachEntryWholeAndEqualNamesInOrder) {
  std::vector<PrinterEntry> printers = {
      {L"Same", L"LPT1:", L"first", false},
      {L"Other", L"USB001", L"driver", false},
      {L"Same", L"LPT2:", L"second", false},
  };
  SortPrinters(printers);
  ASSERT_EQ(printers.size(), 3u);
  EXPECT_EQ(printers[0].name, L"Other");
  EXPECT_EQ(printers[0].port, L"USB001");
  EXPECT_EQ(printers[1].driver, L"first");
  EXPECT_EQ(printers[1].port, L"LPT1:");
  EXPECT_EQ(printers[2].driver, L"second");
  EXPECT_EQ(printers[2].port, L"LPT2:");
}

TEST(BuildPrinterListTest, MarksTheDefaultIgnoringAsciiCaseAndSorts) {
  const struct {
    const char* fault;
    std::vector<std::wstring> reported;
    std::wstring defaultName;
    std::vector<std::wstring> expectedOrder;
    std::vector<bool> expectedDefault;
  } kCases[] = {
      {"the default is recognised whatever the case of its letters",
       {L"Canon", L"office laser", L"Brother"},
       L"Office Laser",
       {L"office laser", L"Brother", L"Canon"},
       {true, false, false}},
      {"two names differing only in case are both the default",
       {L"hp", L"HP", L"Epson"},
       L"Hp",
       {L"HP", L"hp", L"Epson"},
       {true, true, false}},
      {"a longer or shorter name is not the default",
       {L"HP", L"HP LaserJet", L"HP LaserJe"},
       L"HP LaserJet",
       {L"HP LaserJet", L"HP", L"HP LaserJe"},
       {true, false, false}},
      {"without a default no printer is marked, not even one without a name",
       {L"", L"B", L"A"},
       L"",
       {L"", L"A", L"B"},
       {false, false, false}},
      {"a default that is not in the list marks nothing",
       {L"B", L"A"},
       L"Gone",
       {L"A", L"B"},
       {false, false}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    std::vector<PrinterEntry> reported;
    for (const std::wstring& name : c.reported)
      reported.push_back({name, L"", L"", true});
    const std::vector<PrinterEntry> list = BuildPrinterList(reported, c.defaultName);
    EXPECT_EQ(Names(list), c.expectedOrder);
    std::vector<bool> isDefault;
    for (const PrinterEntry& p : list)
      isDefault.push_back(p.isDefault);
    EXPECT_EQ(isDefault, c.expectedDefault);
  }
}

TEST(BuildPrinterListTest, NonAsciiLettersAreComparedExactly) {
  const std::wstring upper = Utf8ToUtf16("\xC3\x89quipe");  // "Équipe"
  const std::wstring lower = Utf8ToUtf16("\xC3\xA9quipe");  // "équipe"
  EXPECT_TRUE(IsDefaultPrinterName(upper, upper));
  EXPECT_FALSE(IsDefaultPrinterName(lower, upper));
  EXPECT_TRUE(IsDefaultPrinterName(L"\u00C9QUIPE", L"\u00C9quipe"));
}

}  // namespace
