// The commands of README.md and docs/runner.md run as a reader types them,
// printing what the documents show; and what zentavo-sim says when a
// rehearsal cannot go as asked.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/harness.h"

namespace fs = std::filesystem;

namespace {

struct Shell {
  int status = -1;
  std::string out, err;
};

// A folder where the documents' relative paths work: docs/ and build/sim/
// link to the real ones, and the built zentavo-sim is first on PATH.
fs::path ReaderFolder(const std::string& name) {
  fs::path dir = fs::path(testing::TempDir()) / ("zt_reader_" + name + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "build");
  fs::create_directory_symlink(fs::path(ZT_SOURCE_DIR) / "docs", dir / "docs");
  fs::create_directory_symlink(fs::path(ZT_SIM_BINARY).parent_path(), dir / "build" / "sim");
  return dir;
}

Shell RunShell(const fs::path& dir, const std::string& command) {
  std::ofstream(dir / "command.sh") << command << "\n";
  std::string line = "cd '" + dir.string() + "' && PATH='" +
                     fs::path(ZT_SIM_BINARY).parent_path().string() +
                     "':\"$PATH\" bash command.sh 2>command.err";
  Shell shell;
  FILE* pipe = popen(line.c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) shell.out.append(buffer, n);
  int status = pclose(pipe);
  shell.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream err;
  err << std::ifstream(dir / "command.err").rdbuf();
  shell.err = err.str();
  return shell;
}

// The lines without their trailing blanks (and CR), which a reader of the documents cannot see.
std::string Trimmed(std::string line) {
  return line.erase(line.find_last_not_of(" \r") + 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(Trimmed(line));
  return lines;
}

// A command of the document, and the lines shown after it when it stands as "$ command".
struct Example {
  std::string command;
  std::vector<std::string> shown;
};

// The commands in a document's code blocks (and inline code) that run
// zentavo-sim or copy a medium for it; synopses with [...] or placeholders are none.
std::vector<Example> Examples(const std::string& document) {
  std::ifstream in(std::string(ZT_SOURCE_DIR) + "/" + document);
  std::regex runs(R"(^(\$ )?((build/sim/)?zentavo-sim( .*)?|cp -r .*)$)");
  std::regex inline_(R"(`((build/sim/)?zentavo-sim --[^`]*)`)");
  std::vector<Example> examples;
  bool output = false;
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("    ", 0) != 0) {
      if (!line.empty()) output = false;
      if (std::regex_search(line, m, inline_)) examples.push_back({m[1], {}});
      continue;
    }
    std::string text = line.substr(4);
    bool synopsis = text.find('[') != std::string::npos || text.find("A.json") != std::string::npos;
    if (std::regex_match(text, m, runs) && !synopsis) {
      std::string command = m[2];
      while (command.back() == '\\' && std::getline(in, line)) command += "\n" + line;
      examples.push_back({command, {}});
      output = m[1].matched;
    } else if (output && !text.empty()) {
      examples.back().shown.push_back(Trimmed(text));
    }
  }
  return examples;
}

}  // namespace

TEST(DocumentedExamples, RunAsWrittenAndPrintWhatTheDocumentsShow) {
  for (std::string document : {"README.md", "docs/runner.md"}) {
    fs::path dir = ReaderFolder(document.substr(document.rfind('/') + 1));
    std::vector<Example> examples = Examples(document);
    EXPECT_GE(examples.size(), document == "README.md" ? 3u : 15u) << document;
    for (const Example& example : examples) {
      Shell shell = RunShell(dir, example.command);
      // 2, 3 and 4 are the runner's own: input refused, answers short, power lost.
      EXPECT_TRUE(shell.status == 0 || shell.status == 1 || shell.status >= 66)
          << document << ": " << example.command << "\nexits " << shell.status << "\n"
          << shell.err;
      // Shortened output leaves lines out but keeps their order.
      std::vector<std::string> lines = Lines(shell.out);
      auto at = lines.begin();
      for (const std::string& shown : example.shown) {
        if (shown == "...") continue;
        at = std::find(at, lines.end(), shown);
        if (at == lines.end()) {
          ADD_FAILURE() << document << ": " << example.command << "\ndoes not print (after the "
                        << "lines before it): " << shown << "\n" << shell.out;
          break;
        }
        ++at;
      }
    }
  }
}

TEST(DocumentedExamples, MachineFormatListsEveryOperationThatCanFail) {
  std::stringstream text;
  text << std::ifstream(std::string(ZT_SOURCE_DIR) + "/docs/machine-format.md").rdbuf();
  std::string doc = text.str();
  std::string table = doc.substr(doc.find("The operations that can fail:"));
  table = table.substr(0, table.find("\n\n", table.find("|---")));
  std::vector<std::string> listed;
  std::regex operation(R"(`([A-Za-z]+\.[A-Za-z]+)`)");
  for (std::sregex_iterator it(table.begin(), table.end(), operation), end; it != end; ++it) {
    listed.push_back((*it)[1]);
  }
  EXPECT_EQ(listed, SimFaults::FaultPoints());
}

TEST(RunnerMessages, SayWhatIsWrongAndWhatWaited) {
  fs::path dir = ReaderFolder("messages");
  nlohmann::json refusing = nlohmann::json::parse(
      std::ifstream(std::string(ZT_SOURCE_DIR) + "/docs/machines/nt4sp6a.json"));
  refusing["restart"] = "refuse";
  std::ofstream(dir / "refusing.json") << refusing.dump();
  std::ofstream(dir / "based.json") << R"({"base": "xpsp2"})";
  struct Case {
    std::string arguments;
    int status;
    std::string says;
  } cases[] = {
      {"--machine docs", 2, "docs: a folder, not a machine description"},
      {"--machine nope.json", 2, "nope.json: no such file"},
      {"--machine based.json", 2, "based.json: /base: expected \"default\""},
      {"--compare after.json", 2, "--compare needs two machine files"},
      {"--medium build/sim/medium --no-medium", 2, "--medium and --no-medium exclude each other"},
      {"--medium nowhere", 2, "nowhere: no such medium folder"},
      {"--answers ''", 3,
       "the answers ran out while the setup waited; what waited for the answer:\n"
       "--- language dialog, t=0.000s, code page 1252\ncaption : Zentavo\n    Deutsch\n"},
      {"--machine docs/machines/xp-camera-unplugged.json --answers confirm,confirm -- /l 1033", 3,
       "the answers ran out while the setup waited; what waited for the answer:\n"
       "--- message box, t=4.000s, code page 1252\ncaption : setup\nicon    : information\n"},
      {"--answers lang=1031,lang=1031", 3,
       "answer lang=1031 does not fit the setup window: only the language dialog takes a language"},
      {"--machine docs/machines/xp-installers.json --answers 'press=Zentavo 2.1' -- /l 1033", 3,
       "finds the window \"Zentavo 2.1\", which has no button to press"},
      {"--machine refusing.json", 3, "the limit of 200 waits without --answers was reached"},
      // Each example machine installs from the medium made for its Windows.
      {"--machine docs/machines/nt4sp6a.json", 0, ""},
      {"--machine docs/machines/winme.json", 0, ""},
  };
  for (const Case& c : cases) {
    Shell shell = RunShell(dir, "zentavo-sim " + c.arguments + " >/dev/null");
    EXPECT_EQ(shell.status, c.status) << c.arguments << "\n" << shell.err;
    if (c.says.empty()) {
      EXPECT_EQ(shell.err, "") << c.arguments;
    } else {
      EXPECT_NE(shell.err.find(c.says), std::string::npos) << c.arguments << "\n" << shell.err;
    }
  }
}
