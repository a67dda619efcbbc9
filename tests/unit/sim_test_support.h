// Small helpers for the simulated machine's own tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/sim/sim_machine.h"

// A machine from a description; fails the test when it does not load.
inline std::unique_ptr<SimMachine> SimFrom(const std::string& json) {
  std::string error;
  std::unique_ptr<SimMachine> machine = SimMachine::FromJson(json, "test.json", &error);
  EXPECT_TRUE(machine) << error;
  return machine;
}

// The error a description gives (empty when it loads).
inline std::string SimError(const std::string& json) {
  std::string error;
  std::unique_ptr<SimMachine> machine = SimMachine::FromJson(json, "test.json", &error);
  return machine ? std::string() : error;
}

inline std::string Bytes(const BYTE* data, DWORD size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}
