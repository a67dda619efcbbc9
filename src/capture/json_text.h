// A small JSON value for writing machine descriptions: objects keep the order
// their members were added in, strings are UTF-8. Only what the capture
// writes; the simulation reads descriptions with its own strict reader.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace capture {

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  JsonValue() = default;
  static JsonValue Bool(bool value);
  static JsonValue Number(uint64_t value);
  static JsonValue String(std::string utf8);
  static JsonValue Array();
  static JsonValue Object();

  Kind kind() const { return kind_; }
  bool empty() const { return members_.empty() && items_.empty(); }
  // The member of this name, added (as null) when missing.
  JsonValue& operator[](const std::string& name);
  const JsonValue* Find(const std::string& name) const;
  void Push(JsonValue item) { items_.push_back(std::move(item)); }
  size_t size() const { return kind_ == Kind::kArray ? items_.size() : members_.size(); }

  // Pretty-printed with two blanks per level, ending with a newline.
  std::string Text() const;
  // Reads JSON text (numbers are kept as their digits); false on a syntax error.
  static bool Parse(const std::string& text, JsonValue* out);

  const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }
  const std::vector<JsonValue>& items() const { return items_; }
  const std::string& text() const { return text_; }
  bool boolean() const { return bool_; }

 private:
  class Reader;
  void Write(std::string* out, int indent) const;

  Kind kind_ = Kind::kNull;
  bool bool_ = false;
  std::string text_;  // the number's digits or the string
  std::vector<std::pair<std::string, JsonValue>> members_;
  std::vector<JsonValue> items_;
};

// A JSON string literal of UTF-8 text: quotes, backslashes and control
// characters escaped.
std::string JsonQuote(const std::string& utf8);

// True when the bytes are valid UTF-8 (a JSON string can carry them as text).
bool IsValidUtf8(const std::string& bytes);

// UTF-16 to UTF-8 (an unpaired surrogate becomes U+FFFD).
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace capture
