#include "actions/private_folders.h"

#include <cstdint>
#include <cstdio>

#include "analysis/analysis.h"
#include "app/context.h"
#include "platform/path_chars.h"

bool MakePrivateFolder(CSetupContext& context, const std::string& tempFolder,
                       const char* prefix, std::string* folder) {
  Environment& environment = context.machine().environment();
  LocalTime now{};
  environment.GetLocalTime(&now);
  // The names come from the system's random source: a name mixed from the
  // clock can be guessed and all eight tries made first. Where there is no
  // such source (Windows 95 without CryptoAPI: one user anyway) the clock's
  // mix stands in. A folder that exists is refused and the next name tried,
  // and the folder we make admits nobody else.
  uint32_t seed = environment.GetTickCount() ^ (now.milliseconds * 2654435761u) ^
                  ((now.second + 60u * now.minute) * 40503u);
  for (int attempt = 0; attempt < 8; ++attempt) {
    seed = seed * 1664525u + 1013904223u;
    uint32_t drawn = seed ^ (seed >> 13);
    uint32_t random = 0;
    if (environment.GenRandom(&random, sizeof(random)) == ERROR_SUCCESS) drawn = random;
    char name[16];
    snprintf(name, sizeof(name), "%.4s%08x", prefix, static_cast<unsigned>(drawn));
    std::string path =
        tempFolder + (PathCharsOf(environment).EndsWithSeparator(tempFolder) ? "" : "\\") + name;
    // Room for a file name in it.
    if (!PathFits(context, path + "\\crv0000.tmp")) return false;
    DWORD rc = context.machine().files().CreatePrivateDirectory(path);
    if (rc == ERROR_SUCCESS) {
      *folder = path;
      return true;
    }
    if (rc != ERROR_ALREADY_EXISTS) {
      context.Log("folder %s cannot be made - error %d\n", path.c_str(), static_cast<int>(rc));
      return false;
    }
  }
  context.Log("no folder of our own could be made in %s\n", tempFolder.c_str());
  return false;
}

DWORD DeleteMadeFile(FileSystem& files, const std::string& path) {
  files.SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
  return files.Delete(path);
}

DWORD DeleteMadeFileAtRestart(FileSystem& files, const std::string& path) {
  files.SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
  return files.DeleteAtRestart(path);
}

void RemoveEmptiedFolder(CSetupContext& context, const std::string& folder) {
  FileSystem& files = context.machine().files();
  for (int attempt = 0; attempt < 20; ++attempt) {
    DWORD attributes = 0;
    if (files.GetAttributes(folder, &attributes) != ERROR_SUCCESS) return;  // gone
    DWORD rc = files.RemoveDirectory(folder);
    if (rc == ERROR_SUCCESS) return;
    if (rc == ERROR_DIR_NOT_EMPTY) break;  // something the tree walk left: not ours to wait for
    context.machine().environment().Sleep(500);
  }
}
