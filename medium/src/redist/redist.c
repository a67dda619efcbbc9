/* The stand-in redistributables of the Windows demo medium: vcredist.exe
 * (the Visual C++ 6.0 run-time libraries), instmsia.exe (Windows Installer
 * 2.0 for Windows 9x) and instmsiw.exe (for NT), one source built three
 * times (ZT_REDIST_KIND). They do what the simulation's stand-ins do
 * (src/platform/sim/sim_programs.cpp): the Windows Installer of the other
 * family is refused with 1633 (ERROR_INSTALL_PLATFORM_UNSUPPORTED); else the
 * files they carry are put into the system folder where none is there, and
 * the program ends with 0. "/q" runs without a word, "/r:n" never restarts
 * (a stand-in never does). Each run adds a line to redist.log in %TEMP%, so
 * that the Windows stage can tell what ran with which switches.
 *
 * A file that is there already is left alone: in a Wine prefix the system
 * folder holds Wine's own libraries, which everything there needs. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#define ZT_VCREDIST 1
#define ZT_INSTMSIA 2
#define ZT_INSTMSIW 3

#if ZT_REDIST_KIND == ZT_VCREDIST
static const char* const kName = "vcredist.exe";
static const char* const kFiles[] = {"MFC42.DLL", "MSVCP60.DLL", "MSVCIRT.DLL", "ATL.DLL"};
#elif ZT_REDIST_KIND == ZT_INSTMSIA || ZT_REDIST_KIND == ZT_INSTMSIW
static const char* const kName = ZT_REDIST_KIND == ZT_INSTMSIA ? "instmsia.exe" : "instmsiw.exe";
static const char* const kFiles[] = {"msi.dll"};
#else
#error "ZT_REDIST_KIND names vcredist, instmsia or instmsiw"
#endif

static void Note(const char* what, const char* arguments, DWORD code) {
  char path[MAX_PATH + 16];
  DWORD length = GetTempPathA(MAX_PATH, path);
  if (length == 0 || length > MAX_PATH) return;
  lstrcatA(path, "redist.log");
  FILE* log = fopen(path, "a");
  if (!log) return;
  fprintf(log, "%s %s: %s, exit %lu\n", kName, arguments, what, (unsigned long)code);
  fclose(log);
}

/* Copies this program to the system folder under the name of each file it
 * carries that is not there yet. */
static int PutFiles(void) {
  char self[MAX_PATH], system[MAX_PATH], target[MAX_PATH * 2];
  size_t i;
  if (!GetModuleFileNameA(NULL, self, MAX_PATH) || !GetSystemDirectoryA(system, MAX_PATH)) return 0;
  for (i = 0; i < sizeof kFiles / sizeof kFiles[0]; ++i) {
    wsprintfA(target, "%s\\%s", system, kFiles[i]);
    if (GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES) continue;
    if (!CopyFileA(self, target, TRUE)) return 0;
  }
  return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  OSVERSIONINFOA os;
  int quiet = strstr(arguments, "/q") != NULL || strstr(arguments, "/Q") != NULL;
  DWORD code = 0;
  (void)instance;
  (void)previous;
  (void)show;
  os.dwOSVersionInfoSize = sizeof os;
  GetVersionExA(&os);
#if ZT_REDIST_KIND != ZT_VCREDIST
  if ((os.dwPlatformId == VER_PLATFORM_WIN32_NT) != (ZT_REDIST_KIND == ZT_INSTMSIW)) {
    code = 1633;
    Note("refused on this platform", arguments, code);
    if (!quiet) MessageBoxA(NULL, "This installer is not for this version of Windows.", kName, MB_OK);
    return (int)code;
  }
#endif
  if (!PutFiles()) code = 1603;
  Note(code ? "could not put its files in place" : "files in place", arguments, code);
  if (!quiet) MessageBoxA(NULL, code ? "Setup failed." : "Setup complete.", kName, MB_OK);
  return (int)code;
}
