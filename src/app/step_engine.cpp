// The step engine: one update row per call, the analysis rows one per call
// of update step 0, and the engine's own handlers.
#include "app/exit_codes.h"
#include "app/setup_app.h"
#include "app/step_tables.h"
#include "lang/language_strings.h"

int CSetupContext::RunUpdateStep(int action) {
  if (currentStep > 0 && resumeStep > 0) {
    currentStep = resumeStep;
    resumedAt = resumeStep;
    resumeStep = 0;
    // Resumed after the product's package ran (its restart, or one that
    // Windows announced): the product the analysis found is the new one.
    if (currentStep > kLaunchSetupStep && previousEdition == 2) productInstalled = 1;
  }
  const int s = currentStep;
  // Past the last row (a hand-made /c above it): end as the last row does.
  const UpdateStep& row = kUpdateSteps[s >= 0 && s < kUpdateStepCount ? s : kLastUpdateStep];
  const int condition = ConditionValue(row, *this);
  if (s != lastShownStep) {
    Log("Update action=%d state=%s condition=%d\n", action,
        app_.strings().GetText(row.headerId, 1033).c_str(), condition);
  }
  if (!condition) {
    lastShownStep = s;
    currentStep = s + 1;
    return 1;
  }
  if (s != lastShownStep) {
    window().SetText(0, row.headerId);
    window().SetText(2, row.helpId != 0 ? row.helpId : -1);
    window().SetText(1, -1);
  }
  lastShownStep = s;
  if (!row.handler) {
    EndSetup(kExitSuccess);
    return 0;
  }
  waitForInput = 0;
  if (row.handler(*this, action)) currentStep += 1;
  return waitForInput ? 0 : 1;
}

int CSetupContext::RunAnalysisStep(int action) {
  const AnalysisStep& row = analysisSteps_[analysisIndex];
  Log("Analyze action=%d state=%s\n", action, app_.strings().GetText(row.textId, 1033).c_str());
  window().SetText(1, row.textId);
  if (!row.handler) return 1;
  if (row.handler(*this)) {
    analysisIndex += 1;
  } else {
    window().SetText(1, ANALYZEERROR);
  }
  return 0;
}

// Proceed or cancel at the greeting. Cancel hides both buttons as proceed
// does: the timer then runs towards the abort question, and a second press
// of cancel in that time would otherwise answer that question with cancel
// and go on with the installation.
int CSetupContext::ShowGreeting(int action) {
  switch (action) {
    case 0:
      if (previousEdition != 0) {
        window().SetText(1, WELCOMEUPGRADE);
        window().SetText(2, WELCOMEUPGRADEHELP);
      } else {
        window().SetText(1, WELCOMESUB1);
        window().SetText(2, WELCOMEHELP1);
      }
      window().SetConfirmText(PROCEED);
      window().SetCancelText(CANCEL);
      window().ShowConfirm(true);
      window().ShowCancel(true);
      waitForInput = 1;
      return 0;
    case 1:
      window().ShowConfirm(false);
      window().ShowCancel(false);
      window().SetText(1, -1);
      return 1;
    case 2:
      window().ShowConfirm(false);
      window().ShowCancel(false);
      abortRequested = 1;
      return 1;
    default:
      return 1;
  }
}

int CSetupContext::ConfirmAbort(int action) {
  switch (action) {
    case 0:
      window().SetText(1, -1);
      window().ShowConfirm(true);
      window().SetConfirmText(OK);
      window().ShowCancel(false);
      waitForInput = 1;
      return 0;
    case 1:
      EndSetup(kExitUserCancel);
      return 0;
    default:
      return 1;
  }
}

int CSetupContext::ContinueStep(int) { return 1; }
