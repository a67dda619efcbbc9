// The simulation's device service. This first version knows the root devnode
// of the configuration manager's tree and no USB host controllers.
#include "platform/sim/sim_devices.h"

namespace {

constexpr ZT_DEVINST kRootDevNode = 1;

class SimDevicesImpl : public SimDevices {
 public:
  explicit SimDevicesImpl(nlohmann::json usb) : usb_(std::move(usb)) {}

  HANDLE OpenDevice(const std::string&, DWORD, DWORD, DWORD) override {
    return INVALID_HANDLE_VALUE;
  }
  BOOL CloseDevice(HANDLE) override { return FALSE; }
  BOOL DeviceIoControl(HANDLE, DWORD, const void*, DWORD, void*, DWORD, DWORD*) override {
    return FALSE;
  }
  ZT_CONFIGRET LocateRootDevNode(ZT_DEVINST* node) override {
    *node = kRootDevNode;
    return kCrSuccess;
  }
  ZT_CONFIGRET GetChild(ZT_DEVINST*, ZT_DEVINST) override { return kCrNoSuchDevnode; }
  ZT_CONFIGRET GetSibling(ZT_DEVINST*, ZT_DEVINST) override { return kCrNoSuchDevnode; }
  ZT_CONFIGRET GetParent(ZT_DEVINST*, ZT_DEVINST) override { return kCrNoSuchDevnode; }
  ZT_CONFIGRET GetDevNodeProperty(ZT_DEVINST, ULONG, void*, ULONG*) override {
    return kCrNoSuchValue;
  }
  void OutputDebugString(const std::string& text) override { debugOutput_ += text; }

  const std::string& debugOutput() const override { return debugOutput_; }
  nlohmann::json ToJson() const override { return usb_; }

 private:
  nlohmann::json usb_;
  std::string debugOutput_;
};

}  // namespace

std::unique_ptr<SimDevices> NewSimDevices(const nlohmann::json* usb, std::string* error) {
  if (usb && !usb->is_null() && !usb->is_object()) {
    if (error) *error = "/usb: must be an object";
    return nullptr;
  }
  return std::make_unique<SimDevicesImpl>(usb ? *usb : nlohmann::json());
}
