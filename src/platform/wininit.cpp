#include "platform/wininit.h"

#include "platform/ascii.h"

namespace {

// The section header at `start` (up to `end`) names [rename], in any case.
bool IsRenameHeader(const std::string& text, size_t start, size_t end) {
  static const char kName[] = "[rename]";
  while (start < end && (text[start] == ' ' || text[start] == '\t')) ++start;
  if (end - start < sizeof(kName) - 1) return false;
  for (size_t i = 0; i + 1 < sizeof(kName); ++i) {
    if (AsciiLower(static_cast<unsigned char>(text[start + i])) != kName[i]) return false;
  }
  return true;
}

}  // namespace

std::string AddWininitLine(const std::string& text, const std::string& line) {
  const std::string added = line + "\r\n";
  bool inRename = false;
  size_t insertAt = std::string::npos;  // after the section's last line
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos) end = text.size();
    size_t first = start;
    while (first < end && (text[first] == ' ' || text[first] == '\t')) ++first;
    if (first < end && text[first] == '[') {
      if (inRename) break;  // the next section begins
      inRename = IsRenameHeader(text, start, end);
    }
    if (inRename) insertAt = next;
    start = next;
  }
  if (insertAt == std::string::npos) {
    std::string out = text;
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    return out + "[rename]\r\n" + added;
  }
  std::string out = text;
  // A last line without its line end gets one before the new line.
  if (insertAt == out.size() && !out.empty() && out.back() != '\n') {
    out += "\r\n";
    insertAt = out.size();
  }
  out.insert(insertAt, added);
  return out;
}
