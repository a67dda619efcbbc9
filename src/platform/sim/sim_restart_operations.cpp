#include "platform/sim/sim_restart_operations.h"

#include <optional>
#include <vector>

#include "platform/sim/sim_codepage.h"
#include "platform/sim/sim_environment.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_registry.h"
#include "platform/wininit.h"

namespace {

constexpr char kSessionManagerKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingOperations[] = "PendingFileRenameOperations";
constexpr char kNtPrefix[] = "\\??\\";

// "\??\C:\x" as the NT record names a file.
std::string NtName(const std::string& path) { return path.empty() ? path : kNtPrefix + path; }
std::string FromNtName(std::string name) {
  if (!name.empty() && name[0] == '!') name.erase(0, 1);
  if (name.rfind(kNtPrefix, 0) == 0) name.erase(0, sizeof(kNtPrefix) - 1);
  return name;
}

}  // namespace

void SimRestartOperations::Schedule(const std::string& from, const std::string& to) {
  if (environment_.os.platformId == VER_PLATFORM_WIN32_NT) {
    DWORD type = REG_MULTI_SZ;
    std::string data;
    if (!registry_.GetValue(kSessionManagerKey, kPendingOperations, &type, &data)) data.clear();
    // Zero-terminated strings, in pairs, and one more zero that ends the list.
    if (!data.empty() && data.back() == '\0') data.pop_back();
    data += NtName(from) + '\0' + (to.empty() ? std::string() : "!" + NtName(to)) + '\0' + '\0';
    registry_.SetValue(kSessionManagerKey, kPendingOperations, REG_MULTI_SZ, data);
    return;
  }
  // Windows 9x processes WININIT.INI before it runs, with short names.
  const std::string ini = environment_.windowsDirectory + "\\WININIT.INI";
  const std::string text = files_.Contents(ini).value_or("");
  files_.Put(ini, AddWininitLine(text, (to.empty() ? std::string("NUL") : files_.ShortPath(to)) +
                                           "=" + files_.ShortPath(from)));
}

void SimRestartOperations::Apply() {
  struct Operation {
    std::string source, target;  // no target: delete
    bool wininit = false;
  };
  std::vector<Operation> operations;
  DWORD type = REG_MULTI_SZ;
  std::string data;
  if (registry_.GetValue(kSessionManagerKey, kPendingOperations, &type, &data)) {
    std::vector<std::string> names;
    size_t from = 0;
    while (from < data.size()) {
      size_t end = data.find('\0', from);
      if (end == std::string::npos) end = data.size();
      names.push_back(data.substr(from, end - from));
      from = end + 1;
    }
    // Pairs; a trailing empty string ends the list.
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
      if (names[i].empty()) break;
      operations.push_back({FromNtName(names[i]), FromNtName(names[i + 1]), false});
    }
    HKEY key = nullptr;
    if (registry_.OpenKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                          KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      registry_.DeleteValue(key, kPendingOperations);
      registry_.CloseKey(key);
    }
  }
  const std::string ini = environment_.windowsDirectory + "\\WININIT.INI";
  if (std::optional<std::string> text = files_.Contents(ini)) {
    bool inRename = false;
    size_t from = 0;
    while (from < text->size()) {
      size_t end = text->find('\n', from);
      if (end == std::string::npos) end = text->size();
      std::string line = text->substr(from, end - from);
      from = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] == '[') {
        inRename = codePage_.Upper(line) == "[RENAME]";
        continue;
      }
      size_t equals = line.find('=');
      if (!inRename || equals == std::string::npos) continue;
      std::string to = line.substr(0, equals);
      operations.push_back(
          {line.substr(equals + 1), codePage_.Upper(to) == "NUL" ? std::string() : to, true});
    }
    files_.Delete(ini);
  }
  for (const Operation& operation : operations) {
    const std::string& source = operation.source;
    const std::string& target = operation.target;
    files_.Unlock(source);
    if (target.empty()) {
      // WININIT.INI's deletion leaves a read-only file where it is.
      if (!operation.wininit) files_.SetAttributes(source, FILE_ATTRIBUTE_NORMAL);
      if (files_.IsDirectory(source)) {
        files_.RemoveDirectory(source);  // only when it is empty, as Windows does
      } else {
        files_.Delete(source);
      }
      continue;
    }
    files_.Unlock(target);
    if (!operation.wininit) files_.SetAttributes(target, FILE_ATTRIBUTE_NORMAL);
    files_.Delete(target);
    if (files_.Copy(source, target, true) == ERROR_SUCCESS) files_.Delete(source);
  }
}
