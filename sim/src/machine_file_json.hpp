// The JSON side of the machine-file loader: parsing (with repeated keys
// refused), JSON paths for messages, and readers that check one value's type
// and range or one object's keys. Every problem is thrown as a FileError
// naming the JSON path of the offending value; the loader turns it into its
// one-line message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace zevsim::machine_file {

using Json = nlohmann::ordered_json;

inline constexpr std::uint64_t kMaxU32 = 0xFFFFFFFFu;

struct FileError {
  std::string path;
  std::string problem;
};

[[noreturn]] void fail(std::string path, std::string problem);
[[noreturn]] void wrongType(const Json& value, const std::string& path, const char* expected);

// The deepest nesting of arrays and objects a machine file may have (the
// schema itself needs 5); a deeper container is an error at its path. The
// bound keeps the loader's memory and its paths small whatever the shape of
// the text.
inline constexpr std::size_t kMaxJsonDepth = 64;

// The document of a text; a text that is not JSON, that repeats a key within
// one object, or that nests deeper than kMaxJsonDepth, fails with path "$" or
// the offending value's path.
//
// nlohmann's destructor flattens a container into a vector as long as the
// container before it frees it, so discarding a large document allocates,
// inside a noexcept destructor: when memory has run out that ends the process
// with std::terminate. The document is therefore emptied from its innermost
// containers out (at most kMaxJsonDepth deep), which allocates nothing, both
// when it is destroyed and when its parsing fails.
class Document {
 public:
  explicit Document(std::string_view text);
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  const Json& root() const { return root_; }

 private:
  Json root_;
};

// Text from the file, quoted for a one-line message: control characters are
// written as \uXXXX so that the message never breaks its line.
std::string inQuotes(std::string_view text);

// "$.drives[1].fwug": keys that are plain names follow a dot, others are
// quoted in brackets.
std::string keyPath(const std::string& parent, std::string_view key);
std::string indexPath(const std::string& parent, std::size_t index);
void appendKey(std::string& path, std::string_view key);
void appendIndex(std::string& path, std::size_t index);

// An object whose keys are checked against the schema on construction: an
// unknown key is an error, so a misspelt key never passes silently.
class ObjectReader {
 public:
  ObjectReader(const Json& value, std::string path, std::initializer_list<std::string_view> keys);

  const Json* find(std::string_view key) const;  // nullptr when absent
  const Json& require(std::string_view key) const;
  std::string pathOf(std::string_view key) const { return keyPath(path_, key); }
  const std::string& path() const { return path_; }

 private:
  const Json& value_;
  std::string path_;
};

std::uint64_t readInteger(const Json& value, const std::string& path, std::uint64_t min,
                          std::uint64_t max);
inline std::uint32_t readU32(const Json& value, const std::string& path, std::uint64_t min = 0,
                             std::uint64_t max = kMaxU32) {
  return static_cast<std::uint32_t>(readInteger(value, path, min, max));
}
bool readBool(const Json& value, const std::string& path);
const std::string& readString(const Json& value, const std::string& path);
const Json& readArray(const Json& value, const std::string& path);

// Identifiers and paths: non-empty ASCII without zero characters. These
// values reach the package as NUL-terminated wide strings, where a zero
// character would silently cut them (and an empty string would end a
// REG_MULTI_SZ list).
std::string readAscii(const Json& value, const std::string& path);
// The same, with null meaning a property the device does not have.
std::optional<std::string> readOptionalAscii(const Json& value, const std::string& path);

// A driver description: display text of Latin-1 characters (U+0001 to
// U+00FF, one byte each), so that a description such as "Intel® ..." can be
// described; null means the device has no description.
std::optional<std::string> readOptionalDescription(const Json& value, const std::string& path);

// Drive text: every code point from U+0000 to U+00FF is one byte; shorter text
// is padded with blanks to the field's width.
std::string readLatin1(const Json& value, const std::string& path, std::size_t width);
std::string padded(std::string bytes, std::size_t width);

std::string upperAscii(std::string text);

}  // namespace zevsim::machine_file
