#include "ui/layout.h"

#include <cstdlib>

#include "lang/language_strings.h"

namespace {

// The six controls in their creation order; all faces Arial, all on black.
// The cancel button reaches 15 pixels further left than it first did, so
// that the longest of its captions (the German and the Japanese word)
// have room inside its edge (docs/text-fit.md).
constexpr StyledControlLayout kSetupControls[kSetupControlCount] = {
    {SetupControl::kTitle, "title", false, kStaticControlId, {10, 10, 380, 45}, "Arial", 14,
     true, true, LayoutRgb(200, 200, 200), kBlack, WELCOME, false},
    {SetupControl::kHeader, "header", false, kStaticControlId, {10, 50, 380, 72}, "Arial", 12,
     true, false, LayoutRgb(0, 255, 255), kBlack, kNoText, false},
    {SetupControl::kMessage, "message", false, kStaticControlId, {10, 74, 380, 98}, "Arial", 10,
     true, true, LayoutRgb(255, 255, 0), kBlack, kNoText, false},
    {SetupControl::kHelp, "help", false, kStaticControlId, {10, 100, 490, 200}, "Arial", 10,
     false, false, LayoutRgb(200, 200, 200), kBlack, kNoText, false},
    {SetupControl::kConfirm, "confirm", true, kConfirmButtonId, {170, 205, 320, 230}, "Arial",
     10, true, true, LayoutRgb(0, 255, 0), kBlack, PROCEED, true},
    {SetupControl::kCancel, "cancel", true, kCancelButtonId, {405, 250, 490, 270}, "Arial", 8,
     true, false, LayoutRgb(255, 255, 255), kBlack, CANCEL, true},
};

}  // namespace

const StyledControlLayout& ControlLayout(SetupControl control) {
  return kSetupControls[static_cast<int>(control)];
}

const StyledControlLayout* SlotControlLayout(int slot) {
  switch (slot) {
    case 0:
      return &ControlLayout(SetupControl::kHeader);
    case 1:
      return &ControlLayout(SetupControl::kMessage);
    case 2:
      return &ControlLayout(SetupControl::kHelp);
    default:
      return nullptr;
  }
}

FontSpec BuildControlFont(const char* face, int pointSize, bool bold, bool italic,
                          int languageId) {
  FontSpec font;
  font.face = face ? face : "";
  font.tenthsOfPoint = pointSize * 10;
  font.weight = bold ? kFontWeightBold : kFontWeightDefault;
  font.italic = italic ? 1 : 0;
  font.charset = languageId == kJapaneseLanguageId ? kShiftJisCharset : kAnsiCharset;
  return font;
}

FontSpec BuildControlFont(const StyledControlLayout& layout, int languageId) {
  return BuildControlFont(layout.face, layout.pointSize, layout.bold, layout.italic, languageId);
}

namespace {

// Limits that keep the products below in 32 bits (the i686 program would
// otherwise carry the run time's 64-bit division): no display has more dots
// per inch, no font of ours more points.
constexpr int kMaxDotsPerInch = 2400;
constexpr int kMaxTenthsOfPoint = 72000;

int Clamp(int value, int limit) { return value < -limit ? -limit : value > limit ? limit : value; }

}  // namespace

int PointFontPixelHeight(int tenthsOfPoint, int dotsPerInch) {
  // 72 points an inch, ten tenths a point; halves round away from zero.
  int scaled = std::abs(Clamp(tenthsOfPoint, kMaxTenthsOfPoint)) *
               std::abs(Clamp(dotsPerInch, kMaxDotsPerInch));
  return -((scaled + 360) / 720);
}

FontSpec PackageLineFont() {
  FontSpec font;
  font.face = kPackageLineFace;
  font.tenthsOfPoint = kPackageLinePointSize * 10;
  font.charset = kDefaultCharset;
  return font;
}

int ScaleForDpi(int value, int dotsPerInch) {
  if (dotsPerInch <= 0 || dotsPerInch == kLayoutDotsPerInch) return value;
  // As MulDiv: halves rounded away from zero. Layout values are pixels of a
  // window, far inside the 32-bit product's range.
  int product = Clamp(value, 0x10000) * Clamp(dotsPerInch, kMaxDotsPerInch);
  const int half = kLayoutDotsPerInch / 2;
  return product >= 0 ? (product + half) / kLayoutDotsPerInch
                      : (product - half) / kLayoutDotsPerInch;
}

LayoutRect ScaleForDpi(const LayoutRect& rect, int dotsPerInch) {
  return {ScaleForDpi(rect.left, dotsPerInch), ScaleForDpi(rect.top, dotsPerInch),
          ScaleForDpi(rect.right, dotsPerInch), ScaleForDpi(rect.bottom, dotsPerInch)};
}

LayoutRect CentredIn(const LayoutRect& place, int width, int height) {
  int left = place.left + (place.Width() - width) / 2;
  int top = place.top + (place.Height() - height) / 2;
  return {left, top, left + width, top + height};
}

LayoutPoint PackageLineOrigin(const LayoutRect& client, int textHeight, int dotsPerInch) {
  return {client.left + ScaleForDpi(kPackageLineX, dotsPerInch),
          client.bottom - textHeight - ScaleForDpi(kPackageLineBottomMargin, dotsPerInch)};
}

LayoutRect LogoRect(const LayoutRect& client, int logoWidth, int logoHeight, int dotsPerInch) {
  int left = client.left + ScaleForDpi(kLogoMargin, dotsPerInch);
  int bottom = client.bottom - ScaleForDpi(kLogoMargin, dotsPerInch);
  LayoutRect place{left, bottom - ScaleForDpi(logoHeight, dotsPerInch),
                   left + ScaleForDpi(logoWidth, dotsPerInch), bottom};
  return CentredIn(place, logoWidth, logoHeight);
}

LayoutRect PictureRect(const LayoutRect& client, int pictureWidth, int pictureHeight,
                       int dotsPerInch) {
  int right = client.right - ScaleForDpi(kPictureRightMargin, dotsPerInch);
  LayoutRect place{right - ScaleForDpi(pictureWidth, dotsPerInch), client.top, right,
                   client.top + ScaleForDpi(pictureHeight, dotsPerInch)};
  return CentredIn(place, pictureWidth, pictureHeight);
}

ButtonEdgeStyle ButtonEdgeFor(bool pressed) {
  if (pressed) return {ButtonEdge::kSunken, ButtonEdgeSides::kTopAndBottom};
  return {ButtonEdge::kRaised, ButtonEdgeSides::kAll};
}

LayoutPoint CentredTextOrigin(int width, int height, int textWidth, int textHeight) {
  return {width / 2 - textWidth / 2, height / 2 - textHeight / 2};
}
