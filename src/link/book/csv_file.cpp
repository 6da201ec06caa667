// .csv workbooks: one sheet, line n = row n, field m = column m (RFC 4180:
// comma-separated, fields with commas, quotes or line breaks in double quotes,
// a quote doubled inside them), UTF-8. A field that reads completely as a
// number in C notation is a number; anything else is text.
#include <algorithm>

#include "link/book/book_file.h"
#include "link/book/cell_format.h"

namespace tersolv::link::book {
namespace {

// A field: a number or a text. A field read from the file and not written
// since is saved as it was read, byte for byte.
struct CsvCell {
  std::string Text;  // the text; for a number read from the file, its text as read
  double Number = 0.0;
  bool IsNumber = false;
  bool Kept = false;    // as read from the file
  bool Quoted = false;  // a kept text that was in quotes
};

bool ValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    unsigned code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    const unsigned minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

class CsvSheet final : public BookSheet {
 public:
  CsvSheet(std::string name, std::shared_ptr<BookState> state) : BookSheet(std::move(state)), name_(std::move(name)) {}

  std::string StoredName() const override { return name_; }
  int UsedRows() const override { return static_cast<int>(rows_.size()); }
  int UsedColumns(int row) const override {
    if (row < 1 || row > UsedRows()) return 0;
    return static_cast<int>(rows_[static_cast<std::size_t>(row - 1)].size());
  }
  Rgb StoredFontColor(int, int) const override { return 0; }

  void Parse(std::string_view data, const std::string& displayName, std::uint64_t maxCells);
  std::string Serialize() const;
  bool Crlf() const { return crlf_; }

 protected:
  std::string Text(int row, int column) const override {
    const CsvCell* cell = Find(row, column);
    if (!cell) return "";
    return cell->IsNumber ? NumberText(cell->Number, State().DecimalSeparator) : cell->Text;
  }
  void PutNumber(int row, int column, double value) override {
    Obtain(row, column) = CsvCell{{}, value, true};
  }
  void PutText(int row, int column, const std::string& text) override { Obtain(row, column) = CsvCell{text}; }
  // The row keeps its fields, emptied.
  void Clear(int row, int firstColumn, int lastColumn) override {
    if (row > UsedRows()) return;
    auto& cells = rows_[static_cast<std::size_t>(row - 1)];
    for (int c = firstColumn; c <= lastColumn && c <= static_cast<int>(cells.size()); ++c)
      cells[static_cast<std::size_t>(c - 1)] = CsvCell{};
  }
  void Color(int, int, int, Rgb color) override {
    if (color != 0) ++State().MarkedCellsNotStored;
  }

 private:
  const CsvCell* Find(int row, int column) const {
    if (row > UsedRows()) return nullptr;
    const auto& cells = rows_[static_cast<std::size_t>(row - 1)];
    return column > static_cast<int>(cells.size()) ? nullptr : &cells[static_cast<std::size_t>(column - 1)];
  }
  CsvCell& Obtain(int row, int column) {
    if (row > UsedRows()) rows_.resize(static_cast<std::size_t>(row));
    auto& cells = rows_[static_cast<std::size_t>(row - 1)];
    if (column > static_cast<int>(cells.size())) cells.resize(static_cast<std::size_t>(column));
    return cells[static_cast<std::size_t>(column - 1)];
  }
  std::string name_;
  std::vector<std::vector<CsvCell>> rows_;  // every line's fields, as many as it has
  bool crlf_ = false;
  bool bom_ = false;
  bool finalNewline_ = true;  // the last line ends with a line break
};

CsvCell MakeCell(std::string text, bool quoted) {
  CsvCell cell;
  cell.Kept = true;
  cell.Quoted = quoted;
  if (!quoted) {
    if (auto number = ParseNumber(text)) {
      cell.Number = *number;
      cell.IsNumber = true;
    }
  }
  cell.Text = std::move(text);
  return cell;
}

void CsvSheet::Parse(std::string_view data, const std::string& displayName, std::uint64_t maxCells) {
  const auto fail = [&](const std::string& why) {
    throw LinkError(kFileError, "\"" + displayName + "\" is not a readable .csv file: " + why);
  };
  if (data.size() >= 3 && data.substr(0, 3) == "\xEF\xBB\xBF") {
    bom_ = true;
    data.remove_prefix(3);
  }
  if (data.find('\0') != std::string_view::npos) fail("it holds binary data (NUL bytes)");
  if (!ValidUtf8(data)) fail("it is not UTF-8 text");
  crlf_ = data.find("\r\n") != std::string_view::npos;

  std::uint64_t cells = 0;
  std::vector<CsvCell> row;
  std::string field;
  bool quoted = false;
  std::size_t line = 1;
  std::size_t i = 0;
  const auto endField = [&] {
    if (++cells > maxCells) fail("more than " + std::to_string(maxCells) + " cells");
    row.push_back(MakeCell(std::move(field), quoted));
    field.clear();
    quoted = false;
  };
  const auto endRow = [&] {
    endField();
    if (rows_.size() >= static_cast<std::size_t>(kMaxRows)) fail("more than " + std::to_string(kMaxRows) + " lines");
    if (row.size() > static_cast<std::size_t>(kMaxColumns))
      fail("line " + std::to_string(line) + " has more than " + std::to_string(kMaxColumns) + " fields");
    rows_.push_back(std::move(row));
    row.clear();
    ++line;
  };
  while (i < data.size()) {
    const char c = data[i];
    if (c == '"' && field.empty() && !quoted) {
      // A quoted field: up to the closing quote, "" standing for one quote.
      quoted = true;
      const std::size_t startLine = line;
      ++i;
      for (;;) {
        if (i >= data.size()) fail("a quoted field that starts in line " + std::to_string(startLine) + " never ends");
        if (data[i] == '"') {
          if (i + 1 < data.size() && data[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (data[i] == '\n') ++line;
        field += data[i++];
      }
      if (i < data.size() && data[i] != ',' && data[i] != '\n' && data[i] != '\r')
        fail("text after a closing quote in line " + std::to_string(line));
      continue;
    }
    if (c == ',') {
      endField();
      ++i;
    } else if (c == '\r' || c == '\n') {
      endRow();
      i += (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ? 2 : 1;
    } else {
      field += c;
      ++i;
    }
  }
  finalNewline_ = data.empty() || data.back() == '\n' || data.back() == '\r';
  if (!field.empty() || quoted || !row.empty()) endRow();
  // A line of one empty field is an empty line: no cells.
  for (auto& cells : rows_)
    if (cells.size() == 1 && !cells[0].Quoted && cells[0].Text.empty()) cells.clear();
}

std::string QuoteField(const std::string& text, bool quoted) {
  // Quoted: separators, quotes and line breaks; blanks at either end; text
  // that would read as a number; text that would read as a byte-order mark
  // (and a text that was quoted in the file).
  const bool needs = quoted || text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' ')) || ParseNumber(text) ||
                     text.rfind("\xEF\xBB\xBF", 0) == 0;
  if (!needs) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvSheet::Serialize() const {
  std::string out;
  std::size_t cellCount = 0;
  for (const auto& cells : rows_) cellCount += cells.size();
  out.reserve(rows_.size() * 2 + cellCount * 24 + 16);  // about right for numbers
  if (bom_) out.append("\xEF\xBB\xBF");
  const std::string_view eol = crlf_ ? "\r\n" : "\n";
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    const auto& cells = rows_[r];
    for (std::size_t k = 0; k < cells.size(); ++k) {
      if (k) out.append(",");
      const CsvCell& cell = cells[k];
      if (cell.Kept && cell.Quoted) {
        out.append(QuoteField(cell.Text, true));
      } else if (cell.Kept) {
        out.append(cell.Text);
      } else if (cell.IsNumber) {
        char number[kNumberTextMax];
        out.append(std::string_view(number, FormatNumberInto(cell.Number, number)));
      } else {
        out.append(QuoteField(cell.Text, false));
      }
    }
    if (r + 1 < rows_.size() || finalNewline_) out.append(eol);
  }
  return out;
}

class CsvFile final : public BookFile {
 public:
  CsvFile(std::string bytes, const std::string& displayName, const std::string& sheetName,
          std::shared_ptr<BookState> state, const Limits& limits)
      : sheet_(std::make_shared<CsvSheet>(sheetName, std::move(state))) {
    sheet_->Parse(bytes, displayName, limits.MaxCells);
  }
  int SheetCount() const override { return 1; }
  std::string SheetName(int) const override { return sheet_->Name(); }
  std::shared_ptr<BookSheet> Sheet(int) override { return sheet_; }
  int ActiveSheetIndex() const override { return 0; }
  std::string Serialize() override { return sheet_->Serialize(); }

 private:
  std::shared_ptr<CsvSheet> sheet_;
};

}  // namespace

std::unique_ptr<BookFile> OpenCsv(std::string bytes, const std::string& displayName, const std::string& sheetName,
                                  std::shared_ptr<BookState> state, const Limits& limits) {
  return std::make_unique<CsvFile>(std::move(bytes), displayName, sheetName, std::move(state), limits);
}

}  // namespace tersolv::link::book
