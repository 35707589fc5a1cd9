// The package's text rules.
#include "core/text.hpp"

#include <cstring>

namespace zev {

namespace {

void appendUtf8(std::string& out, std::uint32_t code) {
  if ((code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) {
    code = 0xFFFD;
  }
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Calls unit(wchar_t) for every whole wchar_t unit of bytes, in order, while
// it returns true.
template <class Unit>
void forEachWideUnit(std::span<const std::uint8_t> bytes, Unit&& unit) {
  for (std::size_t at = 0; at + sizeof(wchar_t) <= bytes.size(); at += sizeof(wchar_t)) {
    wchar_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof(wchar_t));
    if (!unit(value)) {
      return;
    }
  }
}

// The digits of value in base 16, lower or upper case, at least width of them.
std::string hexDigits(std::uint32_t value, bool upper, std::size_t width) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 0xFu]);
    value >>= 4;
  } while (value != 0);
  if (text.size() < width) {
    text.insert(0, width - text.size(), '0');
  }
  return text;
}

}  // namespace

std::string narrowText(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    const auto code = static_cast<std::uint32_t>(c);
    out.push_back(code <= 0xFFu ? static_cast<char>(code) : '?');
  }
  return out;
}

std::wstring printableText(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    const auto code = static_cast<std::uint32_t>(c);
    if (code < 0x20u || (code >= 0x7Fu && code <= 0x9Fu)) {
      c = L'?';
    }
  }
  return out;
}

std::wstring widenBytes(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string utf8FromWide(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto code = static_cast<std::uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
      const auto low = static_cast<std::uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    appendUtf8(out, code);
  }
  return out;
}

std::wstring wideTextUpToZero(std::span<const std::uint8_t> bytes) {
  std::wstring text;
  forEachWideUnit(bytes, [&](wchar_t unit) {
    if (unit == 0) {
      return false;
    }
    text.push_back(unit);
    return true;
  });
  return text;
}

std::vector<std::wstring> wideMultiStrings(std::span<const std::uint8_t> bytes) {
  std::vector<std::wstring> strings;
  std::wstring current;
  bool ended = false;
  forEachWideUnit(bytes, [&](wchar_t unit) {
    if (unit != 0) {
      current.push_back(unit);
      return true;
    }
    if (current.empty()) {
      ended = true;
      return false;
    }
    strings.push_back(std::move(current));
    current.clear();
    return true;
  });
  if (!ended && !current.empty()) {
    strings.push_back(std::move(current));
  }
  return strings;
}

std::string lowerHex(std::uint32_t value) {
  return hexDigits(value, false, 1);
}

std::string upperHex(std::uint32_t value) {
  return hexDigits(value, true, 1);
}

std::string eightDigitHex(std::uint32_t value) {
  return hexDigits(value, false, 8);
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
  std::string hex;
  for (std::uint8_t byte : bytes) {
    hex += hexDigits(byte, false, 2);
  }
  return hex;
}

}  // namespace zev
