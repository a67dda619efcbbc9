// The simulation's XML service beyond what the contract suite pins down: the
// declaration's text, namespace well-formedness, xml:space, entity
// references, the parser's error codes, paths through the code page, nodes
// that outlive their document, and files outside the machine never read.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_xml.h"
#include "support/harness.h"
#include "unit/lang_xml_nodes.h"

namespace {

struct Parsed {
  std::unique_ptr<SimMachine> machine;
  std::unique_ptr<XmlDocument> document;
  std::unique_ptr<XmlNode> node;
  bool success = false;
  HRESULT result = E_FAIL;
};

Parsed ParseAt(const std::string& path, const std::string& bytes, const std::string& overlay = "{}") {
  Parsed parsed;
  parsed.machine = MakeMachine(overlay);
  if (!bytes.empty()) parsed.machine->files().WriteFile(path, bytes);
  std::u16string wide;
  EXPECT_TRUE(parsed.machine->environment().AnsiToWide(path, &wide));
  EXPECT_EQ(parsed.machine->xml().CreateDocument(&parsed.document), S_OK);
  parsed.result = parsed.document->Load(wide, &parsed.success);
  EXPECT_EQ(parsed.document->QueryNode(&parsed.node), S_OK);
  return parsed;
}

Parsed Parse(const std::string& bytes) { return ParseAt("C:\\test.xml", bytes); }

std::unique_ptr<XmlNode> ChildAt(XmlNode& node, size_t index) {
  auto children = Children(node);
  if (index >= children.size()) return nullptr;
  return std::move(children[index]);
}

}  // namespace

TEST(SimXml, DeclarationNodeCarriesTheDeclarationsTextAndIsAbsentWithoutOne) {
  Parsed with = Parse("<?xml version=\"1.0\"  encoding='windows-1252' ?>\n<r/>");
  ASSERT_TRUE(with.success);
  auto declaration = ChildAt(*with.node, 0);
  ASSERT_TRUE(declaration);
  EXPECT_EQ(NameOf(*declaration), u"xml");
  EXPECT_EQ(TextOf(*declaration), u"version=\"1.0\"  encoding='windows-1252'");
  EXPECT_TRUE(Children(*declaration).empty());

  Parsed without = Parse("<r/>");
  ASSERT_TRUE(without.success);
  EXPECT_EQ(NamesOf(*without.node), (Names{u"r"}));

  // A processing instruction whose target merely starts with "xml" is no declaration.
  Parsed stylesheet = Parse("<?xml-stylesheet href=\"a.xsl\"?><r/>");
  ASSERT_TRUE(stylesheet.success);
  EXPECT_EQ(NamesOf(*stylesheet.node), (Names{u"xml-stylesheet", u"r"}));

  // The declaration of a UTF-16 file.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r/>")) {
    utf16 += c;
    utf16 += '\0';
  }
  Parsed wide = Parse(utf16);
  ASSERT_TRUE(wide.success);
  EXPECT_EQ(TextOf(*ChildAt(*wide.node, 0)), u"version=\"1.0\" encoding=\"UTF-16\"");
}

TEST(SimXml, UndeclaredNamespacePrefixMakesTheFileIllFormed) {
  Parsed bad = Parse("<zt:strings><CANCEL/></zt:strings>");
  EXPECT_EQ(bad.result, S_FALSE);
  EXPECT_FALSE(bad.success);
  EXPECT_NE(bad.document->LastParseError(), 0);

  Parsed good = Parse("<zt:strings xmlns:zt=\"urn:zentavo\"><zt:CANCEL/></zt:strings>");
  ASSERT_TRUE(good.success);
  EXPECT_EQ(NamesOf(*good.node), (Names{u"zt:strings"}));
  EXPECT_EQ(NamesOf(*ChildAt(*good.node, 0)), (Names{u"zt:CANCEL"}));
}

TEST(SimXml, WhiteSpaceIsKeptWhereXmlSpacePreserveIsInForce) {
  Parsed parsed = Parse("<r><a xml:space=\"preserve\"> <b>x</b>  y  </a><c> <d/> </c></r>");
  ASSERT_TRUE(parsed.success);
  auto root = ChildAt(*parsed.node, 0);
  auto a = ChildAt(*root, 0);
  EXPECT_EQ(NamesOf(*a), (Names{u"#text", u"b", u"#text"}));
  EXPECT_EQ(TextOf(*a), u" x  y  ");
  auto c = ChildAt(*root, 1);
  EXPECT_EQ(NamesOf(*c), (Names{u"d"}));
}

TEST(SimXml, CdataKeepsItsWhiteSpaceWhileTextIsTrimmed) {
  Parsed parsed = Parse("<r><a>  <![CDATA[  x  ]]>  </a><b>\t one \n</b></r>");
  ASSERT_TRUE(parsed.success);
  auto root = ChildAt(*parsed.node, 0);
  EXPECT_EQ(TextOf(*ChildAt(*root, 0)), u"  x  ");
  EXPECT_EQ(TextOf(*ChildAt(*root, 1)), u"one");
  EXPECT_EQ(TextOf(*ChildAt(*ChildAt(*root, 1), 0)), u"one");  // the text node itself
}

TEST(SimXml, InternalEntitiesStayReferencesWhoseTextIsTheReplacement) {
  Parsed parsed = Parse("<!DOCTYPE r [<!ENTITY who \"Zentavo\">]><r><a>Hello &who;!</a></r>");
  ASSERT_TRUE(parsed.success);
  EXPECT_EQ(NamesOf(*parsed.node), (Names{u"r", u"r"}));  // the doctype, then the root
  auto a = ChildAt(*ChildAt(*parsed.node, 1), 0);
  EXPECT_EQ(NamesOf(*a), (Names{u"#text", u"who", u"#text"}));
  EXPECT_EQ(TextOf(*a), u"Hello Zentavo!");
}

TEST(SimXml, ExternalEntitiesAreNeverReadFromOutsideTheMachine) {
  Parsed parsed = Parse(
      "<!DOCTYPE r [<!ENTITY host SYSTEM \"file:///etc/hostname\">]><r><a>[&host;]</a></r>");
  ASSERT_TRUE(parsed.success);
  auto a = ChildAt(*ChildAt(*parsed.node, 1), 0);
  EXPECT_EQ(NamesOf(*a), (Names{u"#text", u"host", u"#text"}));
  EXPECT_EQ(TextOf(*a), u"[]");
}

TEST(SimXml, ErrorCodesOfTheLastLoad) {
  Parsed missing = ParseAt("C:\\missing.xml", "");
  EXPECT_EQ(missing.result, S_FALSE);
  EXPECT_FALSE(missing.success);
  EXPECT_EQ(missing.document->LastParseError(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

  Parsed folder = ParseAt("C:\\nowhere\\missing.xml", "");
  EXPECT_FALSE(folder.success);
  EXPECT_EQ(folder.document->LastParseError(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));

  Parsed broken = Parse("<a><b></a>");
  EXPECT_FALSE(broken.success);
  long code = broken.document->LastParseError();
  EXPECT_GT(code, 0);

  // A successful load clears the code; the document node then shows the new tree.
  broken.machine->files().WriteFile("C:\\test.xml", "<fixed/>");
  std::u16string path = u"C:\\test.xml";
  EXPECT_EQ(broken.document->Load(path, &broken.success), S_OK);
  EXPECT_TRUE(broken.success);
  EXPECT_EQ(broken.document->LastParseError(), 0);
  EXPECT_EQ(NamesOf(*broken.node), (Names{u"fixed"}));
}

TEST(SimXml, PathIsConvertedThroughTheMachinesCodePage) {
  Parsed western = ParseAt("C:\\Espa\xF1ol.xml", "<r/>");
  EXPECT_TRUE(western.success);
  Parsed japanese = ParseAt("C:\\\x83\x4A\x83\x81\x83\x89.xml", "<r/>",
                            R"({"locale": {"language": "0411", "codePage": 932}})");
  EXPECT_TRUE(japanese.success);
  EXPECT_EQ(NamesOf(*japanese.node), (Names{u"r"}));
}

TEST(SimXml, NodesOutliveTheirDocumentAndTheListIsASnapshot) {
  Parsed parsed = Parse("<r><a>one</a><b>two</b></r>");
  ASSERT_TRUE(parsed.success);
  auto root = ChildAt(*parsed.node, 0);
  std::unique_ptr<XmlNodeList> list;
  ASSERT_EQ(root->GetChildNodes(&list), S_OK);
  parsed.document.reset();
  parsed.node.reset();
  std::unique_ptr<XmlNode> child;
  ASSERT_EQ(list->NextNode(&child), S_OK);
  EXPECT_EQ(TextOf(*child), u"one");
  ASSERT_EQ(list->NextNode(&child), S_OK);
  EXPECT_EQ(NameOf(*child), u"b");
  EXPECT_EQ(list->NextNode(&child), S_FALSE);
  EXPECT_EQ(child, nullptr);
  EXPECT_EQ(list->NextNode(&child), S_FALSE);
}

TEST(SimXml, DocumentNodeBeforeAnyLoadHasNoChildren) {
  auto machine = MakeMachine();
  std::unique_ptr<XmlDocument> document;
  ASSERT_EQ(machine->xml().CreateDocument(&document), S_OK);
  std::unique_ptr<XmlNode> node;
  ASSERT_EQ(document->QueryNode(&node), S_OK);
  bool has = true;
  EXPECT_EQ(node->HasChildNodes(&has), S_FALSE);
  EXPECT_FALSE(has);
  EXPECT_TRUE(Children(*node).empty());
  EXPECT_EQ(NameOf(*node), u"#document");
  EXPECT_EQ(document->LastParseError(), 0);
}
