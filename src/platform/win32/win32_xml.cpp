// The XML DOM of MSXML 3 through COM: the document class by its CLSID as an
// in-process server, IXMLDOMDocument::load with the path as a string variant,
// and the node and node-list interfaces as they are. COM is initialised by the
// caller.
//
// The version-independent document class is registered by Internet Explorer 5
// and later, and by MSXML 3 in replace mode; beside Internet Explorer 4.x an
// MSXML 3 installed side by side registers only its own classes, so MSXML 3's
// document class is tried when the first cannot be created.
#include "platform/wintypes.h"

#include <ole2.h>
#include <msxml2.h>

#include <vector>

#include "platform/win32/unique_any.h"
#include "platform/win32/win32_services.h"

namespace win32 {
namespace {

// {2933BF90-7B36-11D2-B20E-00C04F983E60}: the DOM document class.
const CLSID kDomDocumentClass = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// {F5078F32-C551-11D3-89B9-0000F81FE221}: MSXML 3's own DOM document class.
const CLSID kDomDocument30Class = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
// {2933BF81-7B36-11D2-B20E-00C04F983E60}: IXMLDOMDocument.
const IID kDomDocumentInterface = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// {2933BF80-7B36-11D2-B20E-00C04F983E60}: IXMLDOMNode.
const IID kDomNodeInterface = {
    0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

std::u16string FromBstr(BSTR text) {
  if (!text) return std::u16string();
  const wchar_t* units = text;
  return std::u16string(units, units + ::SysStringLen(text));
}

// Hands a BSTR out-parameter's text to the caller and frees the BSTR.
template <typename Get>
HRESULT GetString(Get get, std::u16string* text) {
  UniqueBstr value;
  HRESULT hr = get(value.put());
  if (SUCCEEDED(hr)) *text = FromBstr(value.get());
  return hr;
}

class Win32XmlNode : public XmlNode {
 public:
  explicit Win32XmlNode(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}

  HRESULT GetNodeName(std::u16string* name) override {
    return GetString([this](BSTR* value) { return node_->get_nodeName(value); }, name);
  }

  HRESULT GetText(std::u16string* text) override {
    return GetString([this](BSTR* value) { return node_->get_text(value); }, text);
  }

  HRESULT HasChildNodes(bool* has) override {
    VARIANT_BOOL answer = VARIANT_FALSE;
    HRESULT hr = node_->hasChildNodes(&answer);
    if (SUCCEEDED(hr)) *has = answer != VARIANT_FALSE;
    return hr;
  }

  HRESULT GetChildNodes(std::unique_ptr<XmlNodeList>* list) override;

 private:
  ComPtr<IXMLDOMNode> node_;
};

class Win32XmlNodeList : public XmlNodeList {
 public:
  explicit Win32XmlNodeList(ComPtr<IXMLDOMNodeList> list) : list_(std::move(list)) {}

  HRESULT NextNode(std::unique_ptr<XmlNode>* node) override {
    ComPtr<IXMLDOMNode> next;
    HRESULT hr = list_->nextNode(next.put());
    if (FAILED(hr)) return hr;
    if (next) {
      *node = std::make_unique<Win32XmlNode>(std::move(next));
    } else {
      node->reset();
    }
    return hr;
  }

 private:
  ComPtr<IXMLDOMNodeList> list_;
};

HRESULT Win32XmlNode::GetChildNodes(std::unique_ptr<XmlNodeList>* list) {
  ComPtr<IXMLDOMNodeList> children;
  HRESULT hr = node_->get_childNodes(children.put());
  if (FAILED(hr)) return hr;
  if (!children) return E_POINTER;
  *list = std::make_unique<Win32XmlNodeList>(std::move(children));
  return hr;
}

// The documents alive, linked through themselves: GetDocumentAsync tells one
// of ours from any other document by this list, since setup.exe is built
// without run-time type information (docs/performance.md). The program is
// single-threaded, as its documents are.
class Win32XmlDocument;
Win32XmlDocument* g_liveDocuments = nullptr;

class Win32XmlDocument : public XmlDocument {
 public:
  explicit Win32XmlDocument(ComPtr<IXMLDOMDocument> document)
      : document_(std::move(document)), next_(g_liveDocuments) {
    g_liveDocuments = this;
  }
  ~Win32XmlDocument() override {
    for (Win32XmlDocument** link = &g_liveDocuments; *link; link = &(*link)->next_) {
      if (*link == this) {
        *link = next_;
        break;
      }
    }
  }
  Win32XmlDocument(const Win32XmlDocument&) = delete;
  Win32XmlDocument& operator=(const Win32XmlDocument&) = delete;

  // The live document at this address, or null when it is none of ours.
  static Win32XmlDocument* Find(const XmlDocument* document) {
    for (Win32XmlDocument* live = g_liveDocuments; live; live = live->next_) {
      if (static_cast<const XmlDocument*>(live) == document) return live;
    }
    return nullptr;
  }

  HRESULT QueryNode(std::unique_ptr<XmlNode>* node) override {
    ComPtr<IXMLDOMNode> asNode;
    HRESULT hr =
        document_->QueryInterface(kDomNodeInterface, reinterpret_cast<void**>(asNode.put()));
    if (FAILED(hr)) return hr;
    *node = std::make_unique<Win32XmlNode>(std::move(asNode));
    return hr;
  }

  // A document loads asynchronously by default: `load` may then return
  // before the file has been read, and the walk that follows would find no
  // tree or half of one. A document that refuses a synchronous load is not
  // loaded. The variant borrows the BSTR, which its owner frees after the call.
  HRESULT Load(const std::u16string& path, bool* success) override {
    std::wstring units(path.begin(), path.end());
    UniqueBstr text(::SysAllocStringLen(units.c_str(), static_cast<UINT>(units.size())));
    if (!text) return E_OUTOFMEMORY;
    HRESULT hr = document_->put_async(VARIANT_FALSE);
    if (FAILED(hr)) return hr;
    VARIANT source;
    ::VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = text.get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document_->load(source, &loaded);
    if (SUCCEEDED(hr)) *success = loaded != VARIANT_FALSE;
    return hr;
  }

  long LastParseError() override {
    ComPtr<IXMLDOMParseError> error;
    if (FAILED(document_->get_parseError(error.put())) || !error) return 0;
    long code = 0;
    if (FAILED(error->get_errorCode(&code))) return 0;
    return code;
  }

  HRESULT GetAsync(bool* async) {
    VARIANT_BOOL value = VARIANT_FALSE;
    HRESULT hr = document_->get_async(&value);
    if (SUCCEEDED(hr)) *async = value != VARIANT_FALSE;
    return hr;
  }

 private:
  ComPtr<IXMLDOMDocument> document_;
  Win32XmlDocument* next_;
};

class Win32Xml : public Xml {
 public:
  explicit Win32Xml(std::vector<CLSID> classes) : classes_(std::move(classes)) {}

  // The first class that can be created gives the document; when none can,
  // the first class's failure is the one reported.
  HRESULT CreateDocument(std::unique_ptr<XmlDocument>* document) override {
    HRESULT first = REGDB_E_CLASSNOTREG;
    for (size_t i = 0; i < classes_.size(); ++i) {
      ComPtr<IXMLDOMDocument> created;
      HRESULT hr = ::CoCreateInstance(classes_[i], nullptr, CLSCTX_INPROC_SERVER,
                                      kDomDocumentInterface, reinterpret_cast<void**>(created.put()));
      if (SUCCEEDED(hr) && created) {
        *document = std::make_unique<Win32XmlDocument>(std::move(created));
        return hr;
      }
      if (i == 0) first = FAILED(hr) ? hr : E_POINTER;
    }
    return first;
  }

 private:
  std::vector<CLSID> classes_;
};

}  // namespace

std::unique_ptr<Xml> NewXml() { return NewXml({kDomDocumentClass, kDomDocument30Class}); }

std::unique_ptr<Xml> NewXml(std::vector<CLSID> documentClasses) {
  return std::make_unique<Win32Xml>(std::move(documentClasses));
}

HRESULT GetDocumentAsync(XmlDocument& document, bool* async) {
  Win32XmlDocument* ours = Win32XmlDocument::Find(&document);
  if (!ours) return E_INVALIDARG;
  return ours->GetAsync(async);
}

}  // namespace win32
