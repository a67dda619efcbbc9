#include "platform/sim/sim_processes.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_codepage.h"
#include "platform/sim/sim_environment.h"
#include "platform/sim/sim_faults.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_restart_operations.h"

namespace {

constexpr DWORD kErrorCallNotImplemented = 120;
constexpr DWORD kErrorNoSuchPrivilege = 1313;
constexpr DWORD kErrorPrivilegeNotHeld = 1314;
// Virtual time a restart of the machine takes.
constexpr uint64_t kRestartDurationMs = 60000;

const char* const kKnownPrivileges[] = {
    "SeShutdownPrivilege",      "SeBackupPrivilege",        "SeRestorePrivilege",
    "SeDebugPrivilege",         "SeTakeOwnershipPrivilege", "SeSecurityPrivilege",
    "SeSystemtimePrivilege",    "SeLoadDriverPrivilege",    "SeRemoteShutdownPrivilege",
    "SeChangeNotifyPrivilege",  "SeIncreaseQuotaPrivilege", "SeTcbPrivilege"};

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

std::string FileNameOf(const std::string& path, const PathChars& paths) {
  size_t cut = paths.FindLastSeparator(path, true);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

SimProcesses::SimProcesses(SimMachine& machine, SimClock& clock, const SimCodePage& codePage,
                           SimEnvironment& environment, SimFileSystem& files,
                           SimRegistry& registry, SimRestartOperations& restartOperations,
                           SimFaults& faults)
    : machine_(machine),
      clock_(clock),
      codePage_(codePage),
      environment_(environment),
      files_(files),
      registry_(registry),
      restartOperations_(restartOperations),
      faults_(faults) {
  RegisterBuiltInPrograms();
}

std::string SimProcesses::ProgramKey(const std::string& name) { return Lower(name); }

void SimProcesses::RegisterProgram(const std::string& name, SimProgramBehaviour behaviour) {
  behaviours_[ProgramKey(name)] = std::move(behaviour);
}

DWORD SimProcesses::NewProcessId() {
  while (processes_.count(nextProcessId_)) nextProcessId_ += 4;
  DWORD id = nextProcessId_;
  nextProcessId_ += 4;
  return id;
}

DWORD SimProcesses::AddRunningProcess(const std::string& program, std::optional<DWORD> id) {
  DWORD processId = id ? *id : NewProcessId();
  SimProcess& process = processes_[processId];
  process.id = processId;
  process.program = program;
  process.ended = false;
  process.endMs.reset();
  return processId;
}

bool SimProcesses::EndProcess(DWORD id, DWORD exitCode) {
  auto it = processes_.find(id);
  if (it == processes_.end() || it->second.ended) return false;
  it->second.ended = true;
  it->second.exitCode = exitCode;
  it->second.endMs = clock_.now();
  std::function<void()> onExit = std::move(it->second.onExit);
  if (onExit) onExit();
  return true;
}

void SimProcesses::Refresh() {
  uint64_t now = clock_.now();
  for (auto& [id, process] : processes_) {
    if (process.ended || !process.endMs || *process.endMs > now) continue;
    process.ended = true;
    std::function<void()> onExit = std::move(process.onExit);
    if (onExit) onExit();
  }
}

const SimProcess* SimProcesses::Process(DWORD id) {
  Refresh();
  auto it = processes_.find(id);
  return it == processes_.end() ? nullptr : &it->second;
}

bool SimProcesses::IsRunning(DWORD id) {
  const SimProcess* process = Process(id);
  return process && !process->ended;
}

std::string SimProcesses::FindFile(const std::string& name) const {
  const SimFileSystem& files = files_;
  if (name.find_first_of("\\/:") != std::string::npos) {
    return files.IsFile(name) ? name : std::string();
  }
  const SimEnvironment& env = environment_;
  for (const std::string& folder :
       {environment_.SetupFolder(), env.systemDirectory, env.windowsDirectory}) {
    std::string candidate = folder;
    if (!codePage_.Paths().EndsWithSeparator(candidate)) candidate += '\\';
    candidate += name;
    if (files.IsFile(candidate)) return candidate;
  }
  return std::string();
}

// The program token is quoted, or else the shortest run of blank-separated
// words that names an existing file, as CreateProcess tries them; ".exe" is
// added to a name without an extension.
std::string SimProcesses::FindProgram(const std::string& commandLine, std::string* arguments,
                                      DWORD* error) const {
  auto withExtension = [this](const std::string& token) {
    std::string name = FileNameOf(token, codePage_.Paths());
    return name.find('.') == std::string::npos ? token + ".exe" : token;
  };
  size_t start = commandLine.find_first_not_of(" \t");
  if (start == std::string::npos) {
    *error = ERROR_PATH_NOT_FOUND;
    return std::string();
  }
  if (commandLine[start] == '"') {
    size_t close = commandLine.find('"', start + 1);
    std::string token = commandLine.substr(
        start + 1, close == std::string::npos ? std::string::npos : close - start - 1);
    size_t rest = close == std::string::npos ? commandLine.size() : close + 1;
    *arguments = commandLine.substr(std::min(commandLine.size(),
                                             commandLine.find_first_not_of(" \t", rest)));
    std::string found = FindFile(withExtension(token));
    if (found.empty()) *error = ERROR_FILE_NOT_FOUND;
    return found;
  }
  size_t end = start;
  while (true) {
    end = commandLine.find_first_of(" \t", end);
    std::string token = commandLine.substr(start, end == std::string::npos ? std::string::npos
                                                                          : end - start);
    std::string found = FindFile(withExtension(token));
    if (!found.empty()) {
      size_t rest = end == std::string::npos ? commandLine.size()
                                             : commandLine.find_first_not_of(" \t", end);
      *arguments = rest == std::string::npos ? std::string() : commandLine.substr(rest);
      return found;
    }
    if (end == std::string::npos) break;
    end = commandLine.find_first_not_of(" \t", end);
    if (end == std::string::npos) break;
  }
  *error = ERROR_FILE_NOT_FOUND;
  return std::string();
}

HANDLE SimProcesses::NewHandle(DWORD processId, bool thread) {
  uintptr_t value = nextHandle_;
  nextHandle_ += 4;
  handles_[value] = HandleEntry{processId, thread};
  return reinterpret_cast<HANDLE>(value);
}

SimProcess* SimProcesses::FromHandle(HANDLE handle) {
  auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles_.end()) return nullptr;
  auto process = processes_.find(it->second.processId);
  return process == processes_.end() ? nullptr : &process->second;
}

DWORD SimProcesses::CreateProcess(const std::string& commandLine, DWORD /*creationFlags*/,
                                  ProcessInformation* info, const std::string& currentDirectory) {
  Refresh();
  if (!info) return ERROR_INVALID_PARAMETER;
  std::string arguments;
  DWORD error = ERROR_SUCCESS;
  std::string program = FindProgram(commandLine, &arguments, &error);
  if (program.empty()) return error;

  SimProcessStart start{commandLine, program, arguments, NewProcessId(), currentDirectory};
  SimProgramRun run;
  std::string byPath = Lower(program), byName = Lower(FileNameOf(program, codePage_.Paths()));
  auto described = programs_.find(byPath);
  if (described == programs_.end()) described = programs_.find(byName);
  auto behaviour = behaviours_.find(byPath);
  if (behaviour == behaviours_.end()) behaviour = behaviours_.find(byName);
  const bool hasBehaviour = behaviour != behaviours_.end();
  // A described failure starts nothing; otherwise the behaviour runs and the
  // description sets what it gives on top of it.
  const ProgramSpec* command = nullptr;
  if (described != programs_.end()) {
    std::string first = arguments.substr(0, arguments.find_first_of(" \t"));
    auto it = described->second.commands.find(Lower(first));
    if (it != described->second.commands.end()) command = it->second.get();
  }
  if (command != nullptr && command->fails != 0) return command->fails;
  LoadImports(program, described != programs_.end() ? &described->second : nullptr,
              currentDirectory);
  if (described != programs_.end() && described->second.fails != 0) {
    return described->second.fails;
  }
  if (hasBehaviour) run = behaviour->second(machine_, start);
  if (run.createError != 0) return run.createError;
  if (described != programs_.end()) ApplySpec(described->second, hasBehaviour, start, &run);
  if (command != nullptr) ApplySpec(*command, hasBehaviour, start, &run);
  if (run.restartNeeded && !run.runsUntilEnded) {
    if (run.exitCode == ERROR_SUCCESS) run.exitCode = run.restartAutomatic ? 1641 : 3010;
    if (run.restartAutomatic) {
      RequestSessionEnd(clock_.now() + run.durationMs, program, true);
    }
  }

  DWORD id = start.processId;
  SimProcess& process = processes_[id];
  process.id = id;
  process.program = program;
  process.commandLine = commandLine;
  process.currentDirectory = currentDirectory;
  if (run.runsUntilEnded) {
    process.endMs.reset();
  } else {
    process.endMs = clock_.now() + run.durationMs;
  }
  process.exitCode = run.exitCode;
  process.onExit = std::move(run.onExit);
  started_.push_back(commandLine);
  startedIds_.push_back(process.id);

  info->process = NewHandle(id, false);
  info->thread = NewHandle(id, true);
  info->processId = id;
  info->threadId = id + 2;
  if (run.onStart) run.onStart(id);
  return ERROR_SUCCESS;
}

namespace {

// The libraries each Windows takes from the system folder whatever lies
// elsewhere ("KnownDLLs" of the Session Manager; Windows 9x keeps such a
// list too), and the libraries those import, which Windows then treats as
// known as well. msvcrt.dll is known on Windows 2000 and XP only through
// what imports it (shell32, ole32, shlwapi).
bool KnownLibrary(const OsVersion& os, const std::string& name) {
  static const char* const kAll[] = {"advapi32.dll", "comdlg32.dll", "gdi32.dll",
                                     "kernel32.dll", "lz32.dll",     "ole32.dll",
                                     "oleaut32.dll", "olecli32.dll", "olesvr32.dll",
                                     "rpcrt4.dll",   "shell32.dll",  "user32.dll",
                                     "version.dll",  "ntdll.dll"};
  static const char* const kNt5[] = {"imagehlp.dll", "urlmon.dll", "wininet.dll",
                                     "wldap32.dll",  "msvcrt.dll", "shlwapi.dll"};
  auto in = [&name](const char* const* list, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (strcasecmp(list[i], name.c_str()) == 0) return true;
    }
    return false;
  };
  if (in(kAll, sizeof(kAll) / sizeof(kAll[0]))) return true;
  return os.platformId == VER_PLATFORM_WIN32_NT && os.majorVersion >= 5 &&
         in(kNt5, sizeof(kNt5) / sizeof(kNt5[0]));
}

// SafeDllSearchMode: the Session Manager's value where it is set, else on
// from Windows XP Service Pack 2 on. Windows NT 4.0 and 9x have no such mode:
// they look in the current folder before the system folder.
bool SafeDllSearch(const SimEnvironment& environment, const SimRegistry& registry) {
  const OsVersion& os = environment.os;
  if (os.platformId != VER_PLATFORM_WIN32_NT || os.majorVersion < 5) return false;
  if (std::optional<DWORD> value = registry.GetDword(
          "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", "SafeDllSearchMode")) {
    return *value != 0;
  }
  if (os.majorVersion > 5 || os.minorVersion > 1) return true;
  if (os.minorVersion < 1) return false;
  const std::string& pack = os.csdVersion;
  const size_t digit = pack.find_first_of("0123456789");
  return digit != std::string::npos && atoi(pack.c_str() + digit) >= 2;
}

}  // namespace

void SimProcesses::LoadImports(const std::string& program, const ProgramSpec* spec,
                               const std::string& currentDirectory) {
  // A program without a described list is a copy of the setup: its imports
  // (as its import table lists them) and its manifest of Common Controls 6.0.
  static const std::vector<std::string> kSetupImports = {
      "advapi32.dll", "comctl32.dll", "gdi32.dll",    "kernel32.dll", "msvcrt.dll",
      "ole32.dll",    "oleaut32.dll", "user32.dll",   "version.dll"};
  const bool setupCopy = !(spec && spec->imports);
  const std::vector<std::string>& imports = setupCopy ? kSetupImports : *spec->imports;
  SimEnvironment& environment = environment_;
  const std::string system = Lower(environment.systemDirectory);
  const PathChars paths = codePage_.Paths();
  const std::string folder = paths.Folder(program);
  // A program of the system folder finds everything there first.
  if (Lower(folder) == system) return;
  const OsVersion& os = environment.os;
  const bool xpOrLater = os.platformId == VER_PLATFORM_WIN32_NT &&
                         (os.majorVersion > 5 || (os.majorVersion == 5 && os.minorVersion >= 1));
  std::string current = currentDirectory.empty() ? files_.currentDirectory()
                                                 : currentDirectory;
  paths.TrimSeparators(&current, 3);
  // With SafeDllSearchMode the system folder, which holds every library a
  // program imports, comes before the current folder.
  const bool currentBeforeSystem = !SafeDllSearch(environment_, registry_) && Lower(current) != system;
  for (const std::string& name : imports) {
    if (KnownLibrary(os, name)) continue;
    // On XP the manifest takes comctl32.dll from WinSxS before any search.
    if (setupCopy && xpOrLater && strcasecmp(name.c_str(), "comctl32.dll") == 0) continue;
    const std::string beside = folder + "\\" + name;
    const std::string inCurrent = current + (paths.EndsWithSeparator(current) ? "" : "\\") + name;
    if (files_.IsFile(beside)) {
      NoteLibraryLoad(program, beside);
    } else if (currentBeforeSystem && files_.IsFile(inCurrent)) {
      NoteLibraryLoad(program, inCurrent);
    }
  }
}

void SimProcesses::ApplySpec(const ProgramSpec& spec, bool hasBehaviour,
                             const SimProcessStart& start, SimProgramRun* run) {
  if (spec.exitCode) run->exitCode = *spec.exitCode;
  if (spec.restartNeeded) run->restartNeeded = *spec.restartNeeded;
  if (spec.durationMs) {
    run->durationMs = *spec.durationMs;
    run->runsUntilEnded = false;
  } else if (spec.hasWindow && !hasBehaviour) {
    // A described program with a window and no duration runs until it closes.
    run->runsUntilEnded = true;
  }
  if (spec.hasWindow) {
    SimWindow window;
    window.title = spec.windowTitle;
    window.className = spec.windowClass;
    window.program = start.program;
    window.closesOnRequest = spec.windowClosesOnRequest;
    window.closeDelayMs = spec.windowCloseDelayMs;
    run->onStart = [this, window, first = std::move(run->onStart)](DWORD processId) mutable {
      if (first) first(processId);
      window.processId = processId;
      if (openWindow_) openWindow_(window);
    };
  }
  if (!spec.leavesFiles.is_null() || !spec.leavesRegistry.is_null()) {
    run->onExit = [this, files = spec.leavesFiles, registry = spec.leavesRegistry,
                   first = std::move(run->onExit)]() {
      if (first) first();
      // Checked when the description was loaded.
      std::string ignored;
      if (!files.is_null()) files_.Load(files, "/leaves/files", &ignored);
      if (!registry.is_null()) registry_.Load(registry, "/leaves/registry", &ignored);
    };
  }
  if (spec.endSessionAtMs) {
    RequestSessionEnd(clock_.now() + *spec.endSessionAtMs, start.program);
  }
}

void SimProcesses::RequestSessionEnd(uint64_t atMs, const std::string& requester,
                                     bool forceIfHung) {
  sessionRequests_.push_back(SimSessionRequest{atMs, requester, true, forceIfHung});
}

void SimProcesses::EndHungSetup() {
  const uint64_t now = clock_.now();
  for (auto it = sessionRequests_.begin(); it != sessionRequests_.end(); ++it) {
    if (!it->forceIfHung || it->atMs > now) continue;
    // The setup cannot answer the session's end: Windows ends it and
    // restarts. Whatever it would still do does not happen.
    setupEndedBy_ = it->requester;
    sessionRequests_.erase(it);
    sessionEnded_ = true;
    faults_.Halt();
    return;
  }
}

std::optional<uint64_t> SimProcesses::NextSessionRequestAt() const {
  std::optional<uint64_t> next;
  for (const SimSessionRequest& request : sessionRequests_) {
    if (!next || request.atMs < *next) next = request.atMs;
  }
  return next;
}

std::optional<SimSessionRequest> SimProcesses::TakeSessionRequest(uint64_t now) {
  auto earliest = sessionRequests_.end();
  for (auto it = sessionRequests_.begin(); it != sessionRequests_.end(); ++it) {
    if (it->atMs <= now && (earliest == sessionRequests_.end() || it->atMs < earliest->atMs)) {
      earliest = it;
    }
  }
  if (earliest == sessionRequests_.end()) return std::nullopt;
  SimSessionRequest request = *earliest;
  sessionRequests_.erase(earliest);
  return request;
}

void SimProcesses::Restart() {
  uint64_t now = clock_.now();
  for (auto& [id, process] : processes_) {
    if (process.ended) continue;
    process.ended = true;
    process.endMs = now;
    process.onExit = nullptr;
  }
  sessionRequests_.clear();
  sessionEnded_ = false;
  setupEndedBy_.clear();
  enabledPrivileges_.clear();
  ++restarts_;
  clock_.Advance(kRestartDurationMs);
  // No program holds a file any more, and what waited for the restart is done.
  files_.UnlockAll();
  restartOperations_.Apply();
}

DWORD SimProcesses::GetExitCode(HANDLE handle, DWORD* exitCode) {
  Refresh();
  auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles_.end() || it->second.thread) return ERROR_INVALID_HANDLE;
  SimProcess* process = FromHandle(handle);
  if (!process) return ERROR_INVALID_HANDLE;
  *exitCode = process->ended ? process->exitCode : static_cast<DWORD>(STILL_ACTIVE);
  return ERROR_SUCCESS;
}

// A wait advances the virtual clock: to the end of the process when it ends
// within the time given, else by the whole time. Waiting forever on a
// process that never ends fails instead of hanging the rehearsal.
DWORD SimProcesses::Wait(HANDLE handle, DWORD milliseconds) {
  Refresh();
  SimProcess* process = FromHandle(handle);
  if (!process) return WAIT_FAILED;
  if (process->ended) return WAIT_OBJECT_0;
  uint64_t now = clock_.now();
  if (process->endMs && (milliseconds == INFINITE || *process->endMs - now <= milliseconds)) {
    clock_.AdvanceTo(*process->endMs);
    Refresh();
    EndHungSetup();
    return WAIT_OBJECT_0;
  }
  if (milliseconds == INFINITE) return WAIT_FAILED;
  clock_.Advance(milliseconds);
  Refresh();
  if (milliseconds > 0) EndHungSetup();
  return process->ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL SimProcesses::CloseHandle(HANDLE handle) {
  return handles_.erase(reinterpret_cast<uintptr_t>(handle)) ? TRUE : FALSE;
}

DWORD SimProcesses::GetProcessImagePath(DWORD processId, std::string* path) {
  // Without a described answer, PSAPI is there when its library is.
  const std::string library = environment_.systemDirectory + "\\psapi.dll";
  bool available = psapi_ ? *psapi_ : files_.IsFile(library);
  if (!available) return ERROR_MOD_NOT_FOUND;
  if (psapiIncomplete_) return ERROR_PROC_NOT_FOUND;
  const SimProcess* process = Process(processId);
  if (!process || process->ended) return ERROR_INVALID_PARAMETER;
  *path = process->program;
  return ERROR_SUCCESS;
}

DWORD SimProcesses::EnablePrivilege(const std::string& name, DWORD* adjustError) {
  if (environment_.os.platformId != VER_PLATFORM_WIN32_NT) {
    return kErrorCallNotImplemented;
  }
  bool known = std::any_of(std::begin(kKnownPrivileges), std::end(kKnownPrivileges),
                           [&name](const char* p) { return strcasecmp(p, name.c_str()) == 0; });
  DWORD result = ERROR_SUCCESS;
  if (!known) {
    result = kErrorNoSuchPrivilege;
  } else {
    auto it = privileges_.find(name);
    if (it != privileges_.end() && !it->second) {
      result = ERROR_NOT_ALL_ASSIGNED;
    } else if (std::find(enabledPrivileges_.begin(), enabledPrivileges_.end(), name) ==
               enabledPrivileges_.end()) {
      enabledPrivileges_.push_back(name);
    }
  }
  if (adjustError) *adjustError = result;
  return ERROR_SUCCESS;
}

// On the NT family ExitWindowsEx needs the shutdown privilege enabled first.
DWORD SimProcesses::ExitWindows(UINT flags, DWORD /*reason*/) {
  restartRequests_.push_back(flags);
  if (environment_.os.platformId == VER_PLATFORM_WIN32_NT &&
      std::find(enabledPrivileges_.begin(), enabledPrivileges_.end(), "SeShutdownPrivilege") ==
          enabledPrivileges_.end()) {
    restartAnswers_.push_back(kErrorPrivilegeNotHeld);
    return kErrorPrivilegeNotHeld;
  }
  if (refuseRestart_) {
    restartAnswers_.push_back(ERROR_ACCESS_DENIED);
    return ERROR_ACCESS_DENIED;
  }
  restartAccepted_ = true;
  restartAnswers_.push_back(ERROR_SUCCESS);
  // Windows now asks every program whether the session may end.
  RequestSessionEnd(clock_.now(), environment_.setupProgram);
  return ERROR_SUCCESS;
}

std::vector<const SimProcess*> SimProcesses::StartedProcesses() {
  Refresh();
  std::vector<const SimProcess*> started;
  for (DWORD id : startedIds_) {
    auto it = processes_.find(id);
    if (it != processes_.end()) started.push_back(&it->second);
  }
  return started;
}
