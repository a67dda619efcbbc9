#include "platform/sim/sim_faults.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr ZT_CONFIGRET kCrFailure = 0x13;  // CR_FAILURE

const char* const kFaultPoints[] = {
    "Registry.OpenKey", "Registry.CreateKey", "Registry.QueryValue", "Registry.SetValue",
    "Registry.DeleteValue", "Registry.DeleteKey", "Registry.EnumKey", "Registry.EnumValue",
    "Registry.QueryInfoKey", "Registry.SaveKey", "Registry.RestoreKey", "Registry.LoadKey",
    "Registry.UnLoadKey",
    "FileSystem.Copy", "FileSystem.Delete", "FileSystem.GetAttributes",
    "FileSystem.SetAttributes", "FileSystem.FindFirst", "FileSystem.FindNext",
    "FileSystem.CreateDirectory", "FileSystem.CreatePrivateDirectory",
    "FileSystem.DeleteAtRestart", "FileSystem.RemoveDirectory", "FileSystem.GetTempFileName",
    "FileSystem.GetLongPathName", "FileSystem.CreateEmpty", "FileSystem.AppendText",
    "FileSystem.ReadFile", "FileSystem.OpenForRead", "FileSystem.ReadPiece",
    "FileSystem.WriteFile", "FileSystem.GetPrivateProfileString",
    "Environment.GetOsVersion", "Environment.GetWindowsDirectory",
    "Environment.GetSystemDirectory", "Environment.GetTempPath", "Environment.GetModuleFileName",
    "Environment.GetLocaleLanguage", "Environment.GenRandom",
    "VersionInfo.GetInfoSize", "VersionInfo.GetInfo",
    "Processes.CreateProcess", "Processes.GetExitCode", "Processes.Wait",
    "Processes.GetProcessImagePath", "Processes.EnablePrivilege", "Processes.ExitWindows",
    "Desktop.GetWindowText", "Desktop.GetWindowThreadProcessId",
    "Desktop.GetWindowModuleFileName", "Desktop.FindWindow", "Desktop.PostMessage",
    "Desktop.ActivateWindow",
    "Devices.OpenDevice", "Devices.DeviceIoControl", "Devices.LocateRootDevNode",
    "Devices.GetChild", "Devices.GetSibling", "Devices.GetParent", "Devices.GetDevNodeProperty",
    "Com.CoInitialize", "Com.OleInitialize", "Com.LoadLibraryEx", "Com.HasExport",
    "Com.CallDllRegisterServer", "Com.CreateShellLink",
    "Xml.CreateDocument",
};

std::string RootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKCR";
  if (key == HKEY_CURRENT_USER) return "HKCU";
  if (key == HKEY_LOCAL_MACHINE) return "HKLM";
  if (key == HKEY_USERS) return "HKU";
  return std::string();
}

bool SamePath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string Join(const std::string& parent, const std::string& name) {
  if (name.empty()) return parent;
  return parent.empty() ? name : parent + "\\" + name;
}

// ---- The gates of the nine services ----

class SeamRegistry : public Registry {
 public:
  SeamRegistry(Registry& inner, SimFaults& faults) : inner_(inner), faults_(faults) {}

  LONG OpenKey(HKEY key, const std::string& subKey, REGSAM access, HKEY* result) override {
    const std::string path = Join(PathOf(key), subKey);
    if (DWORD e = faults_.Check("Registry.OpenKey", path)) return static_cast<LONG>(e);
    LONG rc = inner_.OpenKey(key, subKey, access, result);
    if (rc == ERROR_SUCCESS) paths_[*result] = path;
    return rc;
  }
  LONG CreateKey(HKEY key, const std::string& subKey, const std::string& keyClass, DWORD options,
                 REGSAM access, HKEY* result, DWORD* disposition) override {
    const std::string path = Join(PathOf(key), subKey);
    if (DWORD e = faults_.Check("Registry.CreateKey", path)) return static_cast<LONG>(e);
    LONG rc = inner_.CreateKey(key, subKey, keyClass, options, access, result, disposition);
    if (rc == ERROR_SUCCESS) paths_[*result] = path;
    return rc;
  }
  LONG CloseKey(HKEY key) override {
    paths_.erase(key);
    return inner_.CloseKey(key);
  }
  LONG QueryValue(HKEY key, const std::string& name, DWORD* type, BYTE* data,
                  DWORD* size) override {
    if (DWORD e = faults_.Check("Registry.QueryValue", Value(key, name))) {
      return static_cast<LONG>(e);
    }
    return inner_.QueryValue(key, name, type, data, size);
  }
  LONG SetValue(HKEY key, const std::string& name, DWORD type, const BYTE* data,
                DWORD size) override {
    std::string detail = Value(key, name);
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && data != nullptr) {
      std::string text(reinterpret_cast<const char*>(data), size);
      detail += " = " + text.substr(0, text.find('\0'));
    }
    if (DWORD e = faults_.Check("Registry.SetValue", detail)) return static_cast<LONG>(e);
    return inner_.SetValue(key, name, type, data, size);
  }
  LONG DeleteValue(HKEY key, const std::string& name) override {
    if (DWORD e = faults_.Check("Registry.DeleteValue", Value(key, name))) {
      return static_cast<LONG>(e);
    }
    return inner_.DeleteValue(key, name);
  }
  LONG DeleteKey(HKEY key, const std::string& subKey) override {
    if (DWORD e = faults_.Check("Registry.DeleteKey", Join(PathOf(key), subKey))) {
      return static_cast<LONG>(e);
    }
    return inner_.DeleteKey(key, subKey);
  }
  LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize, char* keyClass,
               DWORD* classSize) override {
    if (DWORD e = faults_.Check("Registry.EnumKey", Indexed(key, index))) {
      return static_cast<LONG>(e);
    }
    return inner_.EnumKey(key, index, name, nameSize, keyClass, classSize);
  }
  LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
                 DWORD* dataSize) override {
    if (DWORD e = faults_.Check("Registry.EnumValue", Indexed(key, index))) {
      return static_cast<LONG>(e);
    }
    return inner_.EnumValue(key, index, name, nameSize, type, data, dataSize);
  }
  LONG QueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values,
                    DWORD* maxValueNameLen, DWORD* maxValueLen) override {
    if (DWORD e = faults_.Check("Registry.QueryInfoKey", PathOf(key))) {
      return static_cast<LONG>(e);
    }
    return inner_.QueryInfoKey(key, subKeys, maxSubKeyLen, values, maxValueNameLen, maxValueLen);
  }
  LONG SaveKey(HKEY key, const std::string& file) override {
    if (DWORD e = faults_.Check("Registry.SaveKey", PathOf(key) + " -> " + file)) {
      return static_cast<LONG>(e);
    }
    return inner_.SaveKey(key, file);
  }
  LONG RestoreKey(HKEY key, const std::string& file, DWORD flags) override {
    if (DWORD e = faults_.Check("Registry.RestoreKey", PathOf(key) + " <- " + file)) {
      return static_cast<LONG>(e);
    }
    return inner_.RestoreKey(key, file, flags);
  }
  LONG LoadKey(HKEY key, const std::string& subKey, const std::string& file) override {
    if (DWORD e = faults_.Check("Registry.LoadKey", Join(PathOf(key), subKey) + " <- " + file)) {
      return static_cast<LONG>(e);
    }
    return inner_.LoadKey(key, subKey, file);
  }
  LONG UnLoadKey(HKEY key, const std::string& subKey) override {
    if (DWORD e = faults_.Check("Registry.UnLoadKey", Join(PathOf(key), subKey))) {
      return static_cast<LONG>(e);
    }
    return inner_.UnLoadKey(key, subKey);
  }

 private:
  // The key a handle stands for, as far as the setup opened it through here.
  std::string PathOf(HKEY key) const {
    std::string root = RootName(key);
    if (!root.empty()) return root;
    auto it = paths_.find(key);
    return it != paths_.end() ? it->second : std::string("(key)");
  }
  std::string Value(HKEY key, const std::string& name) const {
    return PathOf(key) + " \"" + name + "\"";
  }
  std::string Indexed(HKEY key, DWORD index) const {
    return PathOf(key) + " #" + std::to_string(index);
  }

  Registry& inner_;
  SimFaults& faults_;
  std::map<HKEY, std::string> paths_;
};

class SeamFiles : public FileSystem {
 public:
  SeamFiles(FileSystem& inner, SimFaults& faults) : inner_(inner), faults_(faults) {}

  DWORD Copy(const std::string& from, const std::string& to, bool failIfExists) override {
    if (DWORD e = faults_.Check("FileSystem.Copy", from + " -> " + to)) return e;
    return inner_.Copy(from, to, failIfExists);
  }
  DWORD Delete(const std::string& path) override {
    if (DWORD e = faults_.Check("FileSystem.Delete", path)) return e;
    return inner_.Delete(path);
  }
  DWORD GetAttributes(const std::string& path, DWORD* attributes) override {
    if (DWORD e = faults_.Check("FileSystem.GetAttributes", path)) return e;
    return inner_.GetAttributes(path, attributes);
  }
  DWORD SetAttributes(const std::string& path, DWORD attributes) override {
    if (DWORD e = faults_.Check("FileSystem.SetAttributes", path)) return e;
    return inner_.SetAttributes(path, attributes);
  }
  DWORD FindFirst(const std::string& pattern, FindHandle* handle, FindData* data) override {
    if (DWORD e = faults_.Check("FileSystem.FindFirst", pattern)) return e;
    return inner_.FindFirst(pattern, handle, data);
  }
  DWORD FindNext(FindHandle handle, FindData* data) override {
    if (DWORD e = faults_.Check("FileSystem.FindNext", std::string())) return e;
    return inner_.FindNext(handle, data);
  }
  DWORD FindClose(FindHandle handle) override { return inner_.FindClose(handle); }
  DWORD CreateDirectory(const std::string& path) override {
    if (DWORD e = faults_.Check("FileSystem.CreateDirectory", path)) return e;
    return inner_.CreateDirectory(path);
  }
  DWORD CreatePrivateDirectory(const std::string& path) override {
    if (DWORD e = faults_.Check("FileSystem.CreatePrivateDirectory", path)) return e;
    return inner_.CreatePrivateDirectory(path);
  }
  DWORD DeleteAtRestart(const std::string& path) override {
    if (DWORD e = faults_.Check("FileSystem.DeleteAtRestart", path)) return e;
    return inner_.DeleteAtRestart(path);
  }
  DWORD RemoveDirectory(const std::string& path) override {
    if (DWORD e = faults_.Check("FileSystem.RemoveDirectory", path)) return e;
    return inner_.RemoveDirectory(path);
  }
  DWORD GetTempFileName(const std::string& dir, const std::string& prefix, UINT unique,
                        std::string* path) override {
    if (DWORD e = faults_.Check("FileSystem.GetTempFileName", dir)) return e;
    return inner_.GetTempFileName(dir, prefix, unique, path);
  }
  DWORD GetLongPathName(const std::string& path, std::string* longPath) override {
    if (DWORD e = faults_.Check("FileSystem.GetLongPathName", path)) return e;
    return inner_.GetLongPathName(path, longPath);
  }
  DWORD CreateEmpty(const std::string& path) override {
    if (DWORD e = faults_.Check("FileSystem.CreateEmpty", path)) return e;
    return inner_.CreateEmpty(path);
  }
  DWORD AppendText(const std::string& path, const std::string& text) override {
    if (DWORD e = faults_.Check("FileSystem.AppendText", text)) return e;
    return inner_.AppendText(path, text);
  }
  DWORD ReadFile(const std::string& path, std::string* bytes) override {
    if (DWORD e = faults_.Check("FileSystem.ReadFile", path)) return e;
    return inner_.ReadFile(path, bytes);
  }
  DWORD OpenForRead(const std::string& path, ReadHandle* handle, uint64_t* size) override {
    if (DWORD e = faults_.Check("FileSystem.OpenForRead", path)) return e;
    DWORD rc = inner_.OpenForRead(path, handle, size);
    if (rc == ERROR_SUCCESS) readPaths_[*handle] = path;
    return rc;
  }
  // Detail: the path of the file the piece is read from.
  DWORD ReadPiece(ReadHandle handle, size_t maxBytes, std::string* bytes) override {
    auto it = readPaths_.find(handle);
    if (DWORD e = faults_.Check("FileSystem.ReadPiece",
                                it != readPaths_.end() ? it->second : std::string())) {
      return e;
    }
    return inner_.ReadPiece(handle, maxBytes, bytes);
  }
  DWORD CloseRead(ReadHandle handle) override {
    readPaths_.erase(handle);
    return inner_.CloseRead(handle);
  }
  DWORD WriteFile(const std::string& path, const std::string& bytes) override {
    if (DWORD e = faults_.Check("FileSystem.WriteFile", path)) return e;
    return inner_.WriteFile(path, bytes);
  }
  // A file that cannot be read gives the default, as Windows gives it.
  DWORD GetPrivateProfileString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, std::string* value, DWORD size,
                                const std::string& file) override {
    if (faults_.Check("FileSystem.GetPrivateProfileString", file + " [" + section + "] " + key)) {
      if (size == 0) return 0;
      std::string text = defaultValue.substr(0, defaultValue.find_last_not_of(' ') + 1);
      if (text.size() > size - 1) text.resize(size - 1);
      *value = text;
      return static_cast<DWORD>(text.size());
    }
    return inner_.GetPrivateProfileString(section, key, defaultValue, value, size, file);
  }

 private:
  FileSystem& inner_;
  SimFaults& faults_;
  std::map<ReadHandle, std::string> readPaths_;
};

class SeamEnvironment : public Environment {
 public:
  SeamEnvironment(Environment& inner, SimFaults& faults) : inner_(inner), faults_(faults) {}

  BOOL GetOsVersion(OsVersion* version) override {
    if (faults_.Check("Environment.GetOsVersion", std::string())) return FALSE;
    return inner_.GetOsVersion(version);
  }
  WORD GetNativeProcessorArchitecture() override { return inner_.GetNativeProcessorArchitecture(); }
  uint64_t TotalPhysicalMemory() override { return inner_.TotalPhysicalMemory(); }
  DWORD GetWindowsDirectory(std::string* path) override {
    if (DWORD e = faults_.Check("Environment.GetWindowsDirectory", std::string())) return e;
    return inner_.GetWindowsDirectory(path);
  }
  DWORD GetSystemDirectory(std::string* path) override {
    if (DWORD e = faults_.Check("Environment.GetSystemDirectory", std::string())) return e;
    return inner_.GetSystemDirectory(path);
  }
  DWORD GetTempPath(std::string* path) override {
    if (DWORD e = faults_.Check("Environment.GetTempPath", std::string())) return e;
    return inner_.GetTempPath(path);
  }
  DWORD GetModuleFileName(std::string* path) override {
    if (DWORD e = faults_.Check("Environment.GetModuleFileName", std::string())) return e;
    return inner_.GetModuleFileName(path);
  }
  std::string CommandLineArguments() override { return inner_.CommandLineArguments(); }
  void GetLocalTime(LocalTime* time) override { inner_.GetLocalTime(time); }
  DWORD GetTickCount() override { return inner_.GetTickCount(); }
  DWORD GenRandom(void* buffer, size_t size) override {
    if (DWORD e = faults_.Check("Environment.GenRandom", std::string())) return e;
    return inner_.GenRandom(buffer, size);
  }
  void Sleep(DWORD milliseconds) override { inner_.Sleep(milliseconds); }
  BOOL GetLocaleLanguage(std::string* code) override {
    if (faults_.Check("Environment.GetLocaleLanguage", std::string())) return FALSE;
    return inner_.GetLocaleLanguage(code);
  }
  UINT GetACP() override { return inner_.GetACP(); }
  BOOL IsDBCSLeadByte(BYTE c) override { return inner_.IsDBCSLeadByte(c); }
  bool AnsiToWide(const std::string& text, std::u16string* wide) override {
    return inner_.AnsiToWide(text, wide);
  }
  bool WideToAnsi(const std::u16string& wide, std::string* text) override {
    return inner_.WideToAnsi(wide, text);
  }
  void CharUpper(std::string* text) override { inner_.CharUpper(text); }
  int CompareNoCase(const std::string& a, const std::string& b, size_t count) override {
    return inner_.CompareNoCase(a, b, count);
  }

 private:
  Environment& inner_;
  SimFaults& faults_;
};

class SeamVersions : public VersionInfo {
 public:
  SeamVersions(VersionInfo& inner, SimFaults& faults) : inner_(inner), faults_(faults) {}

  DWORD GetInfoSize(const std::string& path, DWORD* lastError) override {
    if (DWORD e = faults_.Check("VersionInfo.GetInfoSize", path)) {
      *lastError = e;
      return 0;
    }
    return inner_.GetInfoSize(path, lastError);
  }
  DWORD GetInfo(const std::string& path, std::unique_ptr<VersionResource>* resource) override {
    if (DWORD e = faults_.Check("VersionInfo.GetInfo", path)) return e;
    return inner_.GetInfo(path, resource);
  }

 private:
  VersionInfo& inner_;
  SimFaults& faults_;
};

class SeamProcesses : public Processes {
 public:
  SeamProcesses(Processes& inner, SimFaults& faults) : inner_(inner), faults_(faults) {}

  using Processes::CreateProcess;
  DWORD CreateProcess(const std::string& commandLine, DWORD creationFlags,
                      ProcessInformation* info, const std::string& currentDirectory) override {
    if (DWORD e = faults_.Check("Processes.CreateProcess", commandLine)) return e;
    return inner_.CreateProcess(commandLine, creationFlags, info, currentDirectory);
  }
  DWORD GetExitCode(HANDLE process, DWORD* exitCode) override {
    if (DWORD e = faults_.Check("Processes.GetExitCode", std::string())) return e;
    return inner_.GetExitCode(process, exitCode);
  }
  DWORD Wait(HANDLE process, DWORD milliseconds) override {
    if (faults_.Check("Processes.Wait", std::string())) return WAIT_FAILED;
    return inner_.Wait(process, milliseconds);
  }
  BOOL CloseHandle(HANDLE handle) override { return inner_.CloseHandle(handle); }
  DWORD GetProcessImagePath(DWORD processId, std::string* path) override {
    if (DWORD e = faults_.Check("Processes.GetProcessImagePath", std::to_string(processId))) {
      return e;
    }
    return inner_.GetProcessImagePath(processId, path);
  }
  DWORD EnablePrivilege(const std::string& name, DWORD* adjustError) override {
    if (DWORD e = faults_.Check("Processes.EnablePrivilege", name)) return e;
    return inner_.EnablePrivilege(name, adjustError);
  }
  DWORD ExitWindows(UINT flags, DWORD reason) override {
    if (DWORD e = faults_.Check("Processes.ExitWindows", std::to_string(flags))) return e;
    return inner_.ExitWindows(flags, reason);
  }

 private:
  Processes& inner_;
  SimFaults& faults_;
};

class SeamDesktop : public Desktop {
 public:
  SeamDesktop(Desktop& inner, SimFaults& faults) : inner_(inner), faults_(faults) {}

  std::vector<HWND> EnumWindows() override { return inner_.EnumWindows(); }
  bool GetWindowText(HWND window, std::string* title, int size) override {
    if (faults_.Check("Desktop.GetWindowText", std::string())) return false;
    return inner_.GetWindowText(window, title, size);
  }
  DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) override {
    if (faults_.Check("Desktop.GetWindowThreadProcessId", std::string())) return 0;
    return inner_.GetWindowThreadProcessId(window, processId);
  }
  bool GetWindowModuleFileName(HWND window, std::string* path) override {
    if (faults_.Check("Desktop.GetWindowModuleFileName", std::string())) return false;
    return inner_.GetWindowModuleFileName(window, path);
  }
  bool GetClassName(HWND window, std::string* className) override {
    return inner_.GetClassName(window, className);
  }
  HWND FindWindow(const std::string& className) override {
    if (faults_.Check("Desktop.FindWindow", className)) return nullptr;
    return inner_.FindWindow(className);
  }
  BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    if (faults_.Check("Desktop.PostMessage", std::to_string(message))) return FALSE;
    return inner_.PostMessage(window, message, wParam, lParam);
  }
  BOOL ActivateWindow(HWND window) override {
    if (faults_.Check("Desktop.ActivateWindow", std::string())) return FALSE;
    return inner_.ActivateWindow(window);
  }

 private:
  Desktop& inner_;
  SimFaults& faults_;
};

class SeamDevices : public Devices {
 public:
  SeamDevices(Devices& inner, SimFaults& faults) : inner_(inner), faults_(faults) {}

  HANDLE OpenDevice(const std::string& name, DWORD access, DWORD shareMode,
                    DWORD disposition) override {
    if (faults_.Check("Devices.OpenDevice", name)) return INVALID_HANDLE_VALUE;
    return inner_.OpenDevice(name, access, shareMode, disposition);
  }
  BOOL CloseDevice(HANDLE device) override { return inner_.CloseDevice(device); }
  BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out,
                       DWORD outSize, DWORD* returned) override {
    if (faults_.Check("Devices.DeviceIoControl", std::to_string(code))) return FALSE;
    return inner_.DeviceIoControl(device, code, in, inSize, out, outSize, returned);
  }
  ZT_CONFIGRET LocateRootDevNode(ZT_DEVINST* node) override {
    if (faults_.Check("Devices.LocateRootDevNode", std::string())) return kCrFailure;
    return inner_.LocateRootDevNode(node);
  }
  ZT_CONFIGRET GetChild(ZT_DEVINST* child, ZT_DEVINST node) override {
    if (faults_.Check("Devices.GetChild", std::to_string(node))) return kCrFailure;
    return inner_.GetChild(child, node);
  }
  ZT_CONFIGRET GetSibling(ZT_DEVINST* sibling, ZT_DEVINST node) override {
    if (faults_.Check("Devices.GetSibling", std::to_string(node))) return kCrFailure;
    return inner_.GetSibling(sibling, node);
  }
  ZT_CONFIGRET GetParent(ZT_DEVINST* parent, ZT_DEVINST node) override {
    if (faults_.Check("Devices.GetParent", std::to_string(node))) return kCrFailure;
    return inner_.GetParent(parent, node);
  }
  ZT_CONFIGRET GetDevNodeProperty(ZT_DEVINST node, ULONG property, void* buffer,
                                  ULONG* length) override {
    if (faults_.Check("Devices.GetDevNodeProperty", std::to_string(node))) return kCrFailure;
    return inner_.GetDevNodeProperty(node, property, buffer, length);
  }
  void OutputDebugString(const std::string& text) override { inner_.OutputDebugString(text); }

 private:
  Devices& inner_;
  SimFaults& faults_;
};

class SeamCom : public Com {
 public:
  SeamCom(Com& inner, SimFaults& faults) : inner_(inner), faults_(faults) {}

  HRESULT CoInitialize() override {
    if (DWORD e = faults_.Check("Com.CoInitialize", std::string())) return HRESULT_FROM_WIN32(e);
    return inner_.CoInitialize();
  }
  void CoUninitialize() override { inner_.CoUninitialize(); }
  HRESULT OleInitialize() override {
    if (DWORD e = faults_.Check("Com.OleInitialize", std::string())) return HRESULT_FROM_WIN32(e);
    return inner_.OleInitialize();
  }
  void OleUninitialize() override { inner_.OleUninitialize(); }
  DWORD LoadLibraryEx(const std::string& path, DWORD flags, HMODULE* module) override {
    if (DWORD e = faults_.Check("Com.LoadLibraryEx", path)) return e;
    return inner_.LoadLibraryEx(path, flags, module);
  }
  bool HasExport(HMODULE module, const std::string& name) override {
    if (faults_.Check("Com.HasExport", name)) return false;
    return inner_.HasExport(module, name);
  }
  HRESULT CallDllRegisterServer(HMODULE module) override {
    if (DWORD e = faults_.Check("Com.CallDllRegisterServer", std::string())) {
      return HRESULT_FROM_WIN32(e);
    }
    return inner_.CallDllRegisterServer(module);
  }
  void FreeLibrary(HMODULE module) override { inner_.FreeLibrary(module); }
  HRESULT CreateShellLink(const std::string& target, const std::string& workingDir,
                          const std::string& description, const std::string& arguments,
                          const std::u16string& linkPath) override {
    if (DWORD e = faults_.Check("Com.CreateShellLink", target)) return HRESULT_FROM_WIN32(e);
    return inner_.CreateShellLink(target, workingDir, description, arguments, linkPath);
  }

 private:
  Com& inner_;
  SimFaults& faults_;
};

class SeamXml : public Xml {
 public:
  SeamXml(Xml& inner, SimFaults& faults) : inner_(inner), faults_(faults) {}

  HRESULT CreateDocument(std::unique_ptr<XmlDocument>* document) override {
    if (DWORD e = faults_.Check("Xml.CreateDocument", std::string())) {
      return HRESULT_FROM_WIN32(e);
    }
    return inner_.CreateDocument(document);
  }

 private:
  Xml& inner_;
  SimFaults& faults_;
};

}  // namespace

const std::vector<std::string>& SimFaults::FaultPoints() {
  static const std::vector<std::string> names(std::begin(kFaultPoints), std::end(kFaultPoints));
  return names;
}

bool SimFaults::IsFaultPoint(const std::string& operation) {
  const std::vector<std::string>& names = FaultPoints();
  return std::find(names.begin(), names.end(), operation) != names.end();
}

bool SimFaults::Load(const SimJson& section, const std::string& pointer, std::string* error) {
  if (!section.is_array()) return Fail(pointer, "expected an array of faults", error);
  std::vector<SimFault> faults;
  for (size_t i = 0; i < section.size(); ++i) {
    const SimJson& entry = section[i];
    const std::string at = JsonPointer(pointer, i);
    if (!CheckObject(entry, at, {"operation", "call", "error", "powerCut", "plant", "path"}, error)) {
      return false;
    }
    SimFault fault;
    if (!entry.contains("operation")) return Fail(at, "\"operation\" is missing", error);
    if (!ReadString(entry["operation"], JsonPointer(at, "operation"), &fault.operation, error)) {
      return false;
    }
    if (fault.operation != "*" && !IsFaultPoint(fault.operation)) {
      return Fail(JsonPointer(at, "operation"),
                  "\"" + fault.operation +
                      "\" is no operation that can fail (see docs/machine-format.md, Faults)",
                  error);
    }
    if (entry.contains("path") &&
        !ReadString(entry["path"], JsonPointer(at, "path"), &fault.path, error)) {
      return false;
    }
    uint64_t number = 0;
    if (!entry.contains("call")) return Fail(at, "\"call\" is missing", error);
    if (!ReadUnsigned(entry["call"], JsonPointer(at, "call"), UINT32_MAX, &number, error)) {
      return false;
    }
    if (number == 0) return Fail(JsonPointer(at, "call"), "calls are counted from 1", error);
    fault.call = number;
    if (entry.contains("powerCut") &&
        !ReadBool(entry["powerCut"], JsonPointer(at, "powerCut"), &fault.powerCut, error)) {
      return false;
    }
    if (entry.contains("error")) {
      if (!ReadUnsigned(entry["error"], JsonPointer(at, "error"), UINT32_MAX, &number, error)) {
        return false;
      }
      if (number == 0) return Fail(JsonPointer(at, "error"), "0 is no error", error);
      fault.error = static_cast<DWORD>(number);
    } else if (entry.contains("plant")) {
      const SimJson& plant = entry["plant"];
      const std::string plantAt = JsonPointer(at, "plant");
      if (!CheckObject(plant, plantAt, {"path", "file", "replaceFolder"}, error)) return false;
      if (!plant.contains("path") || !plant.contains("file")) {
        return Fail(plantAt, "\"path\" and \"file\" are required", error);
      }
      if (!ReadString(plant["path"], JsonPointer(plantAt, "path"), &fault.plantPath, error)) {
        return false;
      }
      if (!plant["file"].is_object()) return Fail(JsonPointer(plantAt, "file"), "expected a file object", error);
      fault.plantFile = plant["file"];
      if (plant.contains("replaceFolder") &&
          !ReadBool(plant["replaceFolder"], JsonPointer(plantAt, "replaceFolder"),
                    &fault.plantReplacesFolder, error)) {
        return false;
      }
    } else if (!fault.powerCut) {
      return Fail(at, "\"error\" is missing (or \"powerCut\": true, or a \"plant\")", error);
    }
    faults.push_back(fault);
  }
  planned_ = std::move(faults);
  return true;
}

SimJson SimFaults::ToJson() const {
  SimJson out = SimJson::array();
  for (const SimFault& fault : planned_) {
    if (fault.fired) continue;
    SimJson entry = SimJson::object();
    entry["operation"] = fault.operation;
    entry["call"] = fault.path.empty() ? fault.call - Calls(fault.operation)
                                       : fault.call - fault.pathCalls;
    if (!fault.path.empty()) entry["path"] = fault.path;
    if (fault.error != 0) entry["error"] = fault.error;
    if (fault.powerCut) entry["powerCut"] = true;
    if (!fault.plantPath.empty()) {
      entry["plant"] = {{"path", fault.plantPath}, {"file", fault.plantFile}};
      if (fault.plantReplacesFolder) entry["plant"]["replaceFolder"] = true;
    }
    out.push_back(entry);
  }
  return out;
}

bool SimFaults::HasPlan() const {
  for (const SimFault& fault : planned_) {
    if (!fault.fired) return true;
  }
  return false;
}

uint64_t SimFaults::Calls(const std::string& operation) const {
  if (operation == "*") return anyCalls_;
  auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

DWORD SimFaults::Check(const char* operation, const std::string& detail) {
  if (!armed_) return 0;
  if (poweredOff_ || halted_) {
    if (tracing_) trace_.push_back(SimSeamCall{operation, detail, true, true});
    return ERROR_NOT_READY;
  }
  const uint64_t call = ++calls_[operation];
  const uint64_t any = ++anyCalls_;
  DWORD error = 0;
  for (SimFault& fault : planned_) {
    if (fault.fired) continue;
    bool hit;
    if (!fault.path.empty()) {
      hit = (fault.operation == "*" || fault.operation == operation) &&
            SamePath(fault.path, detail) && ++fault.pathCalls == fault.call;
    } else {
      hit = fault.operation == "*" ? fault.call == any
                                   : fault.operation == operation && fault.call == call;
    }
    if (!hit) continue;
    fault.fired = true;
    fired_.push_back(fault);
    if (!fault.plantPath.empty()) {
      if (onPlant_) plants_.push_back(onPlant_(fault));
      continue;
    }
    if (fault.powerCut) {
      poweredOff_ = true;
      error = ERROR_NOT_READY;
      if (onPowerCut_) onPowerCut_();
      break;
    }
    error = fault.error;
    break;
  }
  if (tracing_) trace_.push_back(SimSeamCall{operation, detail, true, error != 0});
  return error;
}

SimSeamServices NewSimSeamServices(Registry& registry, FileSystem& files,
                                   Environment& environment, VersionInfo& versions,
                                   Processes& processes, Desktop& desktop, Devices& devices,
                                   Com& com, Xml& xml, SimFaults& faults) {
  SimSeamServices seam;
  seam.registry = std::make_unique<SeamRegistry>(registry, faults);
  seam.files = std::make_unique<SeamFiles>(files, faults);
  seam.environment = std::make_unique<SeamEnvironment>(environment, faults);
  seam.versions = std::make_unique<SeamVersions>(versions, faults);
  seam.processes = std::make_unique<SeamProcesses>(processes, faults);
  seam.desktop = std::make_unique<SeamDesktop>(desktop, faults);
  seam.devices = std::make_unique<SeamDevices>(devices, faults);
  seam.com = std::make_unique<SeamCom>(com, faults);
  seam.xml = std::make_unique<SeamXml>(xml, faults);
  return seam;
}
