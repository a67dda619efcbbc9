// Walking a path character by character. Paths are bytes in the ANSI code
// page; on a double-byte page (932, Japanese) the second byte of a character
// can be 0x5C, the backslash (表 is 0x95 0x5C, ソ 0x83 0x5C), or 0x7C, the
// bar (ポ). Searching, trimming or comparing such a path byte by byte takes
// that byte for a separator and cuts the character in two. These helpers
// step as CharNextA does, knowing the code page's lead bytes; the setup gets
// them from Windows (`PathCharsOf`), the simulated machine from its code page.
#pragma once

#include <bitset>
#include <string>

#include "platform/environment.h"

class PathChars {
 public:
  static constexpr size_t npos = std::string::npos;

  // A single-byte code page: every byte is a character.
  PathChars() = default;
  void SetLeadByte(unsigned char c) { lead_.set(c); }
  bool IsLeadByte(unsigned char c) const { return lead_.test(c); }
  bool DoubleByte() const { return lead_.any(); }

  // CharNextA: the position after the character at `pos` (a lead byte at the
  // very end counts as one character, as a cut-off string ends there).
  size_t Next(const std::string& text, size_t pos) const;
  // CharPrevA from the end: where the last character begins (0 for an empty text).
  size_t LastCharStart(const std::string& text) const;
  // The first separator at or after `from` (a character boundary); with
  // `slash`, '/' counts as one too.
  size_t FindSeparator(const std::string& text, size_t from = 0, bool slash = false) const;
  // The last separator, or npos.
  size_t FindLastSeparator(const std::string& text, bool slash = false) const;
  // True when the last character is a backslash (and not the second byte of one).
  bool EndsWithSeparator(const std::string& text, bool slash = false) const;
  // Removes trailing separators while more than `keep` bytes remain.
  void TrimSeparators(std::string* text, size_t keep = 0, bool slash = false) const;
  // The text up to its last separator, the separator excluded (the text
  // itself when it has none).
  std::string Folder(const std::string& text) const;
  // The text after its last separator (the whole text when it has none).
  std::string LastName(const std::string& text) const;

 private:
  static bool IsSeparator(char c, bool slash) { return c == '\\' || (slash && c == '/'); }
  std::bitset<256> lead_;
};

// The lead bytes of the system's ANSI code page, as Windows reports them.
PathChars PathCharsOf(Environment& environment);
