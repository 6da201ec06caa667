// Small pugixml helpers for the parts of an .xlsx package: elements matched by
// local name (producers differ in namespace prefixes), parsing with the
// options that keep a part as it was, and serialising it back.
#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace tersolv::link::book {

// The namespace of the SpreadsheetML parts, and the declaration a new part
// starts with.
inline constexpr const char* kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr const char* kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

// A new styles part: the font Calibri 11 (and its bold face when `bold`),
// the default fills and border, the style "Normal", and the `count` cell
// formats `cellXfs` (<xf> elements).
std::string StylesPart(bool bold, std::size_t count, std::string_view cellXfs);

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
