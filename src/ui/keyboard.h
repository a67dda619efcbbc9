// The setup window's keys. The window is not a dialog, so it answers the
// keys itself: Return presses the confirm button, Escape the cancel button,
// Tab and Shift+Tab move the focus between the buttons that show. Space is
// the focused button's own (the button class presses it). What a key does
// depends only on which buttons show and which has the focus, so the rule
// lives here, apart from the windows.
#pragma once

enum class SetupKey { kReturn, kEscape, kTab, kShiftTab };

enum class SetupKeyAction {
  kNothing,
  kPressConfirm,
  kPressCancel,
  kCloseWindow,  // what the window's close command (Alt+F4) does
  kFocusConfirm,
  kFocusCancel,
};

enum class FocusedButton { kNone, kConfirm, kCancel };

struct SetupButtonsState {
  bool confirmShown = false;
  bool cancelShown = false;
  FocusedButton focused = FocusedButton::kNone;
};

// Return: the cancel button when the user moved the focus onto it beside a
// shown confirm button, else the confirm button when it shows; never Cancel
// on its own, so that Return held down cannot end an installation.
// Escape: Cancel when it shows, else the close command when the confirm
// button shows. Tab and Shift+Tab: the other shown button, or the only one.
// No button shows while a step runs, and then no key does anything.
SetupKeyAction SetupWindowKeyAction(SetupKey key, const SetupButtonsState& state);

// Where the focus belongs: the focused button while it shows, else the
// confirm button, else the cancel button, else none (the window itself).
FocusedButton SetupWindowFocusTarget(const SetupButtonsState& state);
