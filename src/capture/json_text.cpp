#include "capture/json_text.h"

#include <cstdio>

namespace capture {

JsonValue JsonValue::Bool(bool value) {
  JsonValue v;
  v.kind_ = Kind::kBool;
  v.bool_ = value;
  return v;
}

JsonValue JsonValue::Number(uint64_t value) {
  JsonValue v;
  v.kind_ = Kind::kNumber;
  v.text_ = std::to_string(value);
  return v;
}

JsonValue JsonValue::String(std::string utf8) {
  JsonValue v;
  v.kind_ = Kind::kString;
  v.text_ = std::move(utf8);
  return v;
}

JsonValue JsonValue::Array() {
  JsonValue v;
  v.kind_ = Kind::kArray;
  return v;
}

JsonValue JsonValue::Object() {
  JsonValue v;
  v.kind_ = Kind::kObject;
  return v;
}

JsonValue& JsonValue::operator[](const std::string& name) {
  kind_ = Kind::kObject;
  for (auto& [key, value] : members_) {
    if (key == name) return value;
  }
  members_.emplace_back(name, JsonValue());
  return members_.back().second;
}

const JsonValue* JsonValue::Find(const std::string& name) const {
  for (const auto& [key, value] : members_) {
    if (key == name) return &value;
  }
  return nullptr;
}

std::string JsonQuote(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", u);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

void JsonValue::Write(std::string* out, int indent) const {
  const std::string pad(static_cast<size_t>(indent) + 2, ' ');
  switch (kind_) {
    case Kind::kNull: *out += "null"; return;
    case Kind::kBool: *out += bool_ ? "true" : "false"; return;
    case Kind::kNumber: *out += text_; return;
    case Kind::kString: *out += JsonQuote(text_); return;
    case Kind::kArray:
      if (items_.empty()) {
        *out += "[]";
        return;
      }
      *out += "[\n";
      for (size_t i = 0; i < items_.size(); ++i) {
        *out += pad;
        items_[i].Write(out, indent + 2);
        *out += i + 1 < items_.size() ? ",\n" : "\n";
      }
      *out += std::string(static_cast<size_t>(indent), ' ') + "]";
      return;
    case Kind::kObject:
      if (members_.empty()) {
        *out += "{}";
        return;
      }
      *out += "{\n";
      for (size_t i = 0; i < members_.size(); ++i) {
        *out += pad + JsonQuote(members_[i].first) + ": ";
        members_[i].second.Write(out, indent + 2);
        *out += i + 1 < members_.size() ? ",\n" : "\n";
      }
      *out += std::string(static_cast<size_t>(indent), ' ') + "}";
      return;
  }
}

std::string JsonValue::Text() const {
  std::string out;
  Write(&out, 0);
  return out + "\n";
}

}  // namespace capture

namespace capture {

bool IsValidUtf8(const std::string& bytes) {
  static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t extra = 0;
    if (c >= 0x80) {
      if ((c >> 5) == 6) extra = 1;
      else if ((c >> 4) == 14) extra = 2;
      else if ((c >> 3) == 30) extra = 3;
      else return false;
    }
    uint32_t code = extra == 0 ? c : c & (0x3Fu >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= bytes.size()) return false;
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
    if (code < kMinimum[extra] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

class JsonValue::Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  bool Document(JsonValue* out) {
    if (!Value(out, 0)) return false;
    Blanks();
    return at_ == text_.size();
  }

 private:
  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                  text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    Blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    std::string w(word);
    if (text_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }
  bool Hex4(uint32_t* code) {
    if (at_ + 4 > text_.size()) return false;
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      *code <<= 4;
      if (c >= '0' && c <= '9') *code |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') *code |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') *code |= static_cast<uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  }
  bool String(std::string* out) {
    if (!Take('"')) return false;
    std::u16string pending;  // \u escapes, converted together (surrogate pairs)
    auto flush = [&] {
      *out += Utf16ToUtf8(pending);
      pending.clear();
    };
    while (at_ < text_.size()) {
      char c = text_[at_++];
      if (c == '"') {
        flush();
        return true;
      }
      if (c != '\\') {
        flush();
        *out += c;
        continue;
      }
      if (at_ >= text_.size()) return false;
      char e = text_[at_++];
      if (e == 'u') {
        uint32_t code = 0;
        if (!Hex4(&code)) return false;
        pending.push_back(static_cast<char16_t>(code));
        continue;
      }
      flush();
      switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        default: return false;
      }
    }
    return false;
  }
  bool Value(JsonValue* out, int depth) {
    if (depth > 64) return false;
    Blanks();
    if (at_ >= text_.size()) return false;
    char c = text_[at_];
    if (c == '{') {
      ++at_;
      *out = JsonValue::Object();
      if (Take('}')) return true;
      do {
        std::string name;
        if (!String(&name) || !Take(':')) return false;
        JsonValue member;
        if (!Value(&member, depth + 1)) return false;
        out->members_.emplace_back(std::move(name), std::move(member));
      } while (Take(','));
      return Take('}');
    }
    if (c == '[') {
      ++at_;
      *out = JsonValue::Array();
      if (Take(']')) return true;
      do {
        JsonValue item;
        if (!Value(&item, depth + 1)) return false;
        out->items_.push_back(std::move(item));
      } while (Take(','));
      return Take(']');
    }
    if (c == '"') {
      std::string text;
      if (!String(&text)) return false;
      *out = JsonValue::String(std::move(text));
      return true;
    }
    if (Word("true")) {
      *out = JsonValue::Bool(true);
      return true;
    }
    if (Word("false")) {
      *out = JsonValue::Bool(false);
      return true;
    }
    if (Word("null")) {
      *out = JsonValue();
      return true;
    }
    size_t start = at_;
    while (at_ < text_.size() && (std::string("+-.eE0123456789").find(text_[at_]) !=
                                  std::string::npos)) {
      ++at_;
    }
    if (at_ == start) return false;
    out->kind_ = Kind::kNumber;
    out->text_ = text_.substr(start, at_ - start);
    return true;
  }

  const std::string& text_;
  size_t at_ = 0;
};

bool JsonValue::Parse(const std::string& text, JsonValue* out) {
  Reader reader(text);
  JsonValue value;
  if (!reader.Document(&value)) return false;
  *out = std::move(value);
  return true;
}

}  // namespace capture
