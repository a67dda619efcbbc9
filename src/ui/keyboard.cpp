#include "ui/keyboard.h"

namespace {

bool Shown(const SetupButtonsState& state, FocusedButton button) {
  return (button == FocusedButton::kConfirm && state.confirmShown) ||
         (button == FocusedButton::kCancel && state.cancelShown);
}

SetupKeyAction FocusOn(FocusedButton button) {
  switch (button) {
    case FocusedButton::kConfirm:
      return SetupKeyAction::kFocusConfirm;
    case FocusedButton::kCancel:
      return SetupKeyAction::kFocusCancel;
    case FocusedButton::kNone:
      break;
  }
  return SetupKeyAction::kNothing;
}

}  // namespace

FocusedButton SetupWindowFocusTarget(const SetupButtonsState& state) {
  if (Shown(state, state.focused)) return state.focused;
  if (state.confirmShown) return FocusedButton::kConfirm;
  if (state.cancelShown) return FocusedButton::kCancel;
  return FocusedButton::kNone;
}

SetupKeyAction SetupWindowKeyAction(SetupKey key, const SetupButtonsState& state) {
  switch (key) {
    case SetupKey::kReturn:
      if (state.confirmShown && state.cancelShown && state.focused == FocusedButton::kCancel) {
        return SetupKeyAction::kPressCancel;
      }
      return state.confirmShown ? SetupKeyAction::kPressConfirm : SetupKeyAction::kNothing;
    case SetupKey::kEscape:
      if (state.cancelShown) return SetupKeyAction::kPressCancel;
      return state.confirmShown ? SetupKeyAction::kCloseWindow : SetupKeyAction::kNothing;
    case SetupKey::kTab:
    case SetupKey::kShiftTab: {
      // With two buttons both directions lead to the other one.
      FocusedButton current = SetupWindowFocusTarget(state);
      if (current == FocusedButton::kNone) return SetupKeyAction::kNothing;
      if (state.confirmShown && state.cancelShown && Shown(state, state.focused)) {
        return FocusOn(current == FocusedButton::kConfirm ? FocusedButton::kCancel
                                                          : FocusedButton::kConfirm);
      }
      return FocusOn(current);
    }
  }
  return SetupKeyAction::kNothing;
}
