// The language string table: key names, language key names, look-ups with
// their fallbacks, and the loader's walk over the DOM, both on language files
// read through the simulated machine and on a scripted DOM whose calls fail
// where a test wants them to.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/log.h"
#include "lang/language_strings.h"
#include "support/harness.h"

namespace {

const std::u16string kMarker = u"String not found!!!";
const std::string kFile = "D:\\SetupLanguages.xml";
const HRESULT kAccessDenied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
const HRESULT kUnexpected = static_cast<HRESULT>(0x8000FFFFu);

// Keeps what the walk reports instead of printing it.
class RecordingStrings : public CLanguageStrings {
 public:
  using CLanguageStrings::CLanguageStrings;
  void Report(const char* format, ...) override {
    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    reports.push_back(buffer);
  }
  std::vector<std::string> reports;
};

std::string LogPathOf(SimMachine& machine) {
  std::string temp;
  machine.environment().GetTempPath(&temp);
  return temp + "\\ZentavoInstall.log";
}

std::vector<std::string> LogLines(SimMachine& machine) {
  std::string bytes;
  if (machine.files().ReadFile(LogPathOf(machine), &bytes) != ERROR_SUCCESS) return {};
  return LogMessages(bytes);
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

// A language file on the simulated machine, loaded into a fresh table.
struct Loaded {
  std::unique_ptr<SimMachine> machine;
  std::unique_ptr<RecordingStrings> strings;
  HRESULT result = S_OK;
};

Loaded LoadText(const std::string& bytes, const std::string& overlay = "{}") {
  Loaded loaded;
  loaded.machine = MakeMachine(overlay);
  EXPECT_TRUE(loaded.machine->simFiles().Put(kFile, bytes));
  loaded.strings = std::make_unique<RecordingStrings>(loaded.machine->environment());
  loaded.result = loaded.strings->Load(loaded.machine->xml(), kFile);
  return loaded;
}

std::string Document(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<language-strings>\n" + entries +
         "\n</language-strings>\n";
}

// ---- A scripted DOM ----

struct FakeNode {
  std::u16string name;
  std::u16string text;
  std::vector<std::shared_ptr<FakeNode>> children;
  HRESULT nameError = S_OK;
  HRESULT textError = S_OK;
  HRESULT listError = S_OK;
  HRESULT hasChildrenError = S_OK;
  int failNextAt = -1;  // the child list's NextNode fails at this position
  HRESULT nextError = kUnexpected;
  FakeNode() = default;
};
using Node = std::shared_ptr<FakeNode>;

Node Element(std::u16string name, std::vector<Node> children = {}) {
  auto node = std::make_shared<FakeNode>();
  node->name = std::move(name);
  node->children = std::move(children);
  return node;
}

Node Translation(std::u16string language, std::u16string text) {
  Node node = Element(std::move(language));
  node->text = std::move(text);
  return node;
}

class FakeList : public XmlNodeList {
 public:
  explicit FakeList(Node parent) : parent_(std::move(parent)) {}
  HRESULT NextNode(std::unique_ptr<XmlNode>* node) override;

 private:
  Node parent_;
  size_t next_ = 0;
};

class FakeXmlNode : public XmlNode {
 public:
  explicit FakeXmlNode(Node node) : node_(std::move(node)) {}
  HRESULT GetNodeName(std::u16string* name) override {
    if (FAILED(node_->nameError)) return node_->nameError;
    *name = node_->name;
    return S_OK;
  }
  HRESULT GetText(std::u16string* text) override {
    if (FAILED(node_->textError)) return node_->textError;
    *text = node_->text;
    return S_OK;
  }
  HRESULT HasChildNodes(bool* has) override {
    if (FAILED(node_->hasChildrenError)) return node_->hasChildrenError;
    *has = !node_->children.empty();
    return *has ? S_OK : S_FALSE;
  }
  HRESULT GetChildNodes(std::unique_ptr<XmlNodeList>* list) override {
    if (FAILED(node_->listError)) return node_->listError;
    *list = std::make_unique<FakeList>(node_);
    return S_OK;
  }

 private:
  Node node_;
};

HRESULT FakeList::NextNode(std::unique_ptr<XmlNode>* node) {
  if (parent_->failNextAt >= 0 && next_ == static_cast<size_t>(parent_->failNextAt)) {
    return parent_->nextError;
  }
  if (next_ >= parent_->children.size()) {
    node->reset();
    return S_FALSE;
  }
  *node = std::make_unique<FakeXmlNode>(parent_->children[next_++]);
  return S_OK;
}

struct FakeDom {
  Node document = Element(u"#document");
  HRESULT createError = S_OK;
  HRESULT queryError = S_OK;
  HRESULT loadResult = S_OK;
  bool loadSuccess = true;
  std::u16string loadedPath;
};

class FakeDocument : public XmlDocument {
 public:
  explicit FakeDocument(FakeDom& dom) : dom_(dom) {}
  HRESULT QueryNode(std::unique_ptr<XmlNode>* node) override {
    if (FAILED(dom_.queryError)) return dom_.queryError;
    *node = std::make_unique<FakeXmlNode>(dom_.document);
    return S_OK;
  }
  HRESULT Load(const std::u16string& path, bool* success) override {
    dom_.loadedPath = path;
    if (SUCCEEDED(dom_.loadResult)) *success = dom_.loadSuccess;
    return dom_.loadResult;
  }
  long LastParseError() override { return 0; }

 private:
  FakeDom& dom_;
};

class FakeXml : public Xml {
 public:
  explicit FakeXml(FakeDom& dom) : dom_(dom) {}
  HRESULT CreateDocument(std::unique_ptr<XmlDocument>* document) override {
    if (FAILED(dom_.createError)) return dom_.createError;
    *document = std::make_unique<FakeDocument>(dom_);
    return S_OK;
  }

 private:
  FakeDom& dom_;
};

// A document whose root holds `entries`, after an XML declaration node.
FakeDom DomWith(std::vector<Node> entries) {
  FakeDom dom;
  dom.document->children = {Element(u"xml"), Element(u"language-strings", std::move(entries))};
  return dom;
}

Node Root(FakeDom& dom) { return dom.document->children[1]; }

struct WalkResult {
  HRESULT result;
  std::vector<std::string> reports;
  CLanguageStrings::KeyMap keys;
};

WalkResult Walk(FakeDom& dom) {
  auto machine = MakeMachine();
  RecordingStrings strings(machine->environment());
  FakeXml xml(dom);
  WalkResult walk;
  walk.result = strings.Load(xml, "C:\\Setup\\SetupLanguages.xml");
  walk.reports = strings.reports;
  walk.keys = strings.keys();
  return walk;
}

using Reports = std::vector<std::string>;

// Walks `dom` and expects the load to end with `result` after `report` alone.
void ExpectWalkEnds(FakeDom& dom, HRESULT result, const std::string& report) {
  WalkResult walk = Walk(dom);
  EXPECT_EQ(walk.result, result);
  EXPECT_EQ(walk.reports, Reports{report});
}

}  // namespace

// ---- Key names and language key names ----

TEST(LanguageKeys, TableHoldsSeventyNineDistinctUpperCaseNamesMatchingTheIds) {
  std::set<std::string> seen;
  for (int id = 0; id < kStringKeyCount; ++id) {
    std::string key = kStringKeys[id];
    ASSERT_FALSE(key.empty()) << id;
    for (char c : key) {
      EXPECT_TRUE(std::isupper(static_cast<unsigned char>(c)) ||
                  std::isdigit(static_cast<unsigned char>(c)))
          << key;
    }
    EXPECT_TRUE(seen.insert(key).second) << key << " appears twice";
  }
  EXPECT_EQ(seen.size(), 79u);
#define EXPECT_KEY(id) EXPECT_STREQ(kStringKeys[id], #id)
  EXPECT_KEY(ABORTINSTALL);
  EXPECT_KEY(CANCEL);
  EXPECT_KEY(CHECKZENTAVO);
  EXPECT_KEY(CHECKVIDEO);
  EXPECT_KEY(INITERROR);
  EXPECT_KEY(OK);
  EXPECT_KEY(PROCEED);
  EXPECT_KEY(SHUTDOWNCANCEL);
  EXPECT_KEY(TRYAGAIN);
  EXPECT_KEY(ZTRUNNINGHELP);
  EXPECT_KEY(WELCOME);
  EXPECT_KEY(WELCOMEUPGRADEHELP2);
  EXPECT_KEY(WRONGPACKAGE);
#undef EXPECT_KEY
  EXPECT_EQ(WRONGPACKAGE, 78);
}

TEST(LanguageKeys, EightLanguagesHaveTheirNamesAndEveryOtherIdIsUsEnglish) {
  EXPECT_STREQ(LanguageKeyName(1031), "GERMAN");
  EXPECT_STREQ(LanguageKeyName(1033), "ENGLISH_US");
  EXPECT_STREQ(LanguageKeyName(1034), "SPANISH");
  EXPECT_STREQ(LanguageKeyName(1036), "FRENCH");
  EXPECT_STREQ(LanguageKeyName(1040), "ITALIAN");
  EXPECT_STREQ(LanguageKeyName(1041), "JAPANESE");
  EXPECT_STREQ(LanguageKeyName(2057), "ENGLISH_UK");
  EXPECT_STREQ(LanguageKeyName(2070), "PORTUGUESE");
  EXPECT_STREQ(LanguageKeyName(1049), "ENGLISH_US");
  EXPECT_STREQ(LanguageKeyName(0), "ENGLISH_US");
  EXPECT_STREQ(LanguageKeyName(-1), "ENGLISH_US");
}

// ---- Look-ups ----

TEST(LanguageTable, TextFallsBackFromTheLanguageToUsEnglishToTheMarker) {
  Loaded t = LoadText(Document(
      "<CANCEL><GERMAN>Abbrechen</GERMAN><ENGLISH_US>Cancel</ENGLISH_US></CANCEL>"
      "<PROCEED><FRENCH>Continuer</FRENCH></PROCEED>"));
  ASSERT_TRUE(SUCCEEDED(t.result));
  EXPECT_TRUE(t.strings->reports.empty());
  EXPECT_EQ(t.strings->GetText(CANCEL, 1031), "Abbrechen");
  EXPECT_EQ(t.strings->GetText(CANCEL, 1036), "Cancel");  // no French: US English
  EXPECT_EQ(t.strings->GetText(CANCEL, 1049), "Cancel");  // no key name: US English
  EXPECT_EQ(t.strings->GetText(CANCEL, 0), "Cancel");     // not chosen yet: US English
  EXPECT_EQ(t.strings->GetText(PROCEED, 1036), "Continuer");
  EXPECT_EQ(t.strings->GetText(PROCEED, 1031), "String not found!!!");  // neither
  EXPECT_EQ(t.strings->GetText(TRYAGAIN, 1033), "String not found!!!");  // no entry
  // The marker is one constant of the program, not a copy per call.
  EXPECT_EQ(t.strings->LookupText(TRYAGAIN, 1033), t.strings->LookupText(OK, 1031));
  EXPECT_EQ(*t.strings->LookupText(TRYAGAIN, 1033), kMarker);
}

TEST(LanguageTable, IdsOutsideZeroToSeventyEightGiveNothing) {
  Loaded t = LoadText(Document("<WRONGPACKAGE><ENGLISH_US>Wrong package</ENGLISH_US></WRONGPACKAGE>"
                               "<ABORTINSTALL><ENGLISH_US>Stopped</ENGLISH_US></ABORTINSTALL>"));
  EXPECT_EQ(t.strings->GetText(78, 1033), "Wrong package");
  EXPECT_EQ(t.strings->GetText(0, 1033), "Stopped");
  for (int id : {79, 1000, -1, -2147483647 - 1}) {
    EXPECT_EQ(t.strings->LookupText(id, 1033), nullptr) << id;
    EXPECT_EQ(t.strings->GetText(id, 1033), "") << id;
  }
}

TEST(LanguageTable, TextsComeOutInTheAnsiCodePage) {
  Loaded t = LoadText(Document("<PROCEED><SPANISH>Contin\xC3\xBA" "a</SPANISH>"
                               "<JAPANESE>\xE7\xB6\x9A\xE8\xA1\x8C</JAPANESE></PROCEED>"));
  EXPECT_EQ(*t.strings->LookupText(PROCEED, 1034), u"Contin\u00FAa");
  EXPECT_EQ(t.strings->GetText(PROCEED, 1034), "Contin\xFA" "a");  // one byte in 1252
  EXPECT_EQ(*t.strings->LookupText(PROCEED, 1041), u"\u7D9A\u884C");
  // A character that the code page lacks becomes the default character.
  EXPECT_EQ(t.strings->GetText(PROCEED, 1041), "??");

  Loaded japanese = LoadText(Document("<PROCEED><JAPANESE>\xE7\xB6\x9A\xE8\xA1\x8C</JAPANESE>"
                                      "</PROCEED>"),
                             R"({"locale": {"language": "0411", "codePage": 932}})");
  EXPECT_EQ(japanese.strings->GetText(PROCEED, 1041), "\x91\xB1\x8D\x73");  // Shift-JIS
}

TEST(LanguageTable, OneArgumentTextFollowsTheBoundCurrentLanguage) {
  Loaded t = LoadText(Document("<OK><GERMAN>Gut</GERMAN><ENGLISH_US>Fine</ENGLISH_US></OK>"));
  EXPECT_EQ(t.strings->GetText(OK), "Fine");  // unbound: language 0
  int current = 0;
  t.strings->BindCurrentLanguage(&current);
  EXPECT_EQ(t.strings->GetText(OK), "Fine");
  current = 1031;
  EXPECT_EQ(t.strings->GetText(OK), "Gut");
  EXPECT_EQ(t.strings->GetText(-1), "");
}

// ---- The language file ----

TEST(LanguageFile, NamesInAnyCaseAreStoredInUpperCase) {
  Loaded t = LoadText(Document("<cancel><German>Abbrechen</German></cancel>"
                               "<Ok><english_us>Fine</english_us></Ok>"));
  EXPECT_EQ(t.strings->GetText(CANCEL, 1031), "Abbrechen");
  EXPECT_EQ(t.strings->GetText(OK, 1040), "Fine");
  EXPECT_EQ(t.strings->keys().count(u"CANCEL"), 1u);
  EXPECT_EQ(t.strings->keys().count(u"cancel"), 0u);
}

TEST(LanguageFile, NamesAreUpperCasedThroughTheAnsiCodePage) {
  // "<ñandú><ça/></ñandú>": 1252 upper-cases its Latin letters.
  const std::string entry = "<\xC3\xB1" "and\xC3\xBA><\xC3\xA7" "a>x</\xC3\xA7" "a></\xC3\xB1" "and\xC3\xBA>";
  Loaded western = LoadText(Document(entry));
  ASSERT_EQ(western.strings->keys().count(u"\u00D1AND\u00DA"), 1u);
  EXPECT_EQ(western.strings->keys().at(u"\u00D1AND\u00DA").count(u"\u00C7A"), 1u);

  // A Japanese name survives the round trip through code page 932 but not through 1252.
  const std::string japanese = "<\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9>x</\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9>";
  Loaded jp = LoadText(Document(japanese), R"({"locale": {"language": "0411", "codePage": 932}})");
  EXPECT_EQ(jp.strings->keys().count(u"\u30AB\u30E1\u30E9"), 1u);
  EXPECT_EQ(western.strings->keys().size(), 1u);
  Loaded lost = LoadText(Document(japanese));
  EXPECT_EQ(lost.strings->keys().count(u"???"), 1u);
}

TEST(LanguageFile, RootWithAnotherNameLoadsNothingAndSaysNothing) {
  const std::string text =
      "<?xml version=\"1.0\"?><Language-Strings><CANCEL><ENGLISH_US>Cancel</ENGLISH_US></CANCEL>"
      "</Language-Strings>";
  Loaded t = LoadText(text);
  EXPECT_TRUE(SUCCEEDED(t.result));
  EXPECT_TRUE(t.strings->keys().empty());
  EXPECT_TRUE(t.strings->reports.empty());
  EXPECT_EQ(t.strings->GetText(CANCEL, 1033), "String not found!!!");

  CInstallLog log(*t.machine);
  CLanguageStrings table(t.machine->environment());
  LoadLanguageFile(table, *t.machine, log);
  std::vector<std::string> lines = LogLines(*t.machine);
  EXPECT_TRUE(Contains(lines, "loading D:\\SetupLanguages.xml"));
  EXPECT_FALSE(Contains(lines, "could not load language file"));
}

TEST(LanguageFile, LaterEntryReplacesTheEarlierOneWhole) {
  Loaded t = LoadText(Document(
      "<CANCEL><GERMAN>Abbrechen</GERMAN><ENGLISH_US>Cancel</ENGLISH_US></CANCEL>"
      "<CANCEL><ENGLISH_US>Stop</ENGLISH_US></CANCEL>"));
  EXPECT_EQ(t.strings->GetText(CANCEL, 1031), "Stop");
  EXPECT_EQ(t.strings->keys().at(u"CANCEL").size(), 1u);
}

TEST(LanguageFile, LaterTranslationOfTheSameLanguageReplacesTheText) {
  Loaded t = LoadText(Document(
      "<CANCEL><GERMAN>Abbrechen</GERMAN><ENGLISH_US>Cancel</ENGLISH_US><german>Stopp</german>"
      "</CANCEL>"));
  EXPECT_EQ(t.strings->GetText(CANCEL, 1031), "Stopp");
  EXPECT_EQ(t.strings->GetText(CANCEL, 1033), "Cancel");
}

TEST(LanguageFile, EmptyTranslationIsAnEmptyTextAndDoesNotFallBack) {
  Loaded t = LoadText(Document(
      "<CANCEL><GERMAN/><FRENCH></FRENCH><ENGLISH_US>Cancel</ENGLISH_US></CANCEL>"));
  ASSERT_NE(t.strings->LookupText(CANCEL, 1031), nullptr);
  EXPECT_EQ(*t.strings->LookupText(CANCEL, 1031), u"");
  EXPECT_EQ(t.strings->GetText(CANCEL, 1036), "");
  EXPECT_EQ(t.strings->GetText(CANCEL, 1040), "Cancel");
}

TEST(LanguageFile, CommentsAndStrayTextBetweenEntriesChangeNoText) {
  const std::string plain = Document(
      "<CANCEL><GERMAN>Abbrechen</GERMAN></CANCEL>\n<OK><GERMAN>OK</GERMAN></OK>");
  const std::string annotated = Document(
      "<CANCEL><!-- the cancel button --><GERMAN>Abbrechen</GERMAN></CANCEL>\n"
      "<!-- buttons -->\n<OK><GERMAN>OK</GERMAN></OK>stray");
  Loaded a = LoadText(plain);
  Loaded b = LoadText(annotated);
  for (int id = 0; id < kStringKeyCount; ++id) {
    EXPECT_EQ(a.strings->GetText(id, 1031), b.strings->GetText(id, 1031)) << kStringKeys[id];
  }
  // They are stored under their DOM names, which no id selects.
  EXPECT_EQ(b.strings->keys().count(u"#COMMENT"), 1u);
  EXPECT_EQ(b.strings->keys().count(u"#TEXT"), 1u);
  EXPECT_EQ(b.strings->keys().at(u"CANCEL").count(u"#COMMENT"), 1u);
}

TEST(LanguageFile, TextIsTheTrimmedTextContentOfTheTranslation) {
  Loaded t = LoadText(Document(
      "<CANCEL>\n  <GERMAN>\n    Ab<b>bre</b>chen &amp; mehr\n  </GERMAN>\n</CANCEL>"));
  EXPECT_EQ(t.strings->GetText(CANCEL, 1031), "Abbrechen & mehr");
}

TEST(LanguageFile, MissingOrIllFormedFileIsReportedAndLogged) {
  for (const char* text : {"", "<language-strings><CANCEL></language-strings>"}) {
    auto machine = MakeMachine();
    machine->simFiles().Remove(kFile);  // the demo medium's own file
    if (*text) machine->simFiles().Put(kFile, text);
    RecordingStrings strings(machine->environment());
    EXPECT_EQ(strings.Load(machine->xml(), kFile), E_FAIL);
    EXPECT_EQ(strings.reports, Reports{"IXMLDOMDocument::load() failed.\n"});
    EXPECT_TRUE(strings.keys().empty());
    EXPECT_EQ(strings.GetText(CANCEL, 1033), "String not found!!!");

    CInstallLog log(*machine);
    CLanguageStrings table(machine->environment());
    testing::internal::CaptureStdout();
    LoadLanguageFile(table, *machine, log);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "IXMLDOMDocument::load() failed.\n");
    std::vector<std::string> lines = LogLines(*machine);
    EXPECT_TRUE(Contains(lines, "loading D:\\SetupLanguages.xml"));
    EXPECT_TRUE(Contains(lines, "could not load language file"));
    // The walk's own message goes to standard output only.
    EXPECT_FALSE(Contains(lines, "IXMLDOMDocument::load() failed."));
  }
}

TEST(LanguageFile, PathIsTheSetupDirectoryWithoutReleaseOrDebug) {
  auto machine = MakeMachine(R"({"setupProgram": "D:\\Release\\setup.exe"})");
  machine->simFiles().Put(kFile, Document("<OK><ENGLISH_US>Fine</ENGLISH_US></OK>"));
  CInstallLog log(*machine);
  CLanguageStrings table(machine->environment());
  LoadLanguageFile(table, *machine, log);
  EXPECT_EQ(table.GetText(OK, 1033), "Fine");
  EXPECT_TRUE(Contains(LogLines(*machine), "loading D:\\SetupLanguages.xml"));
}

TEST(LanguageFile, SetupDirectoryTooLongForThePathIsRefusedWithALogLine) {
  // 241 characters of folder: with "\SetupLanguages.xml" the path needs 260 and the
  // buffer holds 259 and its terminator.
  const std::string folder = "D:\\" + std::string(238, 'f');
  auto machine = MakeMachine(R"({"setupProgram": ")" + std::string("D:\\\\") + std::string(238, 'f') +
                             R"(\\setup.exe"})");
  std::string module;
  machine->environment().GetModuleFileName(&module);
  ASSERT_EQ(module, folder + "\\setup.exe");
  CInstallLog log(*machine);
  RecordingStrings table(machine->environment());
  LoadLanguageFile(table, *machine, log);
  std::vector<std::string> lines = LogLines(*machine);
  EXPECT_TRUE(Contains(lines, "language file path too long: " + folder + "\\SetupLanguages.xml"));
  EXPECT_TRUE(Contains(lines, "could not load language file"));
  EXPECT_TRUE(table.reports.empty());  // no load was attempted

  // One character less fits, and the medium's file loads.
  auto shorter = MakeMachine(R"({"setupProgram": ")" + std::string("D:\\\\") + std::string(237, 'f') +
                             R"(\\setup.exe"})");
  CInstallLog shorterLog(*shorter);
  RecordingStrings shorterTable(shorter->environment());
  LoadLanguageFile(shorterTable, *shorter, shorterLog);
  EXPECT_TRUE(Contains(LogLines(*shorter),
                       "loading D:\\" + std::string(237, 'f') + "\\SetupLanguages.xml"));
  EXPECT_TRUE(shorterTable.reports.empty());
  EXPECT_FALSE(shorterTable.keys().empty());  // the medium is mounted in that folder
}

TEST(LanguageFile, ReportWritesTheFormattedTextToStandardOutputCutAt511) {
  auto machine = MakeMachine();
  CLanguageStrings strings(machine->environment());
  testing::internal::CaptureStdout();
  strings.Report("IXMLDOMNode::get_text() failed [0x%lx].\n", 0x80004005ul);
  strings.Report("%s", std::string(600, 'x').c_str());
  strings.Report("%s", "100% literal\n");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "IXMLDOMNode::get_text() failed [0x80004005].\n" + std::string(511, 'x') +
                     "100% literal\n");
}

// ---- The walk over a scripted DOM ----

TEST(LanguageWalk, DocumentThatCannotBeCreatedOrQueried) {
  FakeDom notRegistered = DomWith({});
  notRegistered.createError = REGDB_E_CLASSNOTREG;
  ExpectWalkEnds(notRegistered, E_FAIL, "CoCreateInstance failed [0x80040154].\n");

  FakeDom noNode = DomWith({});
  noNode.queryError = E_NOINTERFACE;
  ExpectWalkEnds(noNode, E_NOINTERFACE, "QueryInterface failed [0x80004002].\n");
}

TEST(LanguageWalk, LoadFailuresWithAndWithoutACode) {
  FakeDom failing = DomWith({});
  failing.loadResult = kAccessDenied;
  ExpectWalkEnds(failing, kAccessDenied, "IXMLDOMDocument::load() failed [0x80070005].\n");
  EXPECT_EQ(failing.loadedPath, u"C:\\Setup\\SetupLanguages.xml");

  FakeDom refused = DomWith({});
  refused.loadResult = S_FALSE;
  refused.loadSuccess = false;
  ExpectWalkEnds(refused, E_FAIL, "IXMLDOMDocument::load() failed.\n");
}

TEST(LanguageWalk, DocumentLevelFailuresEndTheLoadWithTheirCode) {
  FakeDom a = DomWith({});
  a.document->hasChildrenError = E_OUTOFMEMORY;
  ExpectWalkEnds(a, E_OUTOFMEMORY, "IXMLDOMNode::hasChildNodes() failed [0x8007000e].\n");

  FakeDom b = DomWith({});
  b.document->listError = E_POINTER;
  ExpectWalkEnds(b, E_POINTER, "IXMLDOMNode::get_childNodes() failed [0x80004003].\n");

  FakeDom c = DomWith({});
  c.document->failNextAt = 1;
  ExpectWalkEnds(c, kUnexpected, "IXMLDOMNodeList::nextNode() failed [0x8000ffff].\n");

  FakeDom d = DomWith({});
  d.document->children[0]->nameError = E_FAIL;
  ExpectWalkEnds(d, E_FAIL, "IXMLDOMNode::get_nodeName() failed [0x80004005].\n");

  FakeDom e = DomWith({});
  Root(e)->listError = E_OUTOFMEMORY;
  ExpectWalkEnds(e, E_OUTOFMEMORY, "IXMLDOMNode::get_childNodes() failed [0x8007000e].\n");
}

TEST(LanguageWalk, SuccessReturnsTheLastStepOfTheTopLevelList) {
  FakeDom dom = DomWith({Element(u"OK", {Translation(u"ENGLISH_US", u"OK")})});
  WalkResult walk = Walk(dom);
  EXPECT_EQ(walk.result, S_FALSE);
  EXPECT_TRUE(walk.reports.empty());
  EXPECT_EQ(walk.keys.at(u"OK").at(u"ENGLISH_US"), u"OK");
}

TEST(LanguageWalk, FailingEntryListKeepsTheEntriesStoredSoFarAndStillSucceeds) {
  FakeDom dom = DomWith({Element(u"OK", {Translation(u"ENGLISH_US", u"OK")}),
                         Element(u"CANCEL", {Translation(u"ENGLISH_US", u"Cancel")})});
  Root(dom)->failNextAt = 1;
  WalkResult walk = Walk(dom);
  EXPECT_TRUE(SUCCEEDED(walk.result));
  EXPECT_EQ(walk.reports, Reports{"IXMLDOMNodeList::nextNode() failed [0x8000ffff].\n"});
  EXPECT_EQ(walk.keys.count(u"OK"), 1u);
  EXPECT_EQ(walk.keys.count(u"CANCEL"), 0u);
}

TEST(LanguageWalk, EntryWithoutANameEndsTheReadingOfEntries) {
  Node nameless = Element(u"CANCEL", {Translation(u"ENGLISH_US", u"Cancel")});
  nameless->nameError = E_FAIL;
  FakeDom dom = DomWith({Element(u"OK", {Translation(u"ENGLISH_US", u"OK")}), nameless,
                         Element(u"PROCEED", {Translation(u"ENGLISH_US", u"Go")})});
  WalkResult walk = Walk(dom);
  EXPECT_TRUE(SUCCEEDED(walk.result));
  EXPECT_EQ(walk.reports, Reports{"IXMLDOMNode::get_nodeName() failed [0x80004005].\n"});
  EXPECT_EQ(walk.keys.size(), 1u);
  EXPECT_EQ(walk.keys.count(u"OK"), 1u);
}

TEST(LanguageWalk, EntryWhoseTranslationsCannotBeListedIsLeftOut) {
  Node unlisted = Element(u"CANCEL", {Translation(u"ENGLISH_US", u"Stop")});
  unlisted->listError = E_OUTOFMEMORY;
  Node broken = Element(u"OK", {Translation(u"ENGLISH_US", u"Fine"), Translation(u"GERMAN", u"Gut")});
  broken->failNextAt = 1;
  FakeDom dom = DomWith({Element(u"CANCEL", {Translation(u"ENGLISH_US", u"Cancel")}), unlisted,
                         broken, Element(u"PROCEED", {Translation(u"ENGLISH_US", u"Go")})});
  WalkResult walk = Walk(dom);
  EXPECT_TRUE(SUCCEEDED(walk.result));
  EXPECT_EQ(walk.reports, (Reports{"IXMLDOMNode::get_childNodes() failed [0x8007000e].\n",
                                   "IXMLDOMNodeList::nextNode() failed [0x8000ffff].\n"}));
  // The earlier CANCEL stays; OK is dropped with the translation it had read.
  EXPECT_EQ(walk.keys.at(u"CANCEL").at(u"ENGLISH_US"), u"Cancel");
  EXPECT_EQ(walk.keys.count(u"OK"), 0u);
  EXPECT_EQ(walk.keys.at(u"PROCEED").at(u"ENGLISH_US"), u"Go");
}

TEST(LanguageWalk, TranslationWithoutNameOrTextIsSkipped) {
  Node nameless = Translation(u"GERMAN", u"Abbrechen");
  nameless->nameError = E_FAIL;
  Node textless = Translation(u"FRENCH", u"Annuler");
  textless->textError = E_OUTOFMEMORY;
  FakeDom dom = DomWith({Element(u"cancel", {nameless, textless, Translation(u"english_us", u"Cancel")})});
  WalkResult walk = Walk(dom);
  EXPECT_TRUE(SUCCEEDED(walk.result));
  EXPECT_EQ(walk.reports, (Reports{"IXMLDOMNode::get_nodeName() failed [0x80004005].\n",
                                   "IXMLDOMNode::get_text() failed [0x8007000e].\n"}));
  ASSERT_EQ(walk.keys.count(u"CANCEL"), 1u);
  EXPECT_EQ(walk.keys.at(u"CANCEL").size(), 1u);
  EXPECT_EQ(walk.keys.at(u"CANCEL").at(u"ENGLISH_US"), u"Cancel");
}
