// The command line: any bytes parse, only the first 511 characters count,
// and the results keep their rules: flags are 0 or 1, a clean-up directory is
// set exactly when clean-up is, is the verbatim end of the line without its
// leading spaces, and is marked cut only when the line was.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/setup_app.h"
#include "fuzz_check.h"
#include "platform/sim/sim_machine.h"
#include "ui/sim/sim_front_end.h"

namespace {

constexpr size_t kKept = 511;

struct Result {
  int resume, step, language, cleanup, cut;
  std::string dir;
  bool operator==(const Result&) const = default;
};

Result Parse(const std::string& line) {
  std::unique_ptr<SimMachine> machine = SimMachine::Default();
  FUZZ_CHECK(machine);
  ListAnswers answers;
  SimFrontEnd frontEnd(machine->clock(), answers);
  CSetupApp app(*machine, frontEnd);
  app.ParseCommandLine(line);
  return Result{app.m_bResume,  app.m_nResumeStep,     app.g_languageId,
                app.m_bCleanup, app.m_bCleanupDirCut, app.m_strCleanupDir};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::string kept = line.substr(0, kKept);
  const Result r = Parse(line);

  FUZZ_CHECK(r.resume == 0 || r.resume == 1);
  FUZZ_CHECK(r.cleanup == 0 || r.cleanup == 1);
  FUZZ_CHECK(r.cut == 0 || r.cut == 1);
  if (!r.resume) FUZZ_CHECK(r.step == 0);

  if (r.cleanup) {
    FUZZ_CHECK(!r.dir.empty());
    FUZZ_CHECK(r.dir.front() != ' ');
    FUZZ_CHECK(r.dir.size() <= kept.size());
    FUZZ_CHECK(kept.compare(kept.size() - r.dir.size(), r.dir.size(), r.dir) == 0);
    FUZZ_CHECK(r.cut == (line.size() > kept.size() ? 1 : 0));
  } else {
    FUZZ_CHECK(r.dir.empty());
    FUZZ_CHECK(r.cut == 0);
  }

  // A line without a switch changes nothing.
  if (kept.find('/') == std::string::npos) FUZZ_CHECK(r == Result{});
  // What lies past the kept characters is never seen.
  if (line.size() > kept.size()) {
    Result same = Parse(kept);
    same.cut = r.cut;
    FUZZ_CHECK(same == r);
  }
  return 0;
}
