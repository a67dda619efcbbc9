// The simulated processes in the machine format: the "programs" that the
// description gives a behaviour, the "processes" running when it was taken,
// and the privileges, restart and PSAPI settings; each read and written back.
#include <string>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_codepage.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_processes.h"
#include "platform/sim/sim_registry.h"

bool SimProcesses::LoadPrograms(const SimJson& section, const std::string& pointer,
                                std::string* error) {
  if (!section.is_object()) return Fail(pointer, "expected an object", error);
  for (auto it = section.begin(); it != section.end(); ++it) {
    ProgramSpec program;
    if (!LoadProgram(it.value(), JsonPointer(pointer, it.key()), &program, error)) return false;
    programs_[ProgramKey(codePage_.FromUtf8(it.key()))] = std::move(program);
  }
  return true;
}

bool SimProcesses::LoadProgram(const SimJson& described, const std::string& at,
                               ProgramSpec* program, std::string* error) const {
  if (!CheckObject(described, at,
                   {"exitCode", "durationMs", "fails", "leaves", "window", "endSession",
                    "restartNeeded", "commands", "imports"},
                   error)) {
    return false;
  }
  uint64_t number = 0;
  if (described.contains("exitCode")) {
    if (!ReadUnsigned(described["exitCode"], JsonPointer(at, "exitCode"), 0xFFFFFFFFu, &number,
                      error)) {
      return false;
    }
    program->exitCode = static_cast<DWORD>(number);
  }
  if (described.contains("durationMs")) {
    if (!ReadUnsigned(described["durationMs"], JsonPointer(at, "durationMs"), UINT64_MAX / 2,
                      &number, error)) {
      return false;
    }
    program->durationMs = number;
  }
  if (described.contains("fails")) {
    if (!ReadUnsigned(described["fails"], JsonPointer(at, "fails"), 0xFFFFFFFFu, &number, error)) {
      return false;
    }
    program->fails = static_cast<DWORD>(number);
  }
  if (described.contains("leaves")) {
    const SimJson& leaves = described["leaves"];
    std::string leavesAt = JsonPointer(at, "leaves");
    if (!CheckObject(leaves, leavesAt, {"files", "registry"}, error)) return false;
    // Checked by loading them into a scratch machine part; applied when the program ends.
    if (leaves.contains("files")) {
      SimClock clock;
      SimFileSystem scratch(clock, codePage_);
      if (!scratch.Load(leaves["files"], JsonPointer(leavesAt, "files"), error)) return false;
      program->leavesFiles = leaves["files"];
    }
    if (leaves.contains("registry")) {
      SimRegistry scratch(codePage_);
      if (!scratch.Load(leaves["registry"], JsonPointer(leavesAt, "registry"), error)) {
        return false;
      }
      program->leavesRegistry = leaves["registry"];
    }
  }
  if (described.contains("window")) {
    const SimJson& window = described["window"];
    std::string windowAt = JsonPointer(at, "window");
    if (!CheckObject(window, windowAt, {"title", "class", "closesOnRequest", "closeDelayMs"},
                     error)) {
      return false;
    }
    std::string text;
    if (window.contains("title")) {
      if (!ReadString(window["title"], JsonPointer(windowAt, "title"), &text, error)) return false;
      program->windowTitle = codePage_.FromUtf8(text);
    }
    if (window.contains("class")) {
      if (!ReadString(window["class"], JsonPointer(windowAt, "class"), &text, error)) return false;
      program->windowClass = codePage_.FromUtf8(text);
    }
    if (window.contains("closesOnRequest") &&
        !ReadBool(window["closesOnRequest"], JsonPointer(windowAt, "closesOnRequest"),
                  &program->windowClosesOnRequest, error)) {
      return false;
    }
    if (window.contains("closeDelayMs")) {
      if (!ReadUnsigned(window["closeDelayMs"], JsonPointer(windowAt, "closeDelayMs"),
                        UINT64_MAX / 2, &number, error)) {
        return false;
      }
      program->windowCloseDelayMs = number;
    }
    program->hasWindow = true;
  }
  if (described.contains("endSession")) {
    const SimJson& endSession = described["endSession"];
    std::string endAt = JsonPointer(at, "endSession");
    if (!CheckObject(endSession, endAt, {"atMs"}, error)) return false;
    if (!endSession.contains("atMs")) return Fail(endAt, "\"atMs\" is required", error);
    if (!ReadUnsigned(endSession["atMs"], JsonPointer(endAt, "atMs"), UINT64_MAX / 2, &number,
                      error)) {
      return false;
    }
    program->endSessionAtMs = number;
  }
  if (described.contains("restartNeeded")) {
    bool needed = false;
    if (!ReadBool(described["restartNeeded"], JsonPointer(at, "restartNeeded"), &needed, error)) {
      return false;
    }
    program->restartNeeded = needed;
  }
  if (described.contains("imports")) {
    const SimJson& imports = described["imports"];
    std::string importsAt = JsonPointer(at, "imports");
    if (!imports.is_array()) return Fail(importsAt, "expected an array of library names", error);
    std::vector<std::string> names;
    for (size_t i = 0; i < imports.size(); ++i) {
      std::string name;
      if (!ReadString(imports[i], JsonPointer(importsAt, std::to_string(i)), &name, error)) {
        return false;
      }
      if (name.empty() || name.find_first_of("\\/:") != std::string::npos) {
        return Fail(JsonPointer(importsAt, std::to_string(i)), "a library's file name", error);
      }
      names.push_back(codePage_.FromUtf8(name));
    }
    program->imports = names;
  }
  if (described.contains("commands")) {
    const SimJson& commands = described["commands"];
    std::string commandsAt = JsonPointer(at, "commands");
    if (!commands.is_object()) return Fail(commandsAt, "expected an object", error);
    for (auto it = commands.begin(); it != commands.end(); ++it) {
      std::string commandAt = JsonPointer(commandsAt, it.key());
      if (it.value().is_object() && it.value().contains("commands")) {
        return Fail(commandAt, "a command has no commands of its own", error);
      }
      auto command = std::make_shared<ProgramSpec>();
      if (!LoadProgram(it.value(), commandAt, command.get(), error)) return false;
      program->commands[ProgramKey(it.key())] = command;
    }
  }
  program->described = described;
  return true;
}

SimJson SimProcesses::ProgramsToJson() const {
  SimJson out = SimJson::object();
  for (const auto& [name, program] : programs_) {
    out[codePage_.ToUtf8(name)] = program.described;
  }
  return out;
}

bool SimProcesses::LoadProcesses(const SimJson& section, const std::string& pointer,
                                 std::string* error) {
  if (!section.is_array()) return Fail(pointer, "expected an array", error);
  for (size_t i = 0; i < section.size(); ++i) {
    std::string at = JsonPointer(pointer, i);
    const SimJson& entry = section[i];
    if (!CheckObject(entry, at, {"processId", "program", "commandLine", "remainingMs", "exitCode"},
                     error)) {
      return false;
    }
    SimProcess process;
    uint64_t number = 0;
    if (!entry.contains("processId") || !entry.contains("program")) {
      return Fail(at, "a process needs \"processId\" and \"program\"", error);
    }
    if (!ReadUnsigned(entry["processId"], JsonPointer(at, "processId"), 0xFFFFFFFFu, &number,
                      error)) {
      return false;
    }
    if (number == 0 || processes_.count(static_cast<DWORD>(number))) {
      return Fail(JsonPointer(at, "processId"), "process ids are unique and not 0", error);
    }
    process.id = static_cast<DWORD>(number);
    std::string text;
    if (!ReadString(entry["program"], JsonPointer(at, "program"), &text, error)) return false;
    process.program = codePage_.FromUtf8(text);
    if (entry.contains("commandLine")) {
      if (!ReadString(entry["commandLine"], JsonPointer(at, "commandLine"), &text, error)) {
        return false;
      }
      process.commandLine = codePage_.FromUtf8(text);
    }
    if (entry.contains("remainingMs")) {
      if (!ReadUnsigned(entry["remainingMs"], JsonPointer(at, "remainingMs"), UINT64_MAX / 2,
                        &number, error)) {
        return false;
      }
      process.endMs = clock_.now() + number;
    }
    if (entry.contains("exitCode")) {
      if (!ReadUnsigned(entry["exitCode"], JsonPointer(at, "exitCode"), 0xFFFFFFFFu, &number,
                        error)) {
        return false;
      }
      process.exitCode = static_cast<DWORD>(number);
    }
    processes_[process.id] = std::move(process);
  }
  return true;
}

SimJson SimProcesses::ProcessesToJson() {
  Refresh();
  SimJson out = SimJson::array();
  for (const auto& [id, process] : processes_) {
    if (process.ended) continue;
    SimJson entry = SimJson::object();
    entry["processId"] = id;
    entry["program"] = codePage_.ToUtf8(process.program);
    if (!process.commandLine.empty()) {
      entry["commandLine"] = codePage_.ToUtf8(process.commandLine);
    }
    if (process.endMs) entry["remainingMs"] = *process.endMs - clock_.now();
    if (process.exitCode) entry["exitCode"] = process.exitCode;
    out.push_back(std::move(entry));
  }
  return out;
}

bool SimProcesses::LoadSettings(const SimJson* privileges, const SimJson* restart,
                                const SimJson* psapi, std::string* error) {
  if (privileges) {
    if (!privileges->is_object()) return Fail("/privileges", "expected an object", error);
    for (auto it = privileges->begin(); it != privileges->end(); ++it) {
      bool granted = false;
      if (!ReadBool(it.value(), JsonPointer("/privileges", it.key()), &granted, error)) {
        return false;
      }
      privileges_[it.key()] = granted;
    }
  }
  if (restart) {
    std::string text;
    if (!ReadString(*restart, "/restart", &text, error)) return false;
    if (text != "accept" && text != "refuse") {
      return Fail("/restart", "expected \"accept\" or \"refuse\"", error);
    }
    refuseRestart_ = text == "refuse";
  }
  if (psapi) {
    if (psapi->is_boolean()) {
      psapi_ = psapi->get<bool>();
      psapiIncomplete_ = false;
    } else if (psapi->is_string() && psapi->get<std::string>() == "incomplete") {
      psapi_ = true;
      psapiIncomplete_ = true;
    } else {
      return Fail("/psapi", "expected true, false or \"incomplete\"", error);
    }
  }
  return true;
}

void SimProcesses::SettingsToJson(SimJson* machine) const {
  if (!privileges_.empty()) {
    SimJson privileges = SimJson::object();
    for (const auto& [name, granted] : privileges_) privileges[name] = granted;
    (*machine)["privileges"] = std::move(privileges);
  }
  (*machine)["restart"] = refuseRestart_ ? "refuse" : "accept";
  if (psapiIncomplete_) {
    (*machine)["psapi"] = "incomplete";
  } else if (psapi_) {
    (*machine)["psapi"] = *psapi_;
  }
}
