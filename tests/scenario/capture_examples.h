// The example machines of docs/machines (and the embedded default), each
// with the demo medium made for its Windows family: what the capture tests
// take, rehearse and compare.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "platform/sim/sim_machine.h"

extern const char* const kDefaultMachineJson;

namespace capture_examples {

struct Example {
  const char* name;  // docs/machines/<name>.json; "" for the embedded default
  const char* targetOs;
};

// Every example machine, with the medium made for its Windows family.
const Example kExamples[] = {
    {"", "Win2K"},
    {"xpsp2", "Win2K"},
    {"xp-upgrade", "Win2K"},
    {"xp-camera-hub", "Win2K"},
    {"xp-camera-unplugged", "Win2K"},
    {"xp-installers", "Win2K"},
    {"xp-power-cut", "Win2K"},
    {"win2000sp4", "Win2K"},
    {"nt4sp6a", "WinNT"},
    {"win98se", "Win98"},
    {"win98se-upgrade", "Win98"},
    {"winme", "Win98"},
    {"wine-xp-capture", "Win2K"},  // a capture of the Windows stage's XP prefix
};

inline std::string ReadSource(const std::string& relative) {
  std::ifstream in(std::string(ZT_SOURCE_DIR) + "/" + relative);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The example's description as JSON.
inline nlohmann::ordered_json Description(const Example& example) {
  if (example.name[0] == 0) return nlohmann::ordered_json::parse(kDefaultMachineJson);
  return nlohmann::ordered_json::parse(
      ReadSource(std::string("docs/machines/") + example.name + ".json"));
}

// A machine from a description, with the demo medium made for `targetOs`.
inline std::unique_ptr<SimMachine> Mounted(const std::string& json, const std::string& targetOs) {
  std::string error;
  std::unique_ptr<SimMachine> machine = SimMachine::FromJson(json, "machine", &error);
  EXPECT_TRUE(machine) << error;
  if (!machine) return nullptr;
  EXPECT_TRUE(machine->MountMedium(ZT_DEMO_MEDIUM_DIR, &error)) << error;
  EXPECT_TRUE(machine->simFiles().Put(machine->setupFolder() + "setup.ini",
                                      "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\n"
                                      "PackageType=CD\r\nTargetOS=" + targetOs + "\r\n"));
  return machine;
}

}  // namespace capture_examples
