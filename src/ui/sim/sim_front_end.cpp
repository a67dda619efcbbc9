#include "ui/sim/sim_front_end.h"

#include <cstdlib>

#include "app/setup_app.h"
#include "lang/language_dlg.h"
#include "lang/language_strings.h"
#include "ui/layout.h"
#include "ui/resource_text.h"

bool Answer::Parse(const std::string& text, Answer* answer) {
  if (text == "confirm") {
    *answer = Answer{Kind::Confirm, 0};
  } else if (text == "cancel") {
    *answer = Answer{Kind::Cancel, 0};
  } else if (text == "close") {
    *answer = Answer{Kind::Close, 0};
  } else if (text.rfind("wait=", 0) == 0 && text.size() > 5 && text.size() <= 14 &&
             text.find_first_not_of("0123456789", 5) == std::string::npos) {
    *answer = Answer{Kind::Wait, 0, std::stoull(text.substr(5))};
  } else if (text.rfind("activate=", 0) == 0 && text.size() > 9) {
    *answer = Answer{Kind::Activate, 0, 0, text.substr(9)};
  } else if (text.rfind("press=", 0) == 0 && text.size() > 6) {
    *answer = Answer{Kind::Press, 0, 0, text.substr(6)};
  } else if (text.rfind("lang=", 0) == 0 && text.size() > 5 &&
             text.find_first_not_of("0123456789", 5) == std::string::npos && text.size() <= 10) {
    *answer = Answer{Kind::Language, atoi(text.c_str() + 5)};
  } else {
    return false;
  }
  return true;
}

std::string Answer::ToString() const {
  switch (kind) {
    case Kind::Confirm: return "confirm";
    case Kind::Cancel: return "cancel";
    case Kind::Close: return "close";
    case Kind::Language: return "lang=" + std::to_string(languageId);
    case Kind::Wait: return "wait=" + std::to_string(waitMs);
    case Kind::Activate: return "activate=" + window;
    case Kind::Press: return "press=" + window;
  }
  return std::string();
}

std::optional<Answer> ListAnswers::Next(const RecordingScreen&) {
  if (unlimitedConfirm_) {
    // A setup that keeps asking (a restart refused again and again) would
    // otherwise never end the rehearsal.
    if (confirmsGiven_ >= kUnlimitedConfirmLimit) return std::nullopt;
    ++confirmsGiven_;
    return Answer{Answer::Kind::Confirm, 0};
  }
  if (next_ >= answers_.size()) return std::nullopt;
  return answers_[next_++];
}

std::string ListAnswers::RanOutReason() const {
  if (!unlimitedConfirm_) return AnswerSource::RanOutReason();
  return "the limit of " + std::to_string(kUnlimitedConfirmLimit) +
         " waits without --answers was reached (each answered confirm; a setup that keeps "
         "asking, as when a restart is refused again and again, stops here); give --answers "
         "for a longer rehearsal";
}

int LanguageIdOf(const std::string& displayName) {
  for (int id : {1033, 2057, 1031, 1034, 1036, 1040, 1041, 2070}) {
    if (displayName == DisplayLanguageName(id)) return id;
  }
  return 0;
}

namespace {

// The caption of the language dialog's template (dialog 135).
constexpr char kLanguageDialogCaption[] = "Zentavo";

// Button ids MessageBox returns besides IDOK and IDCANCEL.
constexpr int kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7;
constexpr int kIdTryAgain = 10, kIdContinue = 11;

// The ids of a message box's buttons, left to right.
std::vector<int> MessageBoxButtonIds(UINT type) {
  switch (type & 0x0Fu) {
    case 1: return {IDOK, IDCANCEL};
    case 2: return {kIdAbort, kIdRetry, kIdIgnore};
    case 3: return {kIdYes, kIdNo, IDCANCEL};
    case 4: return {kIdYes, kIdNo};
    case 5: return {kIdRetry, IDCANCEL};
    case 6: return {IDCANCEL, kIdTryAgain, kIdContinue};
    default: return {IDOK};
  }
}

// Escape and the close box give Cancel where the box has one, and OK on a
// box with OK alone; other boxes cannot be closed that way (0).
int MessageBoxEscape(UINT type) {
  std::vector<int> ids = MessageBoxButtonIds(type);
  for (int id : ids) {
    if (id == IDCANCEL) return IDCANCEL;
  }
  return ids.size() == 1 ? ids[0] : 0;
}

// What an answer presses on a message box: confirm is Enter (the default
// button, MB_DEFBUTTONn), cancel and close are Escape and the close box.
bool MessageBoxPress(UINT type, const Answer& answer, int* pressed) {
  std::vector<int> ids = MessageBoxButtonIds(type);
  switch (answer.kind) {
    case Answer::Kind::Confirm: {
      size_t defaultButton = (type >> 8) & 0x0Fu;
      *pressed = ids[defaultButton < ids.size() ? defaultButton : 0];
      return true;
    }
    case Answer::Kind::Cancel:
    case Answer::Kind::Close:
      *pressed = MessageBoxEscape(type);
      return *pressed != 0;
    case Answer::Kind::Language:
    case Answer::Kind::Wait:
    case Answer::Kind::Activate:
    case Answer::Kind::Press:
      return false;
  }
  return false;
}

// Why an answer the message box cannot take does not fit it.
std::string MessageBoxMisfit(const Answer& answer) {
  if (answer.kind == Answer::Kind::Cancel || answer.kind == Answer::Kind::Close) {
    return "does not fit the message box: Escape does not close a box without a Cancel or a "
           "lone OK button; confirm presses its default button";
  }
  return "does not fit the message box, which takes confirm (Enter: its default button), "
         "cancel or close (Escape)";
}

// The code page a styled control's font shows text in: its character set's.
UINT CharsetCodePage(int charset, UINT systemCodePage) {
  if (charset == kShiftJisCharset) return 932;
  if (charset == kAnsiCharset) return 1252;
  return systemCodePage;
}

}  // namespace

// ---- The windows ----

class SimSetupWindowImpl : public SetupWindow {
 public:
  SimSetupWindowImpl(CSetupApp& app, SimFrontEnd& frontEnd) : app_(app), frontEnd_(frontEnd) {}
  ~SimSetupWindowImpl() override {
    if (frontEnd_.setupWindow() == this) frontEnd_.SetSetupWindow(nullptr);
  }

  bool Create(BackgroundWindow&) override {
    exists_ = true;
    frontEnd_.SetSetupWindow(this);
    ScreenState& s = state();
    s = ScreenState();
    s.windowOpen = true;
    s.codePage = CharsetCodePage(
        BuildControlFont(ControlLayout(SetupControl::kTitle), app_.g_languageId).charset,
        frontEnd_.codePage());
    s.packageLineCodePage = frontEnd_.codePage();
    s.title = app_.GetText(WELCOME);
    s.confirmCaption = app_.GetText(PROCEED);
    s.cancelCaption = app_.GetText(CANCEL);
    s.ids.confirm = PROCEED;
    s.ids.cancel = CANCEL;
    createdAt_ = frontEnd_.Elapsed();
    Changed();
    app_.OnWindowCreated(this);
    return true;
  }
  // The screen records the window from the moment it is shown.
  void Show() override {
    if (!exists_ || shown_) return;
    shown_ = true;
    frontEnd_.NoteChange();
  }
  void Activate() override {}
  void Destroy() override {
    if (!exists_) return;
    exists_ = false;
    state().windowOpen = false;
    if (shown_) {
      frontEnd_.NoteChange();
    } else {
      frontEnd_.NoteNeverShown("setup window", createdAt_);
    }
    app_.OnWindowDestroyed(this);
  }

  void SetText(int slot, int stringId) override {
    if (!exists_) return;
    std::string text = stringId < 0 ? std::string() : app_.GetText(stringId);
    const int id = stringId < 0 ? kScreenNoText : stringId;
    ScreenState& s = state();
    if (slot == 0) {
      s.header = text;
      s.ids.header = id;
    } else if (slot == 1) {
      s.message = text;
      s.ids.message = id;
    } else if (slot == 2) {
      s.help = text;
      s.ids.help = id;
    } else {
      return;
    }
    Changed();
  }
  void SetConfirmText(int stringId) override {
    if (!exists_) return;
    state().confirmCaption = stringId < 0 ? std::string() : app_.GetText(stringId);
    state().ids.confirm = stringId < 0 ? kScreenNoText : stringId;
    Changed();
  }
  void SetCancelText(int stringId) override {
    if (!exists_) return;
    state().cancelCaption = stringId < 0 ? std::string() : app_.GetText(stringId);
    state().ids.cancel = stringId < 0 ? kScreenNoText : stringId;
    Changed();
  }
  void ShowConfirm(bool show) override {
    if (!exists_) return;
    state().confirmVisible = show;
    Changed();
  }
  void ShowCancel(bool show) override {
    if (!exists_) return;
    state().cancelVisible = show;
    Changed();
  }
  void SetPackageLine(const std::string& line) override {
    if (!exists_) return;
    state().packageLine = line;
    Changed();
  }
  void SetMessageText(const std::string& text) override {
    if (!exists_) return;
    state().message = text;
    state().ids.message = kScreenNoText;
    Changed();
  }

  // The user presses a button: only a visible button can be pressed.
  bool PressConfirm() {
    if (!exists_ || !shown_ || !state().confirmVisible) return false;
    app_.log().Log("confirm\n");
    app_.OnConfirm();
    return true;
  }
  bool PressCancel() {
    if (!exists_ || !shown_ || !state().cancelVisible) return false;
    app_.log().Log("cancel\n");
    app_.OnCancel();
    return true;
  }
  bool exists() const { return exists_; }
  // The user clicks the window (WM_MOUSEACTIVATE).
  bool Click() {
    if (!exists_ || !shown_) return false;
    app_.ActivateSetupWindow(this);
    return true;
  }

 private:
  ScreenState& state() { return frontEnd_.screen().mutableCurrent(); }
  // A hidden window keeps its state without putting it on the screen. The
  // state is named by the step the engine is on when it changes.
  void Changed() {
    state().step = app_.m_context.currentStep;
    if (shown_) frontEnd_.NoteChange();
  }

  CSetupApp& app_;
  SimFrontEnd& frontEnd_;
  bool exists_ = false;
  bool shown_ = false;
  uint64_t createdAt_ = 0;
};

class SimBackgroundWindowImpl : public BackgroundWindow {
 public:
  SimBackgroundWindowImpl(CSetupApp& app, SimFrontEnd& frontEnd) : app_(app), frontEnd_(frontEnd) {}
  ~SimBackgroundWindowImpl() override {
    if (frontEnd_.background() == this) frontEnd_.SetBackground(nullptr);
  }

  // The movie control is never registered in the simulation: its creation
  // fails quietly and the property puts do nothing, as on a machine without it.
  bool Create() override {
    exists_ = true;
    createdAt_ = frontEnd_.Elapsed();
    frontEnd_.SetBackground(this);
    std::string movie = GetSetupDirectory(app_.machine().environment()) + "\\install.swf";
    if (app_.unattended().Quiet()) {
      app_.log().Log("movie %s not played - quiet installation\n", movie.c_str());
    } else {
      app_.log().Log("movie %s\n", movie.c_str());
    }
    app_.OnWindowCreated(this);
    return true;
  }
  void Show() override { shown_ = exists_; }
  void Activate() override {}
  // Destroys the owned setup window first, then itself; the main window's
  // destruction ends the message loop.
  void Destroy() override {
    if (!exists_) return;
    if (SimSetupWindowImpl* setup = frontEnd_.setupWindow()) setup->Destroy();
    exists_ = false;
    if (!shown_) frontEnd_.NoteNeverShown("background window", createdAt_);
    app_.OnWindowDestroyed(this);
    frontEnd_.PostQuitMessage(0);
  }
  bool QueryEndSession() { return exists_ ? app_.OnQueryEndSession() : true; }
  void EndSession(bool ending) {
    if (exists_) app_.OnEndSession(ending);
  }
  // The user clicks the background (WM_LBUTTONDOWN).
  bool Click() {
    if (!exists_ || !shown_) return false;
    app_.ActivateSetupWindow(this);
    return true;
  }

 private:
  CSetupApp& app_;
  SimFrontEnd& frontEnd_;
  bool exists_ = false;
  bool shown_ = false;
  uint64_t createdAt_ = 0;
};

// ---- The front end ----

SimFrontEnd::SimFrontEnd(SimClock& clock, AnswerSource& answers)
    : clock_(clock), answers_(answers), runStart_(clock.now()) {}

SimFrontEnd::~SimFrontEnd() = default;

std::unique_ptr<BackgroundWindow> SimFrontEnd::NewBackgroundWindow(CSetupApp& app) {
  return std::make_unique<SimBackgroundWindowImpl>(app, *this);
}

std::unique_ptr<SetupWindow> SimFrontEnd::NewSetupWindow(CSetupApp& app) {
  return std::make_unique<SimSetupWindowImpl>(app, *this);
}

void SimFrontEnd::NoteChange() {
  size_t before = screen_.events().size();
  screen_.Commit(Elapsed());
  if (observer_ && screen_.events().size() > before) observer_(screen_.events().back());
}

void SimFrontEnd::NoteNeverShown(const std::string& window, uint64_t createdAt) {
  ScreenEvent event;
  event.kind = ScreenEvent::Kind::NeverShown;
  event.time = createdAt;
  event.caption = window;
  Show(event);
}

void SimFrontEnd::Show(const ScreenEvent& event) {
  screen_.Record(event);
  if (observer_) observer_(event);
}

// A wait lets its time pass on the machine's clock (the user reads, or
// unplugs the camera meanwhile) and the next answer is taken after it.
std::optional<Answer> SimFrontEnd::NextAnswer(const ScreenEvent& waiting) {
  for (;;) {
    if (quit_) return std::nullopt;
    std::optional<Answer> answer = answers_.Next(screen_);
    if (!answer) {
      Stop(answers_.RanOutReason(), true, &waiting);
      return std::nullopt;
    }
    ScreenEvent event;
    event.kind = ScreenEvent::Kind::Answer;
    event.time = Elapsed();
    event.text = answer->ToString();
    Show(event);
    if (answer->kind == Answer::Kind::Wait) {
      clock_.Advance(answer->waitMs);
    } else if (answer->kind == Answer::Kind::Activate || answer->kind == Answer::Kind::Press) {
      // The user does something else meanwhile; the setup still waits.
      std::string misfit = ApplyWindowAnswer(*answer);
      if (!misfit.empty()) {
        Stop("answer " + answer->ToString() + " " + misfit, true, &waiting);
        return std::nullopt;
      }
    } else {
      return answer;
    }
  }
}

// Owned by the setup window while it exists, as on Windows, and modal: the
// box takes the next answer itself, so no answer reaches the setup window's
// buttons (or closes it) while the box is open.
int SimFrontEnd::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  ScreenEvent event;
  event.kind = ScreenEvent::Kind::MessageBox;
  event.time = Elapsed();
  event.caption = caption;
  event.text = text;
  event.style = type;
  event.codePage = codePage_;
  // The window behind the box, whose step the transcript names the box by.
  event.window = screen_.current();
  Show(event);
  std::optional<Answer> answer = NextAnswer(event);
  int closed = MessageBoxEscape(type);
  if (closed == 0) closed = MessageBoxButtonIds(type).front();
  if (!answer) return closed;  // the run stops here
  int pressed = 0;
  if (!MessageBoxPress(type, *answer, &pressed)) {
    Stop("answer " + answer->ToString() + " " + MessageBoxMisfit(*answer), true, &event);
    return closed;
  }
  return pressed;
}

bool SimFrontEnd::RunLanguageDialog(CLanguageDlg& dialog) {
  dialog.OnInitDialog();
  ScreenEvent event;
  event.kind = ScreenEvent::Kind::LanguageDialog;
  event.time = Elapsed();
  event.entries = dialog.SortedEntries();
  event.selection = dialog.Preselection();
  event.caption = kLanguageDialogCaption;
  event.codePage = codePage_;
  Show(event);
  std::optional<Answer> answer = NextAnswer(event);
  if (!answer) return false;
  switch (answer->kind) {
    case Answer::Kind::Confirm:
      dialog.OnOK(dialog.Preselection());
      return true;
    case Answer::Kind::Language: {
      // Matched by id: DisplayLanguageName gives English US for any id it
      // does not know, which must not pass for a choice.
      std::string offered;
      for (const std::string& entry : event.entries) {
        int id = LanguageIdOf(entry);
        if (id != 0 && id == answer->languageId) {
          dialog.OnOK(entry);
          return true;
        }
        offered += (offered.empty() ? "lang=" : ", lang=") + std::to_string(id) + " (" +
                   ShownText(entry, 1252) + ")";
      }
      Stop("answer " + answer->ToString() + " names no language of the dialog, which offers " +
               offered,
           true, &event);
      return false;
    }
    case Answer::Kind::Cancel:
    case Answer::Kind::Close:
    case Answer::Kind::Wait:  // taken by NextAnswer
    case Answer::Kind::Activate:
    case Answer::Kind::Press:
      return false;
  }
  return false;
}

std::string SimFrontEnd::LoadResourceString(UINT id) {
  if (id == kIdsInitFailed) return kTextInitFailed;
  if (id == kIdsIeRequired) return kTextIeRequired;
  if (id == kIdsUsage) return kTextUsage;
  if (id == kIdsMediumDamaged) return kTextMediumDamaged;
  return std::string();
}

UINT_PTR SimFrontEnd::SetTimer(UINT milliseconds, std::function<void()> onTimer) {
  UINT_PTR id = nextTimerId_++;
  timers_[id] = Timer{clock_.now() + milliseconds, std::move(onTimer)};
  return id;
}

void SimFrontEnd::KillTimer(UINT_PTR id) { timers_.erase(id); }

void SimFrontEnd::PostQuitMessage(int exitCode) {
  if (quit_) return;
  quit_ = true;
  quitCode_ = exitCode;
}

void SimFrontEnd::Stop(const std::string& reason, bool ranOut, const ScreenEvent* waiting) {
  if (stopReason_.empty()) {
    stopReason_ = reason;
    stopScreen_ = waiting ? *waiting : WindowEvent();
  }
  if (ranOut) answersRanOut_ = true;
  quit_ = true;
}

ScreenEvent SimFrontEnd::WindowEvent() const {
  ScreenEvent event;
  event.kind = ScreenEvent::Kind::Window;
  event.time = Elapsed();
  event.window = screen_.current();
  return event;
}

void SimFrontEnd::NoteEnd(const std::string& caption, const std::string& text) {
  ScreenEvent event;
  event.kind = ScreenEvent::Kind::End;
  event.time = Elapsed();
  event.caption = caption;
  event.text = text;
  Show(event);
}

bool SimFrontEnd::SimulateEndSessionRequest() {
  if (!background_) return true;
  bool agreed = background_->QueryEndSession();
  if (!agreed) background_->EndSession(false);
  return agreed;
}

std::optional<uint64_t> SimFrontEnd::NextSessionRequestAt() const {
  return session_ ? session_->NextSessionRequestAt() : std::nullopt;
}

bool SimFrontEnd::DeliverDueSessionRequest() {
  if (!session_) return false;
  std::optional<SimSessionRequest> request = session_->TakeSessionRequest(clock_.now());
  if (!request) return false;
  bool agreed = background_ ? background_->QueryEndSession() : true;
  if (background_) background_->EndSession(agreed);
  if (agreed) {
    session_->NoteSessionEnded();
    sessionEnded_ = true;
    quit_ = true;
  }
  return true;
}

std::string SimFrontEnd::ApplyAnswer(const Answer& answer) {
  SimSetupWindowImpl* window = setupWindow_;
  switch (answer.kind) {
    case Answer::Kind::Confirm:
      if (window && window->PressConfirm()) return std::string();
      return "does not fit the setup window: it shows no confirm button";
    case Answer::Kind::Cancel:
      if (window && window->PressCancel()) return std::string();
      return "does not fit the setup window: it shows no cancel button";
    case Answer::Kind::Close:
      // The user closes the setup window, and then the background window.
      if (window) window->Destroy();
      if (background_) background_->Destroy();
      return std::string();
    case Answer::Kind::Language:
      return "does not fit the setup window: only the language dialog takes a language";
    case Answer::Kind::Wait:
    case Answer::Kind::Activate:
    case Answer::Kind::Press:
      break;  // taken by NextAnswer
  }
  return "does not fit the setup window";
}

// A click on one of the setup's own windows lets the setup bring the product
// installer's dialog forward (or its own window); another program's window
// is brought to the front, or its default button pressed.
std::string SimFrontEnd::ApplyWindowAnswer(const Answer& answer) {
  const std::string noWindow = "finds no such window";
  if (answer.kind == Answer::Kind::Activate && answer.window == "setup") {
    return setupWindow_ && setupWindow_->Click() ? std::string() : noWindow;
  }
  if (answer.kind == Answer::Kind::Activate && answer.window == "background") {
    return background_ && background_->Click() ? std::string() : noWindow;
  }
  HWND window = desktop_ ? desktop_->FindByTitle(answer.window) : nullptr;
  if (window == nullptr) return noWindow;
  if (answer.kind == Answer::Kind::Press) {
    if (desktop_->PressButton(window)) return std::string();
    return "finds the window \"" + answer.window +
           "\", which has no button to press (only a window described with a \"button\" "
           "has one)";
  }
  return desktop_->ActivateWindow(window) != FALSE ? std::string() : noWindow;
}

int SimFrontEnd::RunMessageLoop() {
  while (true) {
    // A program restarted Windows while the setup was blocked waiting for
    // it: Windows ended the setup, which gets no further message.
    if (session_ && !session_->setupEndedBy().empty()) {
      sessionEnded_ = true;
      Stop("Windows restarted (" + session_->setupEndedBy() +
               ") while the setup waited for it; the setup was ended",
           false);
      break;
    }
    // Sent messages come before posted ones: a session request that is due
    // reaches the windows even after the quit message was posted.
    if (DeliverDueSessionRequest()) continue;
    if (quit_) break;
    std::optional<uint64_t> sessionAt = NextSessionRequestAt();
    if (!timers_.empty()) {
      auto next = timers_.begin();
      for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.due < next->second.due) next = it;
      }
      if (sessionAt && *sessionAt <= next->second.due) {
        clock_.AdvanceTo(*sessionAt);
        continue;
      }
      clock_.AdvanceTo(next->second.due);
      std::function<void()> callback = std::move(next->second.callback);
      timers_.erase(next);
      callback();
      continue;
    }
    // Nothing is scheduled: the setup waits for the user, who is slower
    // than a request that comes later.
    if (sessionAt) {
      clock_.AdvanceTo(*sessionAt);
      continue;
    }
    if (!setupWindow_ || !setupWindow_->exists()) {
      // Only the background window is left; the user closes it.
      if (background_) {
        background_->Destroy();
        continue;
      }
      Stop("nothing left to wait for", false);
      break;
    }
    ScreenEvent waiting = WindowEvent();
    std::optional<Answer> answer = NextAnswer(waiting);
    if (!answer) break;
    std::string misfit = ApplyAnswer(*answer);
    if (!misfit.empty()) {
      Stop("answer " + answer->ToString() + " " + misfit, true, &waiting);
      break;
    }
  }
  return answersRanOut_ ? 3 : quitCode_;
}
