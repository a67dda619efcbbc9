// The contract suite's machine on Windows: the real back end, a scratch folder
// under the temporary directory and a scratch key under
// HKEY_CURRENT_USER\Software\ZentavoContract, both removed again when the
// test ends. COM is initialised for the machine's lifetime so that the XML and
// shell-link services can be used directly.
#include "platform/wintypes.h"

#include <objbase.h>

#include <string>

#include "contract/contract_machine.h"
#include "platform/win32/unique_any.h"
#include "platform/win32/win32_machine.h"

namespace {

constexpr char kContractKey[] = "Software\\ZentavoContract";

// Deletes a folder with everything in it; read-only entries are made writable first.
void DeleteTree(const std::string& dir) {
  WIN32_FIND_DATAA found{};
  win32::UniqueFindHandle search(::FindFirstFileA((dir + "\\*").c_str(), &found));
  if (search) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = dir + "\\" + name;
      ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(path);
      } else {
        ::DeleteFileA(path.c_str());
      }
    } while (::FindNextFileA(search.get(), &found));
  }
  search.reset();
  ::SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::RemoveDirectoryA(dir.c_str());
}

// Deletes a key with all its subkeys (RegDeleteKey removes only leaf keys).
void DeleteKeyTree(HKEY root, const std::string& path) {
  win32::UniqueKey key;
  if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | KEY_WRITE, key.put()) == ERROR_SUCCESS) {
    char name[512];
    for (;;) {
      DWORD size = sizeof(name);
      if (::RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      std::string child = path + "\\" + name;
      DeleteKeyTree(root, child);
      win32::UniqueKey left;
      if (::RegOpenKeyExA(root, child.c_str(), 0, KEY_READ, left.put()) == ERROR_SUCCESS) {
        break;  // the child could not be removed: stop rather than loop
      }
    }
  }
  key.reset();
  ::RegDeleteKeyA(root, path.c_str());
}

class Win32ContractMachine : public ContractMachine {
 public:
  Win32ContractMachine() : machine_(NewWin32Machine()) {
    comInitialized_ = SUCCEEDED(::CoInitialize(nullptr));
    static int counter = 0;
    std::string unique =
        std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);

    char temp[MAX_PATH] = {};
    DWORD length = ::GetTempPathA(sizeof(temp), temp);
    std::string base(temp, length < sizeof(temp) ? length : 0);
    if (!base.empty() && base.back() == '\\') base.pop_back();
    scratchDir_ = base + "\\ZentavoContract-" + unique;
    DeleteTree(scratchDir_);
    ::CreateDirectoryA(scratchDir_.c_str(), nullptr);

    scratchKey_ = std::string(kContractKey) + "\\" + unique;
    DeleteKeyTree(HKEY_CURRENT_USER, scratchKey_);
  }

  ~Win32ContractMachine() override {
    DeleteTree(scratchDir_);
    DeleteKeyTree(HKEY_CURRENT_USER, scratchKey_);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kContractKey);  // only when no other test holds a key
    machine_.reset();
    if (comInitialized_) ::CoUninitialize();
  }

  Machine& machine() override { return *machine_; }
  std::string scratchDir() override { return scratchDir_; }
  std::string scratchKey() override { return scratchKey_; }
  bool simulated() const override { return false; }

 private:
  std::unique_ptr<Machine> machine_;
  bool comInitialized_ = false;
  std::string scratchDir_;
  std::string scratchKey_;
};

}  // namespace

std::unique_ptr<ContractMachine> MakeContractMachine() {
  return std::make_unique<Win32ContractMachine>();
}
