// The commands of README.md and docs/runner.md run as a reader types them and
// print what the documents show after them (runner.md shows the runner's
// messages and statuses this way).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/harness.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// The lines without their trailing blanks (and CR), which a reader of the documents cannot see.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line.erase(line.find_last_not_of(" \r") + 1));
  }
  return lines;
}

// A command of the document, and the lines shown after it when it stands as "$ command".
struct Example {
  std::string command;
  std::vector<std::string> shown;
};

// The commands in a document's code blocks (and inline code) that run zentavo-sim or
// prepare its input; synopses with [...] or placeholders are none.
std::vector<Example> Examples(const std::string& document) {
  std::vector<std::string> lines = Lines(ReadText(fs::path(ZT_SOURCE_DIR) / document));
  std::regex runs(R"(^(\$ )?((build/sim/)?zentavo-sim( .*)?|cp -r .*|sed .*)$)");
  std::regex inlineCommand(R"(`((build/sim/)?zentavo-sim --[^`]*)`)");
  std::vector<Example> examples;
  bool output = false;
  std::smatch m;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("    ", 0) != 0) {
      output = output && lines[i].empty();
      if (std::regex_search(lines[i], m, inlineCommand)) examples.push_back({m[1], {}});
      continue;
    }
    std::string text = lines[i].substr(4);
    if (std::regex_match(text, m, runs) && text.find('[') == std::string::npos &&
        text.find("A.json") == std::string::npos) {
      std::string command = m[2];
      while (command.back() == '\\' && i + 1 < lines.size()) command += "\n" + lines[++i];
      examples.push_back({command, {}});
      output = m[1].matched;
    } else if (output && !text.empty()) {
      examples.back().shown.push_back(text);
    }
  }
  return examples;
}

}  // namespace

TEST(DocumentedExamples, RunAsWrittenAndPrintWhatTheDocumentsShow) {
  const fs::path programs = fs::path(ZT_SIM_BINARY).parent_path();
  for (std::string document : {"README.md", "docs/runner.md"}) {
    // A folder where the documents' relative paths work.
    fs::path dir = fs::path(testing::TempDir()) / ("zt_reader_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "build");
    fs::create_directory_symlink(fs::path(ZT_SOURCE_DIR) / "docs", dir / "docs");
    fs::create_directory_symlink(programs, dir / "build" / "sim");
    std::vector<Example> examples = Examples(document);
    EXPECT_GE(examples.size(), document == "README.md" ? 3u : 25u) << document;
    for (const Example& example : examples) {
      std::ofstream(dir / "command.sh") << example.command << "\n";
      int status = std::system(("cd '" + dir.string() + "' && PATH='" + programs.string() +
                                "':\"$PATH\" bash command.sh >command.out 2>command.err")
                                   .c_str());
      status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      // 2, 3 and 4 are the runner's own: input refused, answers short, power lost.
      EXPECT_TRUE(status == 0 || status == 1 || status >= 66)
          << document << ": " << example.command << "\nexits " << status << "\n"
          << ReadText(dir / "command.err");
      // Shortened output leaves lines out but keeps their order.
      std::string out = ReadText(dir / "command.out");
      std::vector<std::string> lines = Lines(out);
      auto at = lines.begin();
      for (const std::string& shown : example.shown) {
        at = std::find(at, lines.end(), shown);
        if (at == lines.end()) {
          ADD_FAILURE() << document << ": " << example.command
                        << "\ndoes not print (after the lines before it): " << shown << "\n"
                        << out;
          break;
        }
        ++at;
      }
    }
  }
}
