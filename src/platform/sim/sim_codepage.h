// The ANSI code page of the simulated machine: the conversions, upper-casing
// and case-blind comparison that Windows does with it (MultiByteToWideChar,
// WideCharToMultiByte, CharUpperA, _mbsnicmp), and the case folding that the
// simulated registry and file system use for their names.
#pragma once

#include <string>

#include "platform/path_chars.h"
#include "platform/wintypes.h"

class SimCodePage {
 public:
  explicit SimCodePage(UINT codePage = 1252);
  UINT codePage() const { return codePage_; }
  // True when iconv can convert the code page (1252 and 932 are the ones the
  // setup's languages need; other single- and double-byte pages work too).
  static bool Supported(UINT codePage);

  // A first byte of a double-byte character (932: 0x81-0x9F and 0xE0-0xFC).
  bool IsLeadByte(unsigned char c) const { return paths_.IsLeadByte(c); }
  // The path walker of this code page: the simulated file system, the
  // state's comparison and the capture split paths with it, never byte by
  // byte, so that a trail byte 0x5C stays inside its character.
  const PathChars& Paths() const { return paths_; }
  // CharUpperA: 1252 upper-cases ASCII and the Latin-1 letters (à-þ but ÷,
  // š œ ž ÿ); double-byte pages upper-case ASCII only and keep their
  // double-byte characters whole.
  void Upper(std::string* text) const;
  std::string Upper(const std::string& text) const {
    std::string copy = text;
    Upper(&copy);
    return copy;
  }
  // _mbsnicmp: at most `count` characters, a double-byte character counting as
  // one; -1, 0 or 1. Single bytes fold as ASCII only (as the CRT's "C" locale
  // does, é and É differ); 932 also folds the full-width Latin letters.
  int CompareNoCase(const std::string& a, const std::string& b, size_t count) const;
  // Unmappable characters become '?', the default character of WideCharToMultiByte.
  bool ToWide(const std::string& text, std::u16string* wide) const;
  bool ToAnsi(const std::u16string& wide, std::string* text) const;
  // Machine descriptions are UTF-8; the machine's own strings are in its code
  // page. Unmappable characters become '?'.
  std::string FromUtf8(const std::string& utf8) const;
  std::string ToUtf8(const std::string& ansi) const;

 private:
  unsigned UpperByte(unsigned char c) const;
  // The registry and the file system fold every name they look up: the lead
  // bytes and the upper case of each byte are worked out once, with the page.
  UINT codePage_;
  PathChars paths_;
  unsigned char upper_[256];
};
