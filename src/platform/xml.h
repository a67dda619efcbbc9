// The XML service: the DOM that the language table is read from. On Windows
// it is MSXML 3 through COM; in the simulation a parser made to give the same
// tree. Every call returns an HRESULT, as the DOM interfaces do.
#pragma once

#include <memory>
#include <string>

#include "platform/wintypes.h"

class XmlNodeList;

class XmlNode {
 public:
  virtual ~XmlNode() = default;
  // DOM node names: element names, "#text", "#comment", "#cdata-section", "xml" ...
  virtual HRESULT GetNodeName(std::u16string* name) = 0;
  // MSXML's `text`: descendant text joined, surrounding white space trimmed.
  virtual HRESULT GetText(std::u16string* text) = 0;
  virtual HRESULT HasChildNodes(bool* has) = 0;
  virtual HRESULT GetChildNodes(std::unique_ptr<XmlNodeList>* list) = 0;
};

class XmlNodeList {
 public:
  virtual ~XmlNodeList() = default;
  // The next node in document order; S_FALSE and a null node at the end.
  virtual HRESULT NextNode(std::unique_ptr<XmlNode>* node) = 0;
};

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;
  // QueryInterface for IXMLDOMNode.
  virtual HRESULT QueryNode(std::unique_ptr<XmlNode>* node) = 0;
  // IXMLDOMDocument::load with the path as a string variant.
  virtual HRESULT Load(const std::u16string& path, bool* success) = 0;
  // The parser's own error code of the last failed load (0 when none).
  virtual long LastParseError() = 0;
};

class Xml {
 public:
  virtual ~Xml() = default;
  // CoCreateInstance of the DOM document class for IXMLDOMDocument.
  virtual HRESULT CreateDocument(std::unique_ptr<XmlDocument>* document) = 0;
};
