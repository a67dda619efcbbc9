// The simulation's device service. The "usb" section of the machine file
// describes host controllers (by number, with their driver keys), hubs (by
// name, each with its ports), the configuration manager's device tree, and
// the devices that drivers offer by name. Requests are answered with the
// packed byte layouts of the Windows USB structures, written here from the
// Windows definitions independently of the code that reads them.
#include "platform/sim/sim_devices.h"

#include "platform/sim/sim_json.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

namespace {

using nlohmann::json;

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

const char* const kStatusNames[] = {
    "NoDeviceConnected",      "DeviceConnected",       "DeviceFailedEnumeration",
    "DeviceGeneralFailure",   "DeviceCausedOvercurrent", "DeviceNotEnoughPower",
    "DeviceNotEnoughBandwidth", "DeviceHubNestedTooDeeply", "DeviceInLegacyHub"};
constexpr DWORD kStatusNameCount = sizeof(kStatusNames) / sizeof(kStatusNames[0]);

struct Port {
  WORD vendorId = 0;
  WORD productId = 0;
  DWORD status = 0;
  std::string hub;  // the downstream hub's name when the device is a hub
  bool isHub = false;
  std::optional<uint64_t> connectedUntilMs;
};

struct Hub {
  std::string name;
  std::vector<Port> ports;
  std::optional<DWORD> nameLength;  // the ActualLength reported for its name
};

struct Controller {
  int number = 0;
  std::string driverKey;
  std::optional<DWORD> driverKeyLength;
  std::string description;  // placed in the device tree under the root when not empty
  bool hasDescription = false;
  std::string rootHub;
};

struct DevNode {
  std::optional<std::string> driver;
  std::optional<std::string> description;
  int parent = -1;
  int firstChild = -1;
  int nextSibling = -1;
  bool fromController = false;  // placed by a controller's "description"
};

struct DriverDevice {
  std::string name;
  std::optional<uint64_t> connectedUntilMs;
};

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

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

std::string HexId(WORD id) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%04X", static_cast<unsigned>(id));
  return text;
}

// ---- Reading the description ----

class Reader {
 public:
  explicit Reader(std::string* error) : error_(error) {}

  bool Fail(const std::string& pointer, const std::string& what) {
    if (error_ && ok_) *error_ = pointer + ": " + what;
    ok_ = false;
    return false;
  }
  bool ok() const { return ok_; }

  bool OnlyMembers(const json& object, const std::string& pointer,
                   std::initializer_list<const char*> allowed) {
    for (auto it = object.begin(); it != object.end(); ++it) {
      if (std::find_if(allowed.begin(), allowed.end(), [&](const char* name) {
            return it.key() == name;
          }) == allowed.end()) {
        return Fail(JsonPointer(pointer, it.key()), "unknown member");
      }
    }
    return true;
  }

  bool String(const json& value, const std::string& pointer, std::string* out) {
    if (!value.is_string()) return Fail(pointer, "must be a string");
    *out = value.get<std::string>();
    return true;
  }

  bool Unsigned(const json& value, const std::string& pointer, uint64_t max, uint64_t* out) {
    if (!value.is_number_integer() || (value.is_number_integer() && !value.is_number_unsigned() &&
                                       value.get<int64_t>() < 0)) {
      return Fail(pointer, "must be a non-negative integer");
    }
    uint64_t number = value.get<uint64_t>();
    if (number > max) return Fail(pointer, "must be at most " + std::to_string(max));
    *out = number;
    return true;
  }

  // A 16-bit id: an integer or a hex string such as "0x0F3A" or "0F3A".
  bool Id(const json& value, const std::string& pointer, WORD* out) {
    if (value.is_string()) {
      std::string text = value.get<std::string>();
      if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text = text.substr(2);
      }
      if (text.empty() || text.size() > 4 ||
          text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return Fail(pointer, "must be a 16-bit id (an integer or hex digits such as \"0x0F3A\")");
      }
      *out = static_cast<WORD>(std::stoul(text, nullptr, 16));
      return true;
    }
    uint64_t number = 0;
    if (!Unsigned(value, pointer, 0xFFFF, &number)) return false;
    *out = static_cast<WORD>(number);
    return true;
  }

  bool Status(const json& value, const std::string& pointer, DWORD* out) {
    if (value.is_string()) {
      for (DWORD i = 0; i < kStatusNameCount; ++i) {
        if (value.get<std::string>() == kStatusNames[i]) {
          *out = i;
          return true;
        }
      }
      return Fail(pointer, "unknown connection status \"" + value.get<std::string>() + "\"");
    }
    uint64_t number = 0;
    if (!Unsigned(value, pointer, 0xFFFFFFFFu, &number)) return false;
    *out = static_cast<DWORD>(number);
    return true;
  }

 private:
  std::string* error_;
  bool ok_ = true;
};

class SimDevicesImpl : public SimDevices {
 public:
  explicit SimDevicesImpl(const SimClock* clock) : clock_(clock) {
    start_ = clock ? clock->now() : 0;
    nodes_.push_back(DevNode());  // the root devnode, HTREE\ROOT\0
  }

  bool Load(const json& usb, std::string* error);

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
    return !until || Elapsed() < *until;
  }
  DWORD CurrentStatus(const Port& port) const {
    return StillConnected(port.connectedUntilMs) ? port.status : 0;
  }
  const Hub* FindHub(const std::string& name) const;
  std::optional<size_t> FindHubIndex(const std::string& name) const;
  bool ValidDevNode(ZT_DEVINST node) const { return node >= 1 && node <= nodes_.size(); }

  bool ReadController(Reader& reader, const json& value, const std::string& pointer);
  bool ReadHub(Reader& reader, const std::string& name, const json& value,
               const std::string& pointer);
  bool ReadPort(Reader& reader, const json& value, const std::string& pointer, Port* port);
  bool ReadDevNode(Reader& reader, const json& value, const std::string& pointer, int parent,
                   int depth);
  int AddDevNode(DevNode node, int parent);
  json DevNodeToJson(int index) const;

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
  bool present_ = false;  // the machine file has a "usb" section
  bool configManagerLeavesOutputUnset_ = false;
  std::vector<Controller> controllers_;
  std::vector<Hub> hubs_;
  std::vector<DevNode> nodes_;
  std::vector<DriverDevice> driverDevices_;
  std::map<uintptr_t, Target> handles_;
  uintptr_t nextHandle_ = 0x1000;
  std::string debugOutput_;
};

bool SimDevicesImpl::Load(const json& usb, std::string* error) {
  Reader reader(error);
  const std::string base = "/usb";
  if (usb.is_null()) return true;
  if (!usb.is_object()) return reader.Fail(base, "must be an object");
  present_ = true;
  if (!reader.OnlyMembers(usb, base,
                          {"controllers", "hubs", "deviceTree", "driverDevices",
                           "configManagerLeavesOutputUnset"})) {
    return false;
  }

  if (usb.contains("hubs")) {
    const json& hubs = usb["hubs"];
    if (!hubs.is_object()) return reader.Fail(base + "/hubs", "must be an object");
    for (auto it = hubs.begin(); it != hubs.end(); ++it) {
      if (!ReadHub(reader, it.key(), it.value(), JsonPointer(base + "/hubs", it.key()))) {
        return false;
      }
    }
    // Every downstream hub a port names must be described.
    for (auto it = hubs.begin(); it != hubs.end(); ++it) {
      const Hub& hub = *FindHub(it.key());
      for (size_t p = 0; p < hub.ports.size(); ++p) {
        if (hub.ports[p].isHub && !hub.ports[p].hub.empty() && !FindHub(hub.ports[p].hub)) {
          return reader.Fail(JsonPointer(base + "/hubs", it.key()) + "/ports/" +
                                 std::to_string(p) + "/hub",
                             "no hub named \"" + hub.ports[p].hub + "\" in /usb/hubs");
        }
      }
    }
  }

  if (usb.contains("deviceTree")) {
    const json& tree = usb["deviceTree"];
    if (!tree.is_array()) return reader.Fail(base + "/deviceTree", "must be an array of devnodes");
    for (size_t i = 0; i < tree.size(); ++i) {
      if (!ReadDevNode(reader, tree[i], base + "/deviceTree/" + std::to_string(i), 0, 1)) {
        return false;
      }
    }
  }

  if (usb.contains("controllers")) {
    const json& controllers = usb["controllers"];
    if (!controllers.is_array()) return reader.Fail(base + "/controllers", "must be an array");
    for (size_t i = 0; i < controllers.size(); ++i) {
      if (!ReadController(reader, controllers[i], base + "/controllers/" + std::to_string(i))) {
        return false;
      }
    }
  }

  if (usb.contains("driverDevices")) {
    const json& devices = usb["driverDevices"];
    if (!devices.is_array()) return reader.Fail(base + "/driverDevices", "must be an array");
    for (size_t i = 0; i < devices.size(); ++i) {
      const std::string pointer = base + "/driverDevices/" + std::to_string(i);
      DriverDevice device;
      const json& value = devices[i];
      if (value.is_object()) {
        if (!reader.OnlyMembers(value, pointer, {"name", "connectedUntilMs"})) return false;
        if (!value.contains("name")) return reader.Fail(pointer, "needs a \"name\"");
        if (!reader.String(value["name"], pointer + "/name", &device.name)) return false;
        if (value.contains("connectedUntilMs")) {
          uint64_t until = 0;
          if (!reader.Unsigned(value["connectedUntilMs"], pointer + "/connectedUntilMs",
                               UINT64_MAX, &until)) {
            return false;
          }
          device.connectedUntilMs = until;
        }
      } else if (!reader.String(value, pointer, &device.name)) {
        return false;
      }
      if (device.name.empty() || device.name.find('\\') != std::string::npos) {
        return reader.Fail(pointer, "must be a device name without backslashes");
      }
      driverDevices_.push_back(device);
    }
  }

  if (usb.contains("configManagerLeavesOutputUnset")) {
    const json& flag = usb["configManagerLeavesOutputUnset"];
    if (!flag.is_boolean()) {
      return reader.Fail(base + "/configManagerLeavesOutputUnset", "must be true or false");
    }
    configManagerLeavesOutputUnset_ = flag.get<bool>();
  }
  return reader.ok();
}

bool SimDevicesImpl::ReadController(Reader& reader, const json& value,
                                    const std::string& pointer) {
  if (!value.is_object()) return reader.Fail(pointer, "must be an object");
  if (!reader.OnlyMembers(value, pointer,
                          {"number", "driverKey", "driverKeyLength", "description", "rootHub"})) {
    return false;
  }
  Controller controller;
  if (!value.contains("number")) return reader.Fail(pointer, "needs a \"number\" (n of HCDn)");
  uint64_t number = 0;
  if (!reader.Unsigned(value["number"], pointer + "/number", 9999, &number)) return false;
  controller.number = static_cast<int>(number);
  for (const Controller& other : controllers_) {
    if (other.number == controller.number) {
      return reader.Fail(pointer + "/number",
                         "HCD" + std::to_string(number) + " is described twice");
    }
  }
  if (value.contains("driverKey") &&
      !reader.String(value["driverKey"], pointer + "/driverKey", &controller.driverKey)) {
    return false;
  }
  if (value.contains("driverKeyLength")) {
    uint64_t length = 0;
    if (!reader.Unsigned(value["driverKeyLength"], pointer + "/driverKeyLength", 0xFFFFFFFFu,
                         &length)) {
      return false;
    }
    controller.driverKeyLength = static_cast<DWORD>(length);
  }
  if (value.contains("rootHub")) {
    if (!reader.String(value["rootHub"], pointer + "/rootHub", &controller.rootHub)) return false;
    if (!FindHub(controller.rootHub)) {
      return reader.Fail(pointer + "/rootHub",
                         "no hub named \"" + controller.rootHub + "\" in /usb/hubs");
    }
  }
  if (value.contains("description")) {
    if (!reader.String(value["description"], pointer + "/description", &controller.description)) {
      return false;
    }
    controller.hasDescription = true;
    for (const DevNode& node : nodes_) {
      if (node.driver && !controller.driverKey.empty() && *node.driver == controller.driverKey) {
        return reader.Fail(pointer + "/description",
                           "the driver key is already placed in /usb/deviceTree");
      }
    }
    DevNode node;
    node.driver = controller.driverKey;
    node.description = controller.description;
    node.fromController = true;
    AddDevNode(node, 0);
  }
  controllers_.push_back(controller);
  return true;
}

bool SimDevicesImpl::ReadHub(Reader& reader, const std::string& name, const json& value,
                             const std::string& pointer) {
  if (name.empty() || name.find('\\') != std::string::npos) {
    return reader.Fail(pointer, "a hub name must not be empty or hold a backslash");
  }
  if (FindHub(name)) return reader.Fail(pointer, "another hub has this name (names ignore case)");
  if (!value.is_object()) return reader.Fail(pointer, "must be an object");
  if (!reader.OnlyMembers(value, pointer, {"ports", "nameLength"})) return false;
  Hub hub;
  hub.name = name;
  if (value.contains("nameLength")) {
    uint64_t length = 0;
    if (!reader.Unsigned(value["nameLength"], pointer + "/nameLength", 0xFFFFFFFFu, &length)) {
      return false;
    }
    hub.nameLength = static_cast<DWORD>(length);
  }
  if (value.contains("ports")) {
    const json& ports = value["ports"];
    if (!ports.is_array()) return reader.Fail(pointer + "/ports", "must be an array");
    if (ports.size() > 255) return reader.Fail(pointer + "/ports", "a hub has at most 255 ports");
    for (size_t i = 0; i < ports.size(); ++i) {
      Port port;
      if (!ReadPort(reader, ports[i], pointer + "/ports/" + std::to_string(i), &port)) {
        return false;
      }
      hub.ports.push_back(port);
    }
  }
  hubs_.push_back(hub);
  return true;
}

bool SimDevicesImpl::ReadPort(Reader& reader, const json& value, const std::string& pointer,
                              Port* port) {
  if (value.is_null()) return true;
  if (!value.is_object()) return reader.Fail(pointer, "must be an object or null");
  if (!reader.OnlyMembers(value, pointer,
                          {"vendorId", "productId", "status", "hub", "isHub",
                           "connectedUntilMs"})) {
    return false;
  }
  bool device = false;
  if (value.contains("vendorId")) {
    if (!reader.Id(value["vendorId"], pointer + "/vendorId", &port->vendorId)) return false;
    device = true;
  }
  if (value.contains("productId")) {
    if (!reader.Id(value["productId"], pointer + "/productId", &port->productId)) return false;
    device = true;
  }
  if (value.contains("hub")) {
    if (!reader.String(value["hub"], pointer + "/hub", &port->hub)) return false;
    port->isHub = true;
    device = true;
  }
  if (value.contains("isHub")) {
    if (!value["isHub"].is_boolean()) return reader.Fail(pointer + "/isHub", "must be true or false");
    port->isHub = value["isHub"].get<bool>() || !port->hub.empty();
    device = device || port->isHub;
  }
  port->status = device ? 1 : 0;
  if (value.contains("status") && !reader.Status(value["status"], pointer + "/status", &port->status)) {
    return false;
  }
  if (value.contains("connectedUntilMs")) {
    uint64_t until = 0;
    if (!reader.Unsigned(value["connectedUntilMs"], pointer + "/connectedUntilMs", UINT64_MAX,
                         &until)) {
      return false;
    }
    port->connectedUntilMs = until;
  }
  return true;
}

bool SimDevicesImpl::ReadDevNode(Reader& reader, const json& value, const std::string& pointer,
                                 int parent, int depth) {
  if (depth > 64) return reader.Fail(pointer, "the device tree is nested too deeply");
  if (!value.is_object()) return reader.Fail(pointer, "must be an object");
  if (!reader.OnlyMembers(value, pointer, {"driver", "description", "children"})) return false;
  DevNode node;
  std::string text;
  if (value.contains("driver")) {
    if (!reader.String(value["driver"], pointer + "/driver", &text)) return false;
    node.driver = text;
  }
  if (value.contains("description")) {
    if (!reader.String(value["description"], pointer + "/description", &text)) return false;
    node.description = text;
  }
  int index = AddDevNode(node, parent);
  if (value.contains("children")) {
    const json& children = value["children"];
    if (!children.is_array()) return reader.Fail(pointer + "/children", "must be an array");
    for (size_t i = 0; i < children.size(); ++i) {
      if (!ReadDevNode(reader, children[i], pointer + "/children/" + std::to_string(i), index,
                       depth + 1)) {
        return false;
      }
    }
  }
  return true;
}

int SimDevicesImpl::AddDevNode(DevNode node, int parent) {
  int index = static_cast<int>(nodes_.size());
  node.parent = parent;
  nodes_.push_back(node);
  int* link = &nodes_[parent].firstChild;
  while (*link != -1) link = &nodes_[*link].nextSibling;
  *link = index;
  return index;
}

const Hub* SimDevicesImpl::FindHub(const std::string& name) const {
  std::optional<size_t> index = FindHubIndex(name);
  return index ? &hubs_[*index] : nullptr;
}

std::optional<size_t> SimDevicesImpl::FindHubIndex(const std::string& name) const {
  std::string key = UpperAscii(name);
  for (size_t i = 0; i < hubs_.size(); ++i) {
    if (UpperAscii(hubs_[i].name) == key) return i;
  }
  return std::nullopt;
}

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
    for (size_t i = 0; i < controllers_.size(); ++i) {
      if (controllers_[i].number == number && std::to_string(number) == upper.substr(3)) {
        target = Target{Kind::kController, i};
      }
    }
  }
  if (!target) {
    if (std::optional<size_t> hub = FindHubIndex(device)) target = Target{Kind::kHub, *hub};
  }
  if (!target) {
    for (size_t i = 0; i < driverDevices_.size(); ++i) {
      if (UpperAscii(driverDevices_[i].name) == upper &&
          StillConnected(driverDevices_[i].connectedUntilMs)) {
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
    const Controller& controller = controllers_[target.index];
    if (code == kGetHcdDriverKeyName) {
      ok = AnswerName(controller.driverKey, controller.driverKeyLength, kHcdNameHeader, 0, output,
                      outSize, &written);
    } else if (code == kGetRootHubOrNodeInfo && !controller.rootHub.empty()) {
      const Hub* hub = FindHub(controller.rootHub);
      ok = AnswerName(hub->name, hub->nameLength, kHcdNameHeader, 0, output, outSize, &written);
    }
  } else if (target.kind == Kind::kHub) {
    const Hub& hub = hubs_[target.index];
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
  if (configManagerLeavesOutputUnset_) return kCrSuccess;
  *node = 1;
  return kCrSuccess;
}

ZT_CONFIGRET SimDevicesImpl::GetChild(ZT_DEVINST* child, ZT_DEVINST node) {
  if (configManagerLeavesOutputUnset_) return kCrSuccess;
  if (!ValidDevNode(node)) return kCrInvalidDevNode;
  int index = nodes_[node - 1].firstChild;
  if (index < 0) return kCrNoSuchDevnode;
  *child = static_cast<ZT_DEVINST>(index + 1);
  return kCrSuccess;
}

ZT_CONFIGRET SimDevicesImpl::GetSibling(ZT_DEVINST* sibling, ZT_DEVINST node) {
  if (configManagerLeavesOutputUnset_) return kCrSuccess;
  if (!ValidDevNode(node)) return kCrInvalidDevNode;
  int index = nodes_[node - 1].nextSibling;
  if (index < 0) return kCrNoSuchDevnode;
  *sibling = static_cast<ZT_DEVINST>(index + 1);
  return kCrSuccess;
}

ZT_CONFIGRET SimDevicesImpl::GetParent(ZT_DEVINST* parent, ZT_DEVINST node) {
  if (configManagerLeavesOutputUnset_) return kCrSuccess;
  if (!ValidDevNode(node)) return kCrInvalidDevNode;
  int index = nodes_[node - 1].parent;
  if (index < 0) return kCrNoSuchDevnode;
  *parent = static_cast<ZT_DEVINST>(index + 1);
  return kCrSuccess;
}

ZT_CONFIGRET SimDevicesImpl::GetDevNodeProperty(ZT_DEVINST node, ULONG property, void* buffer,
                                                ULONG* length) {
  if (configManagerLeavesOutputUnset_) return kCrSuccess;
  if (!ValidDevNode(node)) return kCrInvalidDevNode;
  const DevNode& devnode = nodes_[node - 1];
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
  for (Hub& hub : hubs_) {
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
  driverDevices_.erase(std::remove_if(driverDevices_.begin(), driverDevices_.end(),
                                      [&](const DriverDevice& device) {
                                        return UpperAscii(device.name) == key;
                                      }),
                       driverDevices_.end());
  if (present) driverDevices_.push_back(DriverDevice{name, std::nullopt});
}

json SimDevicesImpl::DevNodeToJson(int index) const {
  const DevNode& node = nodes_[index];
  json out = json::object();
  if (node.driver) out["driver"] = *node.driver;
  if (node.description) out["description"] = *node.description;
  json children = json::array();
  for (int child = node.firstChild; child != -1; child = nodes_[child].nextSibling) {
    if (!nodes_[child].fromController) children.push_back(DevNodeToJson(child));
  }
  if (!children.empty()) out["children"] = children;
  return out;
}

json SimDevicesImpl::ToJson() const {
  if (!present_) return json();
  json usb = json::object();
  json controllers = json::array();
  for (const Controller& controller : controllers_) {
    json entry = json::object();
    entry["number"] = controller.number;
    entry["driverKey"] = controller.driverKey;
    if (controller.driverKeyLength) entry["driverKeyLength"] = *controller.driverKeyLength;
    if (controller.hasDescription) entry["description"] = controller.description;
    if (!controller.rootHub.empty()) entry["rootHub"] = controller.rootHub;
    controllers.push_back(entry);
  }
  usb["controllers"] = controllers;

  json hubs = json::object();
  for (const Hub& hub : hubs_) {
    json entry = json::object();
    json ports = json::array();
    for (const Port& port : hub.ports) {
      DWORD status = CurrentStatus(port);
      bool device = port.vendorId || port.productId || port.isHub;
      if (!device && status == 0) {
        ports.push_back(nullptr);
        continue;
      }
      json p = json::object();
      if (port.vendorId || port.productId) {
        p["vendorId"] = HexId(port.vendorId);
        p["productId"] = HexId(port.productId);
      }
      if (!port.hub.empty()) {
        p["hub"] = port.hub;
      } else if (port.isHub) {
        p["isHub"] = true;
      }
      if (status != (device ? 1u : 0u)) {
        if (status < kStatusNameCount) {
          p["status"] = kStatusNames[status];
        } else {
          p["status"] = status;
        }
      }
      if (port.connectedUntilMs && status != 0) {
        p["connectedUntilMs"] = *port.connectedUntilMs - Elapsed();
      }
      ports.push_back(p);
    }
    entry["ports"] = ports;
    if (hub.nameLength) entry["nameLength"] = *hub.nameLength;
    hubs[hub.name] = entry;
  }
  usb["hubs"] = hubs;

  json tree = DevNodeToJson(0);
  if (tree.contains("children")) usb["deviceTree"] = tree["children"];

  json devices = json::array();
  for (const DriverDevice& device : driverDevices_) {
    if (!StillConnected(device.connectedUntilMs)) continue;
    if (device.connectedUntilMs) {
      devices.push_back({{"name", device.name},
                         {"connectedUntilMs", *device.connectedUntilMs - Elapsed()}});
    } else {
      devices.push_back(device.name);
    }
  }
  if (!devices.empty()) usb["driverDevices"] = devices;
  if (configManagerLeavesOutputUnset_) usb["configManagerLeavesOutputUnset"] = true;
  return usb;
}

}  // namespace

std::unique_ptr<SimDevices> NewSimDevices(const json* usb, std::string* error,
                                          const SimClock* clock) {
  auto devices = std::make_unique<SimDevicesImpl>(clock);
  if (usb && !devices->Load(*usb, error)) return nullptr;
  return devices;
}
