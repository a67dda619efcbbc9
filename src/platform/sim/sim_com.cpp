#include "platform/sim/sim_com.h"

#include <strings.h>

#include "platform/sim/sim_environment.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_processes.h"
#include "platform/sim/sim_registry.h"

namespace {

constexpr DWORD kErrorBadExeFormat = 193;
constexpr HRESULT kCoENotInitialized = static_cast<HRESULT>(0x800401F0);

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

// "%MODULE%" in a key path or string stands for the library's own path and
// "%MODULEDIR%" for its folder, as a DllRegisterServer writes them.
SimJson Expand(const SimJson& json, const std::string& module, const std::string& folder) {
  auto expand = [&](const std::string& text) {
    return ReplaceAll(ReplaceAll(text, "%MODULEDIR%", folder), "%MODULE%", module);
  };
  if (json.is_string()) return expand(json.get<std::string>());
  if (json.is_array()) {
    SimJson out = SimJson::array();
    for (const SimJson& item : json) out.push_back(Expand(item, module, folder));
    return out;
  }
  if (json.is_object()) {
    SimJson out = SimJson::object();
    for (auto it = json.begin(); it != json.end(); ++it) {
      out[expand(it.key())] = Expand(it.value(), module, folder);
    }
    return out;
  }
  return json;
}

}  // namespace

bool ValidateLibrary(const SimJson& library, const std::string& pointer,
                     const SimCodePage& codePage, std::string* error) {
  if (!CheckObject(library, pointer, {"exports", "registerResult", "registers", "loadError"},
                   error)) {
    return false;
  }
  if (library.contains("exports")) {
    const SimJson& exports = library["exports"];
    std::string at = JsonPointer(pointer, "exports");
    if (!exports.is_array()) return Fail(at, "expected an array of names", error);
    for (size_t i = 0; i < exports.size(); ++i) {
      std::string name;
      if (!ReadString(exports[i], JsonPointer(at, i), &name, error)) return false;
    }
  }
  int32_t result = 0;
  if (library.contains("registerResult") &&
      !ReadHresult(library["registerResult"], JsonPointer(pointer, "registerResult"), &result,
                   error)) {
    return false;
  }
  uint64_t code = 0;
  if (library.contains("loadError") &&
      !ReadUnsigned(library["loadError"], JsonPointer(pointer, "loadError"), 0xFFFFFFFFu, &code,
                    error)) {
    return false;
  }
  if (library.contains("registers")) {
    SimRegistry scratch(codePage);
    if (!scratch.Load(library["registers"], JsonPointer(pointer, "registers"), error)) {
      return false;
    }
  }
  return true;
}

HRESULT SimCom::CoInitialize() {
  ++coCalls_;
  return coDepth_++ == 0 ? S_OK : S_FALSE;
}

void SimCom::CoUninitialize() {
  if (coDepth_ > 0) --coDepth_;
}

// OleInitialize initialises COM as well, and OleUninitialize undoes both.
HRESULT SimCom::OleInitialize() {
  HRESULT hr = CoInitialize();
  ++oleDepth_;
  return hr;
}

void SimCom::OleUninitialize() {
  if (oleDepth_ == 0) return;
  --oleDepth_;
  CoUninitialize();
}

// The library is looked for as LoadLibraryEx does for a plain name: the
// setup's folder, the system folder, the Windows folder.
DWORD SimCom::LoadLibraryEx(const std::string& path, DWORD /*flags*/, HMODULE* module) {
  // A library that is not there: 126 on the NT family, 1157 on Windows 9x.
  const DWORD missing =
      environment_.os.platformId == VER_PLATFORM_WIN32_WINDOWS
          ? static_cast<DWORD>(ERROR_DLL_NOT_FOUND)
          : static_cast<DWORD>(ERROR_MOD_NOT_FOUND);
  std::string resolved;
  if (path.find_first_of("\\/:") != std::string::npos) {
    resolved = path;
  } else {
    for (const std::string& folder :
         {environment_.SetupFolder(), environment_.systemDirectory,
          environment_.windowsDirectory}) {
      std::string candidate =
          folder + (codePage_.Paths().EndsWithSeparator(folder) ? "" : "\\") + path;
      if (files_.Exists(candidate)) {
        resolved = candidate;
        break;
      }
    }
    if (resolved.empty()) return missing;
  }
  const SimFile* file = nullptr;
  DWORD rc = files_.Lookup(resolved, &file);
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return missing;
  if (rc != ERROR_SUCCESS) return rc;
  if (file->directory) return ERROR_ACCESS_DENIED;
  if (file->library.is_null()) return kErrorBadExeFormat;
  if (file->library.contains("loadError") && file->library["loadError"].get<uint64_t>() != 0) {
    return static_cast<DWORD>(file->library["loadError"].get<uint64_t>());
  }
  const std::string system = environment_.systemDirectory + "\\";
  if (strncasecmp(resolved.c_str(), system.c_str(), system.size()) != 0) {
    processes_.NoteLibraryLoad(environment_.setupProgram, resolved);
  }
  uintptr_t value = nextModule_;
  nextModule_ += 0x10000;
  modules_[value] = Module{resolved, file->library};
  *module = reinterpret_cast<HMODULE>(value);
  return ERROR_SUCCESS;
}

bool SimCom::HasExport(HMODULE module, const std::string& name) {
  auto it = modules_.find(reinterpret_cast<uintptr_t>(module));
  if (it == modules_.end()) return false;
  const SimJson& library = it->second.library;
  if (!library.contains("exports")) {
    return name == "DllRegisterServer" || name == "DllUnregisterServer";
  }
  for (const SimJson& entry : library["exports"]) {
    if (entry.get<std::string>() == name) return true;
  }
  return false;
}

// Like a real control, the registration needs COM initialised on the thread.
HRESULT SimCom::CallDllRegisterServer(HMODULE module) {
  auto it = modules_.find(reinterpret_cast<uintptr_t>(module));
  if (it == modules_.end()) return E_POINTER;
  if (coDepth_ == 0) return kCoENotInitialized;
  const Module& loaded = it->second;
  int32_t result = 0;
  std::string error;
  if (loaded.library.contains("registerResult")) {
    ReadHresult(loaded.library["registerResult"], "", &result, &error);
  }
  registered_.push_back(loaded.path);
  if (result < 0) return result;
  if (loaded.library.contains("registers")) {
    std::string folder = codePage_.Paths().Folder(loaded.path);
    SimJson section = Expand(loaded.library["registers"], codePage_.ToUtf8(loaded.path),
                             codePage_.ToUtf8(folder));
    if (!registry_.Load(section, "", &error)) return E_FAIL;
  }
  return result;
}

void SimCom::FreeLibrary(HMODULE module) { modules_.erase(reinterpret_cast<uintptr_t>(module)); }

// The link is a small INI-style text file: section [ZentavoSimShellLink] with
// Target, WorkingDirectory, Description and Arguments, in the code page.
HRESULT SimCom::CreateShellLink(const std::string& target, const std::string& workingDir,
                                const std::string& description, const std::string& arguments,
                                const std::u16string& linkPath) {
  if (coDepth_ == 0) return kCoENotInitialized;
  std::string path;
  if (!codePage_.ToAnsi(linkPath, &path)) return E_INVALIDARG;
  std::string text = "[ZentavoSimShellLink]\r\nTarget=" + target +
                     "\r\nWorkingDirectory=" + workingDir + "\r\nDescription=" + description +
                     "\r\nArguments=" + arguments + "\r\n";
  DWORD rc = files_.WriteFile(path, text);
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}
