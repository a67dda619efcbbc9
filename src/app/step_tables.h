// The two step tables: twenty update steps, the first of which runs the
// twelve analysis checks. Each row names its handler, its texts and (update
// rows) the flag that decides whether it runs.
#pragma once

#include "app/context.h"

// Handlers are plain functions on the context, so that a table row can name
// any operation (the tables below name the context's own members).
using UpdateHandler = int (*)(CSetupContext& context, int action);
using AnalysisHandler = int (*)(CSetupContext& context);

template <int (CSetupContext::*Member)(int)>
int CallUpdate(CSetupContext& context, int action) {
  return (context.*Member)(action);
}
template <int (CSetupContext::*Member)()>
int CallAnalysis(CSetupContext& context) {
  return (context.*Member)();
}

// A condition names a flag of the setup context, or the constant kAlwaysTrue.
using ConditionField = int CSetupContext::*;

struct UpdateStep {
  UpdateHandler handler;  // null: the engine ends the setup
  int headerId;
  int helpId;             // 0: no help text
  ConditionField condition;  // null: always
};

struct AnalysisStep {
  AnalysisHandler handler;  // null: the end row
  int textId;
};

inline constexpr int kUpdateStepCount = 20;
inline constexpr int kAnalysisStepCount = 13;
inline constexpr int kLastUpdateStep = kUpdateStepCount - 1;
// The row of the product package (LAUNCHSETUP).
inline constexpr int kLaunchSetupStep = 14;
// The row that puts the user's data back (RESTOREDATA).
inline constexpr int kRestoreDataStep = 15;
extern const int kAlwaysTrue;
extern const UpdateStep kUpdateSteps[kUpdateStepCount];
extern const AnalysisStep kAnalysisSteps[kAnalysisStepCount];

// The current value of a row's condition on a context.
int ConditionValue(const UpdateStep& step, const CSetupContext& context);
