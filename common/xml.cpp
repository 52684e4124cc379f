#include "common/xml.h"

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "common/strings.h"

namespace brimora {

struct XmlDocumentData {
  pugi::xml_document document;
};

struct XmlNodeListData {
  std::shared_ptr<const XmlDocumentData> document;
  std::vector<pugi::xpath_node> nodes;
  std::size_t position = 0;
};

// The one place that sees both the handles' insides and pugixml.
struct XmlAccess {
  static XmlDocument MakeDocument(std::shared_ptr<const XmlDocumentData> data) {
    XmlDocument document;
    document.data_ = std::move(data);
    return document;
  }

  static XmlNode MakeNode(const std::shared_ptr<const XmlDocumentData>& owner,
                          const pugi::xpath_node& selected) {
    XmlNode node;
    if (!selected) return node;
    node.document_ = owner;
    node.node_ = selected.attribute() ? selected.parent().internal_object()
                                      : selected.node().internal_object();
    node.attribute_ = selected.attribute().internal_object();
    return node;
  }

  static pugi::xpath_node ToPugi(const XmlNode& node) {
    if (node.attribute_ != nullptr) {
      return pugi::xpath_node(pugi::xml_attribute(node.attribute_), pugi::xml_node(node.node_));
    }
    return pugi::xpath_node(pugi::xml_node(node.node_));
  }

  static const std::shared_ptr<const XmlDocumentData>& Owner(const XmlDocument& document) {
    return document.data_;
  }
  static const std::shared_ptr<const XmlDocumentData>& Owner(const XmlNode& node) {
    return node.document_;
  }

  static XmlNodeList MakeList(std::shared_ptr<XmlNodeListData> data) {
    XmlNodeList list;
    list.data_ = std::move(data);
    return list;
  }
};

namespace {

constexpr char kInvalidHandle[] = "Invalid pointer: the XML document or node is none";

// Keeps whitespace-only text (it is character data of its element) and parses as a fragment, so
// that text or extra elements outside the root stay visible to CheckWellFormed instead of being
// dropped silently.
constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_fragment;

bool IsBlank(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n') return false;
  }
  return true;
}

// A document has exactly one root element and nothing but white space beside it.
bool CheckWellFormed(const pugi::xml_document& document) {
  int elements = 0;
  for (pugi::xml_node child : document.children()) {
    switch (child.type()) {
      case pugi::node_element:
        ++elements;
        break;
      case pugi::node_pcdata:
        if (!IsBlank(child.value())) return false;
        break;
      case pugi::node_cdata:
        return false;
      default:
        break;
    }
  }
  return elements == 1;
}

bool Parse(std::string_view text, XmlDocumentData& data) {
  pugi::xml_parse_result result = data.document.load_buffer(text.data(), text.size(), kParseOptions);
  if (result && CheckWellFormed(data.document)) return true;
  data.document.reset();
  return false;
}

bool ParseFile(const std::string& path, XmlDocumentData& data) {
  // Only regular files: opening a FIFO would block, and a folder has no size to read.
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::path(path), error)) return false;
  pugi::xml_parse_result result = data.document.load_file(path.c_str(), kParseOptions);
  if (result && CheckWellFormed(data.document)) return true;
  data.document.reset();
  return false;
}

std::string TextOf(pugi::xml_node node) {
  switch (node.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
      return node.value();
    case pugi::node_element:
    case pugi::node_document:
      break;
    default:
      return std::string();
  }
  // Iterative pre-order walk, so a deeply nested document cannot exhaust the stack.
  std::string text;
  pugi::xml_node current = node.first_child();
  while (current) {
    if (current.type() == pugi::node_pcdata || current.type() == pugi::node_cdata) {
      text += current.value();
    }
    if (pugi::xml_node child = current.first_child()) {
      current = child;
      continue;
    }
    while (current != node && !current.next_sibling()) current = current.parent();
    if (current == node) break;
    current = current.next_sibling();
  }
  return text;
}

std::string TextOf(const pugi::xpath_node& selected) {
  if (selected.attribute()) return selected.attribute().value();
  return TextOf(selected.node());
}

pugi::xpath_query Compile(const std::string& xpath) {
  try {
    return pugi::xpath_query(xpath.c_str());
  } catch (const pugi::xpath_exception& error) {
    throw XmlError(std::string("Invalid XPath \"") + xpath + "\": " + error.what());
  }
}

// Runs one evaluation of the compiled XPath, turning pugixml's errors into XmlError.
template <typename Evaluate>
auto EvaluateXPath(const std::string& xpath, Evaluate evaluate) {
  pugi::xpath_query query = Compile(xpath);
  try {
    return evaluate(query);
  } catch (const pugi::xpath_exception& error) {
    throw XmlError(std::string("XPath \"") + xpath + "\" failed: " + error.what());
  }
}

pugi::xpath_node SelectFirst(const pugi::xpath_node& context, const std::string& xpath) {
  return EvaluateXPath(xpath, [&](pugi::xpath_query& query) { return query.evaluate_node(context); });
}

pugi::xpath_node_set SelectAll(const pugi::xpath_node& context, const std::string& xpath) {
  pugi::xpath_node_set set =
      EvaluateXPath(xpath, [&](pugi::xpath_query& query) { return query.evaluate_node_set(context); });
  // The parser hands back some selections (steps below several parents) out of document order.
  set.sort();
  return set;
}

// The evaluation context of a read: the context node when there is one, else the document.
XmlNode ReadContext(const XmlDocument& document, const XmlNode& context) {
  if (context) return context;
  if (!document) throw XmlError(kInvalidHandle);
  return XmlAccess::MakeNode(XmlAccess::Owner(document),
                             pugi::xpath_node(XmlAccess::Owner(document)->document));
}

XmlNodeList ToList(const std::shared_ptr<const XmlDocumentData>& owner,
                   const pugi::xpath_node_set& set) {
  auto data = std::make_shared<XmlNodeListData>();
  data->document = owner;
  data->nodes.assign(set.begin(), set.end());
  return XmlAccess::MakeList(std::move(data));
}

XmlNode SelectSingleIn(const XmlNode& context, const std::string& xpath) {
  if (!context) throw XmlError(kInvalidHandle);
  return XmlAccess::MakeNode(XmlAccess::Owner(context),
                             SelectFirst(XmlAccess::ToPugi(context), xpath));
}

}  // namespace

XmlNode XmlNodeList::NextNode() {
  if (!data_ || data_->position >= data_->nodes.size()) return XmlNode();
  return XmlAccess::MakeNode(data_->document, data_->nodes[data_->position++]);
}

void XmlNodeList::Reset() {
  if (data_) data_->position = 0;
}

std::size_t XmlNodeList::Size() const { return data_ ? data_->nodes.size() : 0; }

bool LoadXmlFile(const std::string& path, XmlDocument& document) {
  try {
    auto data = std::make_shared<XmlDocumentData>();
    const bool loaded = ParseFile(path, *data);
    document = XmlAccess::MakeDocument(std::move(data));
    return loaded;
  } catch (...) {
    return false;
  }
}

XmlDocument LoadXmlDocument(const std::string& path) {
  XmlDocument document;
  if (!LoadXmlFile(path, document)) return XmlDocument();
  return document;
}

XmlDocument LoadXmlText(std::string_view text) {
  XmlDocument document;
  if (!ParseXmlText(text, document)) return XmlDocument();
  return document;
}

bool ParseXmlText(std::string_view text, XmlDocument& document) {
  auto data = std::make_shared<XmlDocumentData>();
  const bool parsed = Parse(text, *data);
  document = XmlAccess::MakeDocument(std::move(data));
  return parsed;
}

bool ReadXmlText(const XmlDocument& document, const std::string& xpath, std::string& text,
                 bool upperCase, const XmlNode& context) {
  XmlNode node = SelectSingleIn(ReadContext(document, context), xpath);
  if (!node) return false;
  text = NodeText(node);
  if (upperCase) text = AsciiUpper(text);
  return true;
}

bool ReadXmlFlag(const XmlDocument& document, const std::string& xpath, bool defaultValue,
                 const XmlNode& context) {
  std::string text;
  if (!ReadXmlText(document, xpath, text, true, context)) return defaultValue;
  return text == "TRUE";
}

int ReadXmlInt(const XmlNode& context, const std::string& xpath, int defaultValue) {
  if (!context) return defaultValue;
  XmlNode node = SelectSingleIn(context, xpath);
  return node ? LeadingInt(NodeText(node)) : defaultValue;
}

int ReadXmlInt(const XmlDocument& document, const std::string& xpath, int defaultValue) {
  if (!document) return defaultValue;
  return ReadXmlInt(ReadContext(document, XmlNode()), xpath, defaultValue);
}

std::string ReadXmlString(const XmlNode& context, const std::string& xpath,
                          const std::string& defaultValue) {
  if (!context) return defaultValue;
  XmlNode node = SelectSingleIn(context, xpath);
  return node ? NodeText(node) : defaultValue;
}

std::string ReadXmlString(const XmlDocument& document, const std::string& xpath,
                          const std::string& defaultValue) {
  if (!document) return defaultValue;
  return ReadXmlString(ReadContext(document, XmlNode()), xpath, defaultValue);
}

std::string NodeText(const XmlNode& node) {
  if (!node) throw XmlError(kInvalidHandle);
  return TextOf(XmlAccess::ToPugi(node));
}

XmlNode AsElement(const XmlNode& node) {
  if (!node) return XmlNode();
  pugi::xpath_node selected = XmlAccess::ToPugi(node);
  if (selected.attribute() || selected.node().type() != pugi::node_element) return XmlNode();
  return node;
}

XmlNode SelectSingleNode(const XmlDocument& document, const std::string& xpath) {
  return SelectSingleIn(ReadContext(document, XmlNode()), xpath);
}

XmlNode SelectSingleNode(const XmlNode& context, const std::string& xpath) {
  return SelectSingleIn(context, xpath);
}

XmlNodeList SelectNodes(const XmlDocument& document, const std::string& xpath) {
  return SelectNodes(ReadContext(document, XmlNode()), xpath);
}

XmlNodeList SelectNodes(const XmlNode& context, const std::string& xpath) {
  if (!context) throw XmlError(kInvalidHandle);
  return ToList(XmlAccess::Owner(context), SelectAll(XmlAccess::ToPugi(context), xpath));
}

}  // namespace brimora
