#include "lang/language_strings.h"

#include <cstdarg>
#include <cstdio>
#include <memory>

const char* const kStringKeys[kStringKeyCount] = {
    "ABORTINSTALL",       "ABORTINSTALLHELP",   "ANALYSISCOMPLETE",
    "ANALYZE",            "ANALYZEERROR",       "ANALYZEHELP",
    "CAMSTILLON",         "CANCEL",             "CANTREBOOT",
    "CANTREBOOTHELP",     "CHECKDIRECTX",       "CHECKDISKSPACE",
    "CHECKMDAC",          "CHECKMEDIAPLAYER",   "CHECKMSI",
    "CHECKNETMEETING",    "CHECKOSVER",         "CHECKPREREQS",
    "CHECKPREREQSHELP",   "CHECKPROC",          "CHECKRAM",
    "CHECKRT",            "CHECKTEMPDIR",       "CHECKTEMPDIRHELP",
    "CHECKZENTAVO",       "CHECKVIDEO",         "CHECKXML",
    "CLEANUP",            "COMPLETE",           "COMPLETEHELP",
    "CONFIRMCAMOFF",      "CONFIRMCAMOFFHELP",  "INITERROR",
    "INSTALLMSI",         "INSTALLMSIHELP",     "INSUFFREQS",
    "INSUFFSERVPACK",     "INSUFFSYSTEM",       "LAUNCHSETUP",
    "LAUNCHSETUPHELP",    "MEDIAPLAYERINSTALL", "MEDIAPLAYERINSTALLHELP",
    "OK",                 "PREPUPGRADE",        "PREPUPGRADEHELP",
    "PRESERVEDATA",       "PRESERVEDATAHELP",   "PROCEED",
    "REBOOT",             "REBOOTFINISHEDABORT", "REBOOTFINISHEDHELP",
    "REBOOTHELP",         "REMOVEVIEWONLY",     "REMOVEVIEWONLYHELP",
    "REMSTRTUPLINK",      "REMSTRTUPLINKHELP",  "RESTOREDATA",
    "RESTOREDATAHELP",    "RUNTIMEINSTALL",     "RUNTIMEINSTALLHELP",
    "SHUTDOWNCANCEL",     "SHUTDOWNZT",         "SHUTDOWNZTHELP",
    "TRYAGAIN",           "TURNCAMOFFMSG",      "TURNOFFCAM",
    "ZTRUNNING",          "ZTRUNNINGHELP",      "WELCOME",
    "WELCOMEHELP1",       "WELCOMEHELP2",       "WELCOMEMSG",
    "WELCOMESUB1",        "WELCOMESUB2",        "WELCOMEUPGRADE",
    "WELCOMEUPGRADE2",    "WELCOMEUPGRADEHELP", "WELCOMEUPGRADEHELP2",
    "WRONGPACKAGE",
};

namespace {

const std::u16string kMarker = u"String not found!!!";
const char16_t kRootName[] = u"language-strings";
const char kFileName[] = "\\SetupLanguages.xml";

// The value for a "[0x%lx]" slot: the code as its eight hexadecimal digits.
unsigned long Hex(HRESULT hr) { return static_cast<unsigned long>(static_cast<ULONG>(hr)); }

// A call that claims success but hands back nothing counts as a failure.
template <typename T>
HRESULT Checked(HRESULT hr, const std::unique_ptr<T>& result) {
  if (SUCCEEDED(hr) && !result) return E_POINTER;
  return hr;
}

}  // namespace

void CLanguageStrings::Report(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  fputs(buffer, stdout);
  fflush(stdout);
}

// Creates a DOM document, loads the file and walks the top-level nodes; the
// children of the root "language-strings" are the entries. Every failure of
// the walk is reported on the standard output; entries stored before a
// failure stay in the table.
HRESULT CLanguageStrings::Load(Xml& xml, const std::string& path) {
  upperCaseNames_.clear();
  std::unique_ptr<XmlDocument> document;
  HRESULT hr = Checked(xml.CreateDocument(&document), document);
  if (FAILED(hr)) {
    Report("CoCreateInstance failed [0x%lx].\n", Hex(hr));
    return E_FAIL;
  }
  std::unique_ptr<XmlNode> documentNode;
  hr = Checked(document->QueryNode(&documentNode), documentNode);
  if (FAILED(hr)) {
    Report("QueryInterface failed [0x%lx].\n", Hex(hr));
    return hr;
  }

  std::u16string widePath;
  bool loaded = false;
  hr = environment_.AnsiToWide(path, &widePath) ? document->Load(widePath, &loaded)
                                                : E_INVALIDARG;
  if (FAILED(hr)) {
    Report("IXMLDOMDocument::load() failed [0x%lx].\n", Hex(hr));
    return hr;
  }
  if (!loaded) {
    Report("IXMLDOMDocument::load() failed.\n");
    return E_FAIL;
  }

  bool hasChildren = false;
  hr = documentNode->HasChildNodes(&hasChildren);
  if (FAILED(hr)) {
    Report("IXMLDOMNode::hasChildNodes() failed [0x%lx].\n", Hex(hr));
    return hr;
  }
  std::unique_ptr<XmlNodeList> topLevel;
  hr = Checked(documentNode->GetChildNodes(&topLevel), topLevel);
  if (FAILED(hr)) {
    Report("IXMLDOMNode::get_childNodes() failed [0x%lx].\n", Hex(hr));
    return hr;
  }

  for (;;) {
    std::unique_ptr<XmlNode> node;
    hr = topLevel->NextNode(&node);
    if (FAILED(hr)) {
      Report("IXMLDOMNodeList::nextNode() failed [0x%lx].\n", Hex(hr));
      return hr;
    }
    if (!node) break;
    std::u16string name;
    HRESULT nameResult = node->GetNodeName(&name);
    if (FAILED(nameResult)) {
      Report("IXMLDOMNode::get_nodeName() failed [0x%lx].\n", Hex(nameResult));
      return nameResult;
    }
    if (name != kRootName) continue;
    std::unique_ptr<XmlNodeList> entries;
    HRESULT listResult = Checked(node->GetChildNodes(&entries), entries);
    if (FAILED(listResult)) {
      Report("IXMLDOMNode::get_childNodes() failed [0x%lx].\n", Hex(listResult));
      return listResult;
    }
    ReadEntries(*entries);
  }
  return hr;
}

// Stores each child of the root under its upper-cased name; a later entry of
// the same name replaces the earlier one whole. An entry whose translations
// cannot all be listed is left out; a failing list ends the reading.
void CLanguageStrings::ReadEntries(XmlNodeList& entries) {
  for (;;) {
    std::unique_ptr<XmlNode> entry;
    HRESULT hr = entries.NextNode(&entry);
    if (FAILED(hr)) {
      Report("IXMLDOMNodeList::nextNode() failed [0x%lx].\n", Hex(hr));
      return;
    }
    if (!entry) return;
    std::u16string name;
    hr = entry->GetNodeName(&name);
    if (FAILED(hr)) {
      Report("IXMLDOMNode::get_nodeName() failed [0x%lx].\n", Hex(hr));
      return;
    }
    LanguageMap languages;
    if (!ReadTranslations(*entry, &languages)) continue;
    keys_[UpperCaseName(name)] = std::move(languages);
  }
}

// Reads each child of an entry as one translation: its upper-cased name and
// its text. A child whose name or text cannot be read is skipped; a failing
// list fails the entry.
bool CLanguageStrings::ReadTranslations(XmlNode& entry, LanguageMap* languages) {
  std::unique_ptr<XmlNodeList> children;
  HRESULT hr = Checked(entry.GetChildNodes(&children), children);
  if (FAILED(hr)) {
    Report("IXMLDOMNode::get_childNodes() failed [0x%lx].\n", Hex(hr));
    return false;
  }
  for (;;) {
    std::unique_ptr<XmlNode> child;
    hr = children->NextNode(&child);
    if (FAILED(hr)) {
      Report("IXMLDOMNodeList::nextNode() failed [0x%lx].\n", Hex(hr));
      return false;
    }
    if (!child) return true;
    std::u16string name;
    hr = child->GetNodeName(&name);
    if (FAILED(hr)) {
      Report("IXMLDOMNode::get_nodeName() failed [0x%lx].\n", Hex(hr));
      continue;
    }
    std::u16string text;
    hr = child->GetText(&text);
    if (FAILED(hr)) {
      Report("IXMLDOMNode::get_text() failed [0x%lx].\n", Hex(hr));
      continue;
    }
    (*languages)[UpperCaseName(name)] = std::move(text);
  }
}

// Upper-cases a name the way the system does for ANSI text: through the ANSI
// code page and CharUpperA. A name that does not survive the round trip is
// kept as it was read.
std::u16string CLanguageStrings::UpperCaseName(const std::u16string& name) const {
  auto known = upperCaseNames_.find(name);
  if (known != upperCaseNames_.end()) return known->second;
  std::string narrow;
  if (!environment_.WideToAnsi(name, &narrow) || narrow.empty()) return name;
  environment_.CharUpper(&narrow);
  std::u16string upper;
  if (!environment_.AnsiToWide(narrow, &upper) || upper.empty()) return name;
  // Only a name that made the round trip is kept: a failed conversion is
  // tried again for the next entry, as it was without the memo.
  upperCaseNames_.emplace(name, upper);
  return upper;
}

const std::u16string* CLanguageStrings::LookupText(int stringId, int languageId) const {
  if (static_cast<unsigned>(stringId) > static_cast<unsigned>(kStringKeyCount - 1)) return nullptr;
  std::u16string key;
  if (!environment_.AnsiToWide(kStringKeys[stringId], &key)) return &kMarker;
  auto entry = keys_.find(key);
  if (entry == keys_.end()) return &kMarker;
  std::u16string language;
  if (environment_.AnsiToWide(LanguageKeyName(languageId), &language)) {
    auto text = entry->second.find(language);
    if (text != entry->second.end()) return &text->second;
  }
  auto english = entry->second.find(u"ENGLISH_US");
  if (english != entry->second.end()) return &english->second;
  return &kMarker;
}

std::string CLanguageStrings::GetText(int stringId, int languageId) const {
  const std::u16string* text = LookupText(stringId, languageId);
  std::string narrow;
  if (text && !environment_.WideToAnsi(*text, &narrow)) narrow.clear();
  return narrow;
}

std::string CLanguageStrings::GetText(int stringId) const {
  return GetText(stringId, currentLanguage_ ? *currentLanguage_ : 0);
}

void LoadLanguageFile(CLanguageStrings& strings, Machine& machine, CInstallLog& log) {
  std::string path = GetSetupDirectory(machine.environment()) + kFileName;
  if (path.size() >= MAX_PATH) {
    log.Log("language file path too long: %s\n", path.c_str());
    log.Log("could not load language file\n");
    return;
  }
  log.Log("loading %s\n", path.c_str());
  if (FAILED(strings.Load(machine.xml(), path))) log.Log("could not load language file\n");
}
