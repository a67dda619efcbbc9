// Reading a document through the XML service in tests: a node's children,
// names and text, each call expected to succeed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/xml.h"

using Names = std::vector<std::u16string>;

// The children of `node` in order; the list ends with S_FALSE and no node.
inline std::vector<std::unique_ptr<XmlNode>> Children(XmlNode& node) {
  std::vector<std::unique_ptr<XmlNode>> children;
  std::unique_ptr<XmlNodeList> list;
  EXPECT_EQ(node.GetChildNodes(&list), S_OK);
  if (!list) return children;
  for (;;) {
    std::unique_ptr<XmlNode> child;
    HRESULT hr = list->NextNode(&child);
    EXPECT_TRUE(SUCCEEDED(hr));
    if (!child) {
      EXPECT_EQ(hr, S_FALSE);
      break;
    }
    children.push_back(std::move(child));
  }
  return children;
}

inline std::u16string NameOf(XmlNode& node) {
  std::u16string name;
  EXPECT_EQ(node.GetNodeName(&name), S_OK);
  return name;
}

inline std::u16string TextOf(XmlNode& node) {
  std::u16string text;
  EXPECT_EQ(node.GetText(&text), S_OK);
  return text;
}

inline Names NamesOf(XmlNode& node) {
  Names names;
  for (auto& child : Children(node)) names.push_back(NameOf(*child));
  return names;
}
