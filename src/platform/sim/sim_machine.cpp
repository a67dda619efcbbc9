#include "platform/sim/sim_machine.h"

#include <algorithm>
#include <optional>

#include "platform/medium_manifest.h"
#include "platform/sha256.h"

#include "platform/sim/sim_xml.h"

extern const char* const kDefaultMachineJson;

namespace {

bool IsFullPath(const std::string& path) {
  return path.size() >= 3 && path[1] == ':' && path[2] == '\\' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

bool IsHexCode(const std::string& text) {
  if (text.size() != 4) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

// Merges `over` onto `base`: objects member by member, any other value
// replaces the one beneath it.
void MergeOnto(SimJson* base, const SimJson& over) {
  if (!base->is_object() || !over.is_object()) {
    *base = over;
    return;
  }
  for (auto it = over.begin(); it != over.end(); ++it) MergeOnto(&(*base)[it.key()], it.value());
}

}  // namespace

SimMachine::SimMachine()
    : files_(clock_, codePage_),
      registry_(codePage_),
      environment_(clock_, codePage_),
      versions_(files_),
      restartOperations_(registry_, files_, environment_, codePage_),
      processes_(*this, clock_, codePage_, environment_, files_, registry_, restartOperations_,
                 faults_),
      desktop_(processes_, clock_, environment_, codePage_),
      com_(files_, registry_, environment_, codePage_, processes_) {
  environment_.os = OsVersion{5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 2"};
  environment_.tempDirectory = "C:\\DOCUME~1\\User\\LOCALS~1\\Temp\\";
  SimEnvironment::ParseLocalTime("2026-03-14T10:05:17", &environment_.startLocalMs);
  environment_.startTickCount = 3600000;
  registry_.AttachFiles(&files_);
  // Another program (another user's, on a folder anyone may write) writes a
  // file; a folder made for Administrators and SYSTEM alone keeps it out.
  faults_.SetPlantHandler([this](const SimFault& fault) -> std::string {
    const std::string path = codePage_.FromUtf8(fault.plantPath);
    const PathChars paths = codePage_.Paths();
    if (fault.plantReplacesFolder) {
      // Renaming a folder away takes the right to delete inside its parent.
      const std::string folder = paths.Folder(path);
      const SimFile* parent = files_.Node(paths.Folder(folder));
      if (!parent || parent->adminsOnly) {
        return "refused " + fault.plantPath + ": its folder's parent is Administrators' and SYSTEM's";
      }
      const std::string aside = paths.LastName(folder) + ".old";
      if (DWORD rc = files_.RenameFolder(folder, aside)) {
        return "refused " + fault.plantPath + ": the folder cannot be renamed - error " +
               std::to_string(rc);
      }
      files_.MakeFolders(folder);
    }
    for (size_t cut = paths.FindSeparator(path, 3); cut != std::string::npos;
         cut = paths.FindSeparator(path, cut + 1)) {
      const SimFile* folder = files_.Node(path.substr(0, cut));
      if (folder && folder->adminsOnly) {
        return "refused " + fault.plantPath + ": a folder of Administrators and SYSTEM";
      }
    }
    // A program that opens a file to hold it needs the file: a hold alone
    // ("locked" and nothing else) makes none.
    if (fault.plantFile.is_object() && fault.plantFile.size() == 1 &&
        fault.plantFile.contains("locked") && !files_.IsFile(path)) {
      return "refused " + fault.plantPath + ": no file there to hold";
    }
    SimJson entry = SimJson::object();
    entry[fault.plantPath] = fault.plantFile;
    std::string error;
    if (!files_.Load(entry, "/faults/plant", &error)) return "refused " + fault.plantPath + ": " + error;
    return "planted " + fault.plantPath;
  });
  files_.AttachRestartOperations(
      [this](const std::string& path) -> DWORD {
        // WININIT.INI deletes files only.
        if (environment_.os.platformId != VER_PLATFORM_WIN32_NT && files_.IsDirectory(path)) {
          return ERROR_NOT_SUPPORTED;
        }
        ScheduleFileOperation(path, std::string());
        return ERROR_SUCCESS;
      });
  registry_.AttachPrivileges([this](const char* privilege) {
    if (environment_.os.platformId != VER_PLATFORM_WIN32_NT) return true;
    const std::vector<std::string>& enabled = processes_.enabledPrivileges();
    return std::find(enabled.begin(), enabled.end(), privilege) != enabled.end();
  });
  registry_.AttachPlatform(
      [this] { return environment_.os.platformId == VER_PLATFORM_WIN32_WINDOWS; });
  // A new top-level window comes to the front.
  processes_.AttachWindows(
      [this](SimWindow window) { desktop_.ActivateWindow(desktop_.AddWindow(std::move(window))); });
}

SimMachine::~SimMachine() = default;

std::string SimMachine::setupFolder() const { return environment_.SetupFolder(); }

std::unique_ptr<SimMachine> SimMachine::Default() {
  std::string error;
  return FromJson(kDefaultMachineJson, "default machine", &error);
}

std::unique_ptr<SimMachine> SimMachine::FromJson(const std::string& jsonText,
                                                 const std::string& sourceName,
                                                 std::string* error) {
  SimJson description;
  std::string problem;
  if (!ParseJsonText(jsonText, &description, &problem)) {
    *error = sourceName + ": " + problem;
    return nullptr;
  }
  // "base": "default" describes only what differs from the embedded default
  // machine; without it, what is not described takes the format's defaults.
  if (description.is_object() && description.contains("base")) {
    if (description["base"] != "default") {
      *error = sourceName + ": /base: expected \"default\" (the embedded default machine, "
                            "the only base there is)";
      return nullptr;
    }
    SimJson merged;
    if (!ParseJsonText(kDefaultMachineJson, &merged, &problem)) {
      *error = "default machine: " + problem;
      return nullptr;
    }
    description.erase("base");
    MergeOnto(&merged, description);
    description = std::move(merged);
  }
  std::unique_ptr<SimMachine> machine(new SimMachine());
  if (!machine->Load(description, &problem)) {
    *error = sourceName + ": " + problem;
    return nullptr;
  }
  return machine;
}

// The members that are not sections of their own: system facts, clock,
// privileges and restart.
bool SimMachine::LoadSystem(const SimJson& d, std::string* error) {
  uint64_t number = 0;
  std::string text;
  if (d.contains("name") && !ReadString(d["name"], "/name", &name_, error)) return false;
  if (d.contains("locale")) {
    const SimJson& locale = d["locale"];
    if (!CheckObject(locale, "/locale", {"language", "codePage"}, error)) return false;
    if (locale.contains("codePage")) {
      if (!ReadUnsigned(locale["codePage"], "/locale/codePage", 0xFFFF, &number, error)) {
        return false;
      }
      if (!SimCodePage::Supported(static_cast<UINT>(number))) {
        return Fail("/locale/codePage", "code page " + std::to_string(number) + " is not known",
                    error);
      }
      codePage_ = SimCodePage(static_cast<UINT>(number));
    }
    if (locale.contains("language")) {
      if (locale["language"].is_null()) {
        environment_.language.reset();
      } else {
        if (!ReadString(locale["language"], "/locale/language", &text, error)) return false;
        if (!IsHexCode(text)) {
          return Fail("/locale/language", "expected four hex digits such as \"0409\", or null",
                      error);
        }
        environment_.language = text;
      }
    }
  }
  if (d.contains("os")) {
    const SimJson& os = d["os"];
    if (!CheckObject(os, "/os",
                     {"platformId", "major", "minor", "build", "servicePack", "architecture"},
                     error)) {
      return false;
    }
    OsVersion& v = environment_.os;
    struct Field {
      const char* name;
      DWORD* target;
      uint64_t max;
    } fields[] = {{"platformId", &v.platformId, 2},
                  {"major", &v.majorVersion, 0xFFFFFFFFu},
                  {"minor", &v.minorVersion, 0xFFFFFFFFu},
                  {"build", &v.buildNumber, 0xFFFFFFFFu}};
    for (const Field& f : fields) {
      if (!os.contains(f.name)) continue;
      if (!ReadUnsigned(os[f.name], JsonPointer("/os", f.name), f.max, &number, error)) {
        return false;
      }
      *f.target = static_cast<DWORD>(number);
    }
    if (os.contains("servicePack")) {
      if (!ReadString(os["servicePack"], "/os/servicePack", &text, error)) return false;
      v.csdVersion = codePage_.FromUtf8(text);
      if (v.csdVersion.size() > 127) {
        return Fail("/os/servicePack", "longer than the 127 characters of szCSDVersion", error);
      }
    }
    if (os.contains("architecture")) {
      if (!ReadString(os["architecture"], "/os/architecture", &text, error)) return false;
      if (text == "x86") {
        environment_.processorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
      } else if (text == "x64") {
        environment_.processorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
      } else {
        return Fail("/os/architecture", "expected \"x86\" or \"x64\"", error);
      }
    }
  }
  if (d.contains("memoryBytes")) {
    if (!ReadUnsigned(d["memoryBytes"], "/memoryBytes", UINT64_MAX, &environment_.memoryBytes,
                      error)) {
      return false;
    }
  }
  if (d.contains("directories")) {
    const SimJson& dirs = d["directories"];
    if (!CheckObject(dirs, "/directories", {"windows", "system", "temp"}, error)) return false;
    struct Dir {
      const char* name;
      std::string* target;
    } list[] = {{"windows", &environment_.windowsDirectory},
                {"system", &environment_.systemDirectory},
                {"temp", &environment_.tempDirectory}};
    for (const Dir& dir : list) {
      if (!dirs.contains(dir.name)) continue;
      std::string at = JsonPointer("/directories", dir.name);
      if (!ReadString(dirs[dir.name], at, &text, error)) return false;
      text = codePage_.FromUtf8(text);
      if (!IsFullPath(text)) return Fail(at, "expected a full path such as \"C:\\\\WINDOWS\"", error);
      bool trailing = codePage_.Paths().EndsWithSeparator(text);
      if (dir.target == &environment_.tempDirectory && !trailing) {
        return Fail(at, "GetTempPath's folder ends with a backslash", error);
      }
      if (dir.target != &environment_.tempDirectory && trailing && text.size() > 3) {
        return Fail(at, "Windows and system folders have no trailing backslash", error);
      }
      *dir.target = text;
    }
  }
  if (d.contains("setupProgram")) {
    if (!ReadString(d["setupProgram"], "/setupProgram", &text, error)) return false;
    text = codePage_.FromUtf8(text);
    if (!IsFullPath(text) || codePage_.Paths().EndsWithSeparator(text)) {
      return Fail("/setupProgram", "expected the program's full path such as \"D:\\\\setup.exe\"",
                  error);
    }
    environment_.setupProgram = text;
  }
  if (d.contains("commandLine")) {
    if (!ReadString(d["commandLine"], "/commandLine", &text, error)) return false;
    environment_.commandLine = codePage_.FromUtf8(text);
  }
  if (d.contains("clock")) {
    const SimJson& clock = d["clock"];
    if (!CheckObject(clock, "/clock", {"localTime", "tickCount"}, error)) return false;
    if (clock.contains("localTime")) {
      if (!ReadString(clock["localTime"], "/clock/localTime", &text, error)) return false;
      if (!SimEnvironment::ParseLocalTime(text, &environment_.startLocalMs)) {
        return Fail("/clock/localTime", "expected a time such as \"2004-09-14T10:05:17\"", error);
      }
    }
    if (clock.contains("tickCount")) {
      if (!ReadUnsigned(clock["tickCount"], "/clock/tickCount", 0xFFFFFFFFu, &number, error)) {
        return false;
      }
      environment_.startTickCount = static_cast<DWORD>(number);
    }
  }
  if (d.contains("randomSeed")) {
    if (!ReadUnsigned(d["randomSeed"], "/randomSeed", UINT64_MAX, &number, error)) return false;
    environment_.randomSeed = number;
  }
  return processes_.LoadSettings(d.contains("privileges") ? &d["privileges"] : nullptr,
                                 d.contains("restart") ? &d["restart"] : nullptr,
                                 d.contains("psapi") ? &d["psapi"] : nullptr, error);
}

bool SimMachine::Load(const SimJson& d, std::string* error) {
  if (!CheckObject(d, "",
                   {"name", "os", "memoryBytes", "locale", "directories", "setupProgram",
                    "commandLine", "clock", "randomSeed", "privileges", "restart", "psapi",
                    "registry", "files",
                    "programs", "processes", "windows", "usb", "faults"},
                   error)) {
    return false;
  }
  if (!LoadSystem(d, error)) return false;
  files_.SetWindowsDirectory(environment_.windowsDirectory);
  files_.SetCurrentDirectory(setupFolder());
  files_.SetTickSource([this] { return environment_.GetTickCount(); });
  if (d.contains("files") && !files_.Load(d["files"], "/files", error)) return false;
  // A Windows machine always has these; the setup program exists as a file.
  for (const std::string& folder : {environment_.windowsDirectory, environment_.systemDirectory,
                                    environment_.tempDirectory, setupFolder()}) {
    if (!files_.MakeFolders(folder)) {
      return Fail("/directories", "a file stands where the folder " + folder + " should be",
                  error);
    }
  }
  if (!files_.Exists(environment_.setupProgram) && !files_.Put(environment_.setupProgram, "")) {
    return Fail("/setupProgram", "cannot create the setup program's file", error);
  }
  if (d.contains("registry") && !registry_.Load(d["registry"], "/registry", error)) return false;
  if (d.contains("programs") && !processes_.LoadPrograms(d["programs"], "/programs", error)) {
    return false;
  }
  if (d.contains("processes") && !processes_.LoadProcesses(d["processes"], "/processes", error)) {
    return false;
  }
  if (d.contains("windows") && !desktop_.Load(d["windows"], "/windows", error)) return false;

  // The device service reads plain JSON; its errors already name "/usb/...".
  nlohmann::json usb = d.contains("usb") ? nlohmann::json(d["usb"]) : nlohmann::json();
  devices_ = NewSimDevices(&usb, error, &clock_);
  if (!devices_) return false;
  xml_ = NewSimXml(files_, environment_);
  if (d.contains("faults") && !faults_.Load(d["faults"], "/faults", error)) return false;
  seam_ = NewSimSeamServices(registry_, files_, environment_, versions_, processes_, desktop_,
                             *devices_, com_, *xml_, faults_);
  return true;
}

bool SimMachine::MountMedium(const std::string& hostDir, std::string* error) {
  const std::string folder = setupFolder();
  if (!files_.MountHostFolder(hostDir, folder, error)) return false;
  // A medium at the root of a drive other than Windows' is a CD: its files
  // are read-only, and CopyFile keeps that attribute on their copies.
  if (folder.size() == 3 && codePage_.Upper(folder.substr(0, 1)) !=
                                codePage_.Upper(environment_.windowsDirectory.substr(0, 1))) {
    files_.MarkReadOnly(folder);
  }
  return true;
}

void SimMachine::ResealMediumManifest() {
  std::string folder = setupFolder();
  if (!codePage_.Paths().EndsWithSeparator(folder)) folder += '\\';
  std::optional<std::string> text = files_.Contents(folder + kMediumManifestName);
  std::vector<MediumFile> entries;
  if (!text || ParseMediumManifest(*text, &entries) != 0) return;
  std::vector<MediumFile> sealed;
  for (const MediumFile& entry : entries) {
    std::optional<std::string> bytes = files_.Contents(folder + entry.name);
    if (bytes) sealed.push_back({entry.name, CSha256::HexDigest(*bytes)});
  }
  files_.Put(folder + kMediumManifestName, FormatMediumManifest(sealed));
}

std::string SimMachine::ToJson() const {
  const OsVersion& os = environment_.os;
  uint64_t now = clock_.now();
  SimJson out = SimJson::object();
  out["name"] = name_;
  out["os"] = {{"platformId", os.platformId},
               {"major", os.majorVersion},
               {"minor", os.minorVersion},
               {"build", os.buildNumber},
               {"servicePack", codePage_.ToUtf8(os.csdVersion)}};
  // Left out for 32-bit Windows, as in every description written before 64-bit machines.
  if (environment_.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) {
    out["os"]["architecture"] = "x64";
  }
  out["memoryBytes"] = environment_.memoryBytes;
  out["locale"] = {{"language", environment_.language ? SimJson(*environment_.language)
                                                      : SimJson()},
                   {"codePage", codePage_.codePage()}};
  out["directories"] = {{"windows", codePage_.ToUtf8(environment_.windowsDirectory)},
                        {"system", codePage_.ToUtf8(environment_.systemDirectory)},
                        {"temp", codePage_.ToUtf8(environment_.tempDirectory)}};
  out["setupProgram"] = codePage_.ToUtf8(environment_.setupProgram);
  out["commandLine"] = codePage_.ToUtf8(environment_.commandLine);
  out["clock"] = {
      {"localTime",
       SimEnvironment::FormatLocalTime(environment_.startLocalMs + static_cast<int64_t>(now))},
      {"tickCount", static_cast<DWORD>((environment_.startTickCount + now) & 0xFFFFFFFFu)}};
  if (environment_.randomSeed) out["randomSeed"] = *environment_.randomSeed;
  processes_.SettingsToJson(&out);
  out["registry"] = registry_.ToJson();
  out["files"] = files_.ToJson();
  out["programs"] = processes_.ProgramsToJson();
  out["processes"] = processes_.ProcessesToJson();
  out["windows"] = desktop_.ToJson();
  if (devices_) {
    nlohmann::json usb = devices_->ToJson();
    if (!usb.is_null()) out["usb"] = SimJson(usb);
  }
  if (faults_.HasPlan()) out["faults"] = faults_.ToJson();
  return out.dump(2) + "\n";
}
