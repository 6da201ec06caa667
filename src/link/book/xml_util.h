// Small pugixml helpers for the parts of an .xlsx package: elements matched by
// local name (producers differ in namespace prefixes), parsing with the
// options that keep a part as it was, and serialising it back.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace tersolv::link::book {

std::string_view LocalName(const char* name);
// The prefix of an element's name including the colon ("x:"), or "".
std::string PrefixOf(pugi::xml_node node);
// First child element with this local name.
pugi::xml_node ChildElement(pugi::xml_node parent, std::string_view localName);
// Attribute with this local name (any prefix).
pugi::xml_attribute AttributeByLocalName(pugi::xml_node node, std::string_view localName);

// Parses `text` keeping whitespace and the declaration; LinkError
// (kFileError) naming `what` when it is not well-formed XML or declares a
// document type (never used by workbooks; refused to rule out entity tricks).
void ParseXml(pugi::xml_document& doc, const std::string& text, const std::string& what);
std::string SerializeXml(const pugi::xml_document& doc);
std::string SerializeNode(pugi::xml_node node);

// Text of a string item (<si>, <is>): its <t> elements, rich-text runs
// included, phonetic runs left out, with _xHHHH_ escapes decoded.
std::string StringItemText(pugi::xml_node item);
// Escapes characters that XML 1.0 cannot hold (and literal "_x" escapes) the
// way spreadsheet files write them.
std::string EncodeStringItemText(const std::string& text);

}  // namespace tersolv::link::book
