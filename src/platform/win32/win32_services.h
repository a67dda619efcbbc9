// The Win32 implementations of the platform services, one factory each, put
// together by NewWin32Machine. Each service is a thin pass-through: the Win32
// call, its error captured at the failing call, out-parameters written only on
// success.
#pragma once

#include <memory>
#include <vector>

#include "platform/machine.h"

#include <guiddef.h>

namespace win32 {

std::unique_ptr<Registry> NewRegistry();
std::unique_ptr<FileSystem> NewFileSystem();
std::unique_ptr<Environment> NewEnvironment();
std::unique_ptr<VersionInfo> NewVersionInfo();
std::unique_ptr<Processes> NewProcesses();
std::unique_ptr<Desktop> NewDesktop();
std::unique_ptr<Devices> NewDevices();
std::unique_ptr<Com> NewCom();
std::unique_ptr<Xml> NewXml();
// The XML service over these DOM document classes, tried in order until one
// can be created (NewXml: the version-independent document class, then MSXML
// 3's own); when none can, the first class's failure is reported.
std::unique_ptr<Xml> NewXml(std::vector<CLSID> documentClasses);
// The `async` property of a document this service created: whether `load`
// may return before the file has been read. E_INVALIDARG for any other
// document.
HRESULT GetDocumentAsync(XmlDocument& document, bool* async);

// The arguments of a command line: what follows the program name, the way the
// C run-time's WinMain start-up finds them (a quoted program name ends at the
// closing quote, an unquoted one at the first blank or control character;
// blanks after it are skipped).
const char* SkipProgramName(const char* commandLine);

}  // namespace win32
