// The JSON side of the machine-file loader: parsing, JSON paths and the
// readers of single values.
#include "machine_file_json.hpp"

#include <cstdio>
#include <functional>
#include <unordered_set>
#include <vector>

namespace zevsim::machine_file {

namespace {

const char* typeName(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::object:
      return "an object";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::string:
      return "a string";
    case Json::value_t::boolean:
      return "a boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return "an integer";
    case Json::value_t::number_float:
      return "a number with a fraction or exponent";
    default:
      return "a value of another type";
  }
}

// The code points of a string that the JSON parser has already checked to be
// UTF-8.
std::vector<std::uint32_t> codePoints(std::string_view utf8) {
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 4;
    std::uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
    }
    out.push_back(code);
    i += length;
  }
  return out;
}

std::string codePointName(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code));
  return text;
}

// ---------------------------------------------------------------------------
// Duplicate keys: the JSON parser keeps the last of two equal keys, so a
// repeated key would silently drop a value. The parse callback sees every key
// and tracks where it is, to name the repeated one by its path.
class DuplicateKeyFinder {
 public:
  bool operator()(int, nlohmann::json::parse_event_t event, Json& parsed) {
    using Event = nlohmann::json::parse_event_t;
    switch (event) {
      case Event::object_start:
      case Event::array_start:
        noteElement();
        frames_.push_back({event == Event::array_start, 0, {}, {}});
        break;
      case Event::object_end:
      case Event::array_end:
        frames_.pop_back();
        break;
      case Event::key: {
        Frame& top = frames_.back();
        top.key = parsed.get<std::string>();
        if (!top.keys.insert(top.key).second && !duplicate_) {
          duplicate_ = currentPath();
        }
        break;
      }
      case Event::value:
        noteElement();
        break;
    }
    return true;
  }
  const std::optional<std::string>& duplicate() const { return duplicate_; }

 private:
  struct Frame {
    bool array = false;
    std::size_t elements = 0;
    std::string key;
    std::unordered_set<std::string> keys;
  };
  void noteElement() {
    if (!frames_.empty() && frames_.back().array) {
      ++frames_.back().elements;
    }
  }
  std::string currentPath() const {
    std::string path = "$";
    for (const Frame& frame : frames_) {
      path = frame.array ? indexPath(path, frame.elements - 1) : keyPath(path, frame.key);
    }
    return path;
  }
  std::vector<Frame> frames_;
  std::optional<std::string> duplicate_;
};

// nlohmann's parse messages start with "[json.exception.parse_error.101] ".
std::string parseProblem(const char* what) {
  std::string text = what;
  if (!text.empty() && text[0] == '[') {
    const std::size_t end = text.find("] ");
    if (end != std::string::npos) {
      text.erase(0, end + 2);
    }
  }
  std::string oneLine;
  for (const char c : text) {
    oneLine.push_back(c == '\n' || c == '\r' ? ' ' : c);
  }
  return "not valid JSON: " + oneLine;
}

}  // namespace

[[noreturn]] void fail(std::string path, std::string problem) {
  throw FileError{std::move(path), std::move(problem)};
}

std::string inQuotes(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(byte));
      out += escape;
    } else {
      if (c == '"' || c == '\\') {
        out.push_back('\\');
      }
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

std::string keyPath(const std::string& parent, std::string_view key) {
  bool plain = !key.empty() && !(key[0] >= '0' && key[0] <= '9');
  for (const char c : key) {
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_');
  }
  return plain ? parent + "." + std::string(key) : parent + "[" + inQuotes(key) + "]";
}

std::string indexPath(const std::string& parent, std::size_t index) {
  return parent + "[" + std::to_string(index) + "]";
}

[[noreturn]] void wrongType(const Json& value, const std::string& path, const char* expected) {
  fail(path, std::string("expected ") + expected + ", found " + typeName(value));
}

ObjectReader::ObjectReader(const Json& value, std::string path,
                           std::initializer_list<std::string_view> keys)
    : value_(value), path_(std::move(path)) {
  if (!value.is_object()) {
    wrongType(value, path_, "an object");
  }
  for (const auto& item : value.items()) {
    bool known = false;
    for (const std::string_view key : keys) {
      known = known || item.key() == key;
    }
    if (!known) {
      fail(keyPath(path_, item.key()), "unknown key");
    }
  }
}

const Json* ObjectReader::find(std::string_view key) const {
  const auto it = value_.find(std::string(key));
  return it == value_.end() ? nullptr : &*it;
}

const Json& ObjectReader::require(std::string_view key) const {
  const Json* value = find(key);
  if (value == nullptr) {
    fail(keyPath(path_, key), "required key is missing");
  }
  return *value;
}

std::uint64_t readInteger(const Json& value, const std::string& path, std::uint64_t min,
                          std::uint64_t max) {
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number >= min && number <= max) {
      return number;
    }
    fail(path, "must be from " + std::to_string(min) + " to " + std::to_string(max) + ", not " +
                   std::to_string(number));
  }
  if (value.is_number_integer()) {
    fail(path, "must be from " + std::to_string(min) + " to " + std::to_string(max) + ", not " +
                   std::to_string(value.get<std::int64_t>()));
  }
  wrongType(value, path, "an integer");
}

bool readBool(const Json& value, const std::string& path) {
  if (!value.is_boolean()) {
    wrongType(value, path, "true or false");
  }
  return value.get<bool>();
}

const std::string& readString(const Json& value, const std::string& path) {
  if (!value.is_string()) {
    wrongType(value, path, "a string");
  }
  return value.get_ref<const std::string&>();
}

std::string readAscii(const Json& value, const std::string& path) {
  const std::string& text = readString(value, path);
  if (text.empty()) {
    fail(path, "must not be empty");
  }
  const std::vector<std::uint32_t> codes = codePoints(text);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] == 0 || codes[i] > 0x7F) {
      fail(path, "must be ASCII without zero characters; character " + std::to_string(i + 1) +
                     " is " + codePointName(codes[i]));
    }
  }
  return text;
}

std::optional<std::string> readOptionalAscii(const Json& value, const std::string& path) {
  if (value.is_null()) {
    return std::nullopt;
  }
  return readAscii(value, path);
}

std::optional<std::string> readOptionalDescription(const Json& value, const std::string& path) {
  if (value.is_null()) {
    return std::nullopt;
  }
  const std::vector<std::uint32_t> codes = codePoints(readString(value, path));
  std::string bytes;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] == 0 || codes[i] > 0xFF) {
      fail(path, "must be Latin-1 without zero characters; character " + std::to_string(i + 1) +
                     " is " + codePointName(codes[i]));
    }
    bytes.push_back(static_cast<char>(codes[i]));
  }
  return bytes;
}

std::string padded(std::string bytes, std::size_t width) {
  bytes.resize(width, ' ');
  return bytes;
}

std::string readLatin1(const Json& value, const std::string& path, std::size_t width) {
  const std::vector<std::uint32_t> codes = codePoints(readString(value, path));
  std::string bytes;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes[i] > 0xFF) {
      fail(path, "character " + std::to_string(i + 1) + " is " + codePointName(codes[i]) +
                     ", which is not Latin-1 (U+0000 to U+00FF)");
    }
    bytes.push_back(static_cast<char>(codes[i]));
  }
  if (bytes.size() > width) {
    fail(path, "is " + std::to_string(bytes.size()) + " bytes, longer than its " +
                   std::to_string(width) + "-byte field");
  }
  return padded(std::move(bytes), width);
}

const Json& readArray(const Json& value, const std::string& path) {
  if (!value.is_array()) {
    wrongType(value, path, "an array");
  }
  return value;
}

Json parseJson(std::string_view text) {
  DuplicateKeyFinder duplicates;
  Json root;
  try {
    root = Json::parse(text.begin(), text.end(), std::ref(duplicates));
  } catch (const Json::parse_error& e) {
    fail("$", parseProblem(e.what()));
  }
  if (duplicates.duplicate()) {
    fail(*duplicates.duplicate(), "the key appears twice in its object");
  }
  return root;
}

std::string upperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

}  // namespace zevsim::machine_file
