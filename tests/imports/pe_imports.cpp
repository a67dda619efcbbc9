#include "pe_imports.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace imports {

namespace {

constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr uint32_t kImportDirectory = 1;
constexpr uint32_t kDelayImportDirectory = 13;
// Far more than any real program has; a table that runs on is corrupt.
constexpr size_t kMaxLibraries = 4096;
constexpr size_t kMaxFunctionsPerLibrary = 65536;
constexpr size_t kMaxNameLength = 512;

struct Section {
  uint32_t virtualAddress = 0, virtualSize = 0, rawSize = 0, rawOffset = 0;
};

// Bounds-checked little-endian reads over the file's bytes.
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  bool U16(uint64_t offset, uint16_t* value) const {
    if (offset + 2 > bytes_.size()) return false;
    *value = static_cast<uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
    return true;
  }
  bool U32(uint64_t offset, uint32_t* value) const {
    if (offset + 4 > bytes_.size()) return false;
    *value = 0;
    for (int i = 3; i >= 0; --i) *value = (*value << 8) | bytes_[offset + i];
    return true;
  }
  bool U64(uint64_t offset, uint64_t* value) const {
    uint32_t low = 0, high = 0;
    if (!U32(offset, &low) || !U32(offset + 4, &high)) return false;
    *value = (static_cast<uint64_t>(high) << 32) | low;
    return true;
  }
  // A NUL-terminated name of printable characters.
  bool Name(uint64_t offset, std::string* name) const {
    name->clear();
    for (uint64_t at = offset; at < bytes_.size(); ++at) {
      uint8_t c = bytes_[at];
      if (c == 0) return !name->empty();
      if (c < 0x20 || c > 0x7e || name->size() >= kMaxNameLength) return false;
      name->push_back(static_cast<char>(c));
    }
    return false;
  }
  size_t size() const { return bytes_.size(); }

 private:
  const std::vector<uint8_t>& bytes_;
};

class ImageReader {
 public:
  ImageReader(const std::vector<uint8_t>& bytes, PeImage* image, std::string* error)
      : in_(bytes), image_(image), error_(error) {}

  bool Read() {
    uint16_t mz = 0;
    uint32_t peOffset = 0, signature = 0;
    if (!in_.U16(0, &mz) || mz != 0x5a4d) return Fail("no MZ header");
    if (!in_.U32(0x3c, &peOffset) || !in_.U32(peOffset, &signature) || signature != 0x4550) {
      return Fail("no PE header");
    }
    uint64_t coff = peOffset + 4;
    uint16_t sectionCount = 0, optionalSize = 0, magic = 0;
    if (!in_.U16(coff, &image_->machine) || !in_.U16(coff + 2, &sectionCount) ||
        !in_.U16(coff + 16, &optionalSize)) {
      return Fail("the file header is cut off");
    }
    uint64_t optional = coff + 20;
    if (!in_.U16(optional, &magic)) return Fail("the optional header is cut off");
    if (magic != kPe32Magic && magic != kPe32PlusMagic) return Fail("unknown optional header");
    image_->pe32Plus = magic == kPe32PlusMagic;
    uint32_t directoryCount = 0;
    uint64_t directories = optional + (image_->pe32Plus ? 112 : 96);
    if (!in_.U16(optional + 48, &image_->subsystemMajor) ||
        !in_.U16(optional + 50, &image_->subsystemMinor) ||
        !in_.U16(optional + 68, &image_->subsystem) ||
        !in_.U32(optional + (image_->pe32Plus ? 108 : 92), &directoryCount) ||
        !ReadImageBase(optional)) {
      return Fail("the optional header is cut off");
    }
    if (directories - optional > optionalSize) return Fail("the optional header is too short");
    directoryCount = std::min<uint32_t>(directoryCount,
                                        static_cast<uint32_t>((optional + optionalSize - directories) / 8));

    uint64_t sectionTable = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
      Section section;
      uint64_t at = sectionTable + 40ull * i;
      if (!in_.U32(at + 8, &section.virtualSize) || !in_.U32(at + 12, &section.virtualAddress) ||
          !in_.U32(at + 16, &section.rawSize) || !in_.U32(at + 20, &section.rawOffset)) {
        return Fail("the section table is cut off");
      }
      sections_.push_back(section);
    }

    image_->functions.clear();
    uint32_t rva = 0;
    if (directoryCount > kImportDirectory && in_.U32(directories + 8 * kImportDirectory, &rva) &&
        rva != 0 && !ReadImports(rva)) {
      return false;
    }
    if (directoryCount > kDelayImportDirectory &&
        in_.U32(directories + 8 * kDelayImportDirectory, &rva) && rva != 0 &&
        !ReadDelayImports(rva)) {
      return false;
    }
    return true;
  }

 private:
  bool Fail(const std::string& what) {
    *error_ = what;
    return false;
  }

  bool ReadImageBase(uint64_t optional) {
    if (image_->pe32Plus) return in_.U64(optional + 24, &imageBase_);
    uint32_t base = 0;
    if (!in_.U32(optional + 28, &base)) return false;
    imageBase_ = base;
    return true;
  }

  // The file offset of a relative virtual address, inside a section's bytes.
  bool Offset(uint64_t rva, uint64_t* offset) const {
    for (const Section& section : sections_) {
      uint64_t span = std::max(section.virtualSize, section.rawSize);
      if (rva >= section.virtualAddress && rva < section.virtualAddress + span) {
        uint64_t within = rva - section.virtualAddress;
        if (within >= section.rawSize) return false;
        *offset = section.rawOffset + within;
        return *offset < in_.size();
      }
    }
    return false;
  }

  bool NameAt(uint64_t rva, std::string* name) {
    uint64_t offset = 0;
    return Offset(rva, &offset) && in_.Name(offset, name);
  }

  // The names (or ordinals) of one library's lookup table.
  bool ReadThunks(const std::string& dll, uint64_t tableRva, bool delayed) {
    const uint64_t width = image_->pe32Plus ? 8 : 4;
    const uint64_t ordinalFlag = image_->pe32Plus ? (1ull << 63) : (1ull << 31);
    for (size_t i = 0;; ++i) {
      if (i >= kMaxFunctionsPerLibrary) return Fail("the imports of " + dll + " do not end");
      uint64_t offset = 0, thunk = 0;
      if (!Offset(tableRva + width * i, &offset)) {
        return Fail("the import table of " + dll + " lies outside the file");
      }
      if (image_->pe32Plus) {
        if (!in_.U64(offset, &thunk)) return Fail("the import table of " + dll + " is cut off");
      } else {
        uint32_t value = 0;
        if (!in_.U32(offset, &value)) return Fail("the import table of " + dll + " is cut off");
        thunk = value;
      }
      if (thunk == 0) return true;
      ImportedFunction function{dll, "", delayed};
      if (thunk & ordinalFlag) {
        function.function = "#" + std::to_string(thunk & 0xffff);
      } else if (!NameAt((thunk & 0x7fffffff) + 2, &function.function)) {
        return Fail("an imported name of " + dll + " is unreadable");
      }
      image_->functions.push_back(function);
    }
  }

  bool ReadImports(uint32_t directoryRva) {
    for (size_t i = 0;; ++i) {
      if (i >= kMaxLibraries) return Fail("the import directory does not end");
      uint64_t at = 0;
      uint32_t lookup = 0, nameRva = 0, addresses = 0;
      if (!Offset(directoryRva + 20ull * i, &at) || !in_.U32(at, &lookup) ||
          !in_.U32(at + 12, &nameRva) || !in_.U32(at + 16, &addresses)) {
        return Fail("the import directory lies outside the file");
      }
      if (lookup == 0 && nameRva == 0 && addresses == 0) return true;
      std::string dll;
      if (!NameAt(nameRva, &dll)) return Fail("an imported library's name is unreadable");
      // Linkers that leave out the lookup table keep the names in the address table.
      if (!ReadThunks(dll, lookup != 0 ? lookup : addresses, false)) return false;
    }
  }

  bool ReadDelayImports(uint32_t directoryRva) {
    for (size_t i = 0;; ++i) {
      if (i >= kMaxLibraries) return Fail("the delay-load directory does not end");
      uint64_t at = 0;
      uint32_t attributes = 0, nameRva = 0, names = 0;
      if (!Offset(directoryRva + 32ull * i, &at) || !in_.U32(at, &attributes) ||
          !in_.U32(at + 4, &nameRva) || !in_.U32(at + 16, &names)) {
        return Fail("the delay-load directory lies outside the file");
      }
      if (nameRva == 0 && names == 0) return true;
      // Old tables hold addresses instead of relative ones.
      uint64_t bias = (attributes & 1) ? 0 : imageBase_;
      std::string dll;
      if (nameRva < bias || !NameAt(nameRva - bias, &dll)) {
        return Fail("a delay-loaded library's name is unreadable");
      }
      if (names < bias || !ReadThunks(dll, names - bias, true)) {
        if (error_->empty()) Fail("the delay-load table of " + dll + " is unreadable");
        return false;
      }
    }
  }

  Reader in_;
  PeImage* image_;
  std::string* error_;
  std::vector<Section> sections_;
  uint64_t imageBase_ = 0;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

const std::set<std::string>& NinetyXValues() {
  static const std::set<std::string> values{"95", "95u", "98", "me", "stub", "no"};
  return values;
}

// NT versions up to 4.0 SP6a load the program; the rest are later systems.
bool NtLoads(const std::string& nt) {
  if (nt == "3.1" || nt == "3.5" || nt == "3.51" || nt == "4.0") return true;
  if (nt.rfind("4.0sp", 0) == 0 && nt.size() == 6 && nt[5] >= '1' && nt[5] <= '6') return true;
  return nt == "4.0sp6a";
}

bool NtKnown(const std::string& nt) {
  static const std::set<std::string> later{"2000", "xp", "2003", "vista", "7", "8", "10", "stub", "no"};
  return NtLoads(nt) || later.count(nt) > 0;
}

bool Handled(const WindowsFunction& function) {
  return function.note.rfind("handled:", 0) == 0 && function.note.size() > 9;
}

std::string Describe(const ImportedFunction& function) {
  return function.dll + "!" + function.function + (function.delayed ? " (delay-loaded)" : "");
}

}  // namespace

bool ReadPeImage(const std::vector<uint8_t>& bytes, PeImage* image, std::string* error) {
  error->clear();
  PeImage read;
  ImageReader reader(bytes, &read, error);
  if (!reader.Read()) return false;
  *image = std::move(read);
  return true;
}

bool ReadPeFile(const std::string& path, PeImage* image, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = path + ": cannot be read";
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!ReadPeImage(bytes, image, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

bool FunctionList::Parse(const std::string& text, std::string* error) {
  functions_.clear();
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream fields(line);
    std::string dll, function;
    WindowsFunction entry;
    entry.line = number;
    if (!(fields >> dll) || dll[0] == '#') continue;
    auto fault = [&](const std::string& what) {
      *error = "line " + std::to_string(number) + ": " + what;
      functions_.clear();
      return false;
    };
    if (!(fields >> function >> entry.ninetyX >> entry.nt)) {
      return fault("needs a DLL, a function, the oldest Windows 9x and the oldest Windows NT");
    }
    entry.ninetyX = Lower(entry.ninetyX);
    entry.nt = Lower(entry.nt);
    if (!NinetyXValues().count(entry.ninetyX)) return fault("unknown Windows 9x \"" + entry.ninetyX + "\"");
    if (!NtKnown(entry.nt)) return fault("unknown Windows NT \"" + entry.nt + "\"");
    std::getline(fields >> std::ws, entry.note);
    if ((entry.ninetyX == "stub" || entry.nt == "stub") && !entry.note.empty() &&
        entry.note.rfind("handled:", 0) != 0) {
      return fault("a stub's note starts with \"handled:\"");
    }
    std::string key = Lower(dll) + "!" + function;
    if (!functions_.emplace(key, entry).second) return fault(dll + "!" + function + " is listed twice");
  }
  return true;
}

bool FunctionList::Load(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = path + ": cannot be read";
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!Parse(text.str(), error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

const WindowsFunction* FunctionList::Find(const std::string& dll, const std::string& function) const {
  auto found = functions_.find(Lower(dll) + "!" + function);
  return found == functions_.end() ? nullptr : &found->second;
}

std::vector<std::string> CheckImage(const PeImage& image, const FunctionList& list) {
  std::vector<std::string> problems;
  if (image.subsystemMajor != 4 || image.subsystemMinor != 0) {
    problems.push_back("subsystem version " + std::to_string(image.subsystemMajor) + "." +
                       std::to_string(image.subsystemMinor) +
                       " instead of 4.0: Windows 95 and NT 4.0 refuse a later one");
  }
  for (const ImportedFunction& imported : image.functions) {
    const WindowsFunction* known = list.Find(imported.dll, imported.function);
    if (!known) {
      problems.push_back(Describe(imported) +
                         ": not in the list; add it with its oldest Windows 9x and NT");
      continue;
    }
    const std::string& nx = known->ninetyX;
    if (nx == "stub") {
      if (!Handled(*known)) {
        problems.push_back(Describe(imported) +
                           ": Windows 9x exports it only to fail, and its failure is not handled");
      }
    } else if (nx != "95" && nx != "95u") {
      problems.push_back(Describe(imported) + ": missing on Windows 95 (oldest 9x: " + nx +
                         "); look it up at run time");
    }
    if (known->nt == "stub") {
      if (!Handled(*known)) {
        problems.push_back(Describe(imported) +
                           ": Windows NT exports it only to fail, and its failure is not handled");
      }
    } else if (!NtLoads(known->nt)) {
      problems.push_back(Describe(imported) + ": missing on Windows NT 4.0 SP6a (oldest NT: " +
                         known->nt + "); look it up at run time");
    }
  }
  return problems;
}

}  // namespace imports
