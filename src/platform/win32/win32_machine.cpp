// The real machine: one object holding the Win32 implementation of every
// platform service for the life of the setup.
#include "platform/win32/win32_machine.h"

#include "platform/win32/win32_services.h"

namespace {

class Win32Machine : public Machine {
 public:
  Registry& registry() override { return *registry_; }
  FileSystem& files() override { return *files_; }
  Environment& environment() override { return *environment_; }
  VersionInfo& versions() override { return *versions_; }
  Processes& processes() override { return *processes_; }
  Desktop& desktop() override { return *desktop_; }
  Devices& devices() override { return *devices_; }
  Com& com() override { return *com_; }
  Xml& xml() override { return *xml_; }

 private:
  std::unique_ptr<Registry> registry_ = win32::NewRegistry();
  std::unique_ptr<FileSystem> files_ = win32::NewFileSystem();
  std::unique_ptr<Environment> environment_ = win32::NewEnvironment();
  std::unique_ptr<VersionInfo> versions_ = win32::NewVersionInfo();
  std::unique_ptr<Processes> processes_ = win32::NewProcesses();
  std::unique_ptr<Desktop> desktop_ = win32::NewDesktop();
  std::unique_ptr<Devices> devices_ = win32::NewDevices();
  std::unique_ptr<Com> com_ = win32::NewCom();
  std::unique_ptr<Xml> xml_ = win32::NewXml();
};

}  // namespace

std::unique_ptr<Machine> NewWin32Machine() { return std::make_unique<Win32Machine>(); }
