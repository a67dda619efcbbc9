#include "platform/medium_manifest.h"

#include <set>

#include "platform/sha256.h"

namespace {

constexpr size_t kDigestDigits = 2 * CSha256::kDigestSize;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A name inside the setup folder: relative, no empty, "." or ".." component,
// no drive, no control characters. Slashes become backslashes.
bool ParseName(const std::string& text, std::string* name) {
  if (text.empty()) return false;
  std::string out;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : '\\';
    if (static_cast<unsigned char>(c) < 0x20 || c == ':' || c == '*' || c == '?' || c == '"' ||
        c == '<' || c == '>' || c == '|') {
      return false;
    }
    if (c != '\\' && c != '/') continue;
    const std::string part = text.substr(start, i - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (!out.empty()) out += '\\';
    out += part;
    start = i + 1;
  }
  *name = out;
  return true;
}

bool ParseLine(const std::string& line, MediumFile* file) {
  if (line.size() < kDigestDigits + 3) return false;
  for (size_t i = 0; i < kDigestDigits; ++i) {
    if (!IsHexDigit(line[i])) return false;
  }
  // sha256sum's text mode ("  ") or binary mode (" *").
  if (line[kDigestDigits] != ' ' ||
      (line[kDigestDigits + 1] != ' ' && line[kDigestDigits + 1] != '*')) {
    return false;
  }
  if (!ParseName(line.substr(kDigestDigits + 2), &file->name)) return false;
  file->digest.clear();
  for (size_t i = 0; i < kDigestDigits; ++i) file->digest += Lower(line[i]);
  return true;
}

}  // namespace

size_t ParseMediumManifest(const std::string& text, std::vector<MediumFile>* files) {
  std::vector<MediumFile> parsed;
  std::set<std::string> names;
  size_t number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    ++number;
    size_t end = text.find('\n', pos);
    std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    MediumFile file;
    if (!ParseLine(line, &file) || !names.insert(UpperCase(file.name)).second) return number;
    parsed.push_back(std::move(file));
  }
  *files = std::move(parsed);
  return 0;
}

std::string FormatMediumManifest(const std::vector<MediumFile>& files) {
  std::string text;
  for (const MediumFile& file : files) {
    std::string name = file.name;
    for (char& c : name) {
      if (c == '\\') c = '/';
    }
    text += file.digest + "  " + name + "\n";
  }
  return text;
}
