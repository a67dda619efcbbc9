// Out of line so that the callers of the i686 program share one copy.
#include "platform/path_chars.h"

size_t PathChars::Next(const std::string& text, size_t pos) const {
  if (pos >= text.size()) return text.size();
  return IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? pos + 2
                                                                                    : pos + 1;
}

size_t PathChars::LastCharStart(const std::string& text) const {
  size_t last = 0;
  for (size_t pos = 0; pos < text.size(); pos = Next(text, pos)) last = pos;
  return last;
}

size_t PathChars::FindSeparator(const std::string& text, size_t from, bool slash) const {
  for (size_t pos = from; pos < text.size(); pos = Next(text, pos)) {
    if (IsSeparator(text[pos], slash)) return pos;
  }
  return npos;
}

size_t PathChars::FindLastSeparator(const std::string& text, bool slash) const {
  size_t found = npos;
  for (size_t pos = 0; pos < text.size(); pos = Next(text, pos)) {
    if (IsSeparator(text[pos], slash)) found = pos;
  }
  return found;
}

bool PathChars::EndsWithSeparator(const std::string& text, bool slash) const {
  if (text.empty()) return false;
  const size_t last = LastCharStart(text);
  return last == text.size() - 1 && IsSeparator(text[last], slash);
}

void PathChars::TrimSeparators(std::string* text, size_t keep, bool slash) const {
  while (text->size() > keep && EndsWithSeparator(*text, slash)) text->pop_back();
}

std::string PathChars::Folder(const std::string& text) const {
  size_t cut = FindLastSeparator(text);
  return cut == npos ? text : text.substr(0, cut);
}

std::string PathChars::LastName(const std::string& text) const {
  size_t cut = FindLastSeparator(text);
  return cut == npos ? text : text.substr(cut + 1);
}

PathChars PathCharsOf(Environment& environment) {
  PathChars chars;
  for (unsigned c = 0x80; c <= 0xFF; ++c) {
    if (environment.IsDBCSLeadByte(static_cast<BYTE>(c))) chars.SetLeadByte(static_cast<unsigned char>(c));
  }
  return chars;
}
