// The JSON side of the machine-file loader: parsing, JSON paths and the
// readers of single values.
#include "machine_file_json.hpp"

#include <cmath>
#include <cstdio>
#include <memory>
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

// ---------------------------------------------------------------------------
// The document builder: a SAX handler of nlohmann's parser that builds the
// document itself, so that a repeated key is refused (the library's own
// builder keeps the last of two equal keys, silently dropping a value) and a
// number too large for any type is named by its own path. The library's
// callback parser would do the first, but after every object it scans the
// whole enclosing array for discarded values, which makes a long list of
// drives load in quadratic time; this builder does constant work per value
// and per key.
class DocumentBuilder {
 public:
  explicit DocumentBuilder(Json& root) : root_(root) {}

  bool null() { return add(Json(nullptr)); }
  bool boolean(bool value) { return add(Json(value)); }
  bool number_integer(Json::number_integer_t value) { return add(Json(value)); }
  bool number_unsigned(Json::number_unsigned_t value) { return add(Json(value)); }
  bool number_float(Json::number_float_t value, const Json::string_t&) { return add(Json(value)); }
  bool string(Json::string_t& value) { return add(Json(std::move(value))); }
  bool binary(Json::binary_t&) { return false; }  // JSON text has no binary values

  bool start_object(std::size_t) { return open(Json::object(), "an object"); }
  bool start_array(std::size_t) { return open(Json::array(), "an array"); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(Json::string_t& name) {
    Frame& top = frames_.back();
    if (isRepeated(top, name)) {
      fail(keyPath(pathOf(frames_.size() - 1), name), "the key appears twice in its object");
    }
    top.key = std::move(name);
    return true;
  }

  bool parse_error(std::size_t, const std::string& token, const Json::exception& error) {
    // nlohmann reports a number beyond the range of a double (1e400) as
    // out_of_range 406; every other error is the text's syntax.
    if (error.id == 406) {
      const bool negative = !token.empty() && token[0] == '-';
      fail(pendingPath(), std::string(negative ? "too small: " : "too large: ") + token +
                              " is beyond the range of any number");
    }
    fail("$", parseProblem(error.what()));
  }

 private:
  struct Frame {
    Json* value = nullptr;
    std::string key;  // objects: the key of the value that comes next
    // Objects with many keys: the keys so far, for the repeated-key check.
    std::unique_ptr<std::unordered_set<std::string>> keys;
  };
  static constexpr std::size_t kLinearKeyCheck = 16;

  static Json::object_t::Container& members(Json& object) {
    return object.get_ref<Json::object_t&>();
  }
  static const Json::object_t::Container& members(const Json& object) {
    return object.get_ref<const Json::object_t&>();
  }

  static bool isRepeated(Frame& frame, const std::string& name) {
    Json::object_t::Container& list = members(*frame.value);
    if (list.size() < kLinearKeyCheck) {
      for (const auto& member : list) {
        if (member.first == name) {
          return true;
        }
      }
      return false;
    }
    if (!frame.keys) {
      frame.keys = std::make_unique<std::unordered_set<std::string>>();
      for (const auto& member : list) {
        frame.keys->insert(member.first);
      }
    }
    return !frame.keys->insert(name).second;
  }

  // Places a value in the innermost array or object (or as the document).
  Json* place(Json&& value) {
    if (frames_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Frame& top = frames_.back();
    if (top.value->is_array()) {
      Json::array_t& list = top.value->get_ref<Json::array_t&>();
      list.push_back(std::move(value));
      return &list.back();
    }
    // The key is known to be new, so it is appended without the linear
    // search of ordered_map's own insertion.
    Json::object_t::Container& list = members(*top.value);
    if (top.keys) {
      top.keys->insert(top.key);
    }
    list.emplace_back(std::move(top.key), std::move(value));
    return &list.back().second;
  }
  bool add(Json&& value) {
    place(std::move(value));
    return true;
  }
  // The depth is checked before the container is placed, so that neither the
  // document nor the open containers grow past kMaxJsonDepth, and a path
  // (built from the open containers) never has more than that many steps.
  bool open(Json&& container, const char* kind) {
    if (frames_.size() == kMaxJsonDepth) {
      fail(pendingPath(), std::string(kind) + " at depth " + std::to_string(kMaxJsonDepth + 1) +
                              ": arrays and objects nest at most " + std::to_string(kMaxJsonDepth) +
                              " deep in a machine file");
    }
    frames_.push_back({place(std::move(container)), {}, {}});
    return true;
  }
  bool close() {
    frames_.pop_back();
    return true;
  }

  // The path of the container at frames_[depth]: each enclosing container's
  // last element leads to it.
  // Each step is appended to the one string, so a path takes time linear in
  // its length.
  std::string pathOf(std::size_t depth) const {
    std::string path = "$";
    for (std::size_t i = 0; i < depth; ++i) {
      const Json& value = *frames_[i].value;
      if (value.is_array()) {
        appendIndex(path, value.size() - 1);
      } else {
        appendKey(path, members(value).back().first);
      }
    }
    return path;
  }
  // The path of the value being read when the parser stopped.
  std::string pendingPath() const {
    if (frames_.empty()) {
      return "$";
    }
    const Frame& top = frames_.back();
    const std::string parent = pathOf(frames_.size() - 1);
    return top.value->is_array() ? indexPath(parent, top.value->size()) : keyPath(parent, top.key);
  }

  Json& root_;
  std::vector<Frame> frames_;
};

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

void appendKey(std::string& path, std::string_view key) {
  bool plain = !key.empty() && !(key[0] >= '0' && key[0] <= '9');
  for (const char c : key) {
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_');
  }
  if (plain) {
    path += '.';
    path += key;
  } else {
    path += '[';
    path += inQuotes(key);
    path += ']';
  }
}

void appendIndex(std::string& path, std::size_t index) {
  path += '[';
  path += std::to_string(index);
  path += ']';
}

std::string keyPath(const std::string& parent, std::string_view key) {
  std::string path = parent;
  appendKey(path, key);
  return path;
}

std::string indexPath(const std::string& parent, std::size_t index) {
  std::string path = parent;
  appendIndex(path, index);
  return path;
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
  const std::string range = "must be from " + std::to_string(min) + " to " + std::to_string(max);
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number >= min && number <= max) {
      return number;
    }
    fail(path, std::string(number > max ? "too large: " : "too small: ") + range + ", not " +
                   std::to_string(number));
  }
  if (value.is_number_integer()) {
    fail(path, "too small: " + range + ", not " + std::to_string(value.get<std::int64_t>()));
  }
  // An integer beyond 64 bits (18446744073709551616, 1e20) arrives as a
  // floating-point number; it is out of range rather than of the wrong kind.
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (std::isfinite(number) && number == std::trunc(number) &&
        (number > static_cast<double>(max) || number < static_cast<double>(min))) {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", number);
      fail(path, std::string(number > 0 ? "too large: " : "too small: ") + range + ", not " + text);
    }
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

namespace {

// Empties every container below value, innermost first, so that no
// destructor of nlohmann's has a container to flatten.
void dismantle(Json& value) {
  if (value.is_array()) {
    Json::array_t& list = value.get_ref<Json::array_t&>();
    for (Json& item : list) {
      dismantle(item);
    }
    list.clear();
  } else if (value.is_object()) {
    Json::object_t::Container& list = value.get_ref<Json::object_t&>();
    for (auto& member : list) {
      dismantle(member.second);
    }
    list.clear();
  }
}

}  // namespace

Document::Document(std::string_view text) {
  DocumentBuilder builder(root_);
  try {
    Json::sax_parse(text.begin(), text.end(), &builder);
  } catch (...) {
    dismantle(root_);
    throw;
  }
}

Document::~Document() {
  dismantle(root_);
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
