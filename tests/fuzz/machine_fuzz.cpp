// The machine description: any bytes give a machine or an error message that
// names the source, and a machine that loads writes itself out as a
// description that loads again and writes out the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_check.h"
#include "platform/sim/sim_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::unique_ptr<SimMachine> machine = SimMachine::FromJson(text, "input", &error);
  if (!machine) {
    FUZZ_CHECK(error.rfind("input: ", 0) == 0);
    FUZZ_CHECK(error.size() > sizeof("input: ") - 1);
    return 0;
  }
  const std::string written = machine->ToJson();
  std::string again;
  std::unique_ptr<SimMachine> reloaded = SimMachine::FromJson(written, "written", &again);
  if (!reloaded) {
    fprintf(stderr, "written description does not load: %s\n%s\n", again.c_str(),
            written.c_str());
    FUZZ_CHECK(reloaded);
  }
  FUZZ_CHECK(reloaded->ToJson() == written);
  return 0;
}
