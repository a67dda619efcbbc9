// Devices over kernel32 (device names, DeviceIoControl, debugger output) and
// the configuration manager of cfgmgr32, loaded on first use: Windows 95 and
// NT 4.0 do not have it, and the program must still start there.
#include "platform/wintypes.h"

#include <string>

#include "platform/win32/unique_any.h"
#include "platform/win32/win32_services.h"

namespace win32 {
namespace {

constexpr ZT_CONFIGRET kCrFailure = 0x13;  // CR_FAILURE: no configuration manager

typedef DWORD(WINAPI* LocateDevNodeFn)(DWORD*, char*, ULONG);
typedef DWORD(WINAPI* RelativeFn)(DWORD*, DWORD, ULONG);
typedef DWORD(WINAPI* RegistryPropertyFn)(DWORD, ULONG, ULONG*, void*, ULONG*, ULONG);

class Win32Devices : public Devices {
 public:
  HANDLE OpenDevice(const std::string& name, DWORD access, DWORD shareMode,
                    DWORD disposition) override {
    return ::CreateFileA(name.c_str(), access, shareMode, nullptr, disposition, 0, nullptr);
  }

  BOOL CloseDevice(HANDLE device) override { return ::CloseHandle(device); }

  BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out,
                       DWORD outSize, DWORD* returned) override {
    DWORD count = 0;
    BOOL ok = ::DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize, &count,
                                nullptr);
    if (ok && returned) *returned = count;
    return ok;
  }

  ZT_CONFIGRET LocateRootDevNode(ZT_DEVINST* node) override {
    if (!Load()) return kCrFailure;
    DWORD found = 0;
    ZT_CONFIGRET rc = locateDevNode_(&found, nullptr, 0);
    if (rc == kCrSuccess) *node = found;
    return rc;
  }

  ZT_CONFIGRET GetChild(ZT_DEVINST* child, ZT_DEVINST node) override {
    return Relative(getChild_, child, node);
  }

  ZT_CONFIGRET GetSibling(ZT_DEVINST* sibling, ZT_DEVINST node) override {
    return Relative(getSibling_, sibling, node);
  }

  ZT_CONFIGRET GetParent(ZT_DEVINST* parent, ZT_DEVINST node) override {
    return Relative(getParent_, parent, node);
  }

  ZT_CONFIGRET GetDevNodeProperty(ZT_DEVINST node, ULONG property, void* buffer,
                                  ULONG* length) override {
    if (!Load()) return kCrFailure;
    ULONG type = 0;
    return getProperty_(node, property, &type, buffer, length, 0);
  }

  void OutputDebugString(const std::string& text) override { ::OutputDebugStringA(text.c_str()); }

 private:
  // Loads cfgmgr32 and its exports once; false when any of them is missing.
  bool Load() {
    if (!loaded_) {
      loaded_ = true;
      // By its full path in the system folder: by bare name the setup's own
      // folder (a network package in the temporary folder) and the current
      // folder come first, where anyone could have put a cfgmgr32.dll.
      char system[MAX_PATH] = {};
      UINT length = ::GetSystemDirectoryA(system, sizeof(system));
      const std::string path = std::string(system, length < sizeof(system) ? length : 0) +
                               "\\cfgmgr32.dll";
      if (length > 0 && length < sizeof(system) && path.size() < MAX_PATH) {
        library_.reset(::LoadLibraryA(path.c_str()));
      }
      if (library_) {
        locateDevNode_ = ProcAddress<LocateDevNodeFn>(library_.get(), "CM_Locate_DevNodeA");
        getChild_ = ProcAddress<RelativeFn>(library_.get(), "CM_Get_Child");
        getSibling_ = ProcAddress<RelativeFn>(library_.get(), "CM_Get_Sibling");
        getParent_ = ProcAddress<RelativeFn>(library_.get(), "CM_Get_Parent");
        getProperty_ =
            ProcAddress<RegistryPropertyFn>(library_.get(), "CM_Get_DevNode_Registry_PropertyA");
      }
    }
    return locateDevNode_ && getChild_ && getSibling_ && getParent_ && getProperty_;
  }

  ZT_CONFIGRET Relative(RelativeFn& function, ZT_DEVINST* result, ZT_DEVINST node) {
    if (!Load()) return kCrFailure;
    DWORD found = 0;
    ZT_CONFIGRET rc = function(&found, node, 0);
    if (rc == kCrSuccess) *result = found;
    return rc;
  }

  bool loaded_ = false;
  UniqueLibrary library_;
  LocateDevNodeFn locateDevNode_ = nullptr;
  RelativeFn getChild_ = nullptr;
  RelativeFn getSibling_ = nullptr;
  RelativeFn getParent_ = nullptr;
  RegistryPropertyFn getProperty_ = nullptr;
};

}  // namespace

std::unique_ptr<Devices> NewDevices() { return std::make_unique<Win32Devices>(); }

}  // namespace win32
