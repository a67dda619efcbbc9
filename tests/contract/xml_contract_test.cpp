// The XML service as the language file loader sees it, on both back ends: the
// document's children in order with the XML declaration first, white space
// between elements left out, DOM node names, the text of a node, the encodings
// a language file may declare, and how loading fails. The files are written
// through the machine's own file service into the test's scratch folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "contract/contract_machine.h"
#include "lang/language_strings.h"
#include "unit/lang_xml_nodes.h"

namespace {

class XmlContract : public ::testing::Test {
 protected:
  void SetUp() override { contract_ = MakeContractMachine(); }

  Machine& machine() { return contract_->machine(); }

  std::u16string PathOf(const std::string& name) {
    std::u16string wide;
    EXPECT_TRUE(machine().environment().AnsiToWide(contract_->scratchDir() + "\\" + name, &wide));
    return wide;
  }

  // Writes the bytes as `name` and loads them into a new document.
  std::unique_ptr<XmlDocument> Load(const std::string& name, const std::string& bytes,
                                    bool* success, HRESULT* result = nullptr) {
    EXPECT_EQ(machine().files().WriteFile(contract_->scratchDir() + "\\" + name, bytes),
              static_cast<DWORD>(ERROR_SUCCESS));
    return LoadPath(PathOf(name), success, result);
  }

  std::unique_ptr<XmlDocument> LoadPath(const std::u16string& path, bool* success,
                                        HRESULT* result = nullptr) {
    std::unique_ptr<XmlDocument> document;
    EXPECT_EQ(machine().xml().CreateDocument(&document), S_OK);
    if (!document) return nullptr;
    *success = false;
    HRESULT hr = document->Load(path, success);
    if (result) *result = hr;
    return document;
  }

  // Loads a document that must be well-formed and returns it as a node.
  std::unique_ptr<XmlNode> Parse(const std::string& name, const std::string& bytes) {
    bool success = false;
    HRESULT hr = E_FAIL;
    document_ = Load(name, bytes, &success, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(success) << name;
    std::unique_ptr<XmlNode> node;
    if (document_) {
      EXPECT_EQ(document_->QueryNode(&node), S_OK);
    }
    return node;
  }

  std::unique_ptr<ContractMachine> contract_;
  std::unique_ptr<XmlDocument> document_;
};

// The node reached by child positions from `node`.
std::unique_ptr<XmlNode> At(XmlNode& node, std::initializer_list<size_t> path) {
  std::unique_ptr<XmlNode> current;
  XmlNode* at = &node;
  for (size_t index : path) {
    auto children = Children(*at);
    if (index >= children.size()) {
      ADD_FAILURE() << "no child " << index;
      return nullptr;
    }
    current = std::move(children[index]);
    at = current.get();
  }
  return current;
}

// The one text of `<language-strings><PROCEED><X>...</X></PROCEED></language-strings>`.
std::u16string TranslationText(XmlNode& document) {
  auto children = Children(document);
  if (children.size() != 2) {
    ADD_FAILURE() << "expected the declaration and the root";
    return std::u16string();
  }
  EXPECT_EQ(NameOf(*children[0]), u"xml");
  EXPECT_EQ(NameOf(*children[1]), u"language-strings");
  auto translation = At(*children[1], {0, 0});
  return translation ? TextOf(*translation) : std::u16string();
}

std::string Utf16Le(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::string Utf16Be(const std::u16string& text) {
  std::string bytes = "\xFE\xFF";
  for (char16_t c : text) {
    bytes += static_cast<char>(c >> 8);
    bytes += static_cast<char>(c & 0xFF);
  }
  return bytes;
}

std::string Translated(const std::string& declaration, const std::string& text) {
  return declaration + "\r\n<language-strings>\r\n  <PROCEED>\r\n    <X>" + text +
         "</X>\r\n  </PROCEED>\r\n</language-strings>\r\n";
}

}  // namespace

TEST_F(XmlContract, DocumentChildrenComeInOrderWithTheDeclarationFirst) {
  auto document = Parse("order.xml",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                        "<!-- first -->\r\n"
                        "<?zt-marker some data?>\r\n"
                        "<language-strings>\r\n"
                        "  <CANCEL>\r\n"
                        "    <GERMAN>Abbrechen</GERMAN>\r\n"
                        "  </CANCEL>\r\n"
                        "  <!-- between -->\r\n"
                        "  <OK/>\r\n"
                        "</language-strings>\r\n"
                        "<!-- last -->\r\n");
  ASSERT_TRUE(document);
  bool has = false;
  EXPECT_TRUE(SUCCEEDED(document->HasChildNodes(&has)));
  EXPECT_TRUE(has);
  EXPECT_EQ(NamesOf(*document),
            (Names{u"xml", u"#comment", u"zt-marker", u"language-strings", u"#comment"}));
  auto root = At(*document, {3});
  ASSERT_TRUE(root);
  EXPECT_EQ(NamesOf(*root), (Names{u"CANCEL", u"#comment", u"OK"}));
  auto cancel = At(*root, {0});
  EXPECT_EQ(NamesOf(*cancel), (Names{u"GERMAN"}));
  auto german = At(*cancel, {0});
  EXPECT_EQ(NamesOf(*german), (Names{u"#text"}));
  EXPECT_EQ(TextOf(*At(*german, {0})), u"Abbrechen");
  EXPECT_EQ(TextOf(*german), u"Abbrechen");

  auto ok = At(*root, {2});
  EXPECT_TRUE(SUCCEEDED(ok->HasChildNodes(&has)));
  EXPECT_FALSE(has);
  EXPECT_TRUE(Children(*ok).empty());
  EXPECT_EQ(TextOf(*ok), u"");
}

TEST_F(XmlContract, NamesKeepTheirCase) {
  auto document = Parse("case.xml",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                        "<Language-Strings><cancel><German>x</German></cancel></Language-Strings>");
  ASSERT_TRUE(document);
  EXPECT_EQ(NamesOf(*document), (Names{u"xml", u"Language-Strings"}));
  EXPECT_EQ(NameOf(*At(*document, {1, 0})), u"cancel");
  EXPECT_EQ(NameOf(*At(*document, {1, 0, 0})), u"German");
}

TEST_F(XmlContract, TextIsTheDescendantTextJoinedAndTrimmed) {
  auto document = Parse("text.xml",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                        "<r>\n"
                        "  <a>\n      padded text\n  </a>\n"
                        "  <b>Hello <i>big</i> world</b>\n"
                        "  <c><![CDATA[x < y]]></c>\n"
                        "  <d>one<!-- not text -->two</d>\n"
                        "  <e>&amp;&lt;&#233;&#x20AC;</e>\n"
                        "  <f></f>\n"
                        "</r>\n");
  ASSERT_TRUE(document);
  auto root = At(*document, {1});
  ASSERT_TRUE(root);
  EXPECT_EQ(NamesOf(*root), (Names{u"a", u"b", u"c", u"d", u"e", u"f"}));
  EXPECT_EQ(TextOf(*At(*root, {0})), u"padded text");
  EXPECT_EQ(TextOf(*At(*root, {1})), u"Hello big world");
  EXPECT_EQ(NamesOf(*At(*root, {1})), (Names{u"#text", u"i", u"#text"}));
  EXPECT_EQ(NamesOf(*At(*root, {2})), (Names{u"#cdata-section"}));
  EXPECT_EQ(TextOf(*At(*root, {2})), u"x < y");
  EXPECT_EQ(NamesOf(*At(*root, {3})), (Names{u"#text", u"#comment", u"#text"}));
  EXPECT_EQ(TextOf(*At(*root, {3})), u"onetwo");
  EXPECT_EQ(TextOf(*At(*root, {4})), u"&<\u00E9\u20AC");
  EXPECT_EQ(TextOf(*At(*root, {5})), u"");
}

TEST_F(XmlContract, Utf8WithAndWithoutByteOrderMark) {
  const std::string text = "Fran\xC3\xA7" "ais \xE7\xB6\x9A\xE8\xA1\x8C";  // "Français 続行"
  for (const std::string& bom : {std::string(), std::string("\xEF\xBB\xBF")}) {
    auto document = Parse("utf8.xml",
                          bom + Translated("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", text));
    ASSERT_TRUE(document);
    EXPECT_EQ(TranslationText(*document), u"Fran\u00E7ais \u7D9A\u884C");
  }
}

TEST_F(XmlContract, Utf16InBothByteOrders) {
  const std::u16string text =
      u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<language-strings><PROCEED>"
      u"<X>Portugu\u00EAs \u30AB\u30E1\u30E9</X></PROCEED></language-strings>\r\n";
  auto little = Parse("utf16le.xml", Utf16Le(text));
  ASSERT_TRUE(little);
  EXPECT_EQ(TranslationText(*little), u"Portugu\u00EAs \u30AB\u30E1\u30E9");
  auto big = Parse("utf16be.xml", Utf16Be(text));
  ASSERT_TRUE(big);
  EXPECT_EQ(TranslationText(*big), u"Portugu\u00EAs \u30AB\u30E1\u30E9");
}

TEST_F(XmlContract, SingleByteEncodings) {
  // windows-1252 has the euro sign at 0x80, where ISO-8859-1 has a control character.
  auto western = Parse("cp1252.xml",
                       Translated("<?xml version=\"1.0\" encoding=\"windows-1252\"?>",
                                  "Espa\xF1ol \x80 5"));
  ASSERT_TRUE(western);
  EXPECT_EQ(TranslationText(*western), u"Espa\u00F1ol \u20AC 5");

  auto latin1 = Parse("latin1.xml", Translated("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
                                               "Fran\xE7" "ais"));
  ASSERT_TRUE(latin1);
  EXPECT_EQ(TranslationText(*latin1), u"Fran\u00E7ais");
}

TEST_F(XmlContract, ShiftJisEncoding) {
  // MSXML reads Shift_JIS; Wine's msxml3 has no converter for it.
  if (!contract_->simulated()) GTEST_SKIP() << "Wine's msxml3 cannot read Shift_JIS";
  auto japanese = Parse("sjis.xml", Translated("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>",
                                               "\x91\xB1\x8D\x73 \x83\x4A\x83\x81\x83\x89"));
  ASSERT_TRUE(japanese);
  EXPECT_EQ(TranslationText(*japanese), u"\u7D9A\u884C \u30AB\u30E1\u30E9");
}

TEST_F(XmlContract, MissingEmptyOrIllFormedFilesDoNotLoadButTheCallSucceeds) {
  bool success = true;
  HRESULT hr = E_FAIL;
  auto missing = LoadPath(PathOf("no-such-file.xml"), &success, &hr);
  EXPECT_FALSE(FAILED(hr));
  EXPECT_FALSE(success);
  EXPECT_NE(missing->LastParseError(), 0);

  for (const std::string& bytes :
       {std::string(), std::string("<language-strings><CANCEL></language-strings>"),
        std::string("<a/><b/>"), std::string("<?xml version=\"1.0\"?><a>&undefined;</a>")}) {
    success = true;
    auto document = Load("bad.xml", bytes, &success, &hr);
    EXPECT_FALSE(FAILED(hr)) << bytes;
    EXPECT_FALSE(success) << bytes;
    EXPECT_NE(document->LastParseError(), 0) << bytes;
  }
}

TEST_F(XmlContract, ADocumentCanLoadAgainAfterAFailure) {
  bool success = true;
  auto document = Load("again.xml", "<broken>", &success);
  ASSERT_TRUE(document);
  EXPECT_FALSE(success);
  machine().files().WriteFile(contract_->scratchDir() + "\\again.xml",
                              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><fixed/>");
  EXPECT_EQ(document->Load(PathOf("again.xml"), &success), S_OK);
  EXPECT_TRUE(success);
  std::unique_ptr<XmlNode> node;
  ASSERT_EQ(document->QueryNode(&node), S_OK);
  EXPECT_EQ(NamesOf(*node), (Names{u"xml", u"fixed"}));
}

TEST_F(XmlContract, LanguageTableComesOutTheSameThroughEitherParser) {
  const std::string file =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- texts of the setup -->\r\n"
      "<language-strings>\r\n"
      "  <cancel>\r\n"
      "    <German>Abbrechen</German>\r\n"
      "    <ENGLISH_US>Cancel</ENGLISH_US>\r\n"
      "  </cancel>\r\n"
      "  <!-- the buttons -->\r\n"
      "  <CANCEL>\r\n"
      "    <ENGLISH_US>  Stop  </ENGLISH_US>\r\n"
      "  </CANCEL>\r\n"
      "  <OK><GERMAN/><ENGLISH_US>OK</ENGLISH_US><FRENCH>D'accord</FRENCH>"
      "<french>Valider</french></OK>\r\n"
      "  <PROCEED><SPANISH>S\xC3\xAD, contin\xC3\xBA" "a</SPANISH></PROCEED>\r\n"
      "</language-strings>\r\n";
  const std::string path = contract_->scratchDir() + "\\SetupLanguages.xml";
  ASSERT_EQ(machine().files().WriteFile(path, file), static_cast<DWORD>(ERROR_SUCCESS));
  CLanguageStrings strings(machine().environment());
  EXPECT_TRUE(SUCCEEDED(strings.Load(machine().xml(), path)));

  std::vector<std::u16string> keys;
  for (const auto& entry : strings.keys()) keys.push_back(entry.first);
  EXPECT_EQ(keys, (Names{u"#COMMENT", u"CANCEL", u"OK", u"PROCEED"}));
  EXPECT_EQ(*strings.LookupText(CANCEL, 1031), u"Stop");
  EXPECT_EQ(*strings.LookupText(OK, 1031), u"");
  EXPECT_EQ(*strings.LookupText(OK, 1036), u"Valider");
  EXPECT_EQ(*strings.LookupText(OK, 1040), u"OK");
  EXPECT_EQ(*strings.LookupText(PROCEED, 1034), u"S\u00ED, contin\u00FAa");
  EXPECT_EQ(*strings.LookupText(PROCEED, 1033), u"String not found!!!");
}
