// The console channels: one sink in call order, the error lines of failed
// steps, and the narrowing of wide text.
#include "report/console.hpp"

#include "core/text.hpp"

#include <gtest/gtest.h>

namespace zev {
namespace {

TEST(Console, ChannelsWriteInCallOrder) {
  ConsoleCapture capture;
  narrowOut << "a";
  wideOut << L"b";
  printWide(L"c%d", 1);
  printNarrow("d%lu", 2ul);
  narrowOut << "e" << endLine;
  wideOut << L"f" << endLine;
  EXPECT_EQ(capture.text(), "abc1d2e\nf\n");
}

TEST(Console, NumbersInDecimalAndAFailedStepsLine) {
  ConsoleCapture capture;
  narrowOut << 26U << " " << std::int32_t{-5} << endLine;
  const StepOutcome failed = failedStep(5, "Identify failed: 0x1f", 31);
  printErrorLine("one line end", 1);
  EXPECT_EQ(capture.text(), "26 -5\n  [ERROR] Identify failed: 0x1f\n\n  [ERROR] one line end\n");
  EXPECT_EQ(failed.code, 5);
  EXPECT_EQ(failed.diagnostic, "Identify failed: 0x1f");
  EXPECT_EQ(failed.systemError, 31u);
}

TEST(Console, WideTextIsNarrowedToItsLowBytes) {
  ConsoleCapture capture;
  wideOut << std::wstring_view(L"A\xE9\0Z", 4) << std::int32_t{-1602};
  printWide(L"%X|%08x|%d", 0x45du, 1u, -3);
  EXPECT_EQ(capture.text(), std::string("A\xE9\0Z-160245D|00000001|-3", 24));
}

TEST(Console, LongFormattedLinesAreNotCut) {
  ConsoleCapture capture;
  const std::wstring longText(3000, L'x');
  printWide(L"%ls!", longText.c_str());
  EXPECT_EQ(capture.text(), std::string(3000, 'x') + "!");
}

TEST(Console, WidenAndNarrowAreInverse) {
  const std::string bytes("\x00\x7F\x80\xFF", 4);
  const std::wstring wide = widenBytes(bytes);
  ASSERT_EQ(wide.size(), 4u);
  EXPECT_EQ(wide[3], static_cast<wchar_t>(0xFF));
  EXPECT_EQ(narrowText(wide), bytes);
  // Above U+00FF the low 8 bits would forge another byte (U+0100 a zero).
  EXPECT_EQ(narrowText(L"A\u0100\u20AC\u00E9"), "A??\xE9");
  ConsoleCapture capture;
  wideOut << L"/log=\u0100.log";
  EXPECT_EQ(capture.text(), "/log=?.log");
}

}  // namespace
}  // namespace zev
