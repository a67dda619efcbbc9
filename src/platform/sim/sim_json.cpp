#include "platform/sim/sim_json.h"

namespace {

// The value of one hex digit, -1 for any other character.
int HexDigit(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}

}  // namespace

std::string JsonPointer(const std::string& parent, const std::string& member) {
  std::string out = parent + "/";
  for (char c : member) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
  return out;
}

std::string JsonPointer(const std::string& parent, size_t index) {
  return parent + "/" + std::to_string(index);
}

bool Fail(const std::string& pointer, const std::string& what, std::string* error) {
  *error = (pointer.empty() ? std::string("/") : pointer) + ": " + what;
  return false;
}

bool CheckObject(const SimJson& value, const std::string& pointer,
                 std::initializer_list<std::string_view> allowed, std::string* error) {
  if (!value.is_object()) return Fail(pointer, "expected an object", error);
  for (auto it = value.begin(); it != value.end(); ++it) {
    bool known = false;
    for (std::string_view name : allowed) {
      if (it.key() == name) known = true;
    }
    if (!known) return Fail(JsonPointer(pointer, it.key()), "unknown member", error);
  }
  return true;
}

bool ReadString(const SimJson& value, const std::string& pointer, std::string* out,
                std::string* error) {
  if (!value.is_string()) return Fail(pointer, "expected a string", error);
  *out = value.get<std::string>();
  return true;
}

bool ReadUnsigned(const SimJson& value, const std::string& pointer, uint64_t max, uint64_t* out,
                  std::string* error) {
  if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<int64_t>() >= 0)) {
    return Fail(pointer, "expected an unsigned integer", error);
  }
  uint64_t v = value.get<uint64_t>();
  if (v > max) return Fail(pointer, "value above " + std::to_string(max), error);
  *out = v;
  return true;
}

bool ReadBool(const SimJson& value, const std::string& pointer, bool* out, std::string* error) {
  if (!value.is_boolean()) return Fail(pointer, "expected true or false", error);
  *out = value.get<bool>();
  return true;
}

bool ReadHresult(const SimJson& value, const std::string& pointer, int32_t* out,
                 std::string* error) {
  if (value.is_number_integer()) {
    int64_t v = value.get<int64_t>();
    if (v < INT32_MIN || v > static_cast<int64_t>(UINT32_MAX)) {
      return Fail(pointer, "value out of the 32-bit range", error);
    }
    *out = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  if (value.is_string()) {
    std::string text = value.get<std::string>();
    if (text.size() > 2 && text.size() <= 10 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      uint32_t v = 0;
      bool ok = true;
      for (size_t i = 2; i < text.size() && ok; ++i) {
        int digit = HexDigit(text[i]);
        ok = digit >= 0;
        v = v * 16 + static_cast<uint32_t>(ok ? digit : 0);
      }
      if (ok) {
        *out = static_cast<int32_t>(v);
        return true;
      }
    }
  }
  return Fail(pointer, "expected an integer or a hex string such as \"0x80004005\"", error);
}

bool ReadHex(const SimJson& value, const std::string& pointer, std::string* bytes,
             std::string* error) {
  if (!value.is_string()) return Fail(pointer, "expected a string of hex digits", error);
  const std::string& text = value.get_ref<const std::string&>();
  std::string out;
  out.reserve(text.size() / 2);
  int pending = -1;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
      if (pending >= 0) return Fail(pointer, "odd number of hex digits in a byte", error);
      continue;
    }
    int digit = HexDigit(c);
    if (digit < 0) return Fail(pointer, std::string("not a hex digit: '") + c + "'", error);
    if (pending < 0) {
      pending = digit;
    } else {
      out += static_cast<char>(pending * 16 + digit);
      pending = -1;
    }
  }
  if (pending >= 0) return Fail(pointer, "odd number of hex digits", error);
  *bytes = std::move(out);
  return true;
}

std::string ToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool IsUtf8(const std::string& bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= bytes.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char t = static_cast<unsigned char>(bytes[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

bool ParseJsonText(const std::string& text, SimJson* out, std::string* error) {
  // nlohmann reports syntax errors by exception; they end here as a message.
  try {
    *out = SimJson::parse(text);
    return true;
  } catch (const SimJson::parse_error& e) {
    size_t offset = e.byte > 0 ? e.byte - 1 : 0;
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    std::string what = e.what();
    size_t colon = what.find("parse error");
    size_t detail = what.find(": ", colon == std::string::npos ? 0 : colon);
    if (detail != std::string::npos) {
      size_t second = what.find(": ", detail + 2);
      what = what.substr((second != std::string::npos ? second : detail) + 2);
    }
    *error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
    return false;
  } catch (const std::exception& e) {
    *error = std::string("line 1, column 1: ") + e.what();
    return false;
  }
}
