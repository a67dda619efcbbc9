// Which Windows a program loads on, read from its file: the import table of a
// PE image and the PE header's subsystem version, checked against a list of
// Windows functions with the oldest Windows of each family that exports them
// (windows_functions.txt). Windows refuses to start a program when one
// imported function is missing from its DLL, so a program may import only
// what every system it claims exports; newer functions are looked up at run
// time (GetProcAddress) instead.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace imports {

struct ImportedFunction {
  std::string dll;       // as the image names it ("KERNEL32.dll")
  std::string function;  // the name, or "#<ordinal>" for an import by ordinal
  bool delayed = false;  // from the delay-load table
};

struct PeImage {
  uint16_t machine = 0;  // 0x14c i386, 0x8664 x86-64
  bool pe32Plus = false;
  uint16_t subsystem = 0;
  uint16_t subsystemMajor = 0, subsystemMinor = 0;
  std::vector<ImportedFunction> functions;
};

// Reads the headers and the import tables (the ordinary and the delay-load
// one) of a PE image. Returns false with a message naming what is wrong when
// the bytes are not a PE image or a table points outside the file.
bool ReadPeImage(const std::vector<uint8_t>& bytes, PeImage* image, std::string* error);
bool ReadPeFile(const std::string& path, PeImage* image, std::string* error);

// One function of the list: the oldest Windows 9x ("95", "95u" for Windows 95
// with the common updates, "98", "Me", "stub" when 9x exports it only to
// fail, "no") and the oldest Windows NT ("3.1", "3.5", "3.51", "4.0",
// "4.0sp<n>", "2000", "XP", "2003", "Vista", "7", "stub", "no") that export it.
struct WindowsFunction {
  std::string ninetyX;
  std::string nt;
  std::string note;  // "handled: ..." says how a program copes with a stub
  int line = 0;
};

class FunctionList {
 public:
  // Reads "DLL FUNCTION 9X NT [NOTE...]" lines; "#" starts a comment line.
  // Returns false with the line and the fault when a line is malformed,
  // names an unknown version or repeats a function.
  bool Parse(const std::string& text, std::string* error);
  bool Load(const std::string& path, std::string* error);
  // Null when the list does not hold the function (names compare without
  // regard to case for the DLL, exactly for the function).
  const WindowsFunction* Find(const std::string& dll, const std::string& function) const;
  size_t size() const { return functions_.size(); }

 private:
  std::map<std::string, WindowsFunction> functions_;  // key: lower-case dll + "!" + function
};

// The problems of one image against the list, one sentence each: a function
// the list lacks, a function Windows 95 (with its common updates), 98 or NT
// 4.0 SP6a does not export, a stub whose failure is not handled, a subsystem
// version other than 4.0. Empty when the image loads on all of them.
std::vector<std::string> CheckImage(const PeImage& image, const FunctionList& list);

}  // namespace imports
