// The simulation's version-resource service: a file's "version" member read
// as the block of GetFileVersionInfo, queried as VerQueryValue does.
#pragma once

#include <memory>
#include <string>

#include "platform/sim/sim_json.h"
#include "platform/versioninfo.h"

class SimFileSystem;

// Checks a "version" member: {"FileVersion": "1.0", ...} (one string table
// 040904b0) or {"translations": ["040904b0"], "strings": {"040904e4": {...}}}.
bool ValidateVersionResource(const SimJson& version, const std::string& pointer,
                             std::string* error);

class SimVersionInfo : public VersionInfo {
 public:
  explicit SimVersionInfo(SimFileSystem& files) : files_(files) {}
  DWORD GetInfoSize(const std::string& path, DWORD* lastError) override;
  DWORD GetInfo(const std::string& path, std::unique_ptr<VersionResource>* resource) override;

 private:
  SimFileSystem& files_;
};
