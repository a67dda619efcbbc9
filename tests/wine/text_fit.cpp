// Every text of the setup window in every language, measured on the real
// window with its real fonts, and every screen of it photographed.
//
//   text_fit LANGUAGE-FILE REPORT [--japanese] [--shots DIR]
//
// Creates the real setup window (CSetupWnd and its styled controls) for each
// language of the language file, puts up each screen the setup can show
// (ui/screens.h: the steps' own texts from the step tables, the questions
// and failures of the steps), and lays out each visible control's text as
// the control lays it out: a static wraps its words at its right edge
// (DrawText with DT_WORDBREAK and the control's font), an owner-drawn button
// draws one line centred inside its raised edge. The text fits when it does
// so inside the control's client rectangle with a margin to spare (the
// stand-in fonts' hinting may move a glyph by a pixel; Japanese is drawn by
// whatever font Wine finds for the Shift-JIS character set).
//
// Without --japanese every language but Japanese is measured; with it
// Japanese alone, which needs a system of code page 932 (the texts go
// through the ANSI code page): anything else is reported and ends with 3.
//
// REPORT gets one line per text and control, tab-separated and UTF-8:
//   language  dpi  screen  control  text-id  available  needed  over  verdict  face  text
// where `over` is how many pixels the text needs beyond the room there is
// (negative: to spare). With --shots, DIR/<language>/NN.bmp is each screen
// and each message box as the screen shows it, and DIR/<language>/labels.txt
// names them in order. Exits with 1 when a text does not fit.
#include "platform/wintypes.h"

#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/setup_app.h"
#include "lang/language_dlg.h"
#include "lang/language_strings.h"
#include "platform/win32/win32_machine.h"
#include "ui/layout.h"
#include "ui/screens.h"
#include "ui/win32/setup_wnd.h"
#include "ui/win32/win32_front_end.h"
#include "ui/win32/window.h"

namespace {

// Pixels a text must leave free: Latin texts in Liberation Sans (Arial's
// widths, hinted differently), Japanese in a font of Wine's choosing.
constexpr int kLatinMargin = 2;
constexpr int kJapaneseMargin = 6;
// The raised edge DrawEdge gives an owner-drawn button, on each side.
constexpr int kButtonEdge = 2;

// The languages a language file can hold, by the key names it uses.
constexpr int kKnownLanguages[] = {1033, 2057, 1031, 1034, 1036, 1040, 1041, 2070};

// The message boxes' caption: the program's name, setup.exe's on the medium.
constexpr char kBoxCaption[] = "setup";
// A sample package line, as a CD of the demo medium gives it.
constexpr char kSamplePackageLine[] = "2.0 Desktop Windows 2000/XP CD";
// What a box that lists files shows after its text.
constexpr char kSampleFileList[] =
    "C:\\Documents and Settings\\User\\Application Data\\Zentavo\\settings.dat";

std::string Utf8FromAnsi(const std::string& text) {
  if (text.empty()) return text;
  int wideLength = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                        wideLength);
  int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr,
                                     nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &out[0], length, nullptr, nullptr);
  return out;
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

void Pump() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

// Lets the window and its controls paint, the X server included.
void Settle(int milliseconds) {
  DWORD start = ::GetTickCount();
  do {
    Pump();
    ::Sleep(20);
  } while (::GetTickCount() - start < static_cast<DWORD>(milliseconds));
}

// ---- measuring ----------------------------------------------------------------

struct Measure {
  int available = 0;  // the room along the direction that overflows
  int needed = 0;
  std::string face;
};

// The family of the font the system chose, which a substitute's name (the
// face asked for) would hide; the face asked for where that is not known.
std::string FaceOf(HDC dc) {
  UINT size = ::GetOutlineTextMetricsA(dc, 0, nullptr);
  if (size >= sizeof(OUTLINETEXTMETRICA)) {
    std::vector<char> buffer(size, '\0');
    auto* metrics = reinterpret_cast<OUTLINETEXTMETRICA*>(buffer.data());
    if (::GetOutlineTextMetricsA(dc, size, metrics)) {
      size_t offset = reinterpret_cast<size_t>(metrics->otmpFamilyName);
      if (offset > 0 && offset < size) return std::string(buffer.data() + offset);
    }
  }
  char face[LF_FACESIZE + 1] = {0};
  ::GetTextFaceA(dc, sizeof(face) - 1, face);
  return face;
}

// The control's text laid out in its own font as DrawText with DT_CALCRECT
// lays it out `width` pixels wide (0: on one line); `face` names the font
// Windows took.
RECT LayOut(HWND control, UINT flags, int width, std::string* face) {
  char text[2048] = {0};
  ::GetWindowTextA(control, text, sizeof(text));
  HDC dc = ::GetDC(control);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)));
  RECT laid = {0, 0, width, 0};
  ::DrawTextA(dc, text, -1, &laid, flags | DT_CALCRECT);
  *face = FaceOf(dc);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  return laid;
}

// A static wraps its words at its right edge (DT_WORDBREAK, and tabs
// expanded, as the static control draws SS_LEFT); laid out `margin` pixels
// narrower than the control, it must fit the control's height. A single word
// wider than that is an overflow to the right, reported in width.
Measure MeasureStatic(HWND control, int margin) {
  Measure result;
  RECT client{};
  ::GetClientRect(control, &client);
  UINT flags = DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS;
  if (::GetWindowLongA(control, GWL_STYLE) & SS_NOPREFIX) flags |= DT_NOPREFIX;
  const int width = client.right - margin;
  RECT laid = LayOut(control, flags, width, &result.face);
  if (laid.right > width) {
    result.available = width;
    result.needed = laid.right;
  } else {
    result.available = client.bottom;
    result.needed = laid.bottom;
  }
  return result;
}

// An owner-drawn button draws its caption on one line, centred inside its
// raised edge; the caption must leave `margin` pixels free across, and its
// line must fit between the top and bottom edges.
Measure MeasureButton(HWND control, int margin) {
  Measure result;
  RECT client{};
  ::GetClientRect(control, &client);
  RECT laid = LayOut(control, DT_SINGLELINE | DT_NOPREFIX, 0, &result.face);
  const int roomWide = client.right - 2 * kButtonEdge;
  const int roomHigh = client.bottom - 2 * kButtonEdge;
  // The margin is for widths: hinting moves glyphs sideways, a line keeps
  // its height.
  if (laid.bottom > roomHigh && laid.right + margin <= roomWide) {
    result.available = roomHigh;
    result.needed = laid.bottom;
  } else {
    result.available = roomWide;
    result.needed = laid.right + margin;
  }
  return result;
}

// ---- photographs --------------------------------------------------------------

// The screen's pixels inside `area` as a 24-bit bottom-up BMP file.
bool SaveScreenArea(const RECT& area, const std::string& path) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool saved = false;
  if (bitmap && bits) {
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::GdiFlush();
    ::SelectObject(memory, old);
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
      saved = std::fwrite(&file, sizeof(file), 1, out) == 1 &&
              std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
              std::fwrite(bits, 1, imageSize, out) == imageSize;
      saved = std::fclose(out) == 0 && saved;
    }
  }
  if (bitmap) ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return saved;
}

RECT WindowArea(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return rect;
}

RECT Union(const RECT& a, const RECT& b) {
  RECT both{};
  ::UnionRect(&both, &a, &b);
  return both;
}

// Photographs the message box a step shows over the window, then answers it.
struct BoxShot {
  HWND setup = nullptr;
  DWORD thread = 0;
  std::string path;
  bool saved = false;
};

BOOL CALLBACK NoteBox(HWND window, LPARAM found) {
  char name[16] = {0};
  if (::IsWindowVisible(window) && ::GetClassNameA(window, name, sizeof(name)) > 0 &&
      std::strcmp(name, "#32770") == 0) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI ShootBox(void* parameter) {
  auto* shot = static_cast<BoxShot*>(parameter);
  HWND box = nullptr;
  for (int i = 0; i < 200 && !box; ++i) {
    ::Sleep(50);
    ::EnumThreadWindows(shot->thread, NoteBox, reinterpret_cast<LPARAM>(&box));
  }
  if (!box) return 1;
  ::Sleep(200);
  shot->saved = SaveScreenArea(Union(WindowArea(shot->setup), WindowArea(box)), shot->path);
  // Cancel where the box has it, else its one button.
  ::PostMessageA(box, WM_COMMAND, ::GetDlgItem(box, IDCANCEL) ? IDCANCEL : IDOK, 0);
  return 0;
}

// ---- the run ------------------------------------------------------------------

struct Options {
  std::string languageFile;
  std::string report;
  std::string shots;
  bool japanese = false;
};

struct Measured {
  std::string first;  // the first screen that shows it
  int screens = 0;
};

class TextFit {
 public:
  TextFit(CSetupApp& app, Win32FrontEnd& frontEnd, const Options& options, FILE* report)
      : app_(app), frontEnd_(frontEnd), options_(options), report_(report) {}

  int failures() const { return failures_; }

  void RunLanguage(int languageId) {
    app_.g_languageId = languageId;
    const std::string language = LanguageKeyName(languageId);
    const int margin = languageId == kJapaneseLanguageId ? kJapaneseMargin : kLatinMargin;
    // The setup window's owner is the real background window, as in setup.exe
    // (left hidden: only the setup window is measured and photographed).
    std::unique_ptr<BackgroundWindow> owner = frontEnd_.NewBackgroundWindow(app_);
    std::unique_ptr<SetupWindow> window = frontEnd_.NewSetupWindow(app_);
    if (!owner->Create() || !window->Create(*owner)) {
      std::printf("not ok - %s: the setup window could not be created\n", language.c_str());
      ++failures_;
      return;
    }
    window->Show();
    window->SetPackageLine(kSamplePackageLine);
    // The Windows front end's setup window is a CSetupWnd (built without
    // run-time type information, so not asked with dynamic_cast).
    HWND setup = static_cast<CSetupWnd*>(window.get())->GetSafeHwnd();
    std::string shots;
    if (!options_.shots.empty()) {
      shots = options_.shots + "\\" + language;
      ::CreateDirectoryA(shots.c_str(), nullptr);
    }
    FILE* labels = shots.empty() ? nullptr : std::fopen((shots + "\\labels.txt").c_str(), "wb");
    int shot = 0;
    std::map<std::string, Measured> seen;
    for (const SetupScreen& screen : SetupScreens()) {
      const ScreenTexts& t = screen.texts;
      ShowScreen(*window, screen);
      Settle(shots.empty() ? 0 : 30);
      const int ids[kSetupControlCount] = {WELCOME, t.header, t.message, t.help, t.confirm,
                                           t.cancel};
      int index = 0;
      for (HWND child = ::GetWindow(setup, GW_CHILD); child && index < kSetupControlCount;
           child = ::GetWindow(child, GW_HWNDNEXT), ++index) {
        if (ids[index] < 0 || !::IsWindowVisible(child)) continue;
        const StyledControlLayout& layout = ControlLayout(static_cast<SetupControl>(index));
        const std::string key = std::string(layout.name) + "\t" + kStringKeys[ids[index]];
        Measured& measured = seen[key];
        if (measured.screens++ > 0) continue;
        measured.first = ScreenLabel(screen);
        Measure m = layout.isButton ? MeasureButton(child, margin) : MeasureStatic(child, margin);
        Report(languageId, screen, layout, ids[index], m, child);
      }
      if (!shots.empty()) {
        char name[32];
        std::snprintf(name, sizeof(name), "%02d.bmp", ++shot);
        if (!SaveScreenArea(WindowArea(setup), shots + "\\" + name)) {
          std::printf("not ok - %s: photograph of %s\n", language.c_str(),
                      ScreenLabel(screen).c_str());
          ++failures_;
        }
        if (labels) std::fprintf(labels, "%s\t%s\n", name, ScreenLabel(screen).c_str());
      }
    }
    if (!shots.empty()) {
      for (const MessageBoxScreen& box : MessageBoxScreens()) {
        BoxShot photo;
        photo.setup = setup;
        photo.thread = ::GetCurrentThreadId();
        char name[32];
        std::snprintf(name, sizeof(name), "%02d.bmp", ++shot);
        photo.path = shots + "\\" + name;
        std::string text = app_.GetText(box.textId);
        if (box.listsFiles) text += std::string(":\n") + kSampleFileList;
        // Over the screen of its step, captioned as setup.exe captions it.
        ShowScreen(*window, FirstScreenOf(box.step));
        Settle(30);
        HANDLE thread = ::CreateThread(nullptr, 0, ShootBox, &photo, 0, nullptr);
        frontEnd_.MessageBox(text, kBoxCaption, box.style);
        if (thread) {
          ::WaitForSingleObject(thread, 15000);
          ::CloseHandle(thread);
        }
        if (!photo.saved) {
          std::printf("not ok - %s: photograph of %s\n", language.c_str(),
                      ScreenLabel(box).c_str());
          ++failures_;
        }
        if (labels) std::fprintf(labels, "%s\t%s\n", name, ScreenLabel(box).c_str());
      }
    }
    if (labels) std::fclose(labels);
    window->Destroy();
    owner->Destroy();
    // The background's end posts the quit message; this run has no loop to end.
    Pump();
  }

 private:
  static void ShowScreen(SetupWindow& window, const SetupScreen& screen) {
    const ScreenTexts& t = screen.texts;
    window.SetText(0, t.header);
    window.SetText(1, t.message);
    window.SetText(2, t.help);
    if (t.confirm >= 0) window.SetConfirmText(t.confirm);
    if (t.cancel >= 0) window.SetCancelText(t.cancel);
    window.ShowConfirm(t.confirm >= 0);
    window.ShowCancel(t.cancel >= 0);
  }

  static const SetupScreen& FirstScreenOf(int step) {
    for (const SetupScreen& screen : SetupScreens()) {
      if (screen.step == step) return screen;
    }
    return SetupScreens().front();
  }

  void Report(int languageId, const SetupScreen& screen, const StyledControlLayout& layout,
              int textId, const Measure& m, HWND control) {
    char text[2048] = {0};
    ::GetWindowTextA(control, text, sizeof(text));
    const int over = m.needed - m.available;
    const bool fits = over <= 0;
    if (!fits) {
      ++failures_;
      std::printf("not ok - %s, %s, %s %s: %d pixels too long: \"%s\"\n",
                  LanguageKeyName(languageId), ScreenLabel(screen).c_str(), layout.name,
                  kStringKeys[textId], over, Utf8FromAnsi(OneLine(text)).c_str());
    }
    std::fprintf(report_, "%s\t%d\t%s\t%s\t%s\t%d\t%d\t%d\t%s\t%s\t%s\n",
                 LanguageKeyName(languageId), DotsPerInch(), ScreenLabel(screen).c_str(),
                 layout.name, kStringKeys[textId], m.available, m.needed, over,
                 fits ? "fits" : "CLIPPED", Utf8FromAnsi(m.face).c_str(),
                 Utf8FromAnsi(OneLine(text)).c_str());
  }

  static int DotsPerInch() {
    HDC screen = ::GetDC(nullptr);
    int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi;
  }

  CSetupApp& app_;
  Win32FrontEnd& frontEnd_;
  const Options& options_;
  FILE* report_;
  int failures_ = 0;
};

bool ParseOptions(int argc, char** argv, Options* options) {
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--japanese") {
      options->japanese = true;
    } else if (arg == "--shots" && i + 1 < argc) {
      options->shots = argv[++i];
    } else {
      plain.push_back(arg);
    }
  }
  if (plain.size() != 2) return false;
  options->languageFile = plain[0];
  options->report = plain[1];
  return true;
}

// The languages of the file: each language key name its entries use, by id.
std::vector<int> LanguagesOf(const CLanguageStrings& strings, std::string* unknown) {
  std::set<std::u16string> names;
  for (const auto& entry : strings.keys()) {
    for (const auto& language : entry.second) names.insert(language.first);
  }
  std::vector<int> ids;
  for (const std::u16string& name : names) {
    int found = 0;
    for (int id : kKnownLanguages) {
      std::string key = LanguageKeyName(id);
      if (std::u16string(key.begin(), key.end()) == name) found = id;
    }
    if (found) {
      ids.push_back(found);
    } else {
      *unknown += std::string(name.begin(), name.end()) + " ";
    }
  }
  return ids;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: text_fit LANGUAGE-FILE REPORT [--japanese] [--shots DIR]\n");
    return 2;
  }
  ::CoInitialize(nullptr);
  std::unique_ptr<Machine> machine = NewWin32Machine();
  Win32FrontEnd frontEnd;
  frontEnd.EnableControlHosting();
  int status = 0;
  {
    CSetupApp app(*machine, frontEnd);
    HRESULT loaded = app.strings().Load(machine->xml(), options.languageFile);
    if (FAILED(loaded)) {
      std::printf("not ok - the language file %s could not be read (0x%08lX)\n",
                  options.languageFile.c_str(), static_cast<unsigned long>(loaded));
      return 1;
    }
    std::string unknown;
    std::vector<int> languages = LanguagesOf(app.strings(), &unknown);
    if (!unknown.empty()) {
      std::printf("not ok - languages of the file without a language id: %s\n", unknown.c_str());
      status = 1;
    }
    const UINT codePage = ::GetACP();
    if (options.japanese && codePage != 932) {
      std::printf("Japanese not measured: the ANSI code page is %u, not 932\n", codePage);
      return 3;
    }
    FILE* report = std::fopen(options.report.c_str(), "wb");
    if (!report) {
      std::printf("not ok - the report %s could not be written\n", options.report.c_str());
      return 1;
    }
    TextFit fit(app, frontEnd, options, report);
    int measured = 0;
    for (int id : languages) {
      if ((id == kJapaneseLanguageId) != options.japanese) continue;
      fit.RunLanguage(id);
      ++measured;
    }
    std::fclose(report);
    std::printf("%d languages measured in code page %u\n", measured, codePage);
    if (fit.failures() > 0 || measured == 0) status = 1;
  }
  ::CoUninitialize();
  return status;
}
