// The language file: any bytes as "D:\SetupLanguages.xml" on the default
// machine load or fail, and afterwards every string id looks up without fault,
// in each of the eight languages, language 0 and an unknown one in turn: a
// text or the marker for ids 0 to 78, nothing for the others.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "lang/language_strings.h"
#include "platform/sim/sim_machine.h"

namespace {

// The loader's reports go nowhere: a fuzz run would print one per input.
class QuietStrings : public CLanguageStrings {
 public:
  using CLanguageStrings::CLanguageStrings;
  void Report(const char*, ...) override {}
};

const int kLanguages[] = {0, 1033, 2057, 1031, 1034, 1036, 1040, 1041, 2070, -1};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char kPath[] = "D:\\SetupLanguages.xml";
  std::unique_ptr<SimMachine> machine = SimMachine::Default();
  FUZZ_CHECK(machine);
  FUZZ_CHECK(machine->files().WriteFile(
                 kPath, std::string(reinterpret_cast<const char*>(data), size)) == ERROR_SUCCESS);

  QuietStrings strings(machine->environment());
  strings.Load(machine->xml(), kPath);

  // Every id once, the languages taken in turn (each look-up converts through
  // the code page, which is what makes a run slow).
  int current = 0;
  strings.BindCurrentLanguage(&current);
  constexpr int kLanguageCount = sizeof(kLanguages) / sizeof(kLanguages[0]);
  for (int id = -2; id <= kStringKeyCount + 1; ++id) {
    current = kLanguages[(id + 2) % kLanguageCount];
    const bool known = id >= 0 && id < kStringKeyCount;
    const std::u16string* text = strings.LookupText(id, current);
    FUZZ_CHECK((text != nullptr) == known);
    const std::string ansi = strings.GetText(id);
    if (!known) FUZZ_CHECK(ansi.empty());
    if (text != nullptr && text->empty()) FUZZ_CHECK(ansi.empty());
  }
  return 0;
}
