// The footprint of src/capture/footprint.cpp stays complete: every example
// machine is rehearsed with the seam's trace on, and each registry key and
// value, file and folder, window class and privilege the setup asked for
// must be one the capture takes (the medium's files aside: a capture holds
// the machine, the medium comes with the rehearsal).
#include <gtest/gtest.h>

#include <set>

#include "capture/footprint.h"
#include "scenario/capture_examples.h"
#include "support/harness.h"

namespace {

using capture::FilePrint;
using capture::FileScope;
using capture::KeyPrint;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Collapse(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && !out.empty() && out.back() == '\\' && out.size() > 2) continue;
    out += c;
  }
  while (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
}

// The path with its folders' long names, as far as they exist.
std::string LongForm(SimMachine& machine, const std::string& given) {
  std::string path = Collapse(given);
  for (std::string head = path; head.size() > 2;) {
    std::string longHead;
    if (machine.simFiles().GetLongPathName(head, &longHead) == ERROR_SUCCESS) {
      return Collapse(longHead + path.substr(head.size()));
    }
    const size_t cut = head.find_last_of('\\');
    if (cut == std::string::npos) break;
    head = head.substr(0, cut);
  }
  return path;
}

// A footprint path, expanded on the machine at one moment.
struct Expanded {
  std::string pattern;  // long form; the last component may hold wildcards
  FileScope scope;
};

std::vector<Expanded> ExpandFiles(SimMachine& machine) {
  std::vector<Expanded> out;
  for (const FilePrint& print : capture::FileFootprint()) {
    for (const std::string& path : capture::ExpandPath(machine, print.path)) {
      const size_t cut = path.find_last_of('\\');
      out.push_back({LongForm(machine, path.substr(0, cut)) + path.substr(cut), print.scope});
    }
  }
  return out;
}

bool PathCovered(const std::vector<Expanded>& prints, const std::string& path, bool content) {
  const std::string upper = Upper(path);
  for (const Expanded& print : prints) {
    const bool tree = print.scope == FileScope::kTree || print.scope == FileScope::kTreeContent;
    const bool withContent =
        print.scope == FileScope::kContent || print.scope == FileScope::kTreeContent;
    if (content && !withContent) continue;
    const std::string pattern = Upper(print.pattern);
    const size_t cut = pattern.find_last_of('\\');
    const std::string folder = pattern.substr(0, cut + 1), last = pattern.substr(cut + 1);
    if (upper.compare(0, folder.size(), folder) != 0) continue;
    const std::string rest = upper.substr(folder.size());
    const size_t next = rest.find('\\');
    if (!capture::WildcardMatch(last, rest.substr(0, next))) continue;
    if (next == std::string::npos || tree) return true;
  }
  return false;
}

bool KeyCovered(const std::string& key, const std::string* value) {
  const std::string upper = Upper(key);
  for (const std::string& transient : capture::TransientKeys()) {
    if (upper == Upper(transient) || upper.rfind(Upper(transient) + "\\", 0) == 0) return true;
  }
  KeyPrint print;
  if (!capture::FootprintKey(key, &print) || print.existence) return false;
  if (!value || print.values.empty()) return true;
  for (const std::string& name : print.values) {
    if (Upper(name) == Upper(*value)) return true;
  }
  return false;
}

// "HKLM\\Software" and the short root names the trace writes, in the
// footprint's spelling.
std::string KeyOf(const std::string& detail) {
  std::string key = detail;
  for (const char* cut : {" \"", " #", " -> ", " <- "}) {
    const size_t at = key.find(cut);
    if (at != std::string::npos) key = key.substr(0, at);
  }
  return key;
}

class CaptureFootprint : public ::testing::TestWithParam<capture_examples::Example> {};

TEST_P(CaptureFootprint, CoversEverythingTheSetupAsksFor) {
  const capture_examples::Example& example = GetParam();
  auto machine = capture_examples::Mounted(capture_examples::Description(example).dump(),
                                           example.targetOs);
  ASSERT_TRUE(machine);
  std::vector<Expanded> files = ExpandFiles(*machine);
  machine->faults().SetTracing(true);
  RehearseAll(*machine, "/l 1033");
  for (const Expanded& more : ExpandFiles(*machine)) files.push_back(more);
  const std::string medium = Upper(Collapse(machine->setupFolder()));

  std::set<std::string> missing;
  auto file = [&](const std::string& operation, const std::string& path, bool content) {
    if (path.empty()) return;
    const std::string full = LongForm(*machine, path);
    if (Upper(full).rfind(medium, 0) == 0) return;  // the medium
    if (!PathCovered(files, full, content)) {
      missing.insert(operation + " " + full + (content ? " (its content)" : ""));
    }
  };
  for (const SimSeamCall& call : machine->faults().trace()) {
    const std::string& op = call.operation;
    const std::string& detail = call.detail;
    if (op.rfind("Registry.", 0) == 0) {
      const std::string key = KeyOf(detail);
      std::string value;
      const size_t quote = detail.find(" \"");
      if (quote != std::string::npos) {
        value = detail.substr(quote + 2, detail.find('"', quote + 2) - quote - 2);
      }
      if (!KeyCovered(key, quote == std::string::npos ? nullptr : &value)) {
        missing.insert(op + " " + key + (quote == std::string::npos ? "" : " \"" + value + "\""));
      }
      for (const char* arrow : {" -> ", " <- "}) {
        const size_t at = detail.find(arrow);
        if (at != std::string::npos) file(op, detail.substr(at + 4), false);
      }
    } else if (op == "FileSystem.Copy") {
      const size_t at = detail.find(" -> ");
      file(op, detail.substr(0, at), true);
      file(op, detail.substr(at + 4), false);
    } else if (op == "FileSystem.ReadFile") {
      file(op, detail, true);
    } else if (op == "FileSystem.GetPrivateProfileString") {
      file(op, detail.substr(0, detail.find(" [")), true);
    } else if (op.rfind("FileSystem.", 0) == 0 || op.rfind("VersionInfo.", 0) == 0 ||
               op == "Com.LoadLibraryEx") {
      if (op == "FileSystem.AppendText" || op == "FileSystem.FindNext") continue;
      file(op, detail, false);
    } else if (op == "Processes.CreateProcess") {
      std::string program = detail[0] == '"' ? detail.substr(1, detail.find('"', 1) - 1)
                                             : detail.substr(0, detail.find(' '));
      file(op, program, false);
    } else if (op == "Desktop.FindWindow") {
      bool known = false;
      for (const std::string& name : capture::WindowClasses()) known = known || name == detail;
      if (!known) missing.insert(op + " " + detail);
    } else if (op == "Processes.EnablePrivilege") {
      bool known = false;
      for (const std::string& name : capture::Privileges()) known = known || name == detail;
      if (!known) missing.insert(op + " " + detail);
    }
  }
  std::string list;
  for (const std::string& item : missing) list += "  " + item + "\n";
  EXPECT_TRUE(missing.empty()) << "not in the footprint (src/capture/footprint.cpp):\n" << list;
}

INSTANTIATE_TEST_SUITE_P(Examples, CaptureFootprint,
                         ::testing::ValuesIn(capture_examples::kExamples),
                         [](const ::testing::TestParamInfo<capture_examples::Example>& info) {
                           std::string name = info.param.name[0] ? info.param.name : "default";
                           for (char& c : name) {
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
