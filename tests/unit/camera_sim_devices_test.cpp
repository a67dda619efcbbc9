// The simulated device service: the byte layouts of its USB answers, its
// device tree, the checks on a description and the description written back.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/sim/sim_devices.h"

namespace {

using nlohmann::json;

constexpr DWORD kDriverKeyName = 0x220424;
constexpr DWORD kRootHubNameOrNodeInfo = 0x220408;
constexpr DWORD kConnectionInformation = 0x22040C;
constexpr DWORD kConnectionName = 0x220414;

DWORD U32(const std::vector<BYTE>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<DWORD>(b[at + 3]) << 24;
}
WORD U16(const std::vector<BYTE>& b, size_t at) { return static_cast<WORD>(b[at] | b[at + 1] << 8); }
std::string Utf16At(const std::vector<BYTE>& b, size_t at, size_t end) {
  std::string text;
  for (size_t i = at; i + 1 < end && (b[i] || b[i + 1]); i += 2) {
    text.push_back(b[i + 1] ? '?' : static_cast<char>(b[i]));
  }
  return text;
}

const char* const kMachine = R"({
  "controllers": [
    {"number": 0, "driverKey": "{36FC9E60-C465-11CF-8056-444553540000}\\0000",
     "description": "Standard OpenHCD USB Host Controller", "rootHub": "USB#ROOT_HUB#1"},
    {"number": 3, "driverKey": "{36FC9E60-C465-11CF-8056-444553540000}\\0003",
     "rootHub": "USB#ROOT_HUB#2"}
  ],
  "hubs": {
    "USB#ROOT_HUB#1": {"ports": [null, {"vendorId": "05E3", "productId": "0608", "hub": "USB#HUB#A"}]},
    "USB#ROOT_HUB#2": {"ports": [{"vendorId": 1133, "productId": "0xC016"}]},
    "USB#HUB#A": {"ports": [null, null, {"vendorId": "0x0F3A", "productId": 1,
                                          "status": "DeviceFailedEnumeration"}]}
  },
  "deviceTree": [
    {"description": "PCI bus", "children": [
      {"driver": "{36FC9E60-C465-11CF-8056-444553540000}\\0003", "description": "Second controller"},
      {"description": "No driver here"}
    ]}
  ],
  "driverDevices": ["crvnusb"]
})";

class SimDevicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    json usb = json::parse(kMachine);
    std::string error;
    devices_ = NewSimDevices(&usb, &error);
    ASSERT_TRUE(devices_) << error;
  }
  void TearDown() override {
    if (devices_) {
      EXPECT_EQ(devices_->openHandleCount(), 0);
    }
  }
  HANDLE Open(const std::string& name) {
    return devices_->OpenDevice(name, GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING);
  }
  std::unique_ptr<SimDevices> devices_;
};

TEST_F(SimDevicesTest, DeviceNamesOpenWithoutRegardToCase) {
  for (const char* name : {"\\\\.\\HCD0", "\\\\.\\hcd3", "\\\\.\\usb#root_hub#1", "\\\\.\\USB#HUB#A",
                           "\\\\.\\CRVNUSB"}) {
    HANDLE handle = Open(name);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << name;
    EXPECT_EQ(devices_->openHandleCount(), 1);
    EXPECT_TRUE(devices_->CloseDevice(handle));
  }
  for (const char* name : {"\\\\.\\HCD1", "\\\\.\\HCD00", "\\\\.\\HCD03", "HCD0", "\\\\.\\HCD",
                           "\\\\.\\USB#HUB#B", "\\\\.\\"}) {
    EXPECT_EQ(Open(name), INVALID_HANDLE_VALUE) << name;
  }
  EXPECT_FALSE(devices_->CloseDevice(reinterpret_cast<HANDLE>(0x1234)));
}

TEST_F(SimDevicesTest, DriverKeyNameAnswersTheSizeThenTheName) {
  HANDLE hcd = Open("\\\\.\\HCD0");
  std::vector<BYTE> query(6, 0);
  DWORD returned = 0;
  ASSERT_TRUE(devices_->DeviceIoControl(hcd, kDriverKeyName, query.data(), 6, query.data(), 6,
                                        &returned));
  const std::string key = "{36FC9E60-C465-11CF-8056-444553540000}\\0000";
  EXPECT_EQ(U32(query, 0), 4 + 2 * (key.size() + 1));
  EXPECT_EQ(returned, 6u);
  EXPECT_EQ(U16(query, 4), '{') << "as much of the name as fits";

  std::vector<BYTE> full(U32(query, 0) + 4, 0xCC);
  DWORD size = U32(query, 0);
  ASSERT_TRUE(devices_->DeviceIoControl(hcd, kDriverKeyName, full.data(), size, full.data(), size,
                                        &returned));
  EXPECT_EQ(returned, size);
  EXPECT_EQ(Utf16At(full, 4, size), key);
  EXPECT_EQ(U16(full, size - 2), 0) << "terminated";
  EXPECT_EQ(full[size], 0xCC) << "nothing written past the buffer";

  std::vector<BYTE> tiny(5, 0);
  EXPECT_FALSE(devices_->DeviceIoControl(hcd, kDriverKeyName, tiny.data(), 5, tiny.data(), 5,
                                         &returned));
  EXPECT_FALSE(devices_->DeviceIoControl(hcd, kConnectionInformation, tiny.data(), 5, tiny.data(),
                                         5, &returned))
      << "a controller is no hub";
  devices_->CloseDevice(hcd);
}

TEST_F(SimDevicesTest, RootHubNameComesFromTheController) {
  HANDLE hcd = Open("\\\\.\\HCD3");
  std::vector<BYTE> name(64, 0);
  DWORD returned = 0;
  ASSERT_TRUE(devices_->DeviceIoControl(hcd, kRootHubNameOrNodeInfo, nullptr, 0, name.data(), 64,
                                        &returned));
  EXPECT_EQ(U32(name, 0), 4u + 2 * 15);
  EXPECT_EQ(Utf16At(name, 4, 64), "USB#ROOT_HUB#2");
  devices_->CloseDevice(hcd);
}

TEST_F(SimDevicesTest, NodeInformationHoldsThePortCount) {
  HANDLE hub = Open("\\\\.\\USB#HUB#A");
  std::vector<BYTE> info(76, 0);
  DWORD returned = 0;
  ASSERT_TRUE(devices_->DeviceIoControl(hub, kRootHubNameOrNodeInfo, info.data(), 76, info.data(),
                                        76, &returned));
  EXPECT_EQ(U32(info, 0), 0u) << "UsbHub";
  EXPECT_EQ(info[5], 0x29) << "hub descriptor type";
  EXPECT_EQ(info[6], 3) << "bNumberOfPorts";
  EXPECT_EQ(returned, 76u);
  EXPECT_FALSE(devices_->DeviceIoControl(hub, kRootHubNameOrNodeInfo, info.data(), 75, info.data(),
                                         75, &returned));
  devices_->CloseDevice(hub);
}

TEST_F(SimDevicesTest, ConnectionInformationUsesThePackedOffsets) {
  HANDLE root = Open("\\\\.\\USB#ROOT_HUB#1");
  HANDLE hubA = Open("\\\\.\\USB#HUB#A");
  auto ask = [&](HANDLE hub, DWORD port, std::vector<BYTE>* info) {
    info->assign(245, 0xEE);
    std::memset(info->data(), 0, 4);
    (*info)[0] = static_cast<BYTE>(port);
    DWORD returned = 0;
    return devices_->DeviceIoControl(hub, kConnectionInformation, info->data(), 245, info->data(),
                                     245, &returned);
  };
  std::vector<BYTE> info;
  ASSERT_TRUE(ask(hubA, 3, &info));
  EXPECT_EQ(U32(info, 0), 3u);
  EXPECT_EQ(U16(info, 12), 0x0F3A);
  EXPECT_EQ(U16(info, 14), 1);
  EXPECT_EQ(info[24], 0);
  EXPECT_EQ(U32(info, 31), 2u) << "DeviceFailedEnumeration";

  ASSERT_TRUE(ask(root, 2, &info));
  EXPECT_EQ(U16(info, 12), 0x05E3);
  EXPECT_EQ(U16(info, 14), 0x0608);
  EXPECT_EQ(info[24], 1) << "DeviceIsHub";
  EXPECT_EQ(U32(info, 31), 1u);

  ASSERT_TRUE(ask(root, 1, &info));
  EXPECT_EQ(U16(info, 12), 0);
  EXPECT_EQ(U32(info, 31), 0u) << "NoDeviceConnected";

  EXPECT_FALSE(ask(root, 0, &info));
  EXPECT_FALSE(ask(root, 3, &info));
  devices_->CloseDevice(root);
  devices_->CloseDevice(hubA);
}

TEST_F(SimDevicesTest, ConnectionNameNamesTheDownstreamHub) {
  HANDLE root = Open("\\\\.\\USB#ROOT_HUB#1");
  std::vector<BYTE> query(10, 0);
  query[0] = 2;
  DWORD returned = 0;
  ASSERT_TRUE(devices_->DeviceIoControl(root, kConnectionName, query.data(), 10, query.data(), 10,
                                        &returned));
  EXPECT_EQ(U32(query, 0), 2u);
  DWORD size = U32(query, 4);
  EXPECT_EQ(size, 8u + 2 * 10);
  std::vector<BYTE> full(size, 0);
  full[0] = 2;
  ASSERT_TRUE(devices_->DeviceIoControl(root, kConnectionName, full.data(), size, full.data(), size,
                                        &returned));
  EXPECT_EQ(Utf16At(full, 8, size), "USB#HUB#A");

  query.assign(10, 0);
  query[0] = 1;  // an empty port has no name
  ASSERT_TRUE(devices_->DeviceIoControl(root, kConnectionName, query.data(), 10, query.data(), 10,
                                        &returned));
  EXPECT_EQ(U32(query, 4), 10u);
  devices_->CloseDevice(root);
}

TEST_F(SimDevicesTest, DeviceTreeHoldsDescribedNodesThenControllerNodes) {
  ZT_DEVINST root = 0, node = 0, next = 0;
  ASSERT_EQ(devices_->LocateRootDevNode(&root), kCrSuccess);
  char buffer[64];
  ULONG length = sizeof(buffer);
  EXPECT_EQ(devices_->GetDevNodeProperty(root, kCmDrpDriver, buffer, &length), kCrNoSuchValue);

  ASSERT_EQ(devices_->GetChild(&node, root), kCrSuccess);
  length = sizeof(buffer);
  ASSERT_EQ(devices_->GetDevNodeProperty(node, kCmDrpDeviceDesc, buffer, &length), kCrSuccess);
  EXPECT_STREQ(buffer, "PCI bus");
  EXPECT_EQ(length, 8u);

  ASSERT_EQ(devices_->GetChild(&next, node), kCrSuccess);
  length = 4;
  EXPECT_EQ(devices_->GetDevNodeProperty(next, kCmDrpDriver, buffer, &length), kCrBufferSmall);
  EXPECT_EQ(length, 44u);
  ZT_DEVINST parent = 0;
  ASSERT_EQ(devices_->GetParent(&parent, next), kCrSuccess);
  EXPECT_EQ(parent, node);
  ASSERT_EQ(devices_->GetSibling(&next, next), kCrSuccess);
  EXPECT_EQ(devices_->GetSibling(&next, next), kCrNoSuchDevnode);
  EXPECT_EQ(devices_->GetChild(&next, next), kCrNoSuchDevnode);

  // HCD0 described its own devnode, placed under the root after the tree.
  ASSERT_EQ(devices_->GetSibling(&node, node), kCrSuccess);
  length = sizeof(buffer);
  ASSERT_EQ(devices_->GetDevNodeProperty(node, kCmDrpDriver, buffer, &length), kCrSuccess);
  EXPECT_STREQ(buffer, "{36FC9E60-C465-11CF-8056-444553540000}\\0000");
  EXPECT_EQ(devices_->GetSibling(&node, node), kCrNoSuchDevnode);
  EXPECT_EQ(devices_->GetParent(&parent, root), kCrNoSuchDevnode);
  EXPECT_NE(devices_->GetChild(&node, 999), kCrSuccess);
}

TEST_F(SimDevicesTest, DescriptionWrittenBackReadsTheSame) {
  json written = devices_->ToJson();
  std::string error;
  std::unique_ptr<SimDevices> again = NewSimDevices(&written, &error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->ToJson(), written);
  EXPECT_EQ(written["hubs"]["USB#HUB#A"]["ports"][2]["status"], "DeviceFailedEnumeration");
  EXPECT_EQ(written["hubs"]["USB#HUB#A"]["ports"][2]["vendorId"], "0x0F3A");
  EXPECT_EQ(written["deviceTree"].size(), 1u) << "controller devnodes stay with their controller";

  EXPECT_EQ(devices_->SetDeviceConnectionStatus(0x0F3A, 1, 0), 1);
  devices_->SetDriverDevicePresent("crvnusb", false);
  written = devices_->ToJson();
  EXPECT_EQ(written["hubs"]["USB#HUB#A"]["ports"][2]["status"], "NoDeviceConnected");
  EXPECT_FALSE(written.contains("driverDevices"));
  EXPECT_EQ(Open("\\\\.\\crvnusb"), INVALID_HANDLE_VALUE);

  std::unique_ptr<SimDevices> none = NewSimDevices(nullptr, &error);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->ToJson().is_null());
}

TEST(SimDevicesClockTest, DevicesGoAwayAfterTheirTime) {
  SimClock clock;
  clock.Set(3600000);
  json usb = json::parse(R"({
    "controllers": [{"number": 0, "driverKey": "k", "rootHub": "R"}],
    "hubs": {"R": {"ports": [{"vendorId": 1, "productId": 2, "connectedUntilMs": 1500}]}},
    "driverDevices": [{"name": "crvnusb", "connectedUntilMs": 1000}]})");
  std::unique_ptr<SimDevices> devices = NewSimDevices(&usb, nullptr, &clock);
  ASSERT_TRUE(devices);
  auto status = [&] {
    HANDLE hub = devices->OpenDevice("\\\\.\\R", GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING);
    std::vector<BYTE> info(245, 0);
    info[0] = 1;
    DWORD returned = 0;
    devices->DeviceIoControl(hub, kConnectionInformation, info.data(), 245, info.data(), 245,
                             &returned);
    devices->CloseDevice(hub);
    return U32(info, 31);
  };
  auto driverPresent = [&] {
    HANDLE h = devices->OpenDevice("\\\\.\\crvnusb", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return false;
    devices->CloseDevice(h);
    return true;
  };
  EXPECT_EQ(status(), 1u);
  EXPECT_TRUE(driverPresent());
  clock.Advance(1000);
  EXPECT_EQ(status(), 1u);
  EXPECT_FALSE(driverPresent());
  EXPECT_EQ(devices->ToJson()["hubs"]["R"]["ports"][0]["connectedUntilMs"], 500);
  clock.Advance(500);
  EXPECT_EQ(status(), 0u);
}

TEST(SimDevicesDescriptionTest, BadDescriptionsAreRefusedWithThePlace) {
  struct Case {
    const char* usb;
    const char* error;
  };
  const Case cases[] = {
      {R"([])", "/usb: must be an object"},
      {R"({"controler": []})", "/usb/controler: unknown member"},
      {R"({"controllers": [{"driverKey": "k"}]})", "/usb/controllers/0: needs a \"number\" (n of HCDn)"},
      {R"({"controllers": [{"number": -1}]})", "/usb/controllers/0/number: must be a non-negative integer"},
      {R"({"controllers": [{"number": 1}, {"number": 1}]})", "/usb/controllers/1/number: HCD1 is described twice"},
      {R"({"controllers": [{"number": 0, "rootHub": "R"}]})", "/usb/controllers/0/rootHub: no hub named \"R\" in /usb/hubs"},
      {R"({"hubs": {"R": {"ports": [{"hub": "S"}]}}})", "/usb/hubs/R/ports/0/hub: no hub named \"S\" in /usb/hubs"},
      {R"({"hubs": {"R": {"ports": [{"vendorId": "0x10000"}]}}})", "/usb/hubs/R/ports/0/vendorId: must be a 16-bit id (an integer or hex digits such as \"0x0F3A\")"},
      {R"({"hubs": {"R": {"ports": [{"productId": 65536}]}}})", "/usb/hubs/R/ports/0/productId: must be at most 65535"},
      {R"({"hubs": {"R": {"ports": [{"status": "Connected"}]}}})", "/usb/hubs/R/ports/0/status: unknown connection status \"Connected\""},
      {R"({"hubs": {"R": {"ports": 4}}})", "/usb/hubs/R/ports: must be an array"},
      {R"({"hubs": {"a/b": {"x": 1}}})", "/usb/hubs/a~1b/x: unknown member"},
      {R"({"hubs": {"R": {}, "r": {}}})", "/usb/hubs/r: another hub has this name (names ignore case)"},
      {R"({"hubs": {"A\\B": {}}})", "/usb/hubs/A\\B: a hub name must not be empty or hold a backslash"},
      {R"({"deviceTree": [{"children": [{"driver": 5}]}]})", "/usb/deviceTree/0/children/0/driver: must be a string"},
      {R"({"deviceTree": [{"driver": "k"}], "controllers": [{"number": 0, "driverKey": "k", "description": "d"}]})",
       "/usb/controllers/0/description: the driver key is already placed in /usb/deviceTree"},
      {R"({"driverDevices": [""]})", "/usb/driverDevices/0: must be a device name without backslashes"},
      {R"({"driverDevices": [{"connectedUntilMs": 5}]})", "/usb/driverDevices/0: needs a \"name\""},
      {R"({"configManagerLeavesOutputUnset": 1})", "/usb/configManagerLeavesOutputUnset: must be true or false"},
  };
  for (const Case& c : cases) {
    json usb = json::parse(c.usb);
    std::string error;
    EXPECT_EQ(NewSimDevices(&usb, &error), nullptr) << c.usb;
    EXPECT_EQ(error, c.error) << c.usb;
  }
}

}  // namespace
