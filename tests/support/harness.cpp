#include "support/harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

extern const char* const kDefaultMachineJson;

std::unique_ptr<SimMachine> MakeMachine(const std::string& overlay) {
  nlohmann::json base = nlohmann::json::parse(kDefaultMachineJson);
  nlohmann::json extra = nlohmann::json::parse(overlay);
  base.merge_patch(extra);
  std::string error;
  std::unique_ptr<SimMachine> machine = SimMachine::FromJson(base.dump(), "test machine", &error);
  EXPECT_TRUE(machine) << error;
  if (!machine) return nullptr;
  EXPECT_TRUE(machine->MountMedium(ZT_DEMO_MEDIUM_DIR, &error)) << error;
  return machine;
}

std::unique_ptr<SimMachine> ExampleMachine(const std::string& name, const std::string& overlay,
                                           const std::string& targetOs) {
  std::ifstream in(std::string(ZT_SOURCE_DIR) + "/docs/machines/" + name + ".json");
  std::stringstream text;
  text << in.rdbuf();
  nlohmann::json description = nlohmann::json::parse(text.str());
  description.merge_patch(nlohmann::json::parse(overlay));
  std::string error;
  std::unique_ptr<SimMachine> machine = SimMachine::FromJson(description.dump(), name, &error);
  EXPECT_TRUE(machine) << error;
  if (!machine) return nullptr;
  EXPECT_TRUE(machine->MountMedium(ZT_DEMO_MEDIUM_DIR, &error)) << error;
  if (!targetOs.empty()) {
    EXPECT_TRUE(machine->simFiles().Put(machine->setupFolder() + "setup.ini",
                                        "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\n"
                                        "PackageType=CD\r\nTargetOS=" + targetOs + "\r\n"));
    machine->ResealMediumManifest();
  }
  return machine;
}

bool Rehearsal::HasLine(const std::string& line) const { return Find(line) >= 0; }

int Rehearsal::Find(const std::string& line, int from) const {
  for (size_t i = from < 0 ? 0 : static_cast<size_t>(from); i < lines.size(); ++i) {
    if (lines[i] == line) return static_cast<int>(i);
  }
  return -1;
}

namespace {
std::unique_ptr<AnswerSource> AnswersOf(const std::string& answers) {
  if (answers.empty()) return std::make_unique<ListAnswers>();
  std::vector<Answer> list;
  std::stringstream items(answers);
  std::string item;
  while (std::getline(items, item, ',')) {
    Answer answer;
    EXPECT_TRUE(Answer::Parse(item, &answer)) << item;
    list.push_back(answer);
  }
  return std::make_unique<ListAnswers>(list);
}
}  // namespace

Rehearsal Rehearse(SimMachine& machine, const std::string& commandLine,
                   const std::string& answers) {
  machine.SetCommandLine(commandLine);
  std::unique_ptr<AnswerSource> source = AnswersOf(answers);
  Rehearsal r;
  r.run = RunSetupOnce(machine, *source, nullptr, &r.screen);
  r.lines = LogMessages(r.run.log);
  return r;
}

Rehearsal RehearseAll(SimMachine& machine, const std::string& commandLine,
                      const std::string& answers) {
  machine.SetCommandLine(commandLine);
  std::unique_ptr<AnswerSource> source = AnswersOf(answers);
  Rehearsal r;
  r.run = RunSetupWithRestarts(machine, *source, [&r](const ScreenEvent& event) {
    r.screen.Record(event);
  });
  r.lines = LogMessages(r.run.log);
  return r;
}

std::vector<std::string> LogMessages(const std::string& logBytes) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < logBytes.size()) {
    size_t end = logBytes.find("\r\n", pos);
    std::string line = logBytes.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? logBytes.size() : end + 2;
    // "MM.DD.YYYY HH:MM:SS.xxxxxxxx " is 29 characters.
    if (line.size() >= 29 && line[2] == '.' && line[5] == '.' && line[10] == ' ' &&
        line[19] == '.' && line[28] == ' ') {
      line = line.substr(29);
    }
    lines.push_back(line);
  }
  return lines;
}

#include "app/log.h"
#include "app/step_tables.h"
#include "lang/language_strings.h"

std::string English(int stringId) {
  static std::unique_ptr<SimMachine> machine;
  static std::unique_ptr<CLanguageStrings> strings;
  if (!strings) {
    machine = MakeMachine();
    strings = std::make_unique<CLanguageStrings>(machine->environment());
    std::string path = GetSetupDirectory(machine->environment()) + "\\SetupLanguages.xml";
    EXPECT_GE(strings->Load(machine->xml(), path), 0);
  }
  return strings->GetText(stringId, 1033);
}

std::string UpdateLine(int action, int step, int condition) {
  return "Update action=" + std::to_string(action) + " state=" +
         English(kUpdateSteps[step].headerId) + " condition=" + std::to_string(condition);
}

std::string AnalyzeLine(int action, int row) {
  return "Analyze action=" + std::to_string(action) + " state=" +
         English(kAnalysisSteps[row].textId);
}

ScreenState StateAtAnswer(const RecordingScreen& screen, int index) {
  ScreenState state;
  int answers = 0;
  for (const ScreenEvent& e : screen.events()) {
    if (e.kind == ScreenEvent::Kind::Window) state = e.window;
    if (e.kind == ScreenEvent::Kind::Answer && answers++ == index) return state;
  }
  ADD_FAILURE() << "fewer than " << index + 1 << " answers were taken";
  return state;
}
