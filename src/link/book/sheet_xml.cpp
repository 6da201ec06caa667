#include "link/book/sheet_xml.h"

namespace tersolv::link::book {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || u >= 0x80;
}

bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-'; }

bool StartsWith(std::string_view text, std::size_t pos, std::string_view head) {
  return text.size() - pos >= head.size() && text.compare(pos, head.size(), head) == 0;
}

// Offset past `close` searched from `pos`, or npos.
std::size_t PastNext(std::string_view text, std::size_t pos, std::string_view close) {
  const std::size_t at = text.find(close, pos);
  return at == std::string_view::npos ? at : at + close.size();
}

// Past a comment, CDATA section or processing instruction at `pos`; 0 when
// `pos` holds none of them, npos when it does not end.
std::size_t PastSpecial(std::string_view text, std::size_t pos) {
  if (StartsWith(text, pos, "<!--")) return PastNext(text, pos + 4, "-->");
  if (StartsWith(text, pos, "<![CDATA[")) return PastNext(text, pos + 9, "]]>");
  if (StartsWith(text, pos, "<?")) return PastNext(text, pos + 2, "?>");
  return 0;
}

std::string_view LocalPart(std::string_view name) {
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

}  // namespace

std::optional<StartTag> ReadStartTag(std::string_view text, std::size_t pos) {
  if (pos + 1 >= text.size() || text[pos] != '<' || !IsNameStart(text[pos + 1])) return std::nullopt;
  std::size_t p = pos + 1;
  while (p < text.size() && IsNameChar(text[p])) ++p;
  StartTag tag;
  tag.Name = text.substr(pos + 1, p - pos - 1);
  const std::size_t attributes = p;
  if (p < text.size() && !IsBlank(text[p]) && text[p] != '>' && text[p] != '/') return std::nullopt;
  while (p < text.size()) {
    const char c = text[p];
    if (c == '"' || c == '\'') {
      const std::size_t close = text.find(c, p + 1);
      if (close == std::string_view::npos || text.substr(p + 1, close - p - 1).find('<') != std::string_view::npos)
        return std::nullopt;
      p = close + 1;
    } else if (c == '>' || (c == '/' && p + 1 < text.size() && text[p + 1] == '>')) {
      tag.Attributes = text.substr(attributes, p - attributes);
      tag.Empty = c == '/';
      tag.End = p + (tag.Empty ? 2 : 1);
      return tag;
    } else if (c == '<') {
      return std::nullopt;
    } else {
      ++p;
    }
  }
  return std::nullopt;
}

std::optional<bool> NextAttribute(std::string_view& attributes, Attribute& out) {
  std::size_t p = 0;
  while (p < attributes.size() && IsBlank(attributes[p])) ++p;
  if (p == attributes.size()) {
    attributes = {};
    return false;
  }
  const std::size_t nameStart = p;
  if (!IsNameStart(attributes[p])) return std::nullopt;
  while (p < attributes.size() && IsNameChar(attributes[p])) ++p;
  out.Name = attributes.substr(nameStart, p - nameStart);
  while (p < attributes.size() && IsBlank(attributes[p])) ++p;
  if (p == attributes.size() || attributes[p] != '=') return std::nullopt;
  ++p;
  while (p < attributes.size() && IsBlank(attributes[p])) ++p;
  if (p == attributes.size() || (attributes[p] != '"' && attributes[p] != '\'')) return std::nullopt;
  const std::size_t close = attributes.find(attributes[p], p + 1);
  if (close == std::string_view::npos) return std::nullopt;
  out.Value = attributes.substr(p + 1, close - p - 1);
  p = close + 1;
  if (p < attributes.size() && !IsBlank(attributes[p])) return std::nullopt;
  attributes.remove_prefix(p);
  return true;
}

std::optional<std::size_t> SkipElement(std::string_view text, std::size_t pos) {
  const auto tag = ReadStartTag(text, pos);
  if (!tag) return std::nullopt;
  if (tag->Empty) return tag->End;
  std::size_t depth = 1, p = tag->End;
  for (;;) {
    p = text.find('<', p);
    if (p == std::string_view::npos) return std::nullopt;
    if (const std::size_t past = PastSpecial(text, p); past != 0) {
      if (past == std::string_view::npos) return std::nullopt;
      p = past;
    } else if (StartsWith(text, p, "</")) {
      p = PastNext(text, p, ">");
      if (p == std::string_view::npos) return std::nullopt;
      if (--depth == 0) return p;
    } else {
      const auto child = ReadStartTag(text, p);
      if (!child) return std::nullopt;
      if (!child->Empty) ++depth;
      p = child->End;
    }
  }
}

std::optional<std::size_t> SkipMisc(std::string_view text, std::size_t pos, bool skipText) {
  for (;;) {
    while (pos < text.size() && (IsBlank(text[pos]) || (skipText && text[pos] != '<'))) ++pos;
    if (pos >= text.size() || text[pos] != '<') return std::nullopt;
    const std::size_t past = PastSpecial(text, pos);
    if (past == 0 || (!skipText && StartsWith(text, pos, "<![CDATA["))) return pos;
    if (past == std::string_view::npos) return std::nullopt;
    pos = past;
  }
}

std::optional<SheetLayout> LocateSheetData(std::string_view xml) {
  std::size_t p = StartsWith(xml, 0, "\xEF\xBB\xBF") ? 3 : 0;
  auto at = SkipMisc(xml, p, false);
  if (!at) return std::nullopt;
  const auto root = ReadStartTag(xml, *at);
  if (!root || root->Empty || LocalPart(root->Name) != "worksheet") return std::nullopt;
  SheetLayout layout;
  p = root->End;
  for (;;) {  // text, CDATA and comments between the root's children are skipped
    at = xml.find('<', p);
    if (*at == std::string_view::npos || StartsWith(xml, *at, "</")) return std::nullopt;
    if (const std::size_t past = PastSpecial(xml, *at); past != 0) {
      if (past == std::string_view::npos) return std::nullopt;
      p = past;
      continue;
    }
    const auto child = ReadStartTag(xml, *at);
    if (!child) return std::nullopt;
    const std::string_view name = LocalPart(child->Name);
    if (name == "sheetData") {
      layout.DataBegin = *at;
      layout.DataTag = *child;
      return layout;
    }
    const auto end = SkipElement(xml, *at);
    if (!end) return std::nullopt;
    if (name == "dimension" && layout.DimensionBegin == std::string_view::npos) {
      layout.DimensionBegin = *at;
      layout.DimensionEnd = *end;
    }
    p = *end;
  }
}

bool HasBadReference(std::string_view text) {
  for (std::size_t p = text.find('&'); p != std::string_view::npos; p = text.find('&', p + 1)) {
    std::size_t q = p + 1;
    if (q < text.size() && text[q] == '#') {
      ++q;
      const bool hex = q < text.size() && text[q] == 'x';
      if (hex) ++q;
      const std::size_t digits = q;
      while (q < text.size() && ((text[q] >= '0' && text[q] <= '9') ||
                                 (hex && ((text[q] >= 'a' && text[q] <= 'f') || (text[q] >= 'A' && text[q] <= 'F')))))
        ++q;
      if (q == digits) return true;
    } else {
      if (q >= text.size() || !IsNameStart(text[q])) return true;
      while (q < text.size() && IsNameChar(text[q])) ++q;
    }
    if (q >= text.size() || text[q] != ';') return true;
  }
  return false;
}

char* PutColumnLetters(char* out, int column) {
  char letters[4];
  int n = 0;
  for (; column > 0 && n < 4; column = (column - 1) / 26) letters[n++] = static_cast<char>('A' + (column - 1) % 26);
  while (n > 0) *out++ = letters[--n];
  return out;
}

}  // namespace tersolv::link::book
