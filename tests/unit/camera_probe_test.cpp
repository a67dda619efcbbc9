// The camera probe against simulated USB trees: where the camera can hide,
// which controllers are searched, the NT 4.0 driver device, and trees that
// misbehave.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "actions/camera_probe.h"
#include "platform/sim/sim_devices.h"
#include "unit/camera_test_support.h"

namespace {

using nlohmann::json;

const char* const kHubClass = "{36FC9E60-C465-11CF-8056-444553540000}";

std::string DriverKey(int n) {
  char text[64];
  std::snprintf(text, sizeof(text), "%s\\%04d", kHubClass, n);
  return text;
}

std::string RootHub(int n) { return "USB#ROOT_HUB#4&1b2c3d4e&" + std::to_string(n); }

const json kCamera = {{"vendorId", "0x0F3A"}, {"productId", 1}};

// A controller numbered `n` with its devnode under the root and a root hub
// with these ports.
void AddController(json* usb, int n, const json& ports) {
  (*usb)["controllers"].push_back({{"number", n},
                                   {"driverKey", DriverKey(n)},
                                   {"description", "Standard Universal PCI to USB Host Controller"},
                                   {"rootHub", RootHub(n)}});
  (*usb)["hubs"][RootHub(n)] = {{"ports", ports}};
}

class CameraProbeTest : public ::testing::Test {
 protected:
  // Builds the devices and probes once; the probe must leave no handle open.
  bool Probe(const json& usb, const OsVersion& os = XpSp2()) {
    std::string error;
    devices_ = NewSimDevices(&usb, &error);
    EXPECT_TRUE(devices_) << error;
    if (!devices_) return false;
    environment_.os = os;
    return ProbeAgain();
  }
  bool ProbeAgain() {
    CCameraProbe probe(*devices_, environment_, kCameraVendorId, kCameraProductId,
                       kCameraDeviceName);
    bool attached = probe.IsAttached();
    EXPECT_EQ(devices_->openHandleCount(), 0);
    return attached;
  }

  TinyEnvironment environment_;
  std::unique_ptr<SimDevices> devices_;
};

// ---- Where the camera is ----

TEST_F(CameraProbeTest, CameraOnTheRootHubIsFound) {
  json usb;
  AddController(&usb, 0, json::array({nullptr, kCamera}));
  EXPECT_TRUE(Probe(usb));
  EXPECT_STREQ(CameraControllerDescription(), "Standard Universal PCI to USB Host Controller");
  EXPECT_EQ(devices_->debugOutput(), "");
}

TEST_F(CameraProbeTest, CameraBehindAnExternalHubIsFoundThroughTheDownstreamHub) {
  json usb;
  AddController(&usb, 0, json::array({nullptr, {{"vendorId", "05E3"}, {"productId", "0608"},
                                               {"hub", "USB#VID_05E3&PID_0608#5&2"}}}));
  usb["hubs"]["USB#VID_05E3&PID_0608#5&2"] = {
      {"ports", json::array({{{"vendorId", "046D"}, {"productId", "C016"}}, nullptr, kCamera})}};
  EXPECT_TRUE(Probe(usb));

  // Two hubs deep works the same way.
  usb["hubs"]["USB#VID_05E3&PID_0608#5&2"]["ports"][2] = {{"hub", "USB#VID_0409&PID_0059#6&3"}};
  usb["hubs"]["USB#VID_0409&PID_0059#6&3"] = {{"ports", json::array({nullptr, kCamera})}};
  EXPECT_TRUE(Probe(usb));

  // Without the camera the same tree is searched to its end.
  usb["hubs"]["USB#VID_0409&PID_0059#6&3"]["ports"][1] = nullptr;
  EXPECT_FALSE(Probe(usb));
}

TEST_F(CameraProbeTest, OnlyTheCameraIdsCount) {
  json usb;
  AddController(&usb, 0, json::array({{{"vendorId", "0x0F3A"}, {"productId", 2}},
                                      {{"vendorId", "0x0F3B"}, {"productId", 1}},
                                      {{"vendorId", 1}, {"productId", "0x0F3A"}}}));
  EXPECT_FALSE(Probe(usb));
  EXPECT_EQ(devices_->debugOutput(),
            "Could not find USB Host Controller with Zentavo camera connected.\n");
  EXPECT_STREQ(CameraControllerDescription(), "");
}

TEST_F(CameraProbeTest, AnyConnectionStatusButNoDeviceCounts) {
  json camera = kCamera;
  camera["status"] = "DeviceFailedEnumeration";
  json usb;
  AddController(&usb, 0, json::array({camera}));
  EXPECT_TRUE(Probe(usb));

  usb["hubs"][RootHub(0)]["ports"][0]["status"] = 4;  // DeviceCausedOvercurrent
  EXPECT_TRUE(Probe(usb));

  usb["hubs"][RootHub(0)]["ports"][0]["status"] = "NoDeviceConnected";
  EXPECT_FALSE(Probe(usb));
}

// A hub driver that leaves the last device's descriptor in the answer for a
// port whose device is gone.
class StaleDescriptorDevices : public ForwardingDevices {
 public:
  using ForwardingDevices::ForwardingDevices;
  BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out,
                       DWORD outSize, DWORD* returned) override {
    BOOL ok = ForwardingDevices::DeviceIoControl(device, code, in, inSize, out, outSize, returned);
    if (ok && code == kIoctlUsbGetNodeConnectionInformation) {
      BYTE* bytes = static_cast<BYTE*>(out);
      bytes[12] = 0x3A, bytes[13] = 0x0F, bytes[14] = 1, bytes[15] = 0;
    }
    return ok;
  }
};

TEST_F(CameraProbeTest, PortWithNoDeviceConnectedDoesNotCountWhateverItsDescriptorSays) {
  json usb;
  AddController(&usb, 0, json::array({nullptr, {{"vendorId", 1}, {"productId", 2}}}));
  std::unique_ptr<SimDevices> sim = NewSimDevices(&usb, nullptr);
  ASSERT_TRUE(sim);
  StaleDescriptorDevices stale(*sim);
  EXPECT_TRUE(CCameraProbe(stale, environment_, kCameraVendorId, kCameraProductId,
                           kCameraDeviceName).IsAttached())
      << "port 2 is connected and now reads as the camera";
  sim->SetDeviceConnectionStatus(1, 2, 0);
  EXPECT_FALSE(CCameraProbe(stale, environment_, kCameraVendorId, kCameraProductId,
                            kCameraDeviceName).IsAttached());
}

TEST_F(CameraProbeTest, EveryProbeAsksAgain) {
  json usb;
  AddController(&usb, 0, json::array({kCamera}));
  EXPECT_TRUE(Probe(usb));
  EXPECT_EQ(devices_->SetDeviceConnectionStatus(kCameraVendorId, kCameraProductId, 0), 1);
  EXPECT_FALSE(ProbeAgain());
  EXPECT_EQ(devices_->SetDeviceConnectionStatus(kCameraVendorId, kCameraProductId, 1), 1);
  EXPECT_TRUE(ProbeAgain());
}

// ---- Which controllers are searched ----

TEST_F(CameraProbeTest, ControllersAreSearchedAcrossGapsUpToHcd9) {
  json usb;
  AddController(&usb, 1, json::array({kCamera}));
  EXPECT_TRUE(Probe(usb)) << "HCD0 absent, HCD1 present";

  usb = json();
  AddController(&usb, 0, json::array({nullptr}));
  AddController(&usb, 9, json::array({kCamera}));
  EXPECT_TRUE(Probe(usb)) << "HCD9 is the last one searched";

  usb = json();
  AddController(&usb, 0, json::array({nullptr}));
  AddController(&usb, 10, json::array({kCamera}));
  AddController(&usb, 11, json::array({kCamera}));
  EXPECT_FALSE(Probe(usb)) << "HCD10 and above are never searched";
}

TEST_F(CameraProbeTest, MachineWithoutControllersHasNoCamera) {
  EXPECT_FALSE(Probe(json()));
  EXPECT_EQ(devices_->debugOutput(),
            "Could not find USB Host Controller with Zentavo camera connected.\n");
}

TEST_F(CameraProbeTest, ControllerWhoseDriverKeyIsNotInTheDeviceTreeIsSkipped) {
  json usb;
  AddController(&usb, 0, json::array({kCamera}));
  usb["controllers"][0].erase("description");  // no devnode carries its driver key
  EXPECT_FALSE(Probe(usb));

  // A devnode with the key but no description is not enough either.
  usb["deviceTree"] = json::array({{{"driver", DriverKey(0)}}});
  EXPECT_FALSE(Probe(usb));

  // The driver key compares case-sensitively.
  usb["deviceTree"] = json::array(
      {{{"driver", "{36fc9e60-c465-11cf-8056-444553540000}\\0000"}, {"description", "USB"}}});
  EXPECT_FALSE(Probe(usb));
}

TEST_F(CameraProbeTest, ControllerDeepInTheDeviceTreeIsFound) {
  json usb;
  AddController(&usb, 0, json::array({kCamera}));
  usb["controllers"][0].erase("description");
  // ACPI and PCI bus nodes without driver keys, siblings before and after,
  // and the controller as the last child of a bridge.
  usb["deviceTree"] = json::array(
      {{{"description", "ACPI Fixed Feature Button"}},
       {{"description", "Microsoft ACPI-Compliant System"},
        {"children",
         json::array({{{"driver", "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0001"},
                       {"description", "PCI bus"},
                       {"children",
                        json::array({{{"driver", "{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000"},
                                      {"description", "Display"}},
                                     {{"description", "PCI bridge"},
                                      {"children",
                                       json::array({{{"driver", DriverKey(0)},
                                                     {"description", "Intel(R) 82801DB USB"}}})}}})}},
                      {{"description", "Processor"}}})}},
       {{"driver", "{4D36E96B-E325-11CE-BFC1-08002BE10318}\\0000"}, {"description", "Keyboard"}}});
  EXPECT_TRUE(Probe(usb));
  EXPECT_STREQ(CameraControllerDescription(), "Intel(R) 82801DB USB");
}

TEST_F(CameraProbeTest, ControllerWithoutReadableDriverKeyIsNotSearchedWithTheLastDescription) {
  json usb;
  AddController(&usb, 0, json::array({nullptr}));
  AddController(&usb, 1, json::array({kCamera}));
  usb["controllers"][1]["driverKeyLength"] = 6;  // the size query reports no name
  EXPECT_FALSE(Probe(usb));
}

// ---- Windows NT 4.0 ----

TEST_F(CameraProbeTest, Nt4AnswersByTheDriverDevice) {
  OsVersion nt4{4, 0, 1381, VER_PLATFORM_WIN32_NT, "Service Pack 6"};
  json usb;
  usb["driverDevices"] = json::array({"crvnusb"});
  EXPECT_TRUE(Probe(usb, nt4)) << "the driver's device opens though no camera is in the tree";
  EXPECT_EQ(devices_->debugOutput(), "Zentavo camera is ON\n");

  usb = json();
  AddController(&usb, 0, json::array({kCamera}));
  EXPECT_FALSE(Probe(usb, nt4)) << "the USB tree is not searched on NT 4.0";
  EXPECT_EQ(devices_->debugOutput(), "Zentavo camera is OFF\n");
}

TEST_F(CameraProbeTest, OnlyNt4IsAskedThroughTheDriver) {
  json usb;
  usb["driverDevices"] = json::array({"crvnusb"});
  EXPECT_FALSE(Probe(usb, XpSp2()));
  EXPECT_FALSE(Probe(usb, OsVersion{4, 10, 67766446, VER_PLATFORM_WIN32_WINDOWS, " A "}))
      << "Windows 98 reports major version 4 on another platform";
  EXPECT_FALSE(Probe(usb, OsVersion{5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4"}));
}

TEST_F(CameraProbeTest, ConstructionPrefixesTheDeviceNameOnNt4Only) {
  std::unique_ptr<SimDevices> devices = NewSimDevices(nullptr, nullptr);
  environment_.os = OsVersion{4, 0, 1381, VER_PLATFORM_WIN32_NT, ""};
  EXPECT_EQ(CCameraProbe(*devices, environment_, 1, 2, "crvnusb").deviceName, "\\\\.\\crvnusb");
  EXPECT_EQ(CCameraProbe(*devices, environment_, 1, 2, "").deviceName, "");
  EXPECT_EQ(CCameraProbe(*devices, environment_, 1, 2, "crvnusb").isNT4, 1);

  environment_.os = XpSp2();
  CCameraProbe xp(*devices, environment_, 0x0F3A, 1, "crvnusb");
  EXPECT_EQ(xp.deviceName, "crvnusb");
  EXPECT_EQ(xp.isNT4, 0);
  EXPECT_EQ(xp.vendorId, 0x0F3A);
  EXPECT_EQ(xp.productId, 1);

  environment_.os = OsVersion{4, 0, 1381, VER_PLATFORM_WIN32_NT, ""};
  environment_.versionReadFails = true;
  EXPECT_EQ(CCameraProbe(*devices, environment_, 1, 2, "crvnusb").isNT4, 0)
      << "a failed version read clears isNT4";
}

// ---- Trees that misbehave ----

// Counts the configuration manager's calls.
class CountingDevices : public ForwardingDevices {
 public:
  using ForwardingDevices::ForwardingDevices;
  ZT_CONFIGRET LocateRootDevNode(ZT_DEVINST* node) override {
    ++configManagerCalls;
    return ForwardingDevices::LocateRootDevNode(node);
  }
  ZT_CONFIGRET GetChild(ZT_DEVINST* child, ZT_DEVINST node) override {
    ++configManagerCalls;
    return ForwardingDevices::GetChild(child, node);
  }
  ZT_CONFIGRET GetSibling(ZT_DEVINST* sibling, ZT_DEVINST node) override {
    ++configManagerCalls;
    return ForwardingDevices::GetSibling(sibling, node);
  }
  ZT_CONFIGRET GetParent(ZT_DEVINST* parent, ZT_DEVINST node) override {
    ++configManagerCalls;
    return ForwardingDevices::GetParent(parent, node);
  }
  ZT_CONFIGRET GetDevNodeProperty(ZT_DEVINST node, ULONG property, void* buffer,
                                  ULONG* length) override {
    ++configManagerCalls;
    return ForwardingDevices::GetDevNodeProperty(node, property, buffer, length);
  }
  int configManagerCalls = 0;
};

// A configuration manager that reports success and node 0 for every move.
class ZeroNodeDevices : public CountingDevices {
 public:
  using CountingDevices::CountingDevices;
  ZT_CONFIGRET GetChild(ZT_DEVINST* child, ZT_DEVINST) override { return Zero(child); }
  ZT_CONFIGRET GetSibling(ZT_DEVINST* sibling, ZT_DEVINST) override { return Zero(sibling); }
  ZT_CONFIGRET GetParent(ZT_DEVINST* parent, ZT_DEVINST) override { return Zero(parent); }

 private:
  ZT_CONFIGRET Zero(ZT_DEVINST* node) {
    ++configManagerCalls;
    *node = 0;
    return kCrSuccess;
  }
};

TEST_F(CameraProbeTest, ConfigurationManagerThatFillsNothingEndsTheWalk) {
  json usb;
  AddController(&usb, 0, json::array({kCamera}));
  usb["configManagerLeavesOutputUnset"] = true;
  EXPECT_FALSE(Probe(usb));
  EXPECT_STREQ(CameraControllerDescription(), "");

  // The walk stops at the first node that does not change, not at its step limit.
  CountingDevices counting(*devices_);
  CCameraProbe probe(counting, environment_, kCameraVendorId, kCameraProductId,
                     kCameraDeviceName);
  EXPECT_EQ(probe.FindControllerDescription(DriverKey(0)), nullptr);
  EXPECT_LE(counting.configManagerCalls, 5);

  // The same when the answer is node 0, as a back end that hands over only
  // what it was given reports it.
  usb.erase("configManagerLeavesOutputUnset");
  std::unique_ptr<SimDevices> plain = NewSimDevices(&usb, nullptr);
  ASSERT_TRUE(plain);
  ZeroNodeDevices zero(*plain);
  CCameraProbe probe2(zero, environment_, kCameraVendorId, kCameraProductId, kCameraDeviceName);
  EXPECT_EQ(probe2.FindControllerDescription(DriverKey(0)), nullptr);
  EXPECT_LE(zero.configManagerCalls, 5) << "node 0 is not visited";
}

TEST_F(CameraProbeTest, HubNameThatDoesNotFitIsNotFound) {
  json usb;
  AddController(&usb, 0, json::array({{{"hub", "USB#EXTERNAL#1"}}}));
  usb["hubs"]["USB#EXTERNAL#1"] = {{"ports", json::array({kCamera})}};
  ASSERT_TRUE(Probe(usb));

  for (DWORD length : {0xFFFFFFF0u, kMaxUsbNameBufferSize + 1, 20u, 11u, 10u, 0u}) {
    usb["hubs"]["USB#EXTERNAL#1"]["nameLength"] = length;
    EXPECT_FALSE(Probe(usb)) << "downstream hub name length " << length;
  }
  usb["hubs"]["USB#EXTERNAL#1"].erase("nameLength");

  for (DWORD length : {0x7FFFFFFFu, 12u, 7u, 6u}) {
    usb["hubs"][RootHub(0)]["nameLength"] = length;
    EXPECT_FALSE(Probe(usb)) << "root hub name length " << length;
  }
  usb["hubs"][RootHub(0)].erase("nameLength");
  for (DWORD length : {0x80000000u, 30u}) {
    usb["controllers"][0]["driverKeyLength"] = length;
    EXPECT_FALSE(Probe(usb)) << "driver key length " << length;
  }
  usb["controllers"][0].erase("driverKeyLength");

  // A length larger than the name but within reason still reads the name.
  usb["hubs"]["USB#EXTERNAL#1"]["nameLength"] = 1000;
  usb["hubs"][RootHub(0)]["nameLength"] = 500;
  EXPECT_TRUE(Probe(usb));
}

TEST_F(CameraProbeTest, HubTreeThatPointsBackAtItselfEnds) {
  json usb;
  AddController(&usb, 0, json::array({{{"hub", "USB#LOOP#A"}}}));
  usb["hubs"]["USB#LOOP#A"] = {{"ports", json::array({{{"hub", "USB#LOOP#B"}}})}};
  usb["hubs"]["USB#LOOP#B"] = {{"ports", json::array({{{"hub", "usb#loop#a"}}, {{"hub", RootHub(0)}}})}};
  EXPECT_FALSE(Probe(usb));

  // The search goes on past the loop.
  usb["hubs"]["USB#LOOP#B"]["ports"].push_back(kCamera);
  EXPECT_TRUE(Probe(usb));
}

TEST_F(CameraProbeTest, HubChainsDeeperThanUsbAllowsAreNotFollowed) {
  json usb;
  AddController(&usb, 0, json::array({{{"hub", "USB#CHAIN#1"}}}));
  for (int i = 1; i <= 12; ++i) {
    json next = i == 12 ? kCamera : json{{"hub", "USB#CHAIN#" + std::to_string(i + 1)}};
    usb["hubs"]["USB#CHAIN#" + std::to_string(i)] = {{"ports", json::array({next})}};
  }
  EXPECT_FALSE(Probe(usb));

  usb["hubs"]["USB#CHAIN#" + std::to_string(kMaxHubDepth - 1)]["ports"][0] = kCamera;
  EXPECT_TRUE(Probe(usb)) << "the deepest hub searched is level " << kMaxHubDepth;
}

// A configuration manager whose tree never ends: every node has a new child.
class EndlessTreeDevices : public ForwardingDevices {
 public:
  using ForwardingDevices::ForwardingDevices;
  ZT_CONFIGRET GetChild(ZT_DEVINST* child, ZT_DEVINST node) override {
    ++calls;
    *child = node + 1;
    return kCrSuccess;
  }
  ZT_CONFIGRET GetDevNodeProperty(ZT_DEVINST, ULONG, void* buffer, ULONG* length) override {
    ++calls;
    std::memcpy(buffer, "other", 6);
    *length = 6;
    return kCrSuccess;
  }
  int calls = 0;
};

// A configuration manager whose parent and sibling links run in a circle.
class CircularTreeDevices : public ForwardingDevices {
 public:
  using ForwardingDevices::ForwardingDevices;
  ZT_CONFIGRET GetChild(ZT_DEVINST*, ZT_DEVINST) override { return kCrNoSuchDevnode; }
  ZT_CONFIGRET GetSibling(ZT_DEVINST*, ZT_DEVINST) override {
    ++calls;
    return kCrNoSuchDevnode;
  }
  ZT_CONFIGRET GetParent(ZT_DEVINST* parent, ZT_DEVINST node) override {
    ++calls;
    *parent = node == 1 ? 2 : 1;
    return kCrSuccess;
  }
  int calls = 0;
};

TEST_F(CameraProbeTest, DeviceTreeWalkIsBounded) {
  json usb;
  AddController(&usb, 0, json::array({kCamera}));
  std::unique_ptr<SimDevices> sim = NewSimDevices(&usb, nullptr);
  ASSERT_TRUE(sim);

  EndlessTreeDevices endless(*sim);
  CCameraProbe probe(endless, environment_, kCameraVendorId, kCameraProductId, kCameraDeviceName);
  EXPECT_EQ(probe.FindControllerDescription(DriverKey(0)), nullptr);
  EXPECT_LE(endless.calls, 2 * kMaxDevNodeSteps + 2);
  EXPECT_FALSE(probe.IsAttached());

  CircularTreeDevices circular(*sim);
  CCameraProbe probe2(circular, environment_, kCameraVendorId, kCameraProductId,
                      kCameraDeviceName);
  EXPECT_EQ(probe2.FindControllerDescription(DriverKey(0)), nullptr);
  EXPECT_LE(circular.calls, 2 * kMaxDevNodeSteps + 2);
  EXPECT_EQ(sim->openHandleCount(), 0);
}

// ---- Name conversion ----

TEST(CameraNameConversionTest, NamesMustEndInsideTheirBuffer) {
  TinyEnvironment environment;
  const BYTE name[] = {'H', 0, 'u', 0, 'b', 0, 0, 0, 'x', 0};
  std::string text = "untouched";
  EXPECT_TRUE(WideToAnsiAlloc(environment, name, sizeof(name), &text));
  EXPECT_EQ(text, "Hub");
  EXPECT_TRUE(WideToAnsiAlloc(environment, name + 6, 2, &text));
  EXPECT_EQ(text, "");

  text = "untouched";
  EXPECT_FALSE(WideToAnsiAlloc(environment, name, 6, &text)) << "no terminator within the size";
  EXPECT_FALSE(WideToAnsiAlloc(environment, name, 7, &text)) << "half a character is no terminator";
  EXPECT_EQ(text, "untouched");

  const BYTE unconvertible[] = {0x3A, 0x26, 0, 0};  // U+263A has no ANSI form here
  EXPECT_FALSE(WideToAnsiAlloc(environment, unconvertible, sizeof(unconvertible), &text));
  EXPECT_EQ(text, "untouched");
}

}  // namespace
