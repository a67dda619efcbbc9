// The capture (src/capture/) against the simulated machine: what it writes
// loads as a machine, rehearses as the machine it was taken from, compares
// before and after a run as the rehearsal reports the run, covers every key
// and file the setup asks the seam for, and changes nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "capture/capture.h"
#include "scenario/capture_examples.h"
#include "capture/footprint.h"
#include "capture/json_text.h"
#include "platform/sim/sim_diff.h"
#include "support/harness.h"

namespace {

using capture::CaptureMachine;
using capture::CaptureOptions;
using capture_examples::Description;
using capture_examples::Example;
using capture_examples::kExamples;
using capture_examples::Mounted;

std::string Capture(SimMachine& machine, const std::string& earlier = std::string()) {
  CaptureOptions options;
  options.earlier = earlier;
  std::string error;
  std::string text = CaptureMachine(machine, options, &error);
  EXPECT_FALSE(text.empty()) << error;
  return text;
}

// What a capture cannot know, taken from the example as it gives it: how the
// programs the setup starts behave, the planned faults, whether Windows
// accepts a restart, and what the windows of other programs do when asked.
std::string WithBehaviour(const std::string& captured, const nlohmann::ordered_json& example) {
  nlohmann::ordered_json out = nlohmann::ordered_json::parse(captured);
  nlohmann::ordered_json full = example;
  if (full.contains("base")) {
      nlohmann::ordered_json base = nlohmann::ordered_json::parse(kDefaultMachineJson);
    full.erase("base");
    base.merge_patch(full);
    full = base;
  }
  for (const char* member : {"programs", "faults", "restart", "commandLine"}) {
    if (full.contains(member)) out[member] = full[member];
  }
  if (full.contains("windows")) {
    for (size_t i = 0; i < out["windows"].size() && i < full["windows"].size(); ++i) {
      for (const char* member : {"closesOnRequest", "closeDelayMs", "button"}) {
        if (full["windows"][i].contains(member)) out["windows"][i][member] = full["windows"][i][member];
      }
    }
  }
  // Locks and planned unplugging are states of running programs and of the
  // future, not of the disk or the bus.
  if (full.contains("files")) {
    for (auto& [path, entry] : full["files"].items()) {
      if (entry.is_object() && entry.contains("locked") && out["files"].contains(path)) {
        out["files"][path]["locked"] = entry["locked"];
      }
    }
  }
  if (full.contains("usb")) out["usb"] = full["usb"];
  return out.dump(2);
}

// A description as `zentavo-sim --compare` reads it: loaded as a machine
// and written back (the windows of a capture bring their processes).
SimJson AsLoaded(const std::string& description) {
  std::string error;
  std::unique_ptr<SimMachine> machine = SimMachine::FromJson(description, "description", &error);
  EXPECT_TRUE(machine) << error;
  return machine ? SimJson::parse(machine->ToJson()) : SimJson::object();
}

// Plans are no state of a machine: the faults still to come and the time
// until a device goes.
void DropPlans(SimJson* value) {
  if (value->is_object()) {
    value->erase("faults");
    value->erase("connectedUntilMs");
  }
  if (value->is_structured()) {
    for (auto& item : *value) DropPlans(&item);
  }
}

// The report between two descriptions, without the command lines of the
// programs that run (a capture cannot read another program's command line).
std::string Report(SimJson before, SimJson after) {
  DropPlans(&before);
  DropPlans(&after);
  std::string report = CompareMachineDescriptions(before, after, nullptr, "report");
  std::istringstream lines(report);
  std::string line, out;
  while (std::getline(lines, line)) {
    if (line.rfind("+ process ", 0) == 0 || line.rfind("- process ", 0) == 0) {
      line = line.substr(0, line.find(')') + 1);
    }
    out += line + "\n";
  }
  return out;
}

// Equal texts; else the lines that differ, and (with ZT_CAPTURE_DEBUG=DIR)
// the capture in DIR.
void ExpectSameText(const std::string& what, const std::string& expected,
                    const std::string& actual, const std::string& captured) {
  if (expected == actual) return;
  auto lines = [](const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  };
  const std::vector<std::string> a = lines(expected), b = lines(actual);
  std::string shown;
  for (size_t i = 0, n = 0; i < std::max(a.size(), b.size()) && n < 12; ++i) {
    const std::string la = i < a.size() ? a[i] : "(none)", lb = i < b.size() ? b[i] : "(none)";
    if (la == lb) continue;
    shown += "  line " + std::to_string(i + 1) + " expected: " + la + "\n" +
             "  line " + std::to_string(i + 1) + " actual:   " + lb + "\n";
    ++n;
  }
  if (const char* dir = std::getenv("ZT_CAPTURE_DEBUG")) {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string file = name;
    for (char& c : file) {
      if (c == '/') c = '_';
    }
    file = std::string(dir) + "/" + file;
    std::ofstream(file + ".capture.json") << captured;
    std::ofstream(file + ".expected." + what) << expected;
    std::ofstream(file + ".actual." + what) << actual;
  }
  ADD_FAILURE() << what << " differs:\n" << shown;
}

class CaptureExamples : public ::testing::TestWithParam<Example> {};

TEST_P(CaptureExamples, LoadsAsAMachine) {
  const Example& example = GetParam();
  auto machine = Mounted(Description(example).dump(), example.targetOs);
  ASSERT_TRUE(machine);
  std::string error;
  EXPECT_TRUE(SimMachine::FromJson(Capture(*machine), "capture", &error)) << error;
}

// A rehearsal on the capture runs as the rehearsal on the machine itself:
// the same log, byte for byte, and the same report of what it changed.
TEST_P(CaptureExamples, RehearsesAsTheMachine) {
  const Example& example = GetParam();
  const nlohmann::ordered_json description = Description(example);
  auto original = Mounted(description.dump(), example.targetOs);
  ASSERT_TRUE(original);
  const std::string captured = WithBehaviour(Capture(*original), description);
  auto copy = Mounted(captured, example.targetOs);
  ASSERT_TRUE(copy);

  SimRehearsalWatch originalWatch(*original), copyWatch(*copy);
  Rehearsal a = RehearseAll(*original, "/l 1033");
  Rehearsal b = RehearseAll(*copy, "/l 1033");
  EXPECT_EQ(a.run.exitCode, b.run.exitCode);
  const std::string reportA = originalWatch.Report(*original), reportB = copyWatch.Report(*copy);
  ExpectSameText("log", a.run.log, b.run.log, captured);
  ExpectSameText("report", reportA, reportB, captured);
}

// Captures before and after a rehearsal compare as the rehearsal reports
// what it changed: the footprint holds everything the run changes.
TEST_P(CaptureExamples, ComparesAsTheRehearsalReports) {
  const Example& example = GetParam();
  auto machine = Mounted(Description(example).dump(), example.targetOs);
  ASSERT_TRUE(machine);
  const std::string whole = machine->ToJson();
  const std::string before = Capture(*machine);
  RehearseAll(*machine, "/l 1033");
  const std::string after = Capture(*machine, before);
  ExpectSameText("report", Report(SimJson::parse(whole), SimJson::parse(machine->ToJson())),
                 Report(AsLoaded(before), AsLoaded(after)), after);
}

// A capture changes nothing, and asks the seam for nothing that could.
TEST_P(CaptureExamples, ChangesNothing) {
  const Example& example = GetParam();
  auto machine = Mounted(Description(example).dump(), example.targetOs);
  ASSERT_TRUE(machine);
  const std::string before = machine->ToJson();
  // The trace counts calls only while armed; planned faults would count them too.
  const bool trace = !machine->faults().HasPlan();
  machine->faults().SetTracing(trace);
  machine->faults().Arm(trace);
  Capture(*machine);
  machine->faults().Arm(false);
  EXPECT_EQ(before, machine->ToJson());
  static const std::set<std::string> kReads = {
      "Registry.OpenKey", "Registry.QueryValue", "Registry.EnumKey", "Registry.EnumValue",
      "Registry.QueryInfoKey", "FileSystem.GetAttributes", "FileSystem.FindFirst",
      "FileSystem.FindNext", "FileSystem.GetLongPathName", "FileSystem.ReadFile",
      "Environment.GetOsVersion", "Environment.GetWindowsDirectory",
      "Environment.GetSystemDirectory", "Environment.GetTempPath",
      "Environment.GetModuleFileName", "Environment.GetLocaleLanguage", "VersionInfo.GetInfoSize",
      "VersionInfo.GetInfo", "Processes.GetProcessImagePath", "Processes.EnablePrivilege",
      "Desktop.GetWindowText", "Desktop.GetWindowThreadProcessId",
      "Desktop.GetWindowModuleFileName", "Desktop.FindWindow", "Devices.OpenDevice",
      "Devices.DeviceIoControl", "Devices.LocateRootDevNode", "Devices.GetChild",
      "Devices.GetSibling", "Devices.GetParent", "Devices.GetDevNodeProperty"};
  for (const SimSeamCall& call : machine->faults().trace()) {
    EXPECT_TRUE(kReads.count(call.operation)) << call.operation << " " << call.detail;
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, CaptureExamples, ::testing::ValuesIn(kExamples),
                         [](const ::testing::TestParamInfo<Example>& info) {
                           std::string name = info.param.name[0] ? info.param.name : "default";
                           for (char& c : name) {
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(Capture, TakesTheShortNamesOfTheFoldersOnAPath) {
  auto names = capture::ShortNamesOf("C:\\DOCUME~1\\User\\LOCALS~1\\Temp",
                                     "C:\\Documents and Settings\\User\\Local Settings\\Temp");
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].first, "C:\\Documents and Settings");
  EXPECT_EQ(names[0].second, "DOCUME~1");
  EXPECT_EQ(names[1].first, "C:\\Documents and Settings\\User\\Local Settings");
  EXPECT_EQ(names[1].second, "LOCALS~1");
  EXPECT_TRUE(capture::ShortNamesOf("C:\\WINDOWS", "C:\\WINDOWS").empty());
}

TEST(Capture, WritesJsonThatReadsBack) {
  capture::JsonValue value = capture::JsonValue::Object();
  value["a \"quoted\" name\\"] = capture::JsonValue::String("line\r\nt\tab \x01 \xc3\xb1");
  value["n"] = capture::JsonValue::Number(4294967295u);
  value["list"] = capture::JsonValue::Array();
  value["list"].Push(capture::JsonValue::Bool(false));
  value["list"].Push(capture::JsonValue());
  capture::JsonValue back;
  ASSERT_TRUE(capture::JsonValue::Parse(value.Text(), &back));
  EXPECT_EQ(back.Text(), value.Text());
  nlohmann::json parsed = nlohmann::json::parse(value.Text());
  EXPECT_EQ(parsed["a \"quoted\" name\\"], "line\r\nt\tab \x01 \xc3\xb1");
  EXPECT_FALSE(capture::JsonValue::Parse("{\"a\": }", &back));
  EXPECT_TRUE(capture::IsValidUtf8("\xc3\xb1"));
  EXPECT_FALSE(capture::IsValidUtf8("\xf1"));
  EXPECT_FALSE(capture::IsValidUtf8("\xc0\x80"));
  EXPECT_EQ(capture::PackedGuid("{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}"),
            "02A7C1F3D4B855E49A2CD6E0B1F7A439");
}

}  // namespace

namespace {

// A shell link as Windows writes it: the header, a LinkInfo with the local
// path, and the description, working folder and arguments in UTF-16.
std::string ShellLinkBytes() {
  std::string b(0x4C, '\0');
  const unsigned char header[] = {0x4C, 0,    0,    0,    0x01, 0x14, 0x02, 0x00, 0x00, 0x00,
                                  0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  for (size_t i = 0; i < sizeof(header); ++i) b[i] = static_cast<char>(header[i]);
  b[0x14] = static_cast<char>(0x02 | 0x04 | 0x10 | 0x20 | 0x80);  // info, name, dir, args, unicode
  auto u32 = [](uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  const std::string path = "C:\\Program Files\\Zentavo\\Zentavo.exe";
  std::string info = u32(0) + u32(0x1C) + u32(1) + u32(0) + u32(0x1C) + u32(0) +
                     u32(0x1C + static_cast<uint32_t>(path.size()) + 1) + path + '\0' + '\0';
  info.replace(0, 4, u32(static_cast<uint32_t>(info.size())));
  b += info;
  for (const std::string& text : {std::string("Zentavo"), std::string("C:\\Program Files\\Zentavo"),
                                  std::string("AutoStart")}) {
    b += static_cast<char>(text.size());
    b += '\0';
    for (char c : text) {
      b += c;
      b += '\0';
    }
  }
  return b;
}

TEST(Capture, TakesAShellLinkInTheFormTheMachineGivesLinks) {
  auto toAnsi = [](const std::u16string& wide) { return std::string(wide.begin(), wide.end()); };
  std::string text;
  ASSERT_TRUE(capture::ShellLinkAsText(ShellLinkBytes(), toAnsi, &text));
  EXPECT_EQ(text,
            "[ZentavoSimShellLink]\r\nTarget=C:\\Program Files\\Zentavo\\Zentavo.exe\r\n"
            "WorkingDirectory=C:\\Program Files\\Zentavo\r\nDescription=Zentavo\r\n"
            "Arguments=AutoStart\r\n");
  EXPECT_FALSE(capture::ShellLinkAsText("a shortcut of the earlier edition\r\n", toAnsi, &text));
  EXPECT_FALSE(capture::ShellLinkAsText(ShellLinkBytes().substr(0, 0x40), toAnsi, &text));
}

}  // namespace

namespace {

// The keys Windows Installer shares among products, as a machine with the
// product and another one installed holds them: a component of both, one of
// the other product only, and the upgrade codes of each.
const char kSharedInstallerKeys[] = R"json({
  "registry": {
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\71E3C0A526B9E8D41B4FC3E7A9026D51":
      {"02A7C1F3D4B855E49A2CD6E0B1F7A439": "C:\\Program Files\\Zentavo\\Zentavo.exe",
       "11111111111111111111111111111111": "C:\\Other\\shared.dll"},
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\22222222222222222222222222222222":
      {"11111111111111111111111111111111": "C:\\Other\\other.exe"},
    "HKLM\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\6A3D15E872C0F9B44A8E172DF6C0B5A3":
      {"02A7C1F3D4B855E49A2CD6E0B1F7A439": ""},
    "HKLM\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\33333333333333333333333333333333":
      {"11111111111111111111111111111111": ""},
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-21-7\\Products\\02A7C1F3D4B855E49A2CD6E0B1F7A439\\InstallProperties":
      {"LocalPackage": "C:\\WINDOWS\\Installer\\user.msi"},
    "HKLM\\SOFTWARE\\Classes\\Installer\\Products\\11111111111111111111111111111111":
      {"ProductName": "Other"}
  }
})json";

}  // namespace

// Of the keys every product shares, a capture takes those that hold a value
// of the product codes, with those values alone, and every user's
// registration of them; a capture after the product's removal takes the
// shared key again, so that the value shows as removed where the key stays.
TEST(Capture, TakesTheProductsValuesOfTheKeysProductsShare) {
  auto machine = MakeMachine(kSharedInstallerKeys);
  ASSERT_TRUE(machine);
  const nlohmann::json before = nlohmann::json::parse(Capture(*machine));
  const nlohmann::json& registry = before["registry"];
  const std::string components =
      "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";
  const std::string shared = components + "71E3C0A526B9E8D41B4FC3E7A9026D51";
  ASSERT_TRUE(registry.contains(shared));
  EXPECT_EQ(registry[shared], nlohmann::json::parse(
                                  R"({"02A7C1F3D4B855E49A2CD6E0B1F7A439": "C:\\Program Files\\Zentavo\\Zentavo.exe"})"));
  EXPECT_FALSE(registry.contains(components + "22222222222222222222222222222222"));
  EXPECT_TRUE(registry.contains(
      "HKLM\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\6A3D15E872C0F9B44A8E172DF6C0B5A3"));
  EXPECT_FALSE(registry.contains(
      "HKLM\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\33333333333333333333333333333333"));
  EXPECT_FALSE(registry.contains(
      "HKLM\\SOFTWARE\\Classes\\Installer\\Products\\11111111111111111111111111111111"));
  EXPECT_EQ(registry.value(
                "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-21-7\\"
                "Products\\02A7C1F3D4B855E49A2CD6E0B1F7A439\\InstallProperties",
                nlohmann::json()),
            nlohmann::json::parse(R"({"LocalPackage": "C:\\WINDOWS\\Installer\\user.msi"})"))
      << "every user's registration of the product";

  // The product's value goes, the other product's stays.
  HKEY key = nullptr;
  ASSERT_EQ(machine->registry().OpenKey(HKEY_LOCAL_MACHINE, shared.substr(5), KEY_SET_VALUE, &key), 0);
  ASSERT_EQ(machine->registry().DeleteValue(key, "02A7C1F3D4B855E49A2CD6E0B1F7A439"), 0);
  machine->registry().CloseKey(key);
  const std::string after = Capture(*machine, before.dump());
  std::string error;
  SimJson was, is;
  ASSERT_TRUE(ParseJsonText(before.dump(), &was, &error)) << error;
  ASSERT_TRUE(ParseJsonText(after, &is, &error)) << error;
  const std::string report = CompareMachineDescriptions(was, is, nullptr, "report");
  EXPECT_NE(report.find("\n- value " + shared +
                        " \"02A7C1F3D4B855E49A2CD6E0B1F7A439\" = REG_SZ \"C:\\Program Files\\Zentavo\\Zentavo.exe\"\n"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("- key " + shared), std::string::npos) << report;
  EXPECT_EQ(report.find("11111111111111111111111111111111"), std::string::npos) << report;
}
