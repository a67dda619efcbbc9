#include "platform/sim/sim_xml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstring>
#include <vector>

namespace {

// libxml2 hands out UTF-8; the DOM speaks UTF-16.
std::u16string Utf8ToUtf16(const char* text) {
  std::u16string out;
  if (!text) return out;
  // Never more UTF-16 units than UTF-8 bytes: a pair of surrogates comes
  // from four bytes. The units are written in place and the rest cut off.
  out.resize(strlen(text));
  size_t units = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    char32_t c = *p;
    int extra = 0;
    if (c >= 0xF0) {
      c &= 0x07;
      extra = 3;
    } else if (c >= 0xE0) {
      c &= 0x0F;
      extra = 2;
    } else if (c >= 0xC0) {
      c &= 0x1F;
      extra = 1;
    }
    ++p;
    for (int i = 0; i < extra && (*p & 0xC0) == 0x80; ++i, ++p) c = (c << 6) | (*p & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      out[units++] = static_cast<char16_t>(0xD800 + (c >> 10));
      out[units++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out[units++] = static_cast<char16_t>(c);
    }
  }
  out.resize(units);
  return out;
}

std::u16string Utf8ToUtf16(const xmlChar* text) {
  return Utf8ToUtf16(reinterpret_cast<const char*>(text));
}

bool IsXmlSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool IsBlank(const xmlChar* text) {
  if (!text) return true;
  for (; *text; ++text) {
    if (!IsXmlSpace(static_cast<char16_t>(*text))) return false;
  }
  return true;
}

// White space is kept where xml:space="preserve" is in force, as MSXML does
// with preserveWhiteSpace left at its default (false).
bool PreservesSpace(xmlNodePtr node) {
  xmlNodePtr scope = node->type == XML_ELEMENT_NODE ? node : node->parent;
  return scope && scope->type == XML_ELEMENT_NODE && xmlNodeGetSpacePreserve(scope) == 1;
}

// A node that MSXML leaves out of the tree: white-space-only text outside a
// preserving scope.
bool IsDroppedNode(xmlNodePtr node) {
  return node->type == XML_TEXT_NODE && IsBlank(node->content) && !PreservesSpace(node);
}

// The first child of a node as the DOM sees it: an entity reference's
// children are those of the entity it names.
xmlNodePtr FirstChild(xmlNodePtr node) {
  if (node->type != XML_ENTITY_REF_NODE) return node->children;
  xmlNodePtr entity = node->children;
  return entity && entity->type == XML_ENTITY_DECL ? entity->children : nullptr;
}

struct TextPiece {
  std::u16string text;
  bool cdata;
};

void CollectText(xmlNodePtr node, std::vector<TextPiece>* pieces) {
  for (xmlNodePtr child = FirstChild(node); child; child = child->next) {
    switch (child->type) {
      case XML_TEXT_NODE:
        if (!IsDroppedNode(child)) pieces->push_back({Utf8ToUtf16(child->content), false});
        break;
      case XML_CDATA_SECTION_NODE:
        pieces->push_back({Utf8ToUtf16(child->content), true});
        break;
      case XML_ELEMENT_NODE:
      case XML_ENTITY_REF_NODE:
        CollectText(child, pieces);
        break;
      default:  // comments and processing instructions are not part of the text
        break;
    }
  }
}

// MSXML's `text`: the pieces joined, with the surrounding white space of the
// text nodes trimmed (CDATA content is kept as it is).
std::u16string JoinTrimmed(std::vector<TextPiece> pieces, bool trim) {
  if (trim) {
    for (auto& piece : pieces) {
      if (piece.cdata) break;
      size_t start = 0;
      while (start < piece.text.size() && IsXmlSpace(piece.text[start])) ++start;
      piece.text.erase(0, start);
      if (!piece.text.empty()) break;
    }
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
      if (it->cdata) break;
      size_t end = it->text.size();
      while (end > 0 && IsXmlSpace(it->text[end - 1])) --end;
      it->text.resize(end);
      if (!it->text.empty()) break;
    }
  }
  if (pieces.size() == 1) return std::move(pieces.front().text);
  std::u16string out;
  for (const auto& piece : pieces) out += piece.text;
  return out;
}

using DocPtr = std::shared_ptr<xmlDoc>;

// What a document object holds; shared with its node interface, which (like
// the COM object it stands for) sees whatever the document loaded last.
struct DocumentState {
  DocPtr doc;
  std::u16string declaration;  // the XML declaration's content; empty when none
  bool hasDeclaration = false;
  long lastError = 0;
};

class SimXmlNode;

// A snapshot of a node's children as MSXML lists them.
class SimXmlNodeList : public XmlNodeList {
 public:
  explicit SimXmlNodeList(std::vector<std::unique_ptr<XmlNode>> nodes)
      : nodes_(std::move(nodes)) {}
  HRESULT NextNode(std::unique_ptr<XmlNode>* node) override {
    if (!node) return E_POINTER;
    if (next_ >= nodes_.size()) {
      node->reset();
      return S_FALSE;
    }
    *node = std::move(nodes_[next_++]);
    return S_OK;
  }

 private:
  std::vector<std::unique_ptr<XmlNode>> nodes_;
  size_t next_ = 0;
};

// The XML declaration, which MSXML reports as a processing instruction "xml".
class DeclarationNode : public XmlNode {
 public:
  explicit DeclarationNode(std::u16string content) : content_(std::move(content)) {}
  HRESULT GetNodeName(std::u16string* name) override {
    if (!name) return E_INVALIDARG;
    *name = u"xml";
    return S_OK;
  }
  HRESULT GetText(std::u16string* text) override {
    if (!text) return E_INVALIDARG;
    *text = content_;
    return S_OK;
  }
  HRESULT HasChildNodes(bool* has) override {
    if (!has) return E_INVALIDARG;
    *has = false;
    return S_FALSE;
  }
  HRESULT GetChildNodes(std::unique_ptr<XmlNodeList>* list) override {
    if (!list) return E_INVALIDARG;
    *list = std::make_unique<SimXmlNodeList>(std::vector<std::unique_ptr<XmlNode>>());
    return S_OK;
  }

 private:
  std::u16string content_;
};

// One libxml2 node; keeps its document alive.
class SimXmlNode : public XmlNode {
 public:
  SimXmlNode(DocPtr doc, xmlNodePtr node) : doc_(std::move(doc)), node_(node) {}

  HRESULT GetNodeName(std::u16string* name) override {
    if (!name) return E_INVALIDARG;
    switch (node_->type) {
      case XML_TEXT_NODE: *name = u"#text"; break;
      case XML_CDATA_SECTION_NODE: *name = u"#cdata-section"; break;
      case XML_COMMENT_NODE: *name = u"#comment"; break;
      case XML_DOCUMENT_NODE: *name = u"#document"; break;
      case XML_DOCUMENT_FRAG_NODE: *name = u"#document-fragment"; break;
      case XML_ELEMENT_NODE:
        if (node_->ns && node_->ns->prefix) {
          *name = Utf8ToUtf16(node_->ns->prefix) + u":" + Utf8ToUtf16(node_->name);
        } else {
          *name = Utf8ToUtf16(node_->name);
        }
        break;
      default:  // processing instructions (the target), entity references, the doctype
        *name = Utf8ToUtf16(node_->name);
        break;
    }
    return S_OK;
  }

  HRESULT GetText(std::u16string* text) override {
    if (!text) return E_INVALIDARG;
    std::vector<TextPiece> pieces;
    switch (node_->type) {
      case XML_ELEMENT_NODE:
      case XML_ENTITY_REF_NODE:
        CollectText(node_, &pieces);
        break;
      case XML_TEXT_NODE:
        pieces.push_back({Utf8ToUtf16(node_->content), false});
        break;
      case XML_CDATA_SECTION_NODE:
        pieces.push_back({Utf8ToUtf16(node_->content), true});
        break;
      case XML_COMMENT_NODE:
      case XML_PI_NODE:
        pieces.push_back({Utf8ToUtf16(node_->content), false});
        break;
      default:
        break;
    }
    *text = JoinTrimmed(std::move(pieces), !PreservesSpace(node_));
    return S_OK;
  }

  HRESULT HasChildNodes(bool* has) override {
    if (!has) return E_INVALIDARG;
    *has = false;
    if (HasChildList()) {
      for (xmlNodePtr child = FirstChild(node_); child; child = child->next) {
        if (!IsDroppedNode(child)) *has = true;
      }
    }
    return *has ? S_OK : S_FALSE;
  }

  HRESULT GetChildNodes(std::unique_ptr<XmlNodeList>* list) override {
    if (!list) return E_INVALIDARG;
    std::vector<std::unique_ptr<XmlNode>> nodes;
    if (HasChildList()) {
      for (xmlNodePtr child = FirstChild(node_); child; child = child->next) {
        if (!IsDroppedNode(child)) nodes.push_back(std::make_unique<SimXmlNode>(doc_, child));
      }
    }
    *list = std::make_unique<SimXmlNodeList>(std::move(nodes));
    return S_OK;
  }

 private:
  bool HasChildList() const {
    return node_->type == XML_ELEMENT_NODE || node_->type == XML_ENTITY_REF_NODE;
  }

  DocPtr doc_;
  xmlNodePtr node_;
};

// The document as a node: its children are the declaration (when the file
// has one) and the top-level nodes in document order.
class DocumentNode : public XmlNode {
 public:
  explicit DocumentNode(std::shared_ptr<DocumentState> state) : state_(std::move(state)) {}

  HRESULT GetNodeName(std::u16string* name) override {
    if (!name) return E_INVALIDARG;
    *name = u"#document";
    return S_OK;
  }
  HRESULT GetText(std::u16string* text) override {
    if (!text) return E_INVALIDARG;
    std::vector<TextPiece> pieces;
    if (state_->doc) {
      for (xmlNodePtr child = state_->doc->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) CollectText(child, &pieces);
      }
    }
    *text = JoinTrimmed(std::move(pieces), true);
    return S_OK;
  }
  HRESULT HasChildNodes(bool* has) override {
    if (!has) return E_INVALIDARG;
    *has = state_->hasDeclaration || (state_->doc && state_->doc->children);
    return *has ? S_OK : S_FALSE;
  }
  HRESULT GetChildNodes(std::unique_ptr<XmlNodeList>* list) override {
    if (!list) return E_INVALIDARG;
    std::vector<std::unique_ptr<XmlNode>> nodes;
    if (state_->hasDeclaration) nodes.push_back(std::make_unique<DeclarationNode>(state_->declaration));
    if (state_->doc) {
      for (xmlNodePtr child = state_->doc->children; child; child = child->next) {
        if (!IsDroppedNode(child)) nodes.push_back(std::make_unique<SimXmlNode>(state_->doc, child));
      }
    }
    *list = std::make_unique<SimXmlNodeList>(std::move(nodes));
    return S_OK;
  }

 private:
  std::shared_ptr<DocumentState> state_;
};

// The text between "<?xml" and "?>" of a file that starts with a declaration,
// read in the byte form the file starts with (the declaration is ASCII).
bool ReadDeclaration(const std::string& bytes, std::u16string* content) {
  size_t start = 0;
  size_t step = 1;
  size_t offset = 0;  // where the ASCII byte sits inside a UTF-16 unit
  auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    start = 3;
  } else if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
    start = 2, step = 2, offset = 0;
  } else if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
    start = 2, step = 2, offset = 1;
  } else if (bytes.size() >= 2 && at(0) == '<' && at(1) == 0) {
    step = 2, offset = 0;
  } else if (bytes.size() >= 2 && at(0) == 0 && at(1) == '<') {
    step = 2, offset = 1;
  }
  std::u16string text;
  for (size_t i = start; i + step <= bytes.size(); i += step) {
    unsigned char c = at(i + offset);
    if (step == 2 && at(i + 1 - offset) != 0) break;
    text.push_back(static_cast<char16_t>(c));
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, u"?>") == 0) break;
  }
  if (text.size() < 8 || text.compare(0, 5, u"<?xml") != 0 || !IsXmlSpace(text[5]) ||
      text.compare(text.size() - 2, 2, u"?>") != 0) {
    return false;
  }
  std::u16string inner = text.substr(5, text.size() - 7);
  size_t first = 0;
  while (first < inner.size() && IsXmlSpace(inner[first])) ++first;
  size_t last = inner.size();
  while (last > first && IsXmlSpace(inner[last - 1])) --last;
  *content = inner.substr(first, last - first);
  return true;
}

class SimXmlDocument : public XmlDocument {
 public:
  SimXmlDocument(FileSystem& files, Environment& environment)
      : files_(files), environment_(environment), state_(std::make_shared<DocumentState>()) {}

  HRESULT QueryNode(std::unique_ptr<XmlNode>* node) override {
    if (!node) return E_POINTER;
    *node = std::make_unique<DocumentNode>(state_);
    return S_OK;
  }

  // A file that is missing, unreadable or not well-formed gives S_FALSE and
  // no success, as MSXML's load does; the parser's error code is kept.
  HRESULT Load(const std::u16string& path, bool* success) override {
    if (!success) return E_INVALIDARG;
    *success = false;
    state_->doc.reset();
    state_->hasDeclaration = false;
    state_->declaration.clear();
    state_->lastError = 0;

    std::string ansiPath;
    if (!environment_.WideToAnsi(path, &ansiPath)) return E_INVALIDARG;
    std::string bytes;
    DWORD error = files_.ReadFile(ansiPath, &bytes);
    if (error != ERROR_SUCCESS) {
      state_->lastError = HRESULT_FROM_WIN32(error);
      return S_FALSE;
    }

    if (bytes.size() > static_cast<size_t>(INT_MAX)) {
      state_->lastError = XML_ERR_NO_MEMORY;
      return S_FALSE;
    }
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context) return E_OUTOFMEMORY;
    // Entities stay references (as MSXML keeps them) and nothing outside the
    // file is ever read: no network, no external DTD or entity.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDocPtr doc = xmlCtxtReadMemory(context, bytes.data(), static_cast<int>(bytes.size()),
                                      nullptr, nullptr, options);
    // MSXML is namespace-aware: an undeclared prefix makes the file ill-formed.
    bool wellFormed = doc && context->wellFormed && context->nsWellFormed;
    xmlErrorPtr parseError = xmlCtxtGetLastError(context);
    long code = parseError ? parseError->code : 0;
    xmlFreeParserCtxt(context);
    if (!wellFormed) {
      if (doc) xmlFreeDoc(doc);
      state_->lastError = code != 0 ? code : static_cast<long>(XML_ERR_DOCUMENT_END);
      return S_FALSE;
    }
    state_->doc = DocPtr(doc, xmlFreeDoc);
    state_->hasDeclaration = ReadDeclaration(bytes, &state_->declaration);
    *success = true;
    return S_OK;
  }

  long LastParseError() override { return state_->lastError; }

 private:
  FileSystem& files_;
  Environment& environment_;
  std::shared_ptr<DocumentState> state_;
};

class SimXml : public Xml {
 public:
  SimXml(FileSystem& files, Environment& environment) : files_(files), environment_(environment) {}
  HRESULT CreateDocument(std::unique_ptr<XmlDocument>* document) override {
    if (!document) return E_POINTER;
    *document = std::make_unique<SimXmlDocument>(files_, environment_);
    return S_OK;
  }

 private:
  FileSystem& files_;
  Environment& environment_;
};

}  // namespace

std::unique_ptr<Xml> NewSimXml(FileSystem& files, Environment& environment) {
  return std::make_unique<SimXml>(files, environment);
}
