// Fault injection: the calls the setup makes through the seam, counted by
// operation ("Registry.SetValue", "FileSystem.Copy"), and failed where the
// machine's "faults" say: the N-th call of an operation fails with a given
// Win32 error, or the power goes at it. Every service the machine hands out
// through the Machine interface passes this one gate first; the simulation's
// own programs (Windows Installer and the others) reach the services directly
// and are never failed or counted.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/sim/sim_json.h"

// One planned fault: the `call`-th call (from 1) of `operation` ("*": of any
// fault point) fails with `error`, or, with `powerCut`, the machine loses its
// power there: that call and every later one does nothing and fails with
// ERROR_NOT_READY, and the run ends at its next turn of the message loop.
struct SimFault {
  std::string operation;
  uint64_t call = 0;
  DWORD error = 0;
  bool powerCut = false;
  // When given, only the calls that name this path (compared without regard
  // to case) are counted for the fault: "the 2nd piece read of D:\\x.msi".
  std::string path;
  uint64_t pathCalls = 0;
  // Another program writes a file at that call (the call itself goes on):
  // `plantPath` with `plantFile` in the form of the "files" section.
  std::string plantPath;
  SimJson plantFile;
  // The program first renames the folder that holds `plantPath` away and
  // makes a new one of the same name, as a user who may delete inside the
  // folder's parent can (NT 4.0's C:\TEMP grants that to everyone).
  bool plantReplacesFolder = false;
  bool fired = false;
};

// A call through the seam while the setup ran, in order.
struct SimSeamCall {
  std::string operation;  // "Registry.SetValue"
  std::string detail;     // what it names: key, value, path, command line, text
  bool faultPoint = false;
  bool failed = false;  // failed by a planned fault or the power cut
};

class SimFaults {
 public:
  // The operations that can be failed, in the names the description uses.
  static const std::vector<std::string>& FaultPoints();
  static bool IsFaultPoint(const std::string& operation);

  // The "faults" member of the machine format.
  bool Load(const SimJson& section, const std::string& pointer, std::string* error);
  // The faults still to come, their calls counted from now on, so that a
  // machine written back goes on from here. Empty when none are left.
  SimJson ToJson() const;
  bool HasPlan() const;
  void Plan(const SimFault& fault) { planned_.push_back(fault); }

  // Calls are counted, traced and failed only while the setup program runs;
  // the rehearsal's own look at the machine (the runner, the tests) is not.
  void Arm(bool armed) { armed_ = armed; }
  bool armed() const { return armed_; }

  // The gate: 0 when the call goes on, else the error it fails with.
  // Operations that are no fault points pass unless the power is off.
  DWORD Check(const char* operation, const std::string& detail);
  // True when the power went off during this run (the run must end).
  bool powerCut() const { return poweredOff_; }
  // The machine boots again after a power cut (or a restart that ended the setup).
  void PowerOn() {
    poweredOff_ = false;
    halted_ = false;
  }
  // Windows ended the setup (it did not answer a restart that another
  // program made): its later calls do nothing and fail with ERROR_NOT_READY.
  void Halt() { halted_ = true; }
  // Told once, when the power goes.
  void SetPowerCutHandler(std::function<void()> handler) { onPowerCut_ = std::move(handler); }
  // Writes a planted file when its call comes (the machine's); what became
  // of each plant is in plants(): "planted PATH" or "refused PATH: why".
  void SetPlantHandler(std::function<std::string(const SimFault&)> handler) {
    onPlant_ = std::move(handler);
  }
  const std::vector<std::string>& plants() const { return plants_; }

  void SetTracing(bool tracing) { tracing_ = tracing; }
  const std::vector<SimSeamCall>& trace() const { return trace_; }
  // Fault-point calls made so far, of one operation or ("*") of all.
  uint64_t Calls(const std::string& operation) const;
  // The planned faults that have fired, in the order they fired.
  const std::vector<SimFault>& fired() const { return fired_; }

 private:
  std::vector<SimFault> planned_;
  std::vector<SimFault> fired_;
  std::map<std::string, uint64_t> calls_;
  uint64_t anyCalls_ = 0;
  std::vector<SimSeamCall> trace_;
  bool armed_ = false;
  bool tracing_ = false;
  bool poweredOff_ = false;
  bool halted_ = false;
  std::function<void()> onPowerCut_;
  std::function<std::string(const SimFault&)> onPlant_;
  std::vector<std::string> plants_;
};

// The nine services as the setup sees them: each call passes the gate and
// then reaches the machine's own service.
struct SimSeamServices {
  std::unique_ptr<Registry> registry;
  std::unique_ptr<FileSystem> files;
  std::unique_ptr<Environment> environment;
  std::unique_ptr<VersionInfo> versions;
  std::unique_ptr<Processes> processes;
  std::unique_ptr<Desktop> desktop;
  std::unique_ptr<Devices> devices;
  std::unique_ptr<Com> com;
  std::unique_ptr<Xml> xml;
};

SimSeamServices NewSimSeamServices(Registry& registry, FileSystem& files,
                                   Environment& environment, VersionInfo& versions,
                                   Processes& processes, Desktop& desktop, Devices& devices,
                                   Com& com, Xml& xml, SimFaults& faults);
