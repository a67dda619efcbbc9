#include "platform/sim/sim_codepage.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <string>
#include <utility>

namespace {

std::string IconvName(UINT codePage) { return "CP" + std::to_string(codePage); }

bool IsDoubleBytePage(UINT codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// Bytes of 1252 that Windows maps to the C1 control of the same value and
// that iconv leaves undefined.
bool IsUndefined1252(unsigned c) {
  return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

// The converter from one encoding to another. iconv_open loads its tables
// on every call, and a rehearsal converts thousands of short texts between a
// handful of pairs: each pair's converter is opened once and kept for the
// life of the thread, its shift state reset before each use.
iconv_t Converter(const char* from, const char* to) {
  struct Cache {
    std::map<std::pair<std::string, std::string>, iconv_t> open;
    ~Cache() {
      for (auto& entry : open) iconv_close(entry.second);
    }
  };
  thread_local Cache cache;
  auto key = std::make_pair(std::string(from), std::string(to));
  auto found = cache.open.find(key);
  if (found != cache.open.end()) {
    iconv(found->second, nullptr, nullptr, nullptr, nullptr);
    return found->second;
  }
  iconv_t cd = iconv_open(to, from);
  if (cd != reinterpret_cast<iconv_t>(-1)) cache.open.emplace(key, cd);
  return cd;
}

// Runs iconv over the whole input; at an unconvertible sequence calls
// `fallback` with the input position, which appends its replacement and
// returns how many input bytes to skip.
template <typename Fallback>
bool Convert(const char* from, const char* to, const std::string& input, std::string* output,
             Fallback fallback) {
  iconv_t cd = Converter(from, to);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out;
  size_t pos = 0;
  char buffer[1024];
  while (pos < input.size()) {
    char* in = const_cast<char*>(input.data()) + pos;
    size_t inLeft = input.size() - pos;
    char* outPtr = buffer;
    size_t outLeft = sizeof(buffer);
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    int err = errno;
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    pos = input.size() - inLeft;
    if (rc == static_cast<size_t>(-1)) {
      if (err == E2BIG) continue;
      pos += fallback(pos, &out);
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  *output = std::move(out);
  return true;
}

}  // namespace

bool SimCodePage::Supported(UINT codePage) {
  iconv_t cd = iconv_open("UTF-16LE", IconvName(codePage).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

SimCodePage::SimCodePage(UINT codePage) : codePage_(codePage) {
  for (unsigned c = 0x80; c <= 0xFF; ++c) {
    const bool lead = codePage_ == 932 ? (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)
                                       : IsDoubleBytePage(codePage_) && c >= 0x81 && c <= 0xFE;
    if (lead) paths_.SetLeadByte(static_cast<unsigned char>(c));
  }
  for (unsigned c = 0; c < 256; ++c) {
    upper_[c] = static_cast<unsigned char>(UpperByte(static_cast<unsigned char>(c)));
  }
}

unsigned SimCodePage::UpperByte(unsigned char c) const {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (codePage_ == 1252) {
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    switch (c) {
      case 0x9A: return 0x8A;
      case 0x9C: return 0x8C;
      case 0x9E: return 0x8E;
      case 0xFF: return 0x9F;
      default: break;
    }
  }
  return c;
}

void SimCodePage::Upper(std::string* text) const {
  const bool doubleByte = paths_.DoubleByte();
  for (size_t i = 0; i < text->size(); ++i) {
    unsigned char c = static_cast<unsigned char>((*text)[i]);
    if (doubleByte && paths_.IsLeadByte(c) && i + 1 < text->size()) {
      ++i;  // the trail byte may look like an ASCII letter: keep the pair whole
      continue;
    }
    (*text)[i] = static_cast<char>(upper_[c]);
  }
}

int SimCodePage::CompareNoCase(const std::string& a, const std::string& b, size_t count) const {
  size_t i = 0, j = 0;
  auto next = [this](const std::string& s, size_t* pos) -> unsigned {
    if (*pos >= s.size()) return 0;
    unsigned char c = static_cast<unsigned char>(s[*pos]);
    if (IsLeadByte(c) && *pos + 1 < s.size()) {
      unsigned ch = (static_cast<unsigned>(c) << 8) | static_cast<unsigned char>(s[*pos + 1]);
      *pos += 2;
      // Full-width Latin small letters fold onto the capitals.
      if (codePage_ == 932 && ch >= 0x8281 && ch <= 0x829A) ch -= 0x21;
      return ch;
    }
    ++*pos;
    // The CRT folds single bytes as the "C" locale does: ASCII letters only.
    return c >= 'a' && c <= 'z' ? c - 0x20u : c;
  };
  for (size_t n = 0; n < count; ++n) {
    unsigned ca = next(a, &i);
    unsigned cb = next(b, &j);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
  return 0;
}

bool SimCodePage::ToWide(const std::string& text, std::u16string* wide) const {
  std::string bytes;
  UINT page = codePage_;
  bool ok = Convert(IconvName(page).c_str(), "UTF-16LE", text, &bytes,
                    [&](size_t pos, std::string* out) -> size_t {
                      unsigned char c = static_cast<unsigned char>(text[pos]);
                      char16_t unit = u'?';
                      size_t skip = 1;
                      if (page == 1252 && IsUndefined1252(c)) {
                        unit = c;
                      } else if (IsLeadByte(c) && pos + 1 < text.size()) {
                        unit = u'\x30FB';  // the default character of 932
                        skip = 2;
                      }
                      out->push_back(static_cast<char>(unit & 0xFF));
                      out->push_back(static_cast<char>(unit >> 8));
                      return skip;
                    });
  if (!ok) return false;
  std::u16string result(bytes.size() / 2, u'\0');
  for (size_t k = 0; k < result.size(); ++k) {
    result[k] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                      (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
  }
  *wide = std::move(result);
  return true;
}

bool SimCodePage::ToAnsi(const std::u16string& wide, std::string* text) const {
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t unit : wide) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  UINT page = codePage_;
  return Convert("UTF-16LE", IconvName(page).c_str(), bytes, text,
                 [&](size_t pos, std::string* out) -> size_t {
                   if (pos + 1 >= bytes.size()) {
                     out->push_back('?');
                     return bytes.size() - pos;
                   }
                   unsigned unit = static_cast<unsigned char>(bytes[pos]) |
                                   (static_cast<unsigned char>(bytes[pos + 1]) << 8);
                   if (page == 1252 && IsUndefined1252(unit)) {
                     out->push_back(static_cast<char>(unit));
                     return 2;
                   }
                   out->push_back('?');
                   // A valid surrogate pair is one character and gives one '?'.
                   if (unit >= 0xD800 && unit <= 0xDBFF && pos + 3 < bytes.size()) {
                     unsigned low = static_cast<unsigned char>(bytes[pos + 2]) |
                                    (static_cast<unsigned char>(bytes[pos + 3]) << 8);
                     if (low >= 0xDC00 && low <= 0xDFFF) return 4;
                   }
                   return 2;
                 });
}

namespace {

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

size_t Utf8Length(unsigned char c) {
  if (c >= 0xF0) return 4;
  if (c >= 0xE0) return 3;
  if (c >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::string SimCodePage::FromUtf8(const std::string& utf8) const {
  if (IsAscii(utf8)) return utf8;
  std::string out;
  UINT page = codePage_;
  bool ok = Convert("UTF-8", IconvName(page).c_str(), utf8, &out,
                    [&](size_t pos, std::string* text) -> size_t {
                      size_t length = Utf8Length(static_cast<unsigned char>(utf8[pos]));
                      if (page == 1252 && length == 2 && pos + 1 < utf8.size() &&
                          static_cast<unsigned char>(utf8[pos]) == 0xC2 &&
                          IsUndefined1252(static_cast<unsigned char>(utf8[pos + 1]))) {
                        text->push_back(utf8[pos + 1]);
                        return 2;
                      }
                      text->push_back('?');
                      return length < utf8.size() - pos ? length : utf8.size() - pos;
                    });
  return ok ? out : utf8;
}

std::string SimCodePage::ToUtf8(const std::string& ansi) const {
  if (IsAscii(ansi)) return ansi;
  std::string out;
  UINT page = codePage_;
  bool ok = Convert(IconvName(page).c_str(), "UTF-8", ansi, &out,
                    [&](size_t pos, std::string* text) -> size_t {
                      unsigned char c = static_cast<unsigned char>(ansi[pos]);
                      if (page == 1252 && IsUndefined1252(c)) {
                        text->push_back(static_cast<char>(0xC2));
                        text->push_back(static_cast<char>(c));
                        return 1;
                      }
                      text->push_back('?');
                      return IsLeadByte(c) && pos + 1 < ansi.size() ? 2 : 1;
                    });
  return ok ? out : ansi;
}
