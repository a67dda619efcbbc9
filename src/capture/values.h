// The capture's values in the forms of the machine format: texts in UTF-8
// from the machine's ANSI code page (and back), registry data as the
// "registry" section writes it, bytes as hex.
#pragma once

#include <string>

#include "capture/json_text.h"
#include "platform/environment.h"

namespace capture {

// Texts between the machine's ANSI code page and the description's UTF-8,
// converted as the machine converts them.
class MachineText {
 public:
  explicit MachineText(Environment& environment) : environment_(environment) {}
  // A text that does not convert keeps its ASCII characters, '?' for the rest.
  std::string Utf8(const std::string& ansi) const;
  // The ANSI text; the UTF-8 text itself when the code page has no such text.
  std::string FromUtf8(const std::string& utf8) const;

 private:
  Environment& environment_;
};

// A registry value's data: a string, a DWORD number, or an object with its
// type and "data" or (whatever does not read back to the same bytes) "hex".
JsonValue RegistryData(DWORD type, const std::string& bytes, const MachineText& texts);

// "01 ab ..": the bytes in hex, separated by blanks.
std::string Hex(const std::string& bytes);

}  // namespace capture
