// The simulation's front end: the windows of the setup as objects on a
// recording screen, a deterministic message loop on the machine's virtual
// clock, and the user's answers taken from a list or a terminal.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_processes.h"
#include "ui/setup_window.h"
#include "ui/sim/recording_screen.h"

// What the user does when the setup waits.
struct Answer {
  enum class Kind { Confirm, Cancel, Close, Language, Wait, Activate, Press };
  Kind kind = Kind::Confirm;
  int languageId = 0;   // Language only
  uint64_t waitMs = 0;  // Wait only: virtual time that passes before the next answer
  // Activate and Press: "setup", "background" or another program's window title.
  std::string window = std::string();

  // "confirm", "cancel", "close", "lang=<id>", "wait=<ms>", "activate=<window>",
  // "press=<title>"; false for anything else.
  static bool Parse(const std::string& text, Answer* answer);
  std::string ToString() const;
};

// Where answers come from; nullopt when there are none left.
class AnswerSource {
 public:
  virtual ~AnswerSource() = default;
  virtual std::optional<Answer> Next(const RecordingScreen& screen) = 0;
  // Why Next gave nothing, for the person who reads why the rehearsal stopped.
  virtual std::string RanOutReason() const { return "the answers ran out while the setup waited"; }
};

// The language id of an entry of the language dialog (its display name); 0
// for a text that names none of the eight languages.
int LanguageIdOf(const std::string& displayName);

// Answers from a list, in order; every wait is answered `confirm` when the
// list was not given at all, up to kUnlimitedConfirmLimit times.
class ListAnswers : public AnswerSource {
 public:
  static constexpr int kUnlimitedConfirmLimit = 200;
  ListAnswers() : unlimitedConfirm_(true) {}
  explicit ListAnswers(std::vector<Answer> answers) : answers_(std::move(answers)) {}
  std::optional<Answer> Next(const RecordingScreen& screen) override;
  std::string RanOutReason() const override;

 private:
  bool unlimitedConfirm_ = false;
  int confirmsGiven_ = 0;
  std::vector<Answer> answers_;
  size_t next_ = 0;
};

class SimFrontEnd : public FrontEnd {
 public:
  SimFrontEnd(SimClock& clock, AnswerSource& answers);
  ~SimFrontEnd() override;

  void EnableControlHosting() override {}
  std::unique_ptr<BackgroundWindow> NewBackgroundWindow(CSetupApp& app) override;
  std::unique_ptr<SetupWindow> NewSetupWindow(CSetupApp& app) override;
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
  bool RunLanguageDialog(CLanguageDlg& dialog) override;
  std::string LoadResourceString(UINT id) override;
  UINT_PTR SetTimer(UINT milliseconds, std::function<void()> onTimer) override;
  void KillTimer(UINT_PTR id) override;
  void PostQuitMessage(int exitCode) override;
  int RunMessageLoop() override;

  RecordingScreen& screen() { return screen_; }
  // True when the answers ran out while the setup waited.
  bool answersRanOut() const { return answersRanOut_; }
  // Why the run stopped early (answers ran out, or an answer did not fit the screen).
  const std::string& stopReason() const { return stopReason_; }
  // What waited for the answer when the run stopped early: the setup window,
  // a message box or the language dialog.
  const ScreenEvent& stopScreen() const { return stopScreen_; }
  // Called after every recorded change (the terminal screen redraws).
  void SetObserver(std::function<void(const ScreenEvent&)> observer) {
    observer_ = std::move(observer);
  }
  // Another program asks Windows to end the session: the background window
  // gets WM_QUERYENDSESSION and, when it refused, WM_ENDSESSION with false
  // (the session goes on). An end the setup agreed to is not carried out.
  // Returns whether the setup agreed.
  bool SimulateEndSessionRequest();
  // The machine's requests to end the session (ExitWindowsEx accepted,
  // programs that ask for a restart): the message loop delivers each at its
  // time, before anything posted (Windows sends these messages). When the
  // setup agrees the session ends: the windows get WM_ENDSESSION with true,
  // the loop ends as the process would, and the machine is told.
  void AttachSessionRequests(SimProcesses* processes) { session_ = processes; }
  // The machine's desktop, where the answers activate=<title> and
  // press=<title> find the windows of other programs.
  void AttachDesktop(SimDesktop* desktop) { desktop_ = desktop; }
  // True when this run ended because the Windows session ended.
  bool sessionEnded() const { return sessionEnded_; }
  // The system's ANSI code page: what message boxes, the language dialog and
  // the package line show their texts in (0: not known).
  void SetCodePage(UINT codePage) { codePage_ = codePage; }
  UINT codePage() const { return codePage_; }
  uint64_t runStart() const { return runStart_; }

  // Window bookkeeping for the windows below.
  void NoteChange();
  // A window that existed from `createdAt` until now without being shown.
  void NoteNeverShown(const std::string& window, uint64_t createdAt);
  uint64_t Elapsed() const { return clock_.now() - runStart_; }
  class SimBackgroundWindowImpl* background() const { return background_; }
  void SetBackground(class SimBackgroundWindowImpl* window) { background_ = window; }
  class SimSetupWindowImpl* setupWindow() const { return setupWindow_; }
  void SetSetupWindow(class SimSetupWindowImpl* window) { setupWindow_ = window; }
  // Ends the run early; `waiting` is what waited for an answer (by default
  // the setup window as it stands).
  void Stop(const std::string& reason, bool ranOut, const ScreenEvent* waiting = nullptr);
  // Closes the transcript of a run: how it ended ("exit code 1602", or
  // "stopped" with why).
  void NoteEnd(const std::string& caption, const std::string& text = std::string());

 private:
  // Empty when the answer was applied, else why it does not fit the window.
  std::string ApplyAnswer(const Answer& answer);
  // Answers that act on a window without answering the setup's wait; empty
  // when applied, else why not.
  std::string ApplyWindowAnswer(const Answer& answer);
  // The setup window as it stands, as the event of a wait for it.
  ScreenEvent WindowEvent() const;
  // Delivers the session request that is due now, if any.
  bool DeliverDueSessionRequest();
  std::optional<uint64_t> NextSessionRequestAt() const;
  // Records a modal box or an answer and lets the observer see it.
  void Show(const ScreenEvent& event);
  std::optional<Answer> NextAnswer(const ScreenEvent& waiting);

  SimClock& clock_;
  AnswerSource& answers_;
  RecordingScreen screen_;
  std::function<void(const ScreenEvent&)> observer_;
  struct Timer {
    uint64_t due;
    std::function<void()> callback;
  };
  std::map<UINT_PTR, Timer> timers_;
  UINT_PTR nextTimerId_ = 1;
  bool quit_ = false;
  int quitCode_ = 0;
  bool answersRanOut_ = false;
  std::string stopReason_;
  ScreenEvent stopScreen_;
  uint64_t runStart_ = 0;
  class SimBackgroundWindowImpl* background_ = nullptr;
  class SimSetupWindowImpl* setupWindow_ = nullptr;
  UINT codePage_ = 0;
  SimProcesses* session_ = nullptr;
  SimDesktop* desktop_ = nullptr;
  bool sessionEnded_ = false;
};
