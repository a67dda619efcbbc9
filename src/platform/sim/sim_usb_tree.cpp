// The "usb" section of the machine file read into the simulated USB tree,
// with every fault named by its JSON pointer, and written back from it.
#include "platform/sim/sim_usb_tree.h"

#include <algorithm>
#include <cstdio>

#include "platform/sim/sim_json.h"

namespace sim_usb {

using nlohmann::json;

const char* const kStatusNames[] = {
    "NoDeviceConnected",      "DeviceConnected",       "DeviceFailedEnumeration",
    "DeviceGeneralFailure",   "DeviceCausedOvercurrent", "DeviceNotEnoughPower",
    "DeviceNotEnoughBandwidth", "DeviceHubNestedTooDeeply", "DeviceInLegacyHub"};
const DWORD kStatusNameCount = 9;

namespace {

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

bool ReadPort(Reader& reader, const json& value, const std::string& pointer, Port* port);
bool ReadDevNode(Tree& tree, Reader& reader, const json& value, const std::string& pointer,
                 int parent, int depth);
bool ReadController(Tree& tree, Reader& reader, const json& value, const std::string& pointer);
bool ReadHub(Tree& tree, Reader& reader, const std::string& name, const json& value,
             const std::string& pointer);

bool LoadInto(Tree& tree, const json& usb, std::string* error) {
  Reader reader(error);
  const std::string base = "/usb";
  if (usb.is_null()) return true;
  if (!usb.is_object()) return reader.Fail(base, "must be an object");
  tree.present = true;
  if (!reader.OnlyMembers(usb, base,
                          {"controllers", "hubs", "deviceTree", "driverDevices",
                           "configManagerLeavesOutputUnset"})) {
    return false;
  }

  if (usb.contains("hubs")) {
    const json& hubs = usb["hubs"];
    if (!hubs.is_object()) return reader.Fail(base + "/hubs", "must be an object");
    for (auto it = hubs.begin(); it != hubs.end(); ++it) {
      if (!ReadHub(tree, reader, it.key(), it.value(), JsonPointer(base + "/hubs", it.key()))) {
        return false;
      }
    }
    // Every downstream hub a port names must be described.
    for (auto it = hubs.begin(); it != hubs.end(); ++it) {
      const Hub& hub = *tree.FindHub(it.key());
      for (size_t p = 0; p < hub.ports.size(); ++p) {
        if (hub.ports[p].isHub && !hub.ports[p].hub.empty() && !tree.FindHub(hub.ports[p].hub)) {
          return reader.Fail(JsonPointer(base + "/hubs", it.key()) + "/ports/" +
                                 std::to_string(p) + "/hub",
                             "no hub named \"" + hub.ports[p].hub + "\" in /usb/hubs");
        }
      }
    }
  }

  if (usb.contains("deviceTree")) {
    const json& devnodes = usb["deviceTree"];
    if (!devnodes.is_array()) return reader.Fail(base + "/deviceTree", "must be an array of devnodes");
    for (size_t i = 0; i < devnodes.size(); ++i) {
      if (!ReadDevNode(tree, reader, devnodes[i], base + "/deviceTree/" + std::to_string(i), 0, 1)) {
        return false;
      }
    }
  }

  if (usb.contains("controllers")) {
    const json& controllers = usb["controllers"];
    if (!controllers.is_array()) return reader.Fail(base + "/controllers", "must be an array");
    for (size_t i = 0; i < controllers.size(); ++i) {
      if (!ReadController(tree, reader, controllers[i], base + "/controllers/" + std::to_string(i))) {
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
      tree.driverDevices.push_back(device);
    }
  }

  if (usb.contains("configManagerLeavesOutputUnset")) {
    const json& flag = usb["configManagerLeavesOutputUnset"];
    if (!flag.is_boolean()) {
      return reader.Fail(base + "/configManagerLeavesOutputUnset", "must be true or false");
    }
    tree.configManagerLeavesOutputUnset = flag.get<bool>();
  }
  return reader.ok();
}

bool ReadController(Tree& tree, Reader& reader, const json& value, const std::string& pointer) {
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
  for (const Controller& other : tree.controllers) {
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
    if (!tree.FindHub(controller.rootHub)) {
      return reader.Fail(pointer + "/rootHub",
                         "no hub named \"" + controller.rootHub + "\" in /usb/hubs");
    }
  }
  if (value.contains("description")) {
    if (!reader.String(value["description"], pointer + "/description", &controller.description)) {
      return false;
    }
    controller.hasDescription = true;
    for (const DevNode& node : tree.nodes) {
      if (node.driver && !controller.driverKey.empty() && *node.driver == controller.driverKey) {
        return reader.Fail(pointer + "/description",
                           "the driver key is already placed in /usb/deviceTree");
      }
    }
    DevNode node;
    node.driver = controller.driverKey;
    node.description = controller.description;
    node.fromController = true;
    tree.AddDevNode(node, 0);
  }
  tree.controllers.push_back(controller);
  return true;
}

bool ReadHub(Tree& tree, Reader& reader, const std::string& name, const json& value,
             const std::string& pointer) {
  if (name.empty() || name.find('\\') != std::string::npos) {
    return reader.Fail(pointer, "a hub name must not be empty or hold a backslash");
  }
  if (tree.FindHub(name)) return reader.Fail(pointer, "another hub has this name (names ignore case)");
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
  tree.hubs.push_back(hub);
  return true;
}

bool ReadPort(Reader& reader, const json& value, const std::string& pointer, Port* port) {
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

bool ReadDevNode(Tree& tree, Reader& reader, const json& value, const std::string& pointer,
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
  int index = tree.AddDevNode(node, parent);
  if (value.contains("children")) {
    const json& children = value["children"];
    if (!children.is_array()) return reader.Fail(pointer + "/children", "must be an array");
    for (size_t i = 0; i < children.size(); ++i) {
      if (!ReadDevNode(tree, reader, children[i], pointer + "/children/" + std::to_string(i), index,
                       depth + 1)) {
        return false;
      }
    }
  }
  return true;
}

json DevNodeToJson(const Tree& tree, int index) {
  const DevNode& node = tree.nodes[index];
  json out = json::object();
  if (node.driver) out["driver"] = *node.driver;
  if (node.description) out["description"] = *node.description;
  json children = json::array();
  for (int child = node.firstChild; child != -1; child = tree.nodes[child].nextSibling) {
    if (!tree.nodes[child].fromController) children.push_back(DevNodeToJson(tree, child));
  }
  if (!children.empty()) out["children"] = children;
  return out;
}

}  // namespace

int Tree::AddDevNode(DevNode node, int parent) {
  int index = static_cast<int>(nodes.size());
  node.parent = parent;
  nodes.push_back(node);
  int* link = &nodes[parent].firstChild;
  while (*link != -1) link = &nodes[*link].nextSibling;
  *link = index;
  return index;
}

const Hub* Tree::FindHub(const std::string& name) const {
  std::optional<size_t> index = FindHubIndex(name);
  return index ? &hubs[*index] : nullptr;
}

std::optional<size_t> Tree::FindHubIndex(const std::string& name) const {
  std::string key = UpperAscii(name);
  for (size_t i = 0; i < hubs.size(); ++i) {
    if (UpperAscii(hubs[i].name) == key) return i;
  }
  return std::nullopt;
}

bool ReadTree(const json& usb, Tree* tree, std::string* error) {
  return LoadInto(*tree, usb, error);
}

json TreeToJson(const Tree& tree, uint64_t elapsedMs) {
  if (!tree.present) return json();
  json usb = json::object();
  json controllers = json::array();
  for (const Controller& controller : tree.controllers) {
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
  for (const Hub& hub : tree.hubs) {
    json entry = json::object();
    json ports = json::array();
    for (const Port& port : hub.ports) {
      DWORD status = CurrentStatus(port, elapsedMs);
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
        p["connectedUntilMs"] = *port.connectedUntilMs - elapsedMs;
      }
      ports.push_back(p);
    }
    entry["ports"] = ports;
    if (hub.nameLength) entry["nameLength"] = *hub.nameLength;
    hubs[hub.name] = entry;
  }
  usb["hubs"] = hubs;

  json root = DevNodeToJson(tree, 0);
  if (root.contains("children")) usb["deviceTree"] = root["children"];

  json devices = json::array();
  for (const DriverDevice& device : tree.driverDevices) {
    if (!StillConnected(device.connectedUntilMs, elapsedMs)) continue;
    if (device.connectedUntilMs) {
      devices.push_back({{"name", device.name},
                         {"connectedUntilMs", *device.connectedUntilMs - elapsedMs}});
    } else {
      devices.push_back(device.name);
    }
  }
  if (!devices.empty()) usb["driverDevices"] = devices;
  if (tree.configManagerLeavesOutputUnset) usb["configManagerLeavesOutputUnset"] = true;
  return usb;
}

}  // namespace sim_usb
