// The package description: setup.ini beside the setup program says which
// package this is (version, description, CD or network, target system).
#include "analysis/analysis.h"

#include "app/context.h"

namespace {

const char kSection[] = "Setup";
// GetPrivateProfileString buffer: longer values are cut to 255 characters.
constexpr DWORD kValueBufferSize = 256;

const char* TargetName(int targetOS) {
  switch (targetOS) {
    case kTargetWin98: return "Windows 98/ME";
    case kTargetWinNT: return "Windows NT";
    case kTargetWin2K: return "Windows 2000/XP";
    default: return "";
  }
}

bool EqualsNoCase(Environment& environment, const std::string& a, const std::string& b) {
  return a.size() == b.size() && environment.CompareNoCase(a, b, a.size()) == 0;
}

}  // namespace

// A missing file or key reads as empty: the package then counts as a CD
// package for Windows 98/ME.
void CSetupContext::ReadPackageInfo() {
  FileSystem& files = machine().files();
  Environment& environment = machine().environment();
  std::string path = setupDir + "\\setup.ini";
  bool readable = PathFits(*this, path);

  auto read = [&](const char* key) {
    // The default is empty, so the value read is the answer whatever the call reports.
    std::string value;
    if (readable) files.GetPrivateProfileString(kSection, key, "", &value, kValueBufferSize, path);
    if (value.size() >= kValueBufferSize) value.resize(kValueBufferSize - 1);
    return value;
  };

  packageVersion = read("Version");
  packageDescription = read("Description");
  packageIsCD = EqualsNoCase(environment, read("PackageType"), "Net") ? 0 : 1;
  std::string target = read("TargetOS");
  if (EqualsNoCase(environment, target, "Win98")) {
    packageTargetOS = kTargetWin98;
  } else if (EqualsNoCase(environment, target, "WinNT")) {
    packageTargetOS = kTargetWinNT;
  } else if (EqualsNoCase(environment, target, "Win2K")) {
    packageTargetOS = kTargetWin2K;
  }
  Log("package info: %s\n", FormatPackageDescription().c_str());
}

std::string CSetupContext::FormatPackageDescription() const {
  return packageVersion + " " + packageDescription + " " + TargetName(packageTargetOS) + " " +
         (packageIsCD ? "CD" : "Net");
}
