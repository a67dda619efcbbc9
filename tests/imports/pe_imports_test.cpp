// The import-table reader and the check against the list, on PE images made
// here byte by byte (PE32 and PE32+, named and ordinal imports, the
// delay-load table), and the repository's own list on the functions it must
// let through and those it must refuse.
#include <gtest/gtest.h>

#include <cstring>

#include "pe_imports.h"

namespace {

using imports::CheckImage;
using imports::FunctionList;
using imports::PeImage;
using imports::ReadPeImage;

// One library and the functions imported from it ("#n" for an ordinal).
struct Library {
  std::string name;
  std::vector<std::string> functions;
  bool delayed = false;
};

// A PE image with one section holding the import tables, laid out as a
// linker lays them out: descriptors, lookup tables, names.
class PeBuilder {
 public:
  explicit PeBuilder(bool pe32Plus = false) : pe32Plus_(pe32Plus) {}
  PeBuilder& Import(Library library) {
    libraries_.push_back(std::move(library));
    return *this;
  }
  PeBuilder& Subsystem(uint16_t major, uint16_t minor) {
    major_ = major;
    minor_ = minor;
    return *this;
  }

  std::vector<uint8_t> Build() const {
    const uint32_t kSectionRva = 0x1000, kSectionOffset = 0x400;
    const uint32_t width = pe32Plus_ ? 8 : 4;
    std::vector<const Library*> plain, delayed;
    for (const Library& library : libraries_) (library.delayed ? delayed : plain).push_back(&library);

    // The section's contents: descriptor tables first, then the rest.
    std::vector<uint8_t> section((plain.size() + 1) * 20 + (delayed.size() + 1) * 32, 0);
    const uint32_t delayedTable = static_cast<uint32_t>((plain.size() + 1) * 20);
    auto append = [&](const void* data, size_t size) {
      uint32_t at = static_cast<uint32_t>(section.size());
      const auto* bytes = static_cast<const uint8_t*>(data);
      section.insert(section.end(), bytes, bytes + size);
      return kSectionRva + at;
    };
    auto appendName = [&](const std::string& name, bool hint) {
      std::string bytes = (hint ? std::string(2, '\0') : std::string()) + name + '\0';
      if (bytes.size() % 2) bytes.push_back('\0');
      return append(bytes.data(), bytes.size());
    };
    auto appendThunks = [&](const Library& library) {
      std::vector<uint64_t> thunks;
      for (const std::string& function : library.functions) {
        if (function[0] == '#') {
          uint64_t flag = pe32Plus_ ? (1ull << 63) : (1ull << 31);
          thunks.push_back(flag | std::stoul(function.substr(1)));
        } else {
          thunks.push_back(appendName(function, true));
        }
      }
      thunks.push_back(0);
      uint32_t table = kSectionRva + static_cast<uint32_t>(section.size());
      for (uint64_t thunk : thunks) append(&thunk, width);
      return table;
    };
    auto put32 = [&](uint32_t offset, uint32_t value) { std::memcpy(&section[offset], &value, 4); };
    for (size_t i = 0; i < plain.size(); ++i) {
      uint32_t name = appendName(plain[i]->name, false);
      uint32_t table = appendThunks(*plain[i]);
      put32(static_cast<uint32_t>(i * 20), table);
      put32(static_cast<uint32_t>(i * 20 + 12), name);
      put32(static_cast<uint32_t>(i * 20 + 16), table);
    }
    for (size_t i = 0; i < delayed.size(); ++i) {
      uint32_t at = delayedTable + static_cast<uint32_t>(i * 32);
      uint32_t name = appendName(delayed[i]->name, false);
      uint32_t table = appendThunks(*delayed[i]);
      put32(at, 1);  // relative addresses
      put32(at + 4, name);
      put32(at + 12, table);
      put32(at + 16, table);
    }

    const uint32_t optionalSize = pe32Plus_ ? 240 : 224;
    std::vector<uint8_t> image(kSectionOffset, 0);
    auto put16 = [&](uint32_t offset, uint16_t value) { std::memcpy(&image[offset], &value, 2); };
    auto put = [&](uint32_t offset, uint32_t value) { std::memcpy(&image[offset], &value, 4); };
    image[0] = 'M';
    image[1] = 'Z';
    put(0x3c, 0x40);
    std::memcpy(&image[0x40], "PE\0\0", 4);
    const uint32_t coff = 0x44, optional = coff + 20;
    put16(coff, pe32Plus_ ? 0x8664 : 0x14c);
    put16(coff + 2, 1);
    put16(coff + 16, static_cast<uint16_t>(optionalSize));
    put16(optional, pe32Plus_ ? 0x20b : 0x10b);
    put(optional + (pe32Plus_ ? 24 : 28), 0x400000);
    put16(optional + 48, major_);
    put16(optional + 50, minor_);
    put16(optional + 68, 2);
    put(optional + (pe32Plus_ ? 108 : 92), 16);
    const uint32_t directories = optional + (pe32Plus_ ? 112 : 96);
    if (!plain.empty()) put(directories + 8, kSectionRva);
    if (!delayed.empty()) put(directories + 8 * 13, kSectionRva + delayedTable);
    const uint32_t header = optional + optionalSize;
    std::memcpy(&image[header], ".idata\0", 8);
    put(header + 8, static_cast<uint32_t>(section.size()));
    put(header + 12, kSectionRva);
    put(header + 16, static_cast<uint32_t>(section.size()));
    put(header + 20, kSectionOffset);
    image.insert(image.end(), section.begin(), section.end());
    return image;
  }

 private:
  bool pe32Plus_;
  uint16_t major_ = 4, minor_ = 0;
  std::vector<Library> libraries_;
};

std::vector<std::string> Names(const PeImage& image) {
  std::vector<std::string> names;
  for (const auto& function : image.functions) {
    names.push_back(function.dll + "!" + function.function + (function.delayed ? " delayed" : ""));
  }
  return names;
}

FunctionList RepositoryList() {
  FunctionList list;
  std::string error;
  EXPECT_TRUE(list.Load(ZT_IMPORT_LIST, &error)) << error;
  return list;
}

// The problems of an image against a list, as one text for the assertions.
std::string Problems(const std::vector<uint8_t>& bytes, const FunctionList& list) {
  PeImage image;
  std::string error;
  EXPECT_TRUE(ReadPeImage(bytes, &image, &error)) << error;
  std::string text;
  for (const std::string& problem : CheckImage(image, list)) text += problem + "\n";
  return text;
}

TEST(PeImports, ReadsNamedOrdinalAndDelayedImportsOfBothImageKinds) {
  for (bool pe32Plus : {false, true}) {
    SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
    std::vector<uint8_t> bytes = PeBuilder(pe32Plus)
                                     .Import({"KERNEL32.dll", {"GetTickCount", "Sleep"}})
                                     .Import({"COMCTL32.dll", {"#17"}})
                                     .Import({"PSAPI.DLL", {"EnumProcessModules"}, true})
                                     .Subsystem(5, 1)
                                     .Build();
    PeImage image;
    std::string error;
    ASSERT_TRUE(ReadPeImage(bytes, &image, &error)) << error;
    EXPECT_EQ(image.pe32Plus, pe32Plus);
    EXPECT_EQ(image.machine, pe32Plus ? 0x8664 : 0x14c);
    EXPECT_EQ(image.subsystemMajor, 5);
    EXPECT_EQ(image.subsystemMinor, 1);
    EXPECT_EQ(Names(image),
              (std::vector<std::string>{"KERNEL32.dll!GetTickCount", "KERNEL32.dll!Sleep",
                                        "COMCTL32.dll!#17", "PSAPI.DLL!EnumProcessModules delayed"}));
  }
}

TEST(PeImports, TheListLetsThroughWhatWindows95And98AndNt4ExportAndRefusesTheRest) {
  FunctionList list = RepositoryList();
  std::string problems = Problems(
      PeBuilder()
          .Import({"KERNEL32.dll", {"GetTickCount", "GetModuleHandleW", "GetLongPathNameA",
                                    "GetModuleHandleExA", "IsDebuggerPresent", "FrobnicateW"}})
          .Import({"advapi32.dll", {"RegRestoreKeyA", "RegOpenKeyExA"}})
          .Import({"msvcrt.dll", {"_vsnprintf", "_vscprintf"}})
          .Import({"PSAPI.DLL", {"EnumProcessModules"}})
          .Import({"USER32.dll", {"#17"}})
          .Build(),
      list);
  // Each refused function once per missing family, nothing else.
  EXPECT_EQ(problems,
            "KERNEL32.dll!GetLongPathNameA: missing on Windows 95 (oldest 9x: 98); look it up at "
            "run time\n"
            "KERNEL32.dll!GetLongPathNameA: missing on Windows NT 4.0 SP6a (oldest NT: 2000); "
            "look it up at run time\n"
            "KERNEL32.dll!GetModuleHandleExA: missing on Windows 95 (oldest 9x: no); look it up "
            "at run time\n"
            "KERNEL32.dll!GetModuleHandleExA: missing on Windows NT 4.0 SP6a (oldest NT: xp); "
            "look it up at run time\n"
            "KERNEL32.dll!IsDebuggerPresent: missing on Windows 95 (oldest 9x: 98); look it up "
            "at run time\n"
            "KERNEL32.dll!FrobnicateW: not in the list; add it with its oldest Windows 9x and NT\n"
            "msvcrt.dll!_vscprintf: missing on Windows 95 (oldest 9x: no); look it up at run "
            "time\n"
            "msvcrt.dll!_vscprintf: missing on Windows NT 4.0 SP6a (oldest NT: xp); look it up "
            "at run time\n"
            "PSAPI.DLL!EnumProcessModules: missing on Windows 95 (oldest 9x: no); look it up at "
            "run time\n"
            "USER32.dll!#17: not in the list; add it with its oldest Windows 9x and NT\n");
}

TEST(PeImports, AStubCountsAsMissingUnlessItsFailureIsHandled) {
  FunctionList list;
  std::string error;
  ASSERT_TRUE(list.Parse("# a comment\n"
                         "KERNEL32.dll CreateSemaphoreW stub 3.1\n"
                         "KERNEL32.dll LoadLibraryW     stub 3.1 handled: called after a lookup "
                         "that fails first on 9x\n"
                         "kernel32.dll GetTickCount     95   3.1\r\n",
                         &error))
      << error;
  EXPECT_EQ(list.size(), 3u);
  EXPECT_EQ(Problems(PeBuilder()
                         .Import({"KERNEL32.DLL", {"CreateSemaphoreW", "LoadLibraryW", "GetTickCount"}})
                         .Build(),
                     list),
            "KERNEL32.DLL!CreateSemaphoreW: Windows 9x exports it only to fail, and its failure "
            "is not handled\n");
}

TEST(PeImports, TheSubsystemVersionStays40) {
  FunctionList list;
  std::string error;
  ASSERT_TRUE(list.Parse("USER32.dll MessageBoxA 95 3.1\n", &error)) << error;
  EXPECT_EQ(Problems(PeBuilder().Import({"USER32.dll", {"MessageBoxA"}}).Build(), list), "");
  EXPECT_EQ(Problems(PeBuilder().Import({"USER32.dll", {"MessageBoxA"}}).Subsystem(5, 1).Build(), list),
            "subsystem version 5.1 instead of 4.0: Windows 95 and NT 4.0 refuse a later one\n");
}

TEST(PeImports, AMalformedListIsRefusedWithItsLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"KERNEL32.dll Sleep 95\n", "line 1: needs a DLL, a function, the oldest Windows 9x and the oldest Windows NT"},
      {"\nKERNEL32.dll Sleep 96 3.1\n", "line 2: unknown Windows 9x \"96\""},
      {"KERNEL32.dll Sleep 95 4.5\n", "line 1: unknown Windows NT \"4.5\""},
      {"KERNEL32.dll Sleep 95 3.1\nkernel32.DLL Sleep 95 3.1\n", "line 2: kernel32.DLL!Sleep is listed twice"},
      {"KERNEL32.dll GetModuleHandleW stub 3.1 it fails\n", "line 1: a stub's note starts with \"handled:\""},
  };
  for (const auto& c : cases) {
    FunctionList list;
    std::string error;
    EXPECT_FALSE(list.Parse(c.text, &error)) << c.text;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(list.size(), 0u);
  }
}

TEST(PeImports, ACutOrCorruptImageIsRefusedWithoutReadingPastIt) {
  std::vector<uint8_t> bytes =
      PeBuilder().Import({"KERNEL32.dll", {"GetTickCount", "Sleep"}}).Build();
  PeImage image;
  std::string error;
  ASSERT_TRUE(ReadPeImage(bytes, &image, &error)) << error;
  // Every shorter prefix: the last lookup table ends the file.
  for (size_t length = 0; length < bytes.size(); ++length) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
    EXPECT_FALSE(ReadPeImage(cut, &image, &error)) << "cut at " << length;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_FALSE(ReadPeImage(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 0x80), &image, &error));
  EXPECT_EQ(error, "the optional header is cut off");

  // The import directory pointing past every section.
  std::vector<uint8_t> outside = bytes;
  const uint32_t far = 0x7fff0000;
  std::memcpy(&outside[0x44 + 20 + 96 + 8], &far, 4);
  EXPECT_FALSE(ReadPeImage(outside, &image, &error));
  EXPECT_EQ(error, "the import directory lies outside the file");

  // A library name that never ends: the file's last bytes made printable.
  std::vector<uint8_t> unterminated = bytes;
  for (size_t i = 0x400 + 40; i < unterminated.size(); ++i) unterminated[i] = 'A';
  EXPECT_FALSE(ReadPeImage(unterminated, &image, &error));
  EXPECT_EQ(error, "an imported library's name is unreadable");

  EXPECT_FALSE(ReadPeImage(std::vector<uint8_t>{'M', 'Z'}, &image, &error));
  EXPECT_EQ(error, "no PE header");
}

}  // namespace
