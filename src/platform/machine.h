// The machine: one object that hands out every platform service. The setup
// holds it by reference; nothing reaches the platform any other way.
#pragma once

#include "platform/com.h"
#include "platform/desktop.h"
#include "platform/devices.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/versioninfo.h"
#include "platform/xml.h"

class Machine {
 public:
  virtual ~Machine() = default;
  virtual Registry& registry() = 0;
  virtual FileSystem& files() = 0;
  virtual Environment& environment() = 0;
  virtual VersionInfo& versions() = 0;
  virtual Processes& processes() = 0;
  virtual Desktop& desktop() = 0;
  virtual Devices& devices() = 0;
  virtual Com& com() = 0;
  virtual Xml& xml() = 0;
};
