// The contract suite's machine natively: the embedded default machine, or the
// machine description ZT_CONTRACT_MACHINE names (the suite runs again on a
// Windows 98 machine, see CMakeLists.txt), with a scratch folder under its temporary directory and a scratch key under
// HKEY_CURRENT_USER\Software\ZentavoContract. COM is initialised for the
// machine's lifetime, as on Windows.
#include "contract/contract_machine.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/sim/sim_machine.h"

namespace {

class SimContractMachine : public ContractMachine {
 public:
  SimContractMachine() : machine_(Described()) {
    static int counter = 0;
    std::string unique = std::to_string(++counter);
    std::string temp;
    machine_->environment().GetTempPath(&temp);
    temp.pop_back();
    scratchDir_ = temp + "\\ZentavoContract-" + unique;
    machine_->files().CreateDirectory(scratchDir_);
    scratchKey_ = "Software\\ZentavoContract\\" + unique;
    machine_->com().CoInitialize();
  }
  ~SimContractMachine() override { machine_->com().CoUninitialize(); }

  Machine& machine() override { return *machine_; }

  static std::unique_ptr<SimMachine> Described() {
    const char* path = std::getenv("ZT_CONTRACT_MACHINE");
    if (!path || !*path) return SimMachine::Default();
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    std::unique_ptr<SimMachine> machine = SimMachine::FromJson(text.str(), path, &error);
    if (!machine) {
      std::fprintf(stderr, "ZT_CONTRACT_MACHINE: %s\n", error.c_str());
      std::abort();
    }
    return machine;
  }
  std::string scratchDir() override { return scratchDir_; }
  std::string scratchKey() override { return scratchKey_; }
  bool simulated() const override { return true; }

 private:
  std::unique_ptr<SimMachine> machine_;
  std::string scratchDir_;
  std::string scratchKey_;
};

}  // namespace

std::unique_ptr<ContractMachine> MakeContractMachine() {
  return std::make_unique<SimContractMachine>();
}
