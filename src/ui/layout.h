// The look of the setup's windows as plain data: where the six controls of
// the setup window sit, their fonts, colours and first texts, where the two
// bitmaps and the package line go, and the colour of the background window.
// The Win32 windows draw from it and the text screens of the simulation
// arrange themselves by it, so both show the same window.
#pragma once

#include <cstdint>
#include <string>

// A colour with the layout of a Win32 COLORREF: red in the low byte, then
// green, then blue.
using LayoutColour = uint32_t;

constexpr LayoutColour LayoutRgb(int red, int green, int blue) {
  return static_cast<LayoutColour>(red & 0xFF) | (static_cast<LayoutColour>(green & 0xFF) << 8) |
         (static_cast<LayoutColour>(blue & 0xFF) << 16);
}
constexpr int ColourRed(LayoutColour colour) { return static_cast<int>(colour & 0xFF); }
constexpr int ColourGreen(LayoutColour colour) { return static_cast<int>((colour >> 8) & 0xFF); }
constexpr int ColourBlue(LayoutColour colour) { return static_cast<int>((colour >> 16) & 0xFF); }

struct LayoutPoint {
  int x = 0;
  int y = 0;
};

// Left, top, right, bottom in pixels; right and bottom are exclusive.
struct LayoutRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  constexpr int Width() const { return right - left; }
  constexpr int Height() const { return bottom - top; }
  constexpr bool Contains(const LayoutRect& other) const {
    return other.left >= left && other.top >= top && other.right <= right &&
           other.bottom <= bottom;
  }
  constexpr bool Intersects(const LayoutRect& other) const {
    return left < other.right && other.left < right && top < other.bottom &&
           other.top < bottom;
  }
};

// ---- The setup window --------------------------------------------------

inline constexpr char kSetupWindowTitle[] = "Zentavo Install";
// Outer size of the popup (its dialog frame included), created at 0, 0 and
// then centred on its owner.
inline constexpr int kSetupWindowWidth = 500;
inline constexpr int kSetupWindowHeight = 280;

inline constexpr LayoutColour kBlack = LayoutRgb(0, 0, 0);

// The controls of the setup window, in their creation order.
enum class SetupControl { kTitle = 0, kHeader, kMessage, kHelp, kConfirm, kCancel };
inline constexpr int kSetupControlCount = 6;

// The id of every static control, and the two buttons' ids, which are also
// the command ids their clicks send.
inline constexpr int kStaticControlId = 0xFFFF;
inline constexpr int kConfirmButtonId = 1;
inline constexpr int kCancelButtonId = 2;

// No first text.
inline constexpr int kNoText = -1;

struct StyledControlLayout {
  SetupControl control;
  const char* name;  // for tests and text screens
  bool isButton;
  int controlId;
  LayoutRect rect;  // client coordinates of the setup window
  const char* face;
  int pointSize;
  bool bold;
  bool italic;
  LayoutColour textColour;
  LayoutColour backColour;
  int firstTextId;  // a string id of the language table, or kNoText
  bool startsHidden;
};

const StyledControlLayout& ControlLayout(SetupControl control);
// The control that shows a text slot (0 header, 1 message, 2 help); null for
// any other slot.
const StyledControlLayout* SlotControlLayout(int slot);

// ---- Fonts ----------------------------------------------------------------

inline constexpr int kFontWeightBold = 700;
inline constexpr int kFontWeightDefault = 0;
inline constexpr int kAnsiCharset = 0;
inline constexpr int kDefaultCharset = 1;
inline constexpr int kShiftJisCharset = 128;
inline constexpr int kJapaneseLanguageId = 1041;

// A logical font to be created as a point-size font on the screen device:
// `tenthsOfPoint` is the height in tenths of a point, which the creation
// turns into pixels with `PointFontPixelHeight`.
struct FontSpec {
  std::string face;
  int tenthsOfPoint = 0;
  int weight = kFontWeightDefault;
  int italic = 0;
  int charset = kAnsiCharset;
};

// The font of a styled control: an all-zero logical font with the height in
// tenths of a point, weight 700 when bold, italic 1 when italic, the face,
// and the Shift-JIS character set while the current language is Japanese
// (1041), the ANSI set otherwise.
FontSpec BuildControlFont(const char* face, int pointSize, bool bold, bool italic,
                          int languageId);
FontSpec BuildControlFont(const StyledControlLayout& layout, int languageId);

// The logical height (negative: a character height, not a cell height) of a
// point-size font on a device with `dotsPerInch` vertical resolution,
// rounded to the nearest pixel as MulDiv rounds.
int PointFontPixelHeight(int tenthsOfPoint, int dotsPerInch);

// ---- Package line, bitmaps and buttons -----------------------------------

// The package line's font is built with the default character set, so a
// description in the system's code page shows with its own glyphs.
inline constexpr char kPackageLineFace[] = "MS Sans Serif";
inline constexpr int kPackageLinePointSize = 8;
inline constexpr LayoutColour kPackageLineColour = LayoutRgb(120, 120, 120);
inline constexpr int kPackageLineX = 42;
inline constexpr int kPackageLineBottomMargin = 8;
FontSpec PackageLineFont();

// ---- Large fonts -----------------------------------------------------------

// The layout is drawn at 96 dots per inch. The fonts follow the display's
// DPI (a point is 1/72 inch), so at another DPI the window, its controls'
// rectangles and the margins scale with them, rounded as MulDiv rounds; the
// bitmaps keep their pixels (scaled they would blur) and sit centred in
// their scaled places.
inline constexpr int kLayoutDotsPerInch = 96;
int ScaleForDpi(int value, int dotsPerInch);
LayoutRect ScaleForDpi(const LayoutRect& rect, int dotsPerInch);
// A width x height rectangle centred in `place`.
LayoutRect CentredIn(const LayoutRect& place, int width, int height);

// Where the package line's text starts: x = 42, its bottom 8 pixels above
// the bottom of the client area (both scaled with the DPI).
LayoutPoint PackageLineOrigin(const LayoutRect& client, int textHeight,
                              int dotsPerInch = kLayoutDotsPerInch);

struct BitmapLayout {
  int resourceId;
  int width;
  int height;
};
inline constexpr BitmapLayout kLogoBitmap{133, 28, 32};
inline constexpr BitmapLayout kPictureBitmap{134, 104, 100};
inline constexpr int kLogoMargin = 5;
inline constexpr int kPictureRightMargin = 4;
// The logo sits 5 pixels from the left and bottom edges, the picture in the
// top right corner, 4 pixels left of the right edge; both at natural size,
// centred in their places as the DPI scales them.
LayoutRect LogoRect(const LayoutRect& client, int logoWidth, int logoHeight,
                    int dotsPerInch = kLayoutDotsPerInch);
LayoutRect PictureRect(const LayoutRect& client, int pictureWidth, int pictureHeight,
                       int dotsPerInch = kLayoutDotsPerInch);

// The edge of an owner-drawn button: raised on all four sides, or, while the
// button is pressed, sunken on the top and bottom sides only.
enum class ButtonEdge { kRaised, kSunken };
enum class ButtonEdgeSides { kAll, kTopAndBottom };
struct ButtonEdgeStyle {
  ButtonEdge edge;
  ButtonEdgeSides sides;
};
ButtonEdgeStyle ButtonEdgeFor(bool pressed);
// The origin of a caption centred in a button of the given size.
LayoutPoint CentredTextOrigin(int width, int height, int textWidth, int textHeight);

// ---- The background window -----------------------------------------------

inline constexpr char kBackgroundWindowTitle[] = "Zentavo Install";
inline constexpr LayoutColour kBackgroundColour = LayoutRgb(60, 60, 150);
inline constexpr char kFlashWindowName[] = "MyWindow";
inline constexpr int kFlashControlId = 100;
inline constexpr char kMovieFileName[] = "\\install.swf";
