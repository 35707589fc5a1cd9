// Identify Controller text and granularity rules.
#include "records/identify_fields.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zev::identify {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

struct TextCase {
  const char* name;
  std::string field;  // the whole field, zero bytes included
  std::wstring expected;
};

TEST(IdentifyFields, TextUpToZero) {
  const std::vector<TextCase> cases = {
      {"full FR", "KTW3LMZB", L"KTW3LMZB"},
      {"zero at index 4", std::string("KTW3\0MZB", 8), L"KTW3"},
      {"zero first", std::string("\0TW3LMZB", 8), L""},
      {"trailing blanks stay", "KTW3    ", L"KTW3    "},
      {"leading blanks stay", "  KTW3LM", L"  KTW3LM"},
      {"case kept", "ktw3LMZb", L"ktw3LMZb"},
      {"control bytes become ?", "K\r\n\x1B\x7F\x80\x9F\xA0", L"K??????\u00A0"},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(textUpToZero(bytesOf(c.field)), c.expected) << c.name;
  }
  // The whole-field rule keeps zero bytes as characters: they are "?" too.
  EXPECT_EQ(textWholeField(bytesOf(std::string("A\0\n B\xE9", 6))), L"A?? B\u00E9");
}

TEST(IdentifyFields, FullWidthFieldsStopAtTheirWidth) {
  // SN, MN and FR side by side without zero bytes: each field gives exactly
  // its own width and nothing of the field after it.
  Bytes data(kDataSize, 0);
  for (std::size_t i = 0; i < kSnSize; ++i) {
    data[kSnOffset + i] = 'S';
  }
  for (std::size_t i = 0; i < kMnSize; ++i) {
    data[kMnOffset + i] = 'M';
  }
  for (std::size_t i = 0; i < kFrSize; ++i) {
    data[kFrOffset + i] = 'F';
  }
  data[kFrOffset + kFrSize] = 'X';
  const std::span<const std::uint8_t> all(data);
  EXPECT_EQ(textUpToZero(all.subspan(kSnOffset, kSnSize)), std::wstring(20, L'S'));
  EXPECT_EQ(textUpToZero(all.subspan(kMnOffset, kMnSize)), std::wstring(40, L'M'));
  EXPECT_EQ(textUpToZero(all.subspan(kFrOffset, kFrSize)), std::wstring(8, L'F'));
}

TEST(IdentifyFields, HighBytesBecomeOneCharacterEach) {
  const Bytes field = {0x4B, 0xE9, 0xFF, 0x00, 0x41};
  EXPECT_EQ(textUpToZero(field), (std::wstring{L'K', wchar_t(0xE9), wchar_t(0xFF)}));
}

struct GranularityCase {
  std::uint16_t major;
  std::uint8_t minor;
  std::uint8_t fwug;
  std::int32_t expected;
};

TEST(IdentifyFields, GranularityRule) {
  const std::vector<GranularityCase> cases = {
      {1, 2, 8, 1}, {1, 3, 0, 1}, {1, 4, 8, 8},   {1, 3, 255, 255}, {2, 0, 8, 1}, {0, 9, 8, 1},
      {1, 3, 1, 1}, {1, 3, 8, 8}, {2, 3, 16, 16}, {0x100, 3, 4, 4}, {0, 3, 8, 1},
  };
  for (const GranularityCase& c : cases) {
    EXPECT_EQ(granularityFor(c.major, c.minor, c.fwug), c.expected)
        << c.major << "." << int(c.minor) << " fwug " << int(c.fwug);
    Bytes data(kDataSize, 0);
    data[kVerMinorOffset] = c.minor;
    data[kVerMajorOffset] = static_cast<std::uint8_t>(c.major);
    data[kVerMajorOffset + 1] = static_cast<std::uint8_t>(c.major >> 8);
    data[kFwugOffset] = c.fwug;
    EXPECT_EQ(granularityFromIdentify(data), c.expected);
  }
}

}  // namespace
}  // namespace zev::identify
