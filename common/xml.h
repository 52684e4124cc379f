#pragma once
// Read-only access to XML documents with XPath 1.0 selection.
//
// Documents, nodes and node lists are handles: cheap to copy, and a default-constructed handle is
// "none" (explicit operator bool answers false). A node or node list keeps its document alive, so
// a node may outlive the XmlDocument handle it was selected from. Nothing here ever modifies a
// document after it was parsed.
//
// Text is UTF-8. The text of a node is the concatenated character data of the node and all its
// descendants (for an attribute, its value), exactly as written: nothing is trimmed.
//
// Errors: a selection with an invalid XPath (or one that does not select nodes), and the
// operations documented below as needing a handle, throw XmlError. A selection that finds nothing
// is never an error. Only LoadXmlFile catches everything.
//
// Thread safety: handles to the same document may be read from several threads at once, but one
// handle object (in particular one XmlNodeList, whose position is shared by its copies) must not
// be used by two threads at the same time.

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pugi {
struct xml_node_struct;
struct xml_attribute_struct;
}  // namespace pugi

namespace brimora {

struct XmlDocumentData;  // the parsed tree; defined in xml.cpp
struct XmlNodeListData;  // selected nodes and the list's position; defined in xml.cpp

// An error of the XML component: an invalid XPath, or a read on a none handle that needs one.
struct XmlError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class XmlDocument {
 public:
  XmlDocument() = default;
  explicit operator bool() const noexcept { return data_ != nullptr; }

 private:
  friend struct XmlAccess;
  std::shared_ptr<const XmlDocumentData> data_;
};

// An element, attribute, text or other node of a document.
class XmlNode {
 public:
  XmlNode() = default;
  explicit operator bool() const noexcept { return node_ != nullptr || attribute_ != nullptr; }

  // True when both handles refer to the same node (or both are none).
  friend bool operator==(const XmlNode& a, const XmlNode& b) noexcept {
    return a.node_ == b.node_ && a.attribute_ == b.attribute_;
  }

 private:
  friend struct XmlAccess;
  std::shared_ptr<const XmlDocumentData> document_;
  pugi::xml_node_struct* node_ = nullptr;            // the node, or the attribute's owner
  pugi::xml_attribute_struct* attribute_ = nullptr;  // set for attribute nodes only
};

// The nodes of a multi-node selection in document order, consumed with NextNode. Copies of a list
// share its position (they are handles to the same list).
class XmlNodeList {
 public:
  XmlNodeList() = default;
  explicit operator bool() const noexcept { return data_ != nullptr; }

  // The next node, or none when the list is used up (or is none).
  XmlNode NextNode();
  // Rewinds the list to its first node.
  void Reset();
  // The number of nodes in the list; 0 for none.
  std::size_t Size() const;

 private:
  friend struct XmlAccess;
  std::shared_ptr<XmlNodeListData> data_;
};

// Loading. All loads are synchronous and accept the encodings an XML parser detects from a
// byte-order mark or declaration (UTF-8, UTF-16, UTF-32, Latin-1). A document must be well-formed:
// one root element, no text outside it. Entities are not expanded beyond the predefined ones and
// character references, and no external resource is ever fetched.

// Loads the file at path (bytes, passed to the system unchanged) into document. Answers false when
// the file is missing, is not a regular file, cannot be read or parsed, or anything at all goes
// wrong; document is then an empty document (not none) that selects nothing. Never throws.
bool LoadXmlFile(const std::string& path, XmlDocument& document);
// The loaded document, or none on any failure. Never throws.
XmlDocument LoadXmlDocument(const std::string& path);
// The parsed document, or none when text (possibly empty) does not parse.
XmlDocument LoadXmlText(std::string_view text);
// Parses text into document. Answers false when it does not parse, leaving an empty document.
bool ParseXmlText(std::string_view text, XmlDocument& document);

// Reads of one selected node. The XPath is evaluated against context when it is not none, else
// against the whole document; "selected" means the first node of the result in document order.

// When a node is selected, stores its text in text (with a-z upper-cased when upperCase is set)
// and answers true; otherwise answers false and leaves text unchanged.
// Throws XmlError when document and context are both none, or for an invalid XPath.
bool ReadXmlText(const XmlDocument& document, const std::string& xpath, std::string& text,
                 bool upperCase = false, const XmlNode& context = {});
// True exactly when a node is selected and its text, upper-cased, is "TRUE" (no trimming, so
// " true" is false, and "1" or "yes" are false); defaultValue when nothing is selected.
// Throws like ReadXmlText.
bool ReadXmlFlag(const XmlDocument& document, const std::string& xpath, bool defaultValue,
                 const XmlNode& context = {});
// The selected node's text read as an integer the way atoi reads it (leading white space, an
// optional sign, the digits up to the first non-digit; 0 when there are none; values beyond the
// int range are clamped to it). defaultValue when the handle is none or nothing is selected; a
// none handle does not evaluate the XPath.
int ReadXmlInt(const XmlNode& context, const std::string& xpath, int defaultValue);
int ReadXmlInt(const XmlDocument& document, const std::string& xpath, int defaultValue);
// The selected node's text; defaultValue when the handle is none or nothing is selected.
std::string ReadXmlString(const XmlNode& context, const std::string& xpath,
                          const std::string& defaultValue);
std::string ReadXmlString(const XmlDocument& document, const std::string& xpath,
                          const std::string& defaultValue);

// The node's text. Throws XmlError when node is none.
std::string NodeText(const XmlNode& node);
// The node itself when it is an element, else none.
XmlNode AsElement(const XmlNode& node);

// The first node in document order selected by xpath, or none. Throws XmlError when the context is
// none or the XPath is invalid.
XmlNode SelectSingleNode(const XmlDocument& document, const std::string& xpath);
XmlNode SelectSingleNode(const XmlNode& context, const std::string& xpath);
// Every node selected by xpath, in document order (possibly an empty list, never none). Throws
// like SelectSingleNode.
XmlNodeList SelectNodes(const XmlDocument& document, const std::string& xpath);
XmlNodeList SelectNodes(const XmlNode& context, const std::string& xpath);

}  // namespace brimora
