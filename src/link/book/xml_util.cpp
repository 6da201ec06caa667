#include "link/book/xml_util.h"

#include <cstdio>

#include "link/link.h"

namespace tersolv::link::book {

std::string_view LocalName(const char* name) {
  std::string_view s(name);
  const auto colon = s.find(':');
  return colon == std::string_view::npos ? s : s.substr(colon + 1);
}

std::string PrefixOf(pugi::xml_node node) {
  std::string_view s(node.name());
  const auto colon = s.find(':');
  return colon == std::string_view::npos ? std::string() : std::string(s.substr(0, colon + 1));
}

pugi::xml_node ChildElement(pugi::xml_node parent, std::string_view localName) {
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_element && LocalName(child.name()) == localName) return child;
  return {};
}

pugi::xml_attribute AttributeByLocalName(pugi::xml_node node, std::string_view localName) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
    if (LocalName(a.name()) == localName) return a;
  return {};
}

void ParseXml(pugi::xml_document& doc, const std::string& text, const std::string& what) {
  const pugi::xml_parse_result result =
      doc.load_buffer(text.data(), text.size(), pugi::parse_full | pugi::parse_ws_pcdata, pugi::encoding_auto);
  if (!result)
    throw LinkError(kFileError, what + " is not well-formed XML (" + result.description() + " at byte " +
                                    std::to_string(result.offset) + ")");
  for (pugi::xml_node child = doc.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_doctype)
      throw LinkError(kFileError, what + " declares a document type, which workbooks never do");
  if (!doc.document_element()) throw LinkError(kFileError, what + " has no root element");
}

namespace {
struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, std::size_t size) override { out.append(static_cast<const char*>(data), size); }
};
}  // namespace

std::string SerializeXml(const pugi::xml_document& doc) {
  StringWriter writer;
  doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return std::move(writer.out);
}

std::string SerializeNode(pugi::xml_node node) {
  StringWriter writer;
  node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
  return std::move(writer.out);
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Decodes _xHHHH_ escapes (UTF-16 code units; surrogates are left as text).
std::string DecodeEscapes(std::string_view text) {
  if (text.find("_x") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_') {
      unsigned code = 0;
      bool hex = true;
      for (std::size_t k = 2; k < 6; ++k) {
        const int v = HexValue(text[i + k]);
        if (v < 0) hex = false;
        code = code * 16 + static_cast<unsigned>(v < 0 ? 0 : v);
      }
      if (hex && (code < 0xD800 || code > 0xDFFF)) {
        AppendUtf8(out, code);
        i += 6;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

void CollectText(pugi::xml_node node, std::string& out) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const std::string_view name = LocalName(child.name());
    if (name == "t") {
      out += child.text().get();
    } else if (name == "r") {
      CollectText(child, out);
    }  // rPh (phonetic runs) and phoneticPr are not part of the text
  }
}

}  // namespace

std::string StringItemText(pugi::xml_node item) {
  std::string raw;
  CollectText(item, raw);
  return DecodeEscapes(raw);
}

std::string EncodeStringItemText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool control = c < 0x20 && c != '\t' && c != '\n';
    const bool literalEscape = c == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_';
    if (control || literalEscape) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "_x%04X_", static_cast<unsigned>(c));
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string StylesPart(bool bold, std::size_t count, std::string_view cellXfs) {
  constexpr std::string_view kFont = "<sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>";
  std::string out = std::string(kXmlDeclaration) + "<styleSheet xmlns=\"" + kMainNamespace + "\">";
  out.append(bold ? "<fonts count=\"2\"><font>" : "<fonts count=\"1\"><font>").append(kFont);
  if (bold) out.append("<font><b/>").append(kFont);
  out.append("</fonts>"
             "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
             "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
             "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
             "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
             "<cellXfs count=\"");
  out.append(std::to_string(count)).append("\">").append(cellXfs).append("</cellXfs>");
  out.append("<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
             "</styleSheet>");
  return out;
}

}  // namespace tersolv::link::book
