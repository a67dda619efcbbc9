// The setup window's layout data: control rectangles, fonts, colours, first
// texts, the places of the bitmaps and the package line.
#include "ui/layout.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "lang/language_strings.h"
#include "ui/keyboard.h"

namespace {

constexpr SetupControl kAllControls[] = {SetupControl::kTitle,   SetupControl::kHeader,
                                         SetupControl::kMessage, SetupControl::kHelp,
                                         SetupControl::kConfirm, SetupControl::kCancel};

constexpr int kLanguages[] = {1033, 2057, 1031, 1034, 1036, 1040, 1041, 2070};

// The client area of the 500 x 280 popup under a dialog frame of 3 pixels a side.
constexpr LayoutRect kClient{0, 0, kSetupWindowWidth - 6, kSetupWindowHeight - 6};

struct Expected {
  SetupControl control;
  LayoutRect rect;
  int pointSize;
  bool bold;
  bool italic;
  int red, green, blue;
  int firstText;
  bool hidden;
};

const Expected kExpected[] = {
    {SetupControl::kTitle, {10, 10, 380, 45}, 14, true, true, 200, 200, 200, WELCOME, false},
    {SetupControl::kHeader, {10, 50, 380, 72}, 12, true, false, 0, 255, 255, kNoText, false},
    {SetupControl::kMessage, {10, 74, 380, 98}, 10, true, true, 255, 255, 0, kNoText, false},
    {SetupControl::kHelp, {10, 100, 490, 200}, 10, false, false, 200, 200, 200, kNoText, false},
    {SetupControl::kConfirm, {170, 205, 320, 230}, 10, true, true, 0, 255, 0, PROCEED, true},
    {SetupControl::kCancel, {405, 250, 490, 270}, 8, true, false, 255, 255, 255, CANCEL, true},
};

TEST(SetupWindowLayout, ControlsHaveTheirRectanglesFontsColoursAndFirstTexts) {
  for (const Expected& e : kExpected) {
    const StyledControlLayout& c = ControlLayout(e.control);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.control, e.control);
    EXPECT_EQ(c.rect.left, e.rect.left);
    EXPECT_EQ(c.rect.top, e.rect.top);
    EXPECT_EQ(c.rect.right, e.rect.right);
    EXPECT_EQ(c.rect.bottom, e.rect.bottom);
    EXPECT_STREQ(c.face, "Arial");
    EXPECT_EQ(c.pointSize, e.pointSize);
    EXPECT_EQ(c.bold, e.bold);
    EXPECT_EQ(c.italic, e.italic);
    EXPECT_EQ(ColourRed(c.textColour), e.red);
    EXPECT_EQ(ColourGreen(c.textColour), e.green);
    EXPECT_EQ(ColourBlue(c.textColour), e.blue);
    EXPECT_EQ(c.backColour, kBlack);
    EXPECT_EQ(c.firstTextId, e.firstText);
    EXPECT_EQ(c.startsHidden, e.hidden);
  }
}

TEST(SetupWindowLayout, ButtonsCarryTheCommandIdsAndStaticsTheSharedId) {
  for (SetupControl control : kAllControls) {
    const StyledControlLayout& c = ControlLayout(control);
    SCOPED_TRACE(c.name);
    bool button = control == SetupControl::kConfirm || control == SetupControl::kCancel;
    EXPECT_EQ(c.isButton, button);
    if (!button) {
      EXPECT_EQ(c.controlId, 0xFFFF);
    }
  }
  EXPECT_EQ(ControlLayout(SetupControl::kConfirm).controlId, 1);
  EXPECT_EQ(ControlLayout(SetupControl::kCancel).controlId, 2);
}

TEST(SetupWindowLayout, SlotsMapToHeaderMessageAndHelpOnly) {
  EXPECT_EQ(SlotControlLayout(0), &ControlLayout(SetupControl::kHeader));
  EXPECT_EQ(SlotControlLayout(1), &ControlLayout(SetupControl::kMessage));
  EXPECT_EQ(SlotControlLayout(2), &ControlLayout(SetupControl::kHelp));
  EXPECT_EQ(SlotControlLayout(-1), nullptr);
  EXPECT_EQ(SlotControlLayout(3), nullptr);
}

// At 96 DPI and at the large-font settings the window, its controls and
// margins scale with the fonts; the bitmaps keep their pixels, centred in
// their scaled places; nothing collides, and the window fits an 800 x 600
// screen at 120 DPI.
TEST(SetupWindowLayout, ControlsBitmapsAndPackageLineDoNotCollideAtEveryDpi) {
  for (int dpi : {96, 120, 144}) {
    SCOPED_TRACE("dpi " + std::to_string(dpi));
    LayoutRect window = ScaleForDpi(LayoutRect{0, 0, kSetupWindowWidth, kSetupWindowHeight}, dpi);
    if (dpi <= 120) {
      EXPECT_LE(window.Width(), 800);
      EXPECT_LE(window.Height(), 600);
    }
    // The dialog frame keeps its 3 pixels a side at every DPI.
    LayoutRect client{0, 0, window.Width() - 6, window.Height() - 6};
    LayoutRect logo = LogoRect(client, kLogoBitmap.width, kLogoBitmap.height, dpi);
    LayoutRect picture = PictureRect(client, kPictureBitmap.width, kPictureBitmap.height, dpi);
    EXPECT_EQ(logo.Width(), kLogoBitmap.width);
    EXPECT_EQ(picture.Height(), kPictureBitmap.height);
    LayoutRect logoPlace = ScaleForDpi(LogoRect(kClient, 28, 32), dpi);
    EXPECT_NEAR(logo.left + logo.right, logoPlace.left + logoPlace.right, 2);
    EXPECT_TRUE(client.Contains(logo));
    EXPECT_TRUE(client.Contains(picture));
    for (SetupControl a : kAllControls) {
      const StyledControlLayout& ca = ControlLayout(a);
      SCOPED_TRACE(ca.name);
      LayoutRect ra = ScaleForDpi(ca.rect, dpi);
      EXPECT_TRUE(client.Contains(ra));
      EXPECT_FALSE(ra.Intersects(logo));
      EXPECT_FALSE(ra.Intersects(picture));
      for (SetupControl b : kAllControls) {
        if (a != b) {
          EXPECT_FALSE(ra.Intersects(ScaleForDpi(ControlLayout(b).rect, dpi)))
              << ControlLayout(b).name;
        }
      }
    }
    // The package line starts right of the logo.
    EXPECT_GT(PackageLineOrigin(client, 13, dpi).x, logo.right);
  }
  // MulDiv's rounding: halves away from zero.
  EXPECT_EQ(ScaleForDpi(490, 120), 613);  // 612.5
  EXPECT_EQ(ScaleForDpi(-490, 120), -613);
  EXPECT_EQ(ScaleForDpi(10, 120), 13);  // 12.5
  EXPECT_EQ(ScaleForDpi(7, 96), 7);
}

// The keys of the setup window, for each state of its buttons: Return
// never presses Cancel on its own, Escape closes only where no Cancel
// shows, and nothing happens while a step runs.
TEST(SetupWindowKeys, EachKeyInEachStateOfTheButtons) {
  using A = SetupKeyAction;
  using F = FocusedButton;
  struct Case {
    bool confirm, cancel;
    F focused;
    A onReturn, onEscape, onTab, onShiftTab;
    F focusTarget;
  };
  const Case cases[] = {
      {false, false, F::kNone, A::kNothing, A::kNothing, A::kNothing, A::kNothing, F::kNone},
      {false, false, F::kConfirm, A::kNothing, A::kNothing, A::kNothing, A::kNothing, F::kNone},
      {true, false, F::kConfirm, A::kPressConfirm, A::kCloseWindow, A::kFocusConfirm,
       A::kFocusConfirm, F::kConfirm},
      {true, false, F::kNone, A::kPressConfirm, A::kCloseWindow, A::kFocusConfirm,
       A::kFocusConfirm, F::kConfirm},
      {false, true, F::kCancel, A::kNothing, A::kPressCancel, A::kFocusCancel, A::kFocusCancel,
       F::kCancel},
      // A hidden confirm button that kept the focus gives it up.
      {false, true, F::kConfirm, A::kNothing, A::kPressCancel, A::kFocusCancel, A::kFocusCancel,
       F::kCancel},
      {true, true, F::kConfirm, A::kPressConfirm, A::kPressCancel, A::kFocusCancel,
       A::kFocusCancel, F::kConfirm},
      {true, true, F::kCancel, A::kPressCancel, A::kPressCancel, A::kFocusConfirm,
       A::kFocusConfirm, F::kCancel},
      // The focus on the window itself: Return is the confirm button's,
      // Tab goes to it first.
      {true, true, F::kNone, A::kPressConfirm, A::kPressCancel, A::kFocusConfirm,
       A::kFocusConfirm, F::kConfirm},
  };
  for (const Case& c : cases) {
    SetupButtonsState state{c.confirm, c.cancel, c.focused};
    SCOPED_TRACE(::testing::Message() << "confirm " << c.confirm << " cancel " << c.cancel
                                      << " focus " << static_cast<int>(c.focused));
    EXPECT_EQ(SetupWindowKeyAction(SetupKey::kReturn, state), c.onReturn);
    EXPECT_EQ(SetupWindowKeyAction(SetupKey::kEscape, state), c.onEscape);
    EXPECT_EQ(SetupWindowKeyAction(SetupKey::kTab, state), c.onTab);
    EXPECT_EQ(SetupWindowKeyAction(SetupKey::kShiftTab, state), c.onShiftTab);
    EXPECT_EQ(SetupWindowFocusTarget(state), c.focusTarget);
  }
}

TEST(SetupWindowLayout, BitmapsSitInTheirCorners) {
  EXPECT_EQ(kLogoBitmap.resourceId, 133);
  EXPECT_EQ(kPictureBitmap.resourceId, 134);
  LayoutRect client{0, 0, 494, 274};
  LayoutRect logo = LogoRect(client, 28, 32);
  EXPECT_EQ(logo.left, 5);
  EXPECT_EQ(logo.bottom, 274 - 5);
  EXPECT_EQ(logo.Width(), 28);
  EXPECT_EQ(logo.Height(), 32);
  LayoutRect picture = PictureRect(client, 104, 100);
  EXPECT_EQ(picture.top, 0);
  EXPECT_EQ(picture.right, 494 - 4);
  EXPECT_EQ(picture.Width(), 104);
  EXPECT_EQ(picture.Height(), 100);
  // Another client size moves both with their edges.
  LayoutRect bigger{0, 0, 600, 400};
  EXPECT_EQ(LogoRect(bigger, 28, 32).top, 400 - 32 - 5);
  EXPECT_EQ(PictureRect(bigger, 104, 100).left, 600 - 104 - 4);
}

TEST(SetupWindowLayout, PackageLineIsGreySmallTextAboveTheBottomEdge) {
  FontSpec font = PackageLineFont();
  EXPECT_EQ(font.face, "MS Sans Serif");
  EXPECT_EQ(font.tenthsOfPoint, 80);
  EXPECT_EQ(font.weight, 0);
  EXPECT_EQ(font.italic, 0);
  // The default character set, whatever the language, so a description in
  // the system's code page keeps its own glyphs.
  EXPECT_EQ(font.charset, 1);
  EXPECT_EQ(kPackageLineColour, LayoutRgb(120, 120, 120));
  LayoutRect client{0, 0, 494, 274};
  LayoutPoint origin = PackageLineOrigin(client, 13);
  EXPECT_EQ(origin.x, 42);
  EXPECT_EQ(origin.y + 13 + 8, 274);
}

TEST(ControlFonts, FollowSizeBoldAndItalicOfTheLayout) {
  for (SetupControl control : kAllControls) {
    const StyledControlLayout& c = ControlLayout(control);
    SCOPED_TRACE(c.name);
    FontSpec font = BuildControlFont(c, 1033);
    EXPECT_EQ(font.face, c.face);
    EXPECT_EQ(font.tenthsOfPoint, c.pointSize * 10);
    EXPECT_EQ(font.weight, c.bold ? 700 : 0);
    EXPECT_EQ(font.italic, c.italic ? 1 : 0);
  }
}

TEST(ControlFonts, UseShiftJisForJapaneseOnly) {
  for (int language : kLanguages) {
    for (SetupControl control : kAllControls) {
      FontSpec font = BuildControlFont(ControlLayout(control), language);
      EXPECT_EQ(font.charset, language == 1041 ? 128 : 0) << language;
    }
  }
  // Not chosen yet, and ids near Japanese.
  EXPECT_EQ(BuildControlFont("Arial", 10, false, false, 0).charset, 0);
  EXPECT_EQ(BuildControlFont("Arial", 10, false, false, 1042).charset, 0);
  EXPECT_EQ(BuildControlFont("Arial", 10, false, false, 2065).charset, 0);
}

TEST(ControlFonts, PointHeightsBecomeCharacterHeightsInPixels) {
  // Within half a pixel of points x dpi / 72, negative (a character height).
  for (int dpi : {72, 96, 120, 144}) {
    for (int tenths = 60; tenths <= 240; tenths += 5) {
      int pixels = PointFontPixelHeight(tenths, dpi);
      EXPECT_LT(pixels, 0);
      EXPECT_LE(std::abs(-pixels * 720 - tenths * dpi), 360) << tenths << " at " << dpi;
    }
  }
  EXPECT_EQ(PointFontPixelHeight(80, 96), -11);
  EXPECT_EQ(PointFontPixelHeight(140, 96), -19);
  EXPECT_EQ(PointFontPixelHeight(100, 72), -10);
}

TEST(OwnerDrawnButtons, EdgeIsRaisedOrSunkenTopAndBottom) {
  ButtonEdgeStyle up = ButtonEdgeFor(false);
  EXPECT_EQ(up.edge, ButtonEdge::kRaised);
  EXPECT_EQ(up.sides, ButtonEdgeSides::kAll);
  ButtonEdgeStyle down = ButtonEdgeFor(true);
  EXPECT_EQ(down.edge, ButtonEdge::kSunken);
  EXPECT_EQ(down.sides, ButtonEdgeSides::kTopAndBottom);
}

TEST(OwnerDrawnButtons, CaptionIsCentred) {
  LayoutPoint p = CentredTextOrigin(150, 25, 60, 16);
  EXPECT_EQ(p.x, 45);
  EXPECT_EQ(p.y, 4);
  // A caption wider than the button starts left of it.
  EXPECT_LT(CentredTextOrigin(70, 20, 90, 14).x, 0);
}

TEST(LayoutColours, PackLikeColorref) {
  EXPECT_EQ(LayoutRgb(1, 2, 3), 0x030201u);
  EXPECT_EQ(kBackgroundColour, LayoutRgb(60, 60, 150));
  std::set<LayoutColour> distinct;
  for (SetupControl control : kAllControls) distinct.insert(ControlLayout(control).textColour);
  EXPECT_EQ(distinct.size(), 5u);  // title and help share their light grey
}

}  // namespace
