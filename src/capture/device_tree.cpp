#include "capture/device_tree.h"

#include <cstdio>
#include <string>
#include <utility>

#include "actions/camera_probe.h"
#include "capture/footprint.h"
#include "platform/owners.h"

namespace capture {
namespace {

// The USB controllers and hubs are read by the camera probe's own walk
// (actions/camera_probe.h); the device tree and the driver devices here.
constexpr int kMaxDevNodes = 4096;
constexpr int kMaxDevNodeDepth = 32;
// A devnode value no configuration manager hands out: one still there after a
// call that reported success means the call filled nothing.
constexpr ZT_DEVINST kUnsetDevNode = 0xFFFFFFF0u;

std::string Hex4(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%04X", value & 0xFFFFu);
  return text;
}

// The USB tree as the camera probe's walk reads it: controllers with
// their driver keys and root hubs, hubs with their ports.
class UsbRecorder : public UsbWalkObserver {
 public:
  explicit UsbRecorder(const MachineText& texts) : texts_(texts) {}

  void OnController(int number, const std::string* driverKey,
                    const std::string* rootHub) override {
    JsonValue entry = JsonValue::Object();
    entry["number"] = JsonValue::Number(static_cast<uint64_t>(number));
    if (driverKey) entry["driverKey"] = JsonValue::String(texts_.Utf8(*driverKey));
    if (rootHub) entry["rootHub"] = JsonValue::String(texts_.Utf8(*rootHub));
    controllers.Push(std::move(entry));
  }

  void OnHub(const std::string& name, int) override {
    JsonValue& hub = hubs[texts_.Utf8(name)];
    hub = JsonValue::Object();
    hub["ports"] = JsonValue::Array();
  }

  void OnPort(const std::string& hub, const UsbPortSeen& port) override {
    JsonValue& ports = hubs[texts_.Utf8(hub)]["ports"];
    if (!port.answered ||
        (port.status == 0 && port.vendorId == 0 && port.productId == 0 && !port.isHub)) {
      ports.Push(JsonValue());
      return;
    }
    JsonValue entry = JsonValue::Object();
    entry["vendorId"] = JsonValue::String(Hex4(port.vendorId));
    entry["productId"] = JsonValue::String(Hex4(port.productId));
    if (port.isHub) {
      if (port.hasDownstream && !port.downstream.empty()) {
        entry["hub"] = JsonValue::String(texts_.Utf8(port.downstream));
      } else {
        entry["isHub"] = JsonValue::Bool(true);
      }
    }
    if (port.status != 1) entry["status"] = JsonValue::Number(port.status);
    ports.Push(std::move(entry));
  }

  JsonValue controllers = JsonValue::Array();
  JsonValue hubs = JsonValue::Object();

 private:
  const MachineText& texts_;
};

JsonValue DevNodes(Devices& devices, const MachineText& texts, ZT_DEVINST first, int depth,
                   int* count) {
  JsonValue list = JsonValue::Array();
  ZT_DEVINST node = first;
  while (node != 0 && node != kUnsetDevNode && ++*count < kMaxDevNodes) {
    JsonValue entry = JsonValue::Object();
    for (auto [property, name] : {std::pair{kCmDrpDriver, "driver"},
                                  std::pair{kCmDrpDeviceDesc, "description"}}) {
      char text[1024] = {};
      ULONG length = sizeof(text) - 1;
      if (devices.GetDevNodeProperty(node, property, text, &length) == 0) {
        entry[name] = JsonValue::String(texts.Utf8(std::string(text)));
      }
    }
    ZT_DEVINST child = kUnsetDevNode;
    if (depth < kMaxDevNodeDepth && devices.GetChild(&child, node) == 0 && child != node) {
      JsonValue children = DevNodes(devices, texts, child, depth + 1, count);
      if (children.size() > 0) entry["children"] = std::move(children);
    }
    list.Push(std::move(entry));
    ZT_DEVINST next = kUnsetDevNode;
    if (devices.GetSibling(&next, node) != 0 || next == node) break;
    node = next;
  }
  return list;
}

}  // namespace

JsonValue CaptureUsb(Machine& machine, const MachineText& texts) {
  Devices& devices = machine.devices();
  JsonValue usb = JsonValue::Object();
  UsbRecorder recorder(texts);
  CCameraProbe probe(devices, machine.environment(), kCameraVendorId, kCameraProductId,
                     kCameraDeviceName);
  probe.WalkUsbTree(recorder);
  if (recorder.controllers.size() > 0) usb["controllers"] = std::move(recorder.controllers);
  if (!recorder.hubs.empty()) usb["hubs"] = std::move(recorder.hubs);
  ZT_DEVINST root = kUnsetDevNode;
  if (devices.LocateRootDevNode(&root) == 0) {
    ZT_DEVINST child = kUnsetDevNode;
    if (root == 0 || root == kUnsetDevNode) {
      // Success without an answer: the configuration manager is a stub.
      usb["configManagerLeavesOutputUnset"] = JsonValue::Bool(true);
    } else if (devices.GetChild(&child, root) == 0 && child != root) {
      int count = 0;
      JsonValue tree = DevNodes(devices, texts, child, 1, &count);
      if (tree.size() > 0) usb["deviceTree"] = std::move(tree);
    }
  }
  JsonValue named = JsonValue::Array();
  for (const std::string& name : DriverDevices()) {
    DeviceHandle device(devices, devices.OpenDevice("\\\\.\\" + name, GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    OPEN_EXISTING));
    if (device.valid()) named.Push(JsonValue::String(name));
  }
  if (named.size() > 0) usb["driverDevices"] = std::move(named);
  return usb;
}

}  // namespace capture
