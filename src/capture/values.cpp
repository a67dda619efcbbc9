#include "capture/values.h"

#include <vector>

namespace capture {
namespace {

DWORD ReadU32(const std::vector<BYTE>& buffer, size_t offset) {
  return static_cast<DWORD>(buffer[offset]) | static_cast<DWORD>(buffer[offset + 1]) << 8 |
         static_cast<DWORD>(buffer[offset + 2]) << 16 | static_cast<DWORD>(buffer[offset + 3]) << 24;
}

}  // namespace

std::string MachineText::Utf8(const std::string& ansi) const {
  std::u16string wide;
  if (!environment_.AnsiToWide(ansi, &wide)) {
    std::string plain;
    for (char c : ansi) plain += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return plain;
  }
  return Utf16ToUtf8(wide);
}

std::string MachineText::FromUtf8(const std::string& utf8) const {
  std::u16string wide;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t code = c;
    size_t extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    if (extra > 0) code = c & (0x3Fu >> extra);
    for (size_t k = 1; k <= extra && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
    }
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      wide.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(code));
    }
  }
  std::string ansi;
  if (!environment_.WideToAnsi(wide, &ansi)) return utf8;
  return ansi;
}

JsonValue RegistryData(DWORD type, const std::string& bytes, const MachineText& texts) {
  auto raw = [&] {
    JsonValue v = JsonValue::Object();
    static const char* const kNames[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY",
                                         "REG_DWORD", "REG_DWORD_BIG_ENDIAN", "REG_LINK",
                                         "REG_MULTI_SZ"};
    if (type < 8) v["type"] = JsonValue::String(kNames[type]);
    else if (type == 11) v["type"] = JsonValue::String("REG_QWORD");
    else v["type"] = JsonValue::Number(type);
    v["hex"] = JsonValue::String(Hex(bytes));
    return v;
  };
  // A string as RegSetValueEx receives it: its text and one terminating zero.
  auto text = [&](std::string* out) {
    if (bytes.empty() || bytes.back() != '\0') return false;
    std::string body = bytes.substr(0, bytes.size() - 1);
    if (body.find('\0') != std::string::npos) return false;
    *out = texts.Utf8(body);
    return texts.FromUtf8(*out) == body;
  };
  std::string s;
  switch (type) {
    case REG_SZ:
      if (text(&s)) return JsonValue::String(s);
      return raw();
    case REG_EXPAND_SZ:
      if (text(&s)) {
        JsonValue v = JsonValue::Object();
        v["type"] = JsonValue::String("REG_EXPAND_SZ");
        v["data"] = JsonValue::String(s);
        return v;
      }
      return raw();
    case REG_DWORD:
      if (bytes.size() == 4) {
        std::vector<BYTE> b(bytes.begin(), bytes.end());
        return JsonValue::Number(ReadU32(b, 0));
      }
      return raw();
    case REG_BINARY: {
      JsonValue v = JsonValue::Object();
      v["type"] = JsonValue::String("REG_BINARY");
      v["data"] = JsonValue::String(Hex(bytes));
      return v;
    }
    case REG_MULTI_SZ: {
      // Non-empty strings, each with its zero, and one more zero at the end.
      if (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, std::string(2, '\0')) != 0) {
        return raw();
      }
      JsonValue list = JsonValue::Array();
      size_t start = 0;
      while (start < bytes.size() - 1) {
        size_t end = bytes.find('\0', start);
        std::string part = bytes.substr(start, end - start);
        if (part.empty()) return raw();
        std::string utf8 = texts.Utf8(part);
        if (texts.FromUtf8(utf8) != part) return raw();
        list.Push(JsonValue::String(utf8));
        start = end + 1;
      }
      if (list.size() == 0) return raw();
      JsonValue v = JsonValue::Object();
      v["type"] = JsonValue::String("REG_MULTI_SZ");
      v["data"] = std::move(list);
      return v;
    }
    default:
      return raw();
  }
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ' ';
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace capture
