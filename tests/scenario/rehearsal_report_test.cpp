// Whole rehearsals through the runner's own command line: what an upgrade
// changes on the machine (against a committed report), the transcript's
// message boxes, buttons and language dialog, and time passing between answers.
// The upgrade is the example machine docs/machines/xp-upgrade.json.
//
// The expected report follows the install steps: when they change what an
// upgrade does, rewrite it and review the difference before committing it:
//   ZT_UPDATE_EXPECTED=1 build/NAME/zentavo_tests --gtest_filter='RehearsalReport.*'
#include <gtest/gtest.h>

#include <iterator>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/exit_codes.h"
#include "lang/language_strings.h"
#include "platform/sha256.h"
#include "support/harness.h"

extern const char* const kDefaultMachineJson;

namespace {

const char* const kExpectedUpgradeReport = ZT_SOURCE_DIR "/tests/expected/upgrade_changes.txt";
// Zentavo 2.0 installed, used and running.
const char* const kUpgradeMachine = ZT_SOURCE_DIR "/docs/machines/xp-upgrade.json";

// The camera on port 1 of HCD0's root hub, unplugged a minute into the run.
const char* const kCameraLeavingMachine = R"({"usb": {
  "controllers": [
    {"number": 0, "driverKey": "{36FC9E60-C465-11CF-8056-444553540000}\\0000",
     "description": "Standard OpenHCD USB Host Controller", "rootHub": "USB#ROOT_HUB#4&1"}
  ],
  "hubs": {"USB#ROOT_HUB#4&1": {"ports": [
    {"vendorId": "0x0F3A", "productId": 1, "connectedUntilMs": 60000}
  ]}}
}})";

std::string TempPath(const std::string& name) {
  std::string dir = testing::TempDir().empty() ? std::string("/tmp/") : testing::TempDir();
  return dir + "zt_report_" + std::to_string(getpid()) + "_" + name;
}

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The default machine with `overlay` merged over it, as a machine file.
std::string MachineFile(const std::string& name, const std::string& overlay) {
  nlohmann::json machine = nlohmann::json::parse(kDefaultMachineJson);
  machine.merge_patch(nlohmann::json::parse(overlay));
  std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << machine.dump(2);
  return path;
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

// zentavo-sim with these arguments, as its main() runs it.
Outcome ZentavoSim(const std::vector<std::string>& args) {
  RunnerOptions options;
  std::string error;
  Outcome outcome;
  if (!ParseRunnerArguments(args, &options, &error)) {
    ADD_FAILURE() << error;
    return outcome;
  }
  std::ostringstream out, err;
  outcome.status = RunRehearsal(options, out, err);
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The lines of the block that begins at the first line starting with `head`.
std::vector<std::string> Block(const std::string& transcript, const std::string& head) {
  std::vector<std::string> block;
  for (const std::string& line : Lines(transcript)) {
    if (!block.empty() && line.rfind("--- ", 0) == 0) break;
    if (!block.empty() || line.rfind(head, 0) == 0) block.push_back(line);
  }
  return block;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(RehearsalReport, AnUpgradeChangesWhatTheCommittedReportSays) {
  std::string machine = kUpgradeMachine;
  std::string report = TempPath("upgrade_changes.txt");
  Outcome run = ZentavoSim({"--machine", machine, "--log", TempPath("upgrade.log"), "--changes",
                            report});
  EXPECT_EQ(run.status, 0) << run.err;
  std::string actual = ReadHost(report);
  // The report is the same on every run and on every host.
  Outcome again = ZentavoSim({"--machine", machine, "--log", TempPath("upgrade.log"), "--changes",
                              "-"});
  EXPECT_EQ(again.out, actual) << "--changes - prints the same report, without the log";
  EXPECT_EQ(actual.find(ZT_SOURCE_DIR), std::string::npos) << actual;
  EXPECT_EQ(actual.find(testing::TempDir()), std::string::npos) << actual;
  std::vector<std::string> lines = Lines(actual);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0],
            "Changes from the machine at the start of the rehearsal to the machine at its end");
  for (const char* group : {"== Registry ==", "== Files ==", "== Shell links ==",
                            "== Programs started ==", "== Programs running ==", "== Windows ==",
                            "== Restarts ==", "== Machine settings =="}) {
    EXPECT_TRUE(Contains(lines, group)) << group;
  }
  EXPECT_TRUE(Contains(lines, "+ file C:\\Documents and Settings\\User\\Local Settings\\Temp\\"
                              "ZentavoInstall.log: " +
                                  std::to_string(ReadHost(TempPath("upgrade.log")).size()) +
                                  " bytes"))
      << actual;

  if (getenv("ZT_UPDATE_EXPECTED")) {
    std::ofstream(kExpectedUpgradeReport, std::ios::binary) << actual;
    GTEST_SKIP() << "rewrote " << kExpectedUpgradeReport;
  }
  std::string expected = ReadHost(kExpectedUpgradeReport);
  if (actual != expected) {
    std::vector<std::string> want = Lines(expected);
    std::string differences;
    int shown = 0;
    for (size_t i = 0; i < std::max(want.size(), lines.size()) && shown < 20; ++i) {
      std::string a = i < want.size() ? want[i] : "(none)";
      std::string b = i < lines.size() ? lines[i] : "(none)";
      if (a == b) continue;
      differences += "line " + std::to_string(i + 1) + "\n  expected: " + a + "\n  actual  : " +
                     b + "\n";
      ++shown;
    }
    ADD_FAILURE() << "the upgrade's report differs from " << kExpectedUpgradeReport
                  << "; if the install steps changed on purpose, rewrite it with\n"
                  << "  ZT_UPDATE_EXPECTED=1 build/NAME/zentavo_tests "
                     "--gtest_filter='RehearsalReport.*'\nand review the difference.\n"
                  << differences;
  }
}

TEST(RehearsalTranscript, AMessageBoxShowsItsIconAndButtons) {
  // OK while the camera is still plugged in: the abort box.
  std::string machine = MachineFile("camera.json", kCameraLeavingMachine);
  std::string screens = TempPath("camera_box.txt");
  Outcome run = ZentavoSim({"--machine", machine, "--log", TempPath("camera_box.log"), "--screens",
                            screens, "--answers", "confirm,confirm,confirm", "--", "/l", "1033"});
  EXPECT_EQ(run.status, kExitUserCancel) << run.err;
  std::vector<std::string> box = Block(ReadHost(screens), "--- message box, ");
  ASSERT_FALSE(box.empty()) << ReadHost(screens);
  EXPECT_NE(box[0].find(", code page 1252"), std::string::npos) << box[0];
  EXPECT_EQ(box[1], "caption : setup");
  EXPECT_EQ(box[2], "icon    : information");
  EXPECT_EQ(box[3], "text    : " + English(ABORTINSTALLHELP));
  EXPECT_EQ(box[4], "buttons : [OK]");
}

TEST(RehearsalTranscript, AWaitLetsTheCameraBeUnpluggedBeforeOk) {
  std::string machine = MachineFile("camera.json", kCameraLeavingMachine);
  std::string screens = TempPath("camera_wait.txt");
  std::string log = TempPath("camera_wait.log");
  Outcome run = ZentavoSim({"--machine", machine, "--log", log, "--screens", screens, "--answers",
                            "confirm,wait=60000,confirm,confirm", "--", "/l", "1033"});
  EXPECT_EQ(run.status, kExitSuccess) << run.err;
  std::string transcript = ReadHost(screens);
  std::vector<std::string> lines = LogMessages(ReadHost(log));
  EXPECT_TRUE(Contains(lines, "Zentavo camera is on")) << ReadHost(log);
  // The answers with their virtual times ("--- answer, t=3.400s: confirm").
  std::vector<std::pair<uint64_t, std::string>> answers;
  for (const std::string& line : Lines(transcript)) {
    if (line.rfind("--- answer, t=", 0) != 0) continue;
    size_t dot = line.find('.'), colon = line.find("s: ");
    ASSERT_TRUE(dot != std::string::npos && colon != std::string::npos) << line;
    uint64_t ms = std::stoull(line.substr(14, dot - 14)) * 1000 +
                  std::stoull(line.substr(dot + 1, colon - dot - 1));
    answers.push_back({ms, line.substr(colon + 3)});
  }
  ASSERT_GE(answers.size(), 3u) << transcript;
  EXPECT_EQ(answers[1].second, "wait=60000");
  EXPECT_EQ(answers[2].second, "confirm");
  // A minute passed between the question and OK, which found the camera gone.
  EXPECT_GE(answers[2].first - answers[1].first, 60000u);
  EXPECT_EQ(transcript.find("--- message box"), std::string::npos) << transcript;
  EXPECT_TRUE(Contains(lines, UpdateLine(0, 8, 0))) << "the step after the camera's runs";
}

TEST(RehearsalTranscript, TheSetupWindowNamesItsVisibleButtons) {
  // Cancel at the greeting: the abort question has its OK button alone.
  std::string screens = TempPath("abort.txt");
  Outcome run = ZentavoSim({"--log", TempPath("abort.log"), "--screens", screens, "--answers",
                            "cancel,confirm", "--", "/l", "1033"});
  EXPECT_EQ(run.status, kExitUserCancel) << run.err;
  std::string transcript = ReadHost(screens);
  std::vector<std::string> lines = Lines(transcript);
  // The greeting: both buttons; the abort question: OK alone, Cancel hidden.
  ASSERT_TRUE(Contains(lines, "header  : " + English(ABORTINSTALL))) << transcript;
  std::vector<std::string> greeting = Block(transcript, "--- setup window");
  EXPECT_TRUE(Contains(lines, "confirm : [" + English(PROCEED) + "]")) << transcript;
  EXPECT_TRUE(Contains(lines, "cancel  : [" + English(CANCEL) + "]")) << transcript;
  std::string buttons;
  for (const std::string& line : lines) {
    if (line.rfind("confirm : ", 0) == 0 || line.rfind("cancel  : ", 0) == 0) buttons += line + "\n";
  }
  EXPECT_NE(buttons.find("confirm : [" + English(OK) + "]\ncancel  : (hidden)\n"), std::string::npos)
      << transcript;
  EXPECT_NE(greeting[0].find(", code page 1252"), std::string::npos) << greeting[0];
}

TEST(RehearsalTranscript, TheLanguageDialogOnAJapaneseSystemShowsItsListInCodePage932) {
  std::string machine =
      MachineFile("japanese.json", R"({"locale": {"language": "0411", "codePage": 932}})");
  std::string screens = TempPath("japanese.txt");
  ZentavoSim({"--machine", machine, "--log", TempPath("japanese.log"), "--screens", screens,
              "--answers", "confirm"});
  std::string transcript = ReadHost(screens);
  std::vector<std::string> dialog = Block(transcript, "--- language dialog, ");
  ASSERT_GE(dialog.size(), 10u) << transcript;
  EXPECT_EQ(dialog[0], "--- language dialog, t=0.000s, code page 932");
  EXPECT_EQ(dialog[1], "caption : Zentavo");
  // The names are 1252 bytes; Windows shows them in 932: "ç" and the "a"
  // after it make one character (0xE7 0x61 is U+8ECB), and "ño" a
  // private-use one (0xF1 0x6F, U+E0EB).
  EXPECT_TRUE(Contains(dialog, "    Fran\u8ecbis")) << transcript;
  EXPECT_TRUE(Contains(dialog, "    Espa\ue0ebl")) << transcript;
  EXPECT_TRUE(Contains(dialog, "  > Japanese")) << transcript;
  EXPECT_EQ(dialog.back(), "buttons : [OK]");
  // Japanese chosen: the setup window's fonts have the Shift-JIS set.
  std::vector<std::string> window = Block(transcript, "--- setup window, ");
  ASSERT_FALSE(window.empty()) << transcript;
  EXPECT_NE(window[0].find(", code page 932"), std::string::npos) << window[0];
}

TEST(RehearsalReport, ARestartAndTheResumedSetupAreReported) {
  // Windows NT 4.0 restarts after the package; the Run value starts the setup again.
  namespace fs = std::filesystem;
  fs::path medium = TempPath("nt_medium");
  fs::remove_all(medium);
  fs::copy(ZT_DEMO_MEDIUM_DIR, medium, fs::copy_options::recursive);
  std::ofstream(medium / "setup.ini", std::ios::binary)
      << "[Setup]\nVersion=2.0\nDescription=Desktop\nPackageType=CD\nTargetOS=WinNT\n";
  {
    // The NT medium's own manifest names its setup.ini.
    std::ifstream in(medium / "medium.sha", std::ios::binary);
    std::string manifest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t line = manifest.find("  setup.ini\n");
    ASSERT_NE(line, std::string::npos);
    manifest.replace(line - 64, 64, CSha256::HexDigest(
        "[Setup]\nVersion=2.0\nDescription=Desktop\nPackageType=CD\nTargetOS=WinNT\n"));
    std::ofstream(medium / "medium.sha", std::ios::binary) << manifest;
  }
  Outcome run = ZentavoSim({"--machine", ZT_SOURCE_DIR "/docs/machines/nt4sp6a.json", "--medium",
                            medium.string(), "--log", TempPath("nt.log"), "--changes", "-"});
  fs::remove_all(medium);
  EXPECT_EQ(run.status, kExitSuccess) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  auto group = [&](const std::string& name) {
    std::vector<std::string> found;
    auto it = std::find(lines.begin(), lines.end(), "== " + name + " ==");
    if (it == lines.end()) return found;
    for (++it; it != lines.end() && !it->empty(); ++it) found.push_back(*it);
    return found;
  };
  EXPECT_EQ(group("Restarts"),
            (std::vector<std::string>{"restart asked, flags 0x00000002 (EWX_REBOOT): accepted"}))
      << run.out;
  std::vector<std::string> started = group("Programs started");
  EXPECT_TRUE(Contains(started, "exit code 0: \"D:\\setup.exe\" /c 17 /l 1033")) << run.out;
  EXPECT_TRUE(Contains(started, "exit code 0: \"C:\\WINNT\\system32\\msiexec.exe\" /i "
                                "\"D:\\Zentavo.msi\" TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress"))
      << run.out;
  // The resume value is gone again at the end.
  for (const std::string& line : group("Registry")) {
    EXPECT_EQ(line.find("ZenSetupSetup"), std::string::npos) << line;
  }
}
