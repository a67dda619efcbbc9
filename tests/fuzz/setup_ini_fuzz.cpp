// setup.ini: any bytes as the medium's setup.ini give profile strings that fit
// the caller's buffer and report their length, and a package description
// whose flags and texts stay in range.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/setup_app.h"
#include "fuzz_check.h"
#include "platform/sim/sim_machine.h"
#include "ui/sim/sim_front_end.h"

namespace {

const char* const kKeys[] = {"Version", "Description", "PackageType", "TargetOS", "", " version "};
const DWORD kSizes[] = {0, 1, 2, 8, 256, 4096};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<SimMachine> machine = SimMachine::Default();
  FUZZ_CHECK(machine);
  ListAnswers answers;
  SimFrontEnd frontEnd(machine->clock(), answers);
  CSetupApp app(*machine, frontEnd);
  CSetupContext& context = app.context();
  const std::string path = context.setupDir + "\\setup.ini";
  FileSystem& files = machine->files();
  FUZZ_CHECK(files.WriteFile(path, std::string(reinterpret_cast<const char*>(data), size)) ==
             ERROR_SUCCESS);

  for (const char* section : {"Setup", "setup", ""}) {
    for (const char* key : kKeys) {
      for (DWORD bufferSize : kSizes) {
        std::string value = "unchanged";
        const DWORD copied =
            files.GetPrivateProfileString(section, key, "fallback", &value, bufferSize, path);
        if (bufferSize == 0) {
          FUZZ_CHECK(copied == 0);
          continue;
        }
        FUZZ_CHECK(copied == value.size());
        FUZZ_CHECK(value.size() <= bufferSize - 1);
      }
    }
  }

  context.ReadPackageInfo();
  FUZZ_CHECK(context.packageVersion.size() <= 255);
  FUZZ_CHECK(context.packageDescription.size() <= 255);
  FUZZ_CHECK(context.packageIsCD == 0 || context.packageIsCD == 1);
  FUZZ_CHECK(context.packageTargetOS >= 0 && context.packageTargetOS <= 2);
  FUZZ_CHECK(!context.FormatPackageDescription().empty());
  return 0;
}
