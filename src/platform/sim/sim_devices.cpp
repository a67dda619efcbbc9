// The simulation's device service over the simulated USB tree
// (sim_usb_tree.h: host controllers, hubs with their ports, the
// configuration manager's device tree, the devices drivers offer by name).
// Requests are answered with the packed byte layouts of the Windows USB
// structures, written here from the Windows definitions independently of
// the code that reads them.
#include "platform/sim/sim_devices.h"

#include "platform/sim/sim_usb_tree.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

namespace {

using nlohmann::json;
using namespace sim_usb;

// Request codes (METHOD_BUFFERED on FILE_DEVICE_USB).
constexpr DWORD kGetHcdDriverKeyName = 0x220424;   // HCD_GET_DRIVERKEY_NAME
constexpr DWORD kGetRootHubOrNodeInfo = 0x220408;  // root hub name / node information
constexpr DWORD kGetNodeConnectionInfo = 0x22040C;
constexpr DWORD kGetNodeConnectionName = 0x220414;

// Sizes of the packed structures.
constexpr DWORD kHcdNameHeader = 4;          // USB_HCD_DRIVERKEY_NAME, USB_ROOT_HUB_NAME
constexpr DWORD kNodeInformationSize = 76;   // USB_NODE_INFORMATION
constexpr DWORD kConnectionInfoSize = 35;    // USB_NODE_CONNECTION_INFORMATION without pipes
constexpr DWORD kConnectionNameHeader = 8;   // USB_NODE_CONNECTION_NAME

constexpr ZT_CONFIGRET kCrInvalidDevNode = 0x05;

// UTF-8 (the machine file's encoding) to UTF-16; a byte that does not start
// a valid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t code = 0xFFFD;
    size_t extra = 0;
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0) {
      code = c & 0x1F, extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      code = c & 0x0F, extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      code = c & 0x07, extra = 3;
    }
    if (extra && i + extra >= text.size()) extra = 0, code = 0xFFFD;
    bool valid = true;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      code = code << 6 | (next & 0x3F);
    }
    if (!valid) code = 0xFFFD, extra = 0;
    i += 1 + extra;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

void PutU16(BYTE* out, WORD value) {
  out[0] = static_cast<BYTE>(value);
  out[1] = static_cast<BYTE>(value >> 8);
}

void PutU32(BYTE* out, DWORD value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<BYTE>(value >> (8 * i));
}

DWORD GetU32(const BYTE* in) {
  return static_cast<DWORD>(in[0]) | static_cast<DWORD>(in[1]) << 8 |
         static_cast<DWORD>(in[2]) << 16 | static_cast<DWORD>(in[3]) << 24;
}

class SimDevicesImpl : public SimDevices {
 public:
  explicit SimDevicesImpl(const SimClock* clock) : clock_(clock) {
    start_ = clock ? clock->now() : 0;
  }

  bool Load(const json& usb, std::string* error) { return ReadTree(usb, &tree_, error); }

  // ---- Devices ----
  HANDLE OpenDevice(const std::string& name, DWORD, DWORD, DWORD) override;
  BOOL CloseDevice(HANDLE device) override;
  BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out,
                       DWORD outSize, DWORD* returned) override;
  ZT_CONFIGRET LocateRootDevNode(ZT_DEVINST* node) override;
  ZT_CONFIGRET GetChild(ZT_DEVINST* child, ZT_DEVINST node) override;
  ZT_CONFIGRET GetSibling(ZT_DEVINST* sibling, ZT_DEVINST node) override;
  ZT_CONFIGRET GetParent(ZT_DEVINST* parent, ZT_DEVINST node) override;
  ZT_CONFIGRET GetDevNodeProperty(ZT_DEVINST node, ULONG property, void* buffer,
                                  ULONG* length) override;
  void OutputDebugString(const std::string& text) override { debugOutput_ += text; }

  // ---- SimDevices ----
  const std::string& debugOutput() const override { return debugOutput_; }
  json ToJson() const override;
  int openHandleCount() const override { return static_cast<int>(handles_.size()); }
  int SetDeviceConnectionStatus(WORD vendorId, WORD productId, DWORD status) override;
  void SetDriverDevicePresent(const std::string& name, bool present) override;

 private:
  enum class Kind { kController, kHub, kDriverDevice };
  struct Target {
    Kind kind;
    size_t index;
  };

  uint64_t Elapsed() const { return clock_ ? clock_->now() - start_ : 0; }
  bool StillConnected(const std::optional<uint64_t>& until) const {
    return sim_usb::StillConnected(until, Elapsed());
  }
  DWORD CurrentStatus(const Port& port) const { return sim_usb::CurrentStatus(port, Elapsed()); }
  const Hub* FindHub(const std::string& name) const { return tree_.FindHub(name); }
  bool ValidDevNode(ZT_DEVINST node) const { return node >= 1 && node <= tree_.nodes.size(); }

  // Writes a name structure: `header` bytes (the caller's fields, then
  // ActualLength at `lengthOffset`), then as much of the name and its
  // terminator as fits in `outSize`.
  BOOL AnswerName(const std::string& name, std::optional<DWORD> reportedLength, DWORD header,
                  DWORD lengthOffset, BYTE* out, DWORD outSize, DWORD* returned) const;
  BOOL AnswerNodeInformation(const Hub& hub, BYTE* out, DWORD outSize, DWORD* returned) const;
  BOOL AnswerConnectionInformation(const Hub& hub, DWORD index, BYTE* out, DWORD outSize,
                                   DWORD* returned) const;

  const SimClock* clock_;
  uint64_t start_ = 0;
  Tree tree_;
  std::map<uintptr_t, Target> handles_;
  uintptr_t nextHandle_ = 0x1000;
  std::string debugOutput_;
};

// ---- Device names and requests ----

HANDLE SimDevicesImpl::OpenDevice(const std::string& name, DWORD, DWORD, DWORD) {
  const std::string prefix = "\\\\.\\";
  if (name.compare(0, prefix.size(), prefix) != 0) return INVALID_HANDLE_VALUE;
  std::string device = name.substr(prefix.size());
  std::string upper = UpperAscii(device);

  std::optional<Target> target;
  if (upper.size() > 3 && upper.compare(0, 3, "HCD") == 0 &&
      upper.find_first_not_of("0123456789", 3) == std::string::npos && upper.size() <= 7) {
    int number = std::stoi(upper.substr(3));
    for (size_t i = 0; i < tree_.controllers.size(); ++i) {
      if (tree_.controllers[i].number == number && std::to_string(number) == upper.substr(3)) {
        target = Target{Kind::kController, i};
      }
    }
  }
  if (!target) {
    if (std::optional<size_t> hub = tree_.FindHubIndex(device)) target = Target{Kind::kHub, *hub};
  }
  if (!target) {
    for (size_t i = 0; i < tree_.driverDevices.size(); ++i) {
      if (UpperAscii(tree_.driverDevices[i].name) == upper &&
          StillConnected(tree_.driverDevices[i].connectedUntilMs)) {
        target = Target{Kind::kDriverDevice, i};
      }
    }
  }
  if (!target) return INVALID_HANDLE_VALUE;
  uintptr_t handle = nextHandle_;
  nextHandle_ += 4;
  handles_[handle] = *target;
  return reinterpret_cast<HANDLE>(handle);
}

BOOL SimDevicesImpl::CloseDevice(HANDLE device) {
  return handles_.erase(reinterpret_cast<uintptr_t>(device)) ? TRUE : FALSE;
}

BOOL SimDevicesImpl::DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize,
                                     void* out, DWORD outSize, DWORD* returned) {
  if (returned) *returned = 0;
  auto it = handles_.find(reinterpret_cast<uintptr_t>(device));
  if (it == handles_.end()) return FALSE;
  // METHOD_BUFFERED: the input is read whole before any output is written,
  // so the caller may pass one buffer as both.
  std::vector<BYTE> input(inSize);
  if (inSize && in) std::memcpy(input.data(), in, inSize);
  BYTE* output = static_cast<BYTE*>(out);
  if (!output) outSize = 0;
  DWORD written = 0;
  BOOL ok = FALSE;

  const Target target = it->second;
  if (target.kind == Kind::kController) {
    const Controller& controller = tree_.controllers[target.index];
    if (code == kGetHcdDriverKeyName) {
      ok = AnswerName(controller.driverKey, controller.driverKeyLength, kHcdNameHeader, 0, output,
                      outSize, &written);
    } else if (code == kGetRootHubOrNodeInfo && !controller.rootHub.empty()) {
      const Hub* hub = FindHub(controller.rootHub);
      ok = AnswerName(hub->name, hub->nameLength, kHcdNameHeader, 0, output, outSize, &written);
    }
  } else if (target.kind == Kind::kHub) {
    const Hub& hub = tree_.hubs[target.index];
    if (code == kGetRootHubOrNodeInfo) {
      ok = AnswerNodeInformation(hub, output, outSize, &written);
    } else if (code == kGetNodeConnectionInfo && inSize >= 4) {
      ok = AnswerConnectionInformation(hub, GetU32(input.data()), output, outSize, &written);
    } else if (code == kGetNodeConnectionName && inSize >= 4 && outSize >= kConnectionNameHeader + 2) {
      DWORD index = GetU32(input.data());
      if (index >= 1 && index <= hub.ports.size()) {
        const Port& port = hub.ports[index - 1];
        const Hub* downstream =
            port.isHub && CurrentStatus(port) != 0 ? FindHub(port.hub) : nullptr;
        std::memset(output, 0, outSize);
        PutU32(output, index);
        ok = AnswerName(downstream ? downstream->name : std::string(),
                        downstream ? downstream->nameLength : std::nullopt, kConnectionNameHeader,
                        4, output, outSize, &written);
      }
    }
  }
  if (returned) *returned = written;
  return ok;
}

BOOL SimDevicesImpl::AnswerName(const std::string& name, std::optional<DWORD> reportedLength,
                                DWORD header, DWORD lengthOffset, BYTE* out, DWORD outSize,
                                DWORD* returned) const {
  if (outSize < header + 2) return FALSE;
  std::u16string wide = Utf8ToUtf16(name);
  wide.push_back(0);
  DWORD actual = header + static_cast<DWORD>(wide.size() * 2);
  if (reportedLength) actual = *reportedLength;
  std::memset(out + header, 0, outSize - header);
  PutU32(out + lengthOffset, actual);
  size_t units = std::min<size_t>(wide.size(), (outSize - header) / 2);
  for (size_t i = 0; i < units; ++i) PutU16(out + header + 2 * i, wide[i]);
  *returned = header + static_cast<DWORD>(units * 2);
  return TRUE;
}

BOOL SimDevicesImpl::AnswerNodeInformation(const Hub& hub, BYTE* out, DWORD outSize,
                                           DWORD* returned) const {
  if (outSize < kNodeInformationSize) return FALSE;
  std::memset(out, 0, kNodeInformationSize);
  PutU32(out, 0);                               // NodeType: UsbHub
  out[4] = 9;                                   // bDescriptorLength
  out[5] = 0x29;                                // bDescriptorType: hub
  out[6] = static_cast<BYTE>(hub.ports.size());  // bNumberOfPorts
  PutU16(out + 7, 0x0009);                      // wHubCharacteristics
  out[9] = 50;                                  // bPowerOnToPowerGood
  out[10] = 100;                                // bHubControlCurrent
  out[75] = 0;                                  // HubIsBusPowered
  *returned = kNodeInformationSize;
  return TRUE;
}

BOOL SimDevicesImpl::AnswerConnectionInformation(const Hub& hub, DWORD index, BYTE* out,
                                                 DWORD outSize, DWORD* returned) const {
  if (outSize < kConnectionInfoSize || index < 1 || index > hub.ports.size()) return FALSE;
  const Port& port = hub.ports[index - 1];
  DWORD status = CurrentStatus(port);
  std::memset(out, 0, outSize);
  PutU32(out, index);  // ConnectionIndex
  if (status != 0) {
    BYTE* descriptor = out + 4;  // USB_DEVICE_DESCRIPTOR
    descriptor[0] = 18;          // bLength
    descriptor[1] = 1;           // bDescriptorType: device
    PutU16(descriptor + 2, 0x0110);
    descriptor[4] = port.isHub ? 9 : 0;  // bDeviceClass
    descriptor[7] = 8;                   // bMaxPacketSize0
    PutU16(descriptor + 8, port.vendorId);
    PutU16(descriptor + 10, port.productId);
    PutU16(descriptor + 12, 0x0100);  // bcdDevice
    descriptor[17] = 1;               // bNumConfigurations
    out[22] = 1;                      // CurrentConfigurationValue
    out[23] = 0;                      // LowSpeed
    out[24] = port.isHub ? 1 : 0;     // DeviceIsHub
    PutU16(out + 25, static_cast<WORD>(index + 1));  // DeviceAddress
    PutU32(out + 27, 0);              // NumberOfOpenPipes
  }
  PutU32(out + 31, status);  // ConnectionStatus
  *returned = kConnectionInfoSize;
  return TRUE;
}

// ---- The configuration manager ----

ZT_CONFIGRET SimDevicesImpl::LocateRootDevNode(ZT_DEVINST* node) {
  if (tree_.configManagerLeavesOutputUnset) return kCrSuccess;
  *node = 1;
  return kCrSuccess;
}

ZT_CONFIGRET SimDevicesImpl::GetChild(ZT_DEVINST* child, ZT_DEVINST node) {
  if (tree_.configManagerLeavesOutputUnset) return kCrSuccess;
  if (!ValidDevNode(node)) return kCrInvalidDevNode;
  int index = tree_.nodes[node - 1].firstChild;
  if (index < 0) return kCrNoSuchDevnode;
  *child = static_cast<ZT_DEVINST>(index + 1);
  return kCrSuccess;
}

ZT_CONFIGRET SimDevicesImpl::GetSibling(ZT_DEVINST* sibling, ZT_DEVINST node) {
  if (tree_.configManagerLeavesOutputUnset) return kCrSuccess;
  if (!ValidDevNode(node)) return kCrInvalidDevNode;
  int index = tree_.nodes[node - 1].nextSibling;
  if (index < 0) return kCrNoSuchDevnode;
  *sibling = static_cast<ZT_DEVINST>(index + 1);
  return kCrSuccess;
}

ZT_CONFIGRET SimDevicesImpl::GetParent(ZT_DEVINST* parent, ZT_DEVINST node) {
  if (tree_.configManagerLeavesOutputUnset) return kCrSuccess;
  if (!ValidDevNode(node)) return kCrInvalidDevNode;
  int index = tree_.nodes[node - 1].parent;
  if (index < 0) return kCrNoSuchDevnode;
  *parent = static_cast<ZT_DEVINST>(index + 1);
  return kCrSuccess;
}

ZT_CONFIGRET SimDevicesImpl::GetDevNodeProperty(ZT_DEVINST node, ULONG property, void* buffer,
                                                ULONG* length) {
  if (tree_.configManagerLeavesOutputUnset) return kCrSuccess;
  if (!ValidDevNode(node)) return kCrInvalidDevNode;
  const DevNode& devnode = tree_.nodes[node - 1];
  const std::optional<std::string>* text = nullptr;
  if (property == kCmDrpDriver) text = &devnode.driver;
  if (property == kCmDrpDeviceDesc) text = &devnode.description;
  if (!text || !*text) return kCrNoSuchValue;
  ULONG size = static_cast<ULONG>((*text)->size() + 1);
  if (!buffer || *length < size) {
    *length = size;
    return kCrBufferSmall;
  }
  std::memcpy(buffer, (*text)->c_str(), size);
  *length = size;
  return kCrSuccess;
}

// ---- Changes and the description written back ----

int SimDevicesImpl::SetDeviceConnectionStatus(WORD vendorId, WORD productId, DWORD status) {
  int changed = 0;
  for (Hub& hub : tree_.hubs) {
    for (Port& port : hub.ports) {
      if (port.vendorId != vendorId || port.productId != productId) continue;
      if (CurrentStatus(port) == status && !port.connectedUntilMs) continue;
      port.status = status;
      port.connectedUntilMs.reset();
      ++changed;
    }
  }
  return changed;
}

void SimDevicesImpl::SetDriverDevicePresent(const std::string& name, bool present) {
  std::string key = UpperAscii(name);
  tree_.driverDevices.erase(std::remove_if(tree_.driverDevices.begin(), tree_.driverDevices.end(),
                                      [&](const DriverDevice& device) {
                                        return UpperAscii(device.name) == key;
                                      }),
                       tree_.driverDevices.end());
  if (present) tree_.driverDevices.push_back(DriverDevice{name, std::nullopt});
}

json SimDevicesImpl::ToJson() const { return sim_usb::TreeToJson(tree_, Elapsed()); }

}  // namespace

std::unique_ptr<SimDevices> NewSimDevices(const json* usb, std::string* error,
                                          const SimClock* clock) {
  auto devices = std::make_unique<SimDevicesImpl>(clock);
  if (usb && !devices->Load(*usb, error)) return nullptr;
  return devices;
}
