#include "link/book/formula_refs.h"

#include <algorithm>
#include <charconv>

#include "link/book/cell_format.h"

namespace tersolv::link::book {
namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// Characters of a name, a number or a reference.
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '$' || c == '\\'; }

// The parts of a reference token: "$B$4", "B4", "$B", "4" (either part may be absent).
struct RefParts {
  bool ColumnAbsolute = false, RowAbsolute = false;
  int Column = 0, Row = 0;  // 0: absent
};

std::optional<RefParts> SplitReference(std::string_view token) {
  RefParts parts;
  std::size_t i = 0;
  if (i < token.size() && token[i] == '$' && i + 1 < token.size() && IsLetter(token[i + 1])) {
    parts.ColumnAbsolute = true;
    ++i;
  }
  const std::size_t lettersBegin = i;
  while (i < token.size() && IsLetter(token[i])) ++i;
  if (i - lettersBegin > 3) return std::nullopt;
  if (i > lettersBegin) {
    parts.Column = ColumnNumber(token.substr(lettersBegin, i - lettersBegin));
    if (parts.Column == 0) return std::nullopt;
  } else if (parts.ColumnAbsolute) {
    return std::nullopt;
  }
  if (i < token.size() && token[i] == '$') {
    parts.RowAbsolute = true;
    ++i;
  }
  const std::size_t digitsBegin = i;
  while (i < token.size() && IsDigit(token[i])) ++i;
  if (i != token.size() || (i == digitsBegin && parts.RowAbsolute)) return std::nullopt;
  if (i > digitsBegin) {
    if (i - digitsBegin > 7 || token[digitsBegin] == '0') return std::nullopt;
    std::from_chars(token.data() + digitsBegin, token.data() + i, parts.Row);
    if (parts.Row > kMaxRows) return std::nullopt;
  }
  if (parts.Column == 0 && parts.Row == 0) return std::nullopt;
  return parts;
}

// The token moved; false when it leaves the sheet.
bool AppendMoved(std::string& out, const RefParts& parts, int rows, int columns) {
  if (parts.Column != 0) {
    const int column = parts.ColumnAbsolute ? parts.Column : parts.Column + columns;
    if (column < 1 || column > kMaxColumns) return false;
    if (parts.ColumnAbsolute) out += '$';
    out += ColumnLetters(column);
  }
  if (parts.Row != 0) {
    const int row = parts.RowAbsolute ? parts.Row : parts.Row + rows;
    if (row < 1 || row > kMaxRows) return false;
    if (parts.RowAbsolute) out += '$';
    out += std::to_string(row);
  }
  return true;
}

// The end of the quoted text starting at `at` (quote doubled inside).
std::size_t SkipQuoted(std::string_view formula, std::size_t at) {
  const char quote = formula[at];
  std::size_t i = at + 1;
  while (i < formula.size()) {
    if (formula[i] == quote) {
      if (i + 1 < formula.size() && formula[i + 1] == quote) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return i;
}

// The end of the bracketed part starting at `at` ("[1]", "Table[[#This Row],[A]]").
std::size_t SkipBrackets(std::string_view formula, std::size_t at) {
  int depth = 0;
  std::size_t i = at;
  for (; i < formula.size(); ++i) {
    if (formula[i] == '\'' && i + 1 < formula.size()) {  // escapes the next character inside brackets
      ++i;
    } else if (formula[i] == '[') {
      ++depth;
    } else if (formula[i] == ']' && --depth == 0) {
      return i + 1;
    }
  }
  return i;
}

}  // namespace

std::optional<std::string> MoveFormulaReferences(std::string_view formula, int rows, int columns) {
  std::string out;
  out.reserve(formula.size() + 8);
  std::size_t i = 0;
  while (i < formula.size()) {
    const char c = formula[i];
    if (c == '"' || c == '\'') {
      const std::size_t end = SkipQuoted(formula, i);
      out.append(formula.substr(i, end - i));
      i = end;
      continue;
    }
    if (c == '[') {
      const std::size_t end = SkipBrackets(formula, i);
      out.append(formula.substr(i, end - i));
      i = end;
      continue;
    }
    if (!IsNameChar(c)) {
      out += c;
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < formula.size() && IsNameChar(formula[end])) ++end;
    const std::string_view token = formula.substr(i, end - i);
    const char before = i > 0 ? formula[i - 1] : '\0';
    std::size_t next = end;
    while (next < formula.size() && formula[next] == ' ') ++next;
    const char after = next < formula.size() ? formula[next] : '\0';
    const auto parts = SplitReference(token);
    // Sheet names ("Data!"), function names ("LOG10(") and numbers in an
    // exponent ("1E+5") are not references; a whole row or column ("4:6",
    // "B:D") is one only beside a colon.
    bool reference = parts && after != '!' && after != '(' && !(IsDigit(before) || IsLetter(before));
    if (reference && (parts->Column == 0 || parts->Row == 0)) {
      const bool besideColon = (end < formula.size() && formula[end] == ':') || before == ':';
      reference = besideColon;
    }
    if (reference) {
      if (!AppendMoved(out, *parts, rows, columns)) return std::nullopt;
    } else {
      out.append(token);
    }
    i = end;
  }
  return out;
}

namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The text of a quoted sheet name ('It''s' -> It's), `end` past the closing quote.
std::string Unquote(std::string_view quoted) {
  std::string out;
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    out += quoted[i];
    if (quoted[i] == '\'' && quoted[i + 1] == '\'') ++i;
  }
  return out;
}

}  // namespace

std::optional<std::vector<FormulaArea>> FormulaAreas(std::string_view formula) {
  std::vector<FormulaArea> areas;
  std::string sheet;              // the qualifier of the next reference
  std::optional<RefParts> first;  // a reference waiting for ":" and its other end
  std::size_t i = 0;
  const auto flush = [&] {
    if (!first) return true;
    if (first->Column == 0 || first->Row == 0) return false;  // a lone row or column number is no reference
    areas.push_back({sheet, first->Row, first->Column, first->Row, first->Column});
    first.reset();
    sheet.clear();
    return true;
  };
  while (i < formula.size()) {
    const char c = formula[i];
    if (c == '"') {
      if (!flush()) return std::nullopt;
      i = SkipQuoted(formula, i);
      continue;
    }
    if (c == '\'') {
      const std::size_t end = SkipQuoted(formula, i);
      if (end >= formula.size() || formula[end] != '!') return std::nullopt;
      if (!flush()) return std::nullopt;
      sheet = Unquote(formula.substr(i, end - i));
      i = end + 1;
      continue;
    }
    if (c == '[') return std::nullopt;  // another workbook or a table
    if (c == '#') {                     // an error value: #REF!, #N/A, #DIV/0!
      if (!flush()) return std::nullopt;
      ++i;
      while (i < formula.size() && (IsNameChar(formula[i]) || formula[i] == '/' || formula[i] == '!' || formula[i] == '?')) ++i;
      continue;
    }
    if (c == ':' && !first) return std::nullopt;  // a range from a function's result
    if (c == ':') {  // the range's other end
      std::size_t end = i + 1;
      while (end < formula.size() && IsNameChar(formula[end])) ++end;
      const auto last = SplitReference(formula.substr(i + 1, end - i - 1));
      if (!last || (last->Column == 0) != (first->Column == 0) || (last->Row == 0) != (first->Row == 0))
        return std::nullopt;
      FormulaArea area{sheet, std::min(first->Row, last->Row), std::min(first->Column, last->Column),
                       std::max(first->Row, last->Row), std::max(first->Column, last->Column)};
      if (first->Row == 0) area.FirstRow = 1, area.LastRow = kMaxRows;            // whole columns
      if (first->Column == 0) area.FirstColumn = 1, area.LastColumn = kMaxColumns;  // whole rows
      areas.push_back(std::move(area));
      first.reset();
      sheet.clear();
      i = end;
      continue;
    }
    if (!IsNameChar(c)) {
      if (!flush()) return std::nullopt;
      ++i;
      continue;
    }
    if (!flush()) return std::nullopt;
    std::size_t end = i;
    while (end < formula.size() && IsNameChar(formula[end])) ++end;
    const std::string_view token = formula.substr(i, end - i);
    std::size_t next = end;
    while (next < formula.size() && formula[next] == ' ') ++next;
    const char after = next < formula.size() ? formula[next] : '\0';
    i = end;
    if (after == '(') {  // a function: those that reach cells their arguments do not name are unknown
      const std::string name = Upper(token);
      if (name == "INDIRECT" || name == "OFFSET" || name.find("INDIRECT") != std::string::npos) return std::nullopt;
      continue;
    }
    if (after == '!' && next == end) {  // a sheet name
      sheet = std::string(token);
      i = end + 1;
      continue;
    }
    if (IsDigit(token[0]) || token[0] == '.') {  // a number, or a row of a range of rows
      if (end < formula.size() && formula[end] == ':') first = SplitReference(token);
      if (first && first->Column != 0) return std::nullopt;
      continue;
    }
    if (const auto parts = SplitReference(token)) {
      first = parts;
      if (parts->Row == 0 && !(end < formula.size() && formula[end] == ':')) return std::nullopt;  // a name
      continue;
    }
    const std::string word = Upper(token);
    if (word == "TRUE" || word == "FALSE") continue;
    return std::nullopt;  // a defined name
  }
  if (!flush()) return std::nullopt;
  return areas;
}

}  // namespace tersolv::link::book
