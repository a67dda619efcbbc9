// Faults over the upgrade: every call the setup makes through the seam in an
// upgrade rehearsal is failed once in turn, and the setup is cut off by a
// power cut before each of its steps in turn and started again. Whatever
// fails, the setup must end through one of its own ways out, with an exit
// code that says it did not finish where it did not, close everything it
// opened, and leave every piece of the user's data (address book,
// calibration, Settings, Speed Dial, Globals) either where it was or in the
// saved copy that the Save key names. And a file of the user's data held by
// another program from each step of the upgrade on is back in its place at
// the end, by the restart if that is what it takes.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "app/exit_codes.h"
#include "support/harness.h"

namespace {

constexpr char kSaveKey[] = "HKCU\\Software\\Corvane\\Save";
constexpr char kProgramFolder[] = "C:\\Program Files\\Zentavo\\";
constexpr char kUninstall2x[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}";
constexpr char kNewVersion[] = "2.1.240";
constexpr char k98SetupIni[] = "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\nTargetOS=Win98\r\n";
// The error the walk fails each call with.
constexpr DWORD kInjectedError = ERROR_ACCESS_DENIED;

struct FileItem {
  const char* item;  // the Save value
  const char* name;  // in the installation folder
};
const FileItem kFileItems[] = {{"AddressBook", "Zentavo.mdb"}, {"Calibration", "calibrate.mi"}};

struct KeyItem {
  const char* item;
  const char* key;
};
const KeyItem kKeyItems[] = {
    {"Settings", "HKCU\\Software\\Corvane\\Zentavo\\Settings"},
    {"Speed Dial", "HKCU\\Software\\Corvane\\Zentavo\\Speed Dial"},
    {"Globals", "HKLM\\Software\\Corvane\\Zentavo"},
};

// Values that belong to the new installation rather than to the user: the
// language the final step records, and the web directories the new package
// writes (kept over the restored Globals). `path` is the full key path and
// the value name, lower-cased.
bool IsInstallersValue(const std::string& path) {
  for (const char* own : {"\\zentavo\\settings\\language_data", "\\directories\\/",
                          "\\directories\\/img"}) {
    const std::string suffix(own);
    if (path.size() >= suffix.size() &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// A registry tree as "relative\key\path\value name" -> value, names lower-cased.
using ValueMap = std::map<std::string, SimJson>;

// A key path with its root written out and lower-cased.
std::string FullKey(const std::string& path) {
  std::string key = Lower(path);
  if (key.rfind("hklm\\", 0) == 0) key = "hkey_local_machine" + key.substr(4);
  if (key.rfind("hkcu\\", 0) == 0) key = "hkey_current_user" + key.substr(4);
  return key;
}

ValueMap TreeOf(SimMachine& machine, const std::string& keyPath) {
  ValueMap out;
  const std::string want = FullKey(keyPath);
  const SimJson all = machine.simRegistry().ToJson();
  for (auto key = all.begin(); key != all.end(); ++key) {
    const std::string path = FullKey(key.key());
    if (path != want && path.rfind(want + "\\", 0) != 0) continue;
    const std::string relative = path.substr(want.size());
    for (auto value = key.value().begin(); value != key.value().end(); ++value) {
      if (value.key().rfind('$', 0) == 0) continue;
      const std::string name = relative + "\\" + Lower(value.key());
      if (!IsInstallersValue(want + name)) out[name] = value.value();
    }
  }
  return out;
}

// A saved hive of the key `keyPath`, in the same form.
void FlattenHive(const SimJson& node, const std::string& keyPath, const std::string& relative,
                 ValueMap* out) {
  if (node.contains("values")) {
    for (auto value = node["values"].begin(); value != node["values"].end(); ++value) {
      const std::string name = relative + "\\" + Lower(value.key());
      if (!IsInstallersValue(FullKey(keyPath) + name)) (*out)[name] = value.value();
    }
  }
  if (node.contains("keys")) {
    for (auto key = node["keys"].begin(); key != node["keys"].end(); ++key) {
      FlattenHive(key.value(), keyPath, relative + "\\" + Lower(key.key()), out);
    }
  }
}

// Every value of `wanted` is in `have` with the same data (a merge may add more).
bool Holds(const ValueMap& have, const ValueMap& wanted) {
  for (const auto& [name, value] : wanted) {
    auto it = have.find(name);
    if (it == have.end() || it->second != value) return false;
  }
  return true;
}

// The user's data as the machine holds it before the upgrade.
struct UserData {
  std::map<std::string, std::string> files;  // item -> bytes
  std::map<std::string, ValueMap> keys;      // item -> values
};

UserData DataOf(SimMachine& machine) {
  UserData data;
  for (const FileItem& f : kFileItems) {
    std::optional<std::string> bytes =
        machine.simFiles().Contents(std::string(kProgramFolder) + f.name);
    EXPECT_TRUE(bytes) << f.name;
    data.files[f.item] = bytes.value_or(std::string());
  }
  for (const KeyItem& k : kKeyItems) {
    data.keys[k.item] = TreeOf(machine, k.key);
    EXPECT_FALSE(data.keys[k.item].empty()) << k.key;
  }
  return data;
}

// The file the Save key names for an item, if it names one that exists.
std::optional<std::string> SavedCopy(SimMachine& machine, const std::string& item) {
  std::optional<std::string> path = machine.simRegistry().GetString(kSaveKey, item);
  if (!path) return std::nullopt;
  return machine.simFiles().Contents(*path);
}

// The items of the user's data that are neither where they were nor in the
// copy the Save key names.
std::vector<std::string> LostData(SimMachine& machine, const UserData& before) {
  std::vector<std::string> lost;
  for (const FileItem& f : kFileItems) {
    const std::string& wanted = before.files.at(f.item);
    if (machine.simFiles().Contents(std::string(kProgramFolder) + f.name) == wanted) continue;
    if (SavedCopy(machine, f.item) == wanted) continue;
    lost.push_back(f.item);
  }
  for (const KeyItem& k : kKeyItems) {
    const ValueMap& wanted = before.keys.at(k.item);
    if (Holds(TreeOf(machine, k.key), wanted)) continue;
    std::optional<std::string> hive = SavedCopy(machine, k.item);
    if (hive) {
      SimJson parsed = SimJson::parse(*hive, nullptr, false);
      ValueMap saved;
      if (parsed.is_object()) FlattenHive(parsed, k.key, std::string(), &saved);
      if (Holds(saved, wanted)) continue;
    }
    lost.push_back(k.item);
  }
  return lost;
}

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// An upgrade example of docs/machines, with the demo medium (and, for
// Windows 98 SE, a setup.ini for that system) and the faults given.
struct Example {
  const char* name;
  const char* setupIni;  // replaces the medium's when given
};
const Example kXp = {"xp-upgrade", nullptr};
const Example k98 = {"win98se-upgrade", k98SetupIni};

std::unique_ptr<SimMachine> LoadExample(const Example& example,
                                        const std::vector<SimFault>& faults = {}) {
  static std::map<std::string, std::string> texts;
  std::string& text = texts[example.name];
  if (text.empty()) {
    text = ReadHost(std::string(ZT_SOURCE_DIR) + "/docs/machines/" + example.name + ".json");
  }
  std::string error;
  auto machine = SimMachine::FromJson(text, example.name, &error);
  EXPECT_TRUE(machine) << error;
  if (!machine) return nullptr;
  EXPECT_TRUE(machine->MountMedium(ZT_DEMO_MEDIUM_DIR, &error)) << error;
  if (example.setupIni) machine->simFiles().Put(machine->setupFolder() + "setup.ini", example.setupIni);
  machine->ResealMediumManifest();
  for (const SimFault& fault : faults) machine->faults().Plan(fault);
  return machine;
}

// What the machine must look like after every rehearsal, whatever failed:
// nothing left open, COM balanced, and (with the run's exit code) an end the
// setup knows. Returns the problems found.
std::vector<std::string> Leftovers(SimMachine& machine, const Rehearsal& r) {
  std::vector<std::string> problems;
  if (r.run.answersRanOut) problems.push_back("no defined end: " + r.run.stopReason);
  const std::set<int> codes = {kExitSuccess, kExitUserCancel, kExitFailure, kExitRestartRequired};
  if (!codes.count(r.run.exitCode)) {
    problems.push_back("exit code " + std::to_string(r.run.exitCode));
  }
  if (machine.simRegistry().openKeyCount() != 0) problems.push_back("registry keys left open");
  if (machine.simFiles().openFindCount() != 0) problems.push_back("searches left open");
  if (machine.simProcesses().openHandleCount() != 0) problems.push_back("process handles left open");
  if (machine.simCom().loadedLibraryCount() != 0) problems.push_back("libraries left loaded");
  if (machine.simCom().coInitializeDepth() != 0 || machine.simCom().oleInitializeDepth() != 0) {
    problems.push_back("COM initialisation not balanced");
  }
  if (machine.simRegistry().KeyExists("HKU\\TEMP_HIVE")) problems.push_back("TEMP_HIVE loaded");
  return problems;
}

// The new version is in place: registered, and its program in the folder.
bool Upgraded(SimMachine& machine) {
  return machine.simRegistry().GetString(kUninstall2x, "DisplayVersion") ==
         std::optional<std::string>(kNewVersion);
}


struct WalkTotals {
  int tried = 0, survived = 0, dataLost = 0;
};

// One line the reliability report reads (scripts/reliability_report.sh).
void Report(const std::string& what, const WalkTotals& totals) {
  std::cout << "[reliability] " << what << ": tried " << totals.tried << ", survived "
            << totals.survived << ", data lost " << totals.dataLost << std::endl;
}

// The fault points of a clean upgrade: each call the setup makes through the
// seam, as (operation, how many-th call of that operation).
std::vector<std::pair<std::string, uint64_t>> FaultPointsOf(const Example& example,
                                                            Rehearsal* clean) {
  auto machine = LoadExample(example);
  machine->faults().SetTracing(true);
  *clean = RehearseAll(*machine, "/l 1033");
  std::vector<std::pair<std::string, uint64_t>> points;
  std::map<std::string, uint64_t> seen;
  for (const SimSeamCall& call : machine->faults().trace()) {
    points.emplace_back(call.operation, ++seen[call.operation]);
  }
  return points;
}

void WalkFaultPoints(const Example& example) {
  Rehearsal clean;
  const auto points = FaultPointsOf(example, &clean);
  ASSERT_EQ(clean.run.exitCode, kExitSuccess) << clean.run.log;
  ASSERT_GT(points.size(), 100u);
  UserData before;
  {
    auto machine = LoadExample(example);
    before = DataOf(*machine);
  }
  WalkTotals totals;
  for (const auto& [operation, call] : points) {
    SimFault fault;
    fault.operation = operation;
    fault.call = call;
    fault.error = kInjectedError;
    auto machine = LoadExample(example, {fault});
    Rehearsal r = RehearseAll(*machine, "/l 1033");
    const std::string where = operation + " call " + std::to_string(call);
    ++totals.tried;
    std::vector<std::string> problems = Leftovers(*machine, r);
    if (machine->faults().fired().size() != 1) problems.push_back("the fault did not fire");
    // A run that says it succeeded leaves the new version in place.
    if (r.run.exitCode == kExitSuccess && !Upgraded(*machine)) {
      problems.push_back("exit code 0 without the upgrade done");
    }
    const std::vector<std::string> lost = LostData(*machine, before);
    for (const std::string& item : lost) problems.push_back("lost " + item);
    if (!lost.empty()) ++totals.dataLost;
    if (problems.empty()) ++totals.survived;
    for (const std::string& problem : problems) ADD_FAILURE() << where << ": " << problem;
  }
  Report(std::string("fault points of the upgrade on ") + example.name, totals);
  EXPECT_EQ(totals.survived, totals.tried);
}

// The places a power cut ends the setup between two of its steps: the call
// that would write the next step's log line (every step writes one first).
std::vector<uint64_t> StepBoundaries(const Example& example) {
  auto machine = LoadExample(example);
  machine->faults().SetTracing(true);
  RehearseAll(*machine, "/l 1033");
  std::vector<uint64_t> boundaries;
  const std::vector<SimSeamCall>& trace = machine->faults().trace();
  for (size_t i = 0; i < trace.size(); ++i) {
    const SimSeamCall& call = trace[i];
    if (call.operation == "FileSystem.AppendText" &&
        (call.detail.find(" Update action=") != std::string::npos ||
         call.detail.find(" Analyze action=") != std::string::npos ||
         call.detail.find(" setup terminating") != std::string::npos)) {
      boundaries.push_back(i + 1);
    }
  }
  return boundaries;
}

void WalkInterruptions(const Example& example) {
  const std::vector<uint64_t> boundaries = StepBoundaries(example);
  ASSERT_GT(boundaries.size(), 20u);
  UserData before;
  {
    auto machine = LoadExample(example);
    before = DataOf(*machine);
  }
  WalkTotals totals;
  for (uint64_t at : boundaries) {
    SimFault cut;
    cut.operation = "*";
    cut.call = at;
    cut.powerCut = true;
    auto machine = LoadExample(example, {cut});
    // The power goes; Windows boots and its Run keys start what they name.
    Rehearsal first = RehearseAll(*machine, "/l 1033");
    const std::string where = "power cut at call " + std::to_string(at);
    ++totals.tried;
    std::vector<std::string> problems;
    if (!first.run.powerCut) problems.push_back("the power cut did not come");
    // Unless the Run value started it again, the user starts the setup again.
    Rehearsal last = first;
    if (first.run.runs == 1) last = RehearseAll(*machine, "/l 1033");
    for (const std::string& p : Leftovers(*machine, last)) problems.push_back(p);
    if (last.run.exitCode != kExitSuccess || !Upgraded(*machine)) {
      problems.push_back("started again, the setup did not finish the upgrade (exit code " +
                         std::to_string(last.run.exitCode) + ")");
    }
    const std::vector<std::string> lost = LostData(*machine, before);
    for (const std::string& item : lost) problems.push_back("lost " + item);
    if (!lost.empty()) ++totals.dataLost;
    if (problems.empty()) ++totals.survived;
    for (const std::string& problem : problems) ADD_FAILURE() << where << ": " << problem;
  }
  Report(std::string("interruptions of the upgrade on ") + example.name, totals);
  EXPECT_EQ(totals.survived, totals.tried);
}

// The user goes on after a first upgrade that failed or was cut off: the
// address book and calibration get new bytes, each key a new value.
void ChangeUserData(SimMachine& machine) {
  for (const FileItem& f : kFileItems) {
    machine.simFiles().Put(std::string(kProgramFolder) + f.name, std::string("changed ") + f.name);
  }
  for (const KeyItem& k : kKeyItems) machine.simRegistry().SetString(k.key, "Changed", "yes");
}

bool HiveHoldsChange(const std::string& hiveBytes) {
  return hiveBytes.find("\"Changed\"") != std::string::npos;
}

// Where the changed item is after the second upgrade: in place, or in the
// copy the second run kept beside what it restored (the log names it).
enum class Change { kInPlace, kKeptBeside, kLost };
Change WhereIsTheChange(SimMachine& machine, const Rehearsal& r, const std::string& item,
                        const char* fileName, const char* key) {
  if (fileName ? machine.simFiles().Contents(std::string(kProgramFolder) + fileName) ==
                     std::optional<std::string>(std::string("changed ") + fileName)
               : machine.simRegistry().GetString(key, "Changed") ==
                     std::optional<std::string>("yes")) {
    return Change::kInPlace;
  }
  const std::string prefix = item + " found in place kept at ";
  for (const std::string& line : r.lines) {
    if (line.rfind(prefix, 0) != 0) continue;
    std::optional<std::string> kept = machine.simFiles().Contents(line.substr(prefix.size()));
    if (kept && (fileName ? *kept == std::string("changed ") + fileName : HiveHoldsChange(*kept))) {
      return Change::kKeptBeside;
    }
  }
  return Change::kLost;
}

// A first upgrade failed at `fault`, the user's data changed, and a second
// upgrade started fresh: the change is what the user finds (or, where
// nothing tells the new package's data from the change, it is kept beside),
// and every copy the first upgrade saved is still on the machine or back
// in place.
void WalkTwoUpgrades(const Example& example, const std::vector<SimFault>& faults,
                     const std::string& what) {
  WalkTotals totals;
  int keptBeside = 0;
  for (const SimFault& fault : faults) {
    auto machine = LoadExample(example, {fault});
    const std::string where = what + " " + fault.operation + " " + std::to_string(fault.call);
    RehearseAll(*machine, "/l 1033");
    std::map<std::string, std::pair<std::string, std::string>> firstCopies;  // item -> path, bytes
    for (const char* item : {"AddressBook", "Calibration", "Settings", "Speed Dial", "Globals"}) {
      std::optional<std::string> path = machine->simRegistry().GetString(kSaveKey, item);
      std::optional<std::string> bytes = path ? machine->simFiles().Contents(*path) : std::nullopt;
      if (bytes) firstCopies[item] = {*path, *bytes};
    }
    ChangeUserData(*machine);
    Rehearsal second = RehearseAll(*machine, "/l 1033");
    ++totals.tried;
    std::vector<std::string> problems = Leftovers(*machine, second);
    if (second.run.exitCode != kExitSuccess || !Upgraded(*machine)) {
      problems.push_back("the second upgrade did not finish (exit code " +
                         std::to_string(second.run.exitCode) + ")");
    }
    bool lost = false;
    for (const FileItem& f : kFileItems) {
      Change change = WhereIsTheChange(*machine, second, f.item, f.name, nullptr);
      if (change == Change::kKeptBeside) ++keptBeside;
      if (change == Change::kLost) lost = true, problems.push_back(std::string("lost the changed ") + f.item);
    }
    for (const KeyItem& k : kKeyItems) {
      Change change = WhereIsTheChange(*machine, second, k.item, nullptr, k.key);
      if (change == Change::kKeptBeside) ++keptBeside;
      if (change == Change::kLost) lost = true, problems.push_back(std::string("lost the changed ") + k.item);
    }
    // A copy of the first upgrade stays where it was unless it came back.
    for (const auto& [item, copy] : firstCopies) {
      if (machine->simFiles().Contents(copy.first) == copy.second) continue;
      bool back = false;
      for (const FileItem& f : kFileItems) {
        if (item == f.item) {
          back = machine->simFiles().Contents(std::string(kProgramFolder) + f.name) == copy.second;
        }
      }
      for (const KeyItem& k : kKeyItems) {
        if (item != k.item) continue;
        SimJson parsed = SimJson::parse(copy.second, nullptr, false);
        ValueMap saved;
        if (parsed.is_object()) FlattenHive(parsed, k.key, std::string(), &saved);
        back = Holds(TreeOf(*machine, k.key), saved);
      }
      if (!back) lost = true, problems.push_back("lost the first upgrade's copy of " + item);
    }
    if (lost) ++totals.dataLost;
    if (problems.empty()) ++totals.survived;
    for (const std::string& problem : problems) ADD_FAILURE() << where << ": " << problem;
  }
  Report(what + " of the upgrade on " + example.name + ", then a change and a second upgrade",
         totals);
  std::cout << "[reliability] " << what << " of the upgrade on " << example.name
            << ": changes kept beside the restored copy " << keptBeside << std::endl;
  EXPECT_EQ(totals.survived, totals.tried);
}

std::vector<SimFault> EveryFaultPoint(const Example& example) {
  Rehearsal clean;
  std::vector<SimFault> faults;
  for (const auto& [operation, call] : FaultPointsOf(example, &clean)) {
    SimFault fault;
    fault.operation = operation;
    fault.call = call;
    fault.error = kInjectedError;
    faults.push_back(fault);
  }
  return faults;
}

std::vector<SimFault> EveryInterruption(const Example& example) {
  std::vector<SimFault> cuts;
  for (uint64_t at : StepBoundaries(example)) {
    SimFault cut;
    cut.operation = "*";
    cut.call = at;
    cut.powerCut = true;
    cuts.push_back(cut);
  }
  return cuts;
}

// The saved copies' folders ("ztsv...") left in the temporary folder.
std::vector<std::string> CopyFoldersLeft(SimMachine& machine) {
  std::vector<std::string> left;
  const SimFile* temp = machine.simFiles().Node(machine.simEnvironment().tempDirectory);
  if (temp == nullptr) return left;
  for (const auto& [name, child] : temp->children) {
    if (child->directory && name.rfind("ZTSV", 0) == 0) left.push_back(child->name);
  }
  return left;
}

// Each file of the user's data held by another program (it can be read but
// not written or deleted; the hold goes when Windows restarts) from each
// step of the upgrade on: whatever the hold met, the upgrade ends with 0,
// every item of the user's data is back where it was, and nothing of the
// saved data is left in the temporary folder or the Save key.
void WalkHeldData(const Example& example) {
  const std::vector<uint64_t> boundaries = StepBoundaries(example);
  ASSERT_GT(boundaries.size(), 20u);
  UserData before;
  {
    auto machine = LoadExample(example);
    before = DataOf(*machine);
  }
  WalkTotals totals;
  int restarted = 0;
  for (const FileItem& held : kFileItems) {
    for (uint64_t at : boundaries) {
      SimFault hold;
      hold.operation = "*";
      hold.call = at;
      hold.plantPath = std::string(kProgramFolder) + held.name;
      hold.plantFile = SimJson::parse(R"({"locked": 5})");
      auto machine = LoadExample(example, {hold});
      Rehearsal r = RehearseAll(*machine, "/l 1033");
      const std::string where =
          std::string(held.item) + " held from call " + std::to_string(at);
      ++totals.tried;
      std::vector<std::string> problems = Leftovers(*machine, r);
      if (r.run.exitCode != kExitSuccess || !Upgraded(*machine)) {
        problems.push_back("the upgrade did not finish (exit code " +
                           std::to_string(r.run.exitCode) + ")");
      }
      bool lost = false;
      for (const FileItem& f : kFileItems) {
        if (machine->simFiles().Contents(std::string(kProgramFolder) + f.name) !=
            before.files.at(f.item)) {
          lost = true;
          problems.push_back(std::string(f.item) + " is not back in place");
        }
      }
      for (const KeyItem& k : kKeyItems) {
        if (!Holds(TreeOf(*machine, k.key), before.keys.at(k.item))) {
          lost = true;
          problems.push_back(std::string(k.item) + " is not back in place");
        }
      }
      for (const std::string& folder : CopyFoldersLeft(*machine)) {
        problems.push_back("saved data left in the temporary folder: " + folder);
      }
      for (const char* value : {"AddressBook", "Calibration", "Settings", "Speed Dial", "Globals",
                                "UpgradePending"}) {
        DWORD type = 0;
        std::string data;
        if (machine->simRegistry().GetValue(kSaveKey, value, &type, &data)) {
          problems.push_back(std::string("the Save key still holds ") + value);
        }
      }
      if (r.run.runs > 1) ++restarted;
      if (lost) ++totals.dataLost;
      if (problems.empty()) ++totals.survived;
      for (const std::string& problem : problems) ADD_FAILURE() << where << ": " << problem;
    }
  }
  Report(std::string("each file of the user's data held from each step of the upgrade on ") +
             example.name,
         totals);
  std::cout << "[reliability] held data on " << example.name << ": put back after a restart "
            << restarted << std::endl;
  // The holds that met the removal or the restore are the ones the restart
  // put back: the walk reaches them.
  EXPECT_GT(restarted, 0);
  EXPECT_EQ(totals.survived, totals.tried);
}

}  // namespace

TEST(FaultInjection, TheMachineFailsTheNthCallOfAnOperationAndCountsOnlyTheSetupsCalls) {
  SimFault fault;
  fault.operation = "Registry.SetValue";
  fault.call = 1;
  fault.error = ERROR_ACCESS_DENIED;
  auto machine = LoadExample(kXp, {fault});
  ASSERT_TRUE(machine);
  // The rehearsal's own look at the machine is not a call of the setup.
  HKEY key = nullptr;
  ASSERT_EQ(machine->registry().OpenKey(HKEY_CURRENT_USER, "Software", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  machine->registry().CloseKey(key);
  EXPECT_EQ(machine->faults().Calls("*"), 0u);

  Rehearsal r = Rehearse(*machine, "/l 1033");
  ASSERT_EQ(machine->faults().fired().size(), 1u);
  EXPECT_EQ(machine->faults().fired()[0].operation, "Registry.SetValue");
  EXPECT_GT(machine->faults().Calls("Registry.SetValue"), 1u);
  EXPECT_GT(machine->faults().Calls("*"), machine->faults().Calls("Registry.SetValue"));
  // The description written back holds no fault that has fired.
  EXPECT_EQ(machine->ToJson().find("\"faults\""), std::string::npos);
}

TEST(FaultInjection, TheDescriptionPlansFaultsAndWritesBackThoseStillToCome) {
  std::string error;
  auto machine = SimMachine::FromJson(
      R"({"faults": [{"operation": "FileSystem.Copy", "call": 2, "error": 112},
                      {"operation": "*", "call": 40, "powerCut": true}]})",
      "faults", &error);
  ASSERT_TRUE(machine) << error;
  SimJson written = SimJson::parse(machine->ToJson())["faults"];
  EXPECT_EQ(written.dump(), R"([{"operation":"FileSystem.Copy","call":2,"error":112},)"
                            R"({"operation":"*","call":40,"powerCut":true}])");
  for (const char* bad : {R"({"faults": [{"operation": "FileSystem.CopyFiles", "call": 1, "error": 5}]})",
                          R"({"faults": [{"operation": "FileSystem.Copy", "call": 0, "error": 5}]})",
                          R"({"faults": [{"operation": "FileSystem.Copy", "call": 1}]})",
                          R"({"faults": {"operation": "FileSystem.Copy"}})"}) {
    EXPECT_FALSE(SimMachine::FromJson(bad, "bad", &error)) << bad;
    EXPECT_EQ(error.rfind("bad: /faults", 0), 0u) << error;
  }
}

TEST(FaultInjection, APowerCutEndsTheRunAndTheMachineBootsAgain) {
  Rehearsal clean;
  const auto points = FaultPointsOf(kXp, &clean);
  SimFault cut;
  cut.operation = "*";
  cut.call = points.size() / 2;
  cut.powerCut = true;
  auto machine = LoadExample(kXp, {cut});
  Rehearsal r = RehearseAll(*machine, "/l 1033");
  EXPECT_TRUE(r.run.powerCut);
  EXPECT_EQ(r.run.runs, 1);
  EXPECT_EQ(machine->simProcesses().restartCount(), 1);
  // Nothing after the cut reached the machine: the log stops where it stopped.
  EXPECT_FALSE(r.HasLine("setup terminating"));
  EXPECT_LT(r.lines.size(), clean.lines.size());
}

TEST(FaultInjection, EveryCallOfTheXpUpgradeFailedOnceLosesNoData) { WalkFaultPoints(kXp); }

TEST(FaultInjection, EveryCallOfTheWindows98UpgradeFailedOnceLosesNoData) {
  WalkFaultPoints(k98);
}

TEST(FaultInjection, TheXpUpgradeCutOffBeforeEachStepAndStartedAgainLosesNoData) {
  WalkInterruptions(kXp);
}

TEST(FaultInjection, TheWindows98UpgradeCutOffBeforeEachStepAndStartedAgainLosesNoData) {
  WalkInterruptions(k98);
}

TEST(FaultInjection, AFailedOrCutOffUpgradeThenAChangeThenASecondUpgradeKeepsTheChange) {
  for (const Example& example : {kXp, k98}) {
    WalkTwoUpgrades(example, EveryFaultPoint(example), "fault points");
    WalkTwoUpgrades(example, EveryInterruption(example), "interruptions");
  }
}

TEST(FaultInjection, EachFileOfTheUserDataHeldFromEachStepOnIsBackAfterTheUpgrade) {
  for (const Example& example : {kXp, k98}) WalkHeldData(example);
}
