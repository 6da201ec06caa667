#include "link/memory/memory.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tersolv::link::memory {
namespace {

std::string Address(int row, int column) {
  return "(" + std::to_string(row) + ", " + std::to_string(column) + ")";
}

LinkError Gone() { return LinkError(kApplicationGone, "The spreadsheet application does not answer"); }

}  // namespace

bool ParseTypedNumber(const std::string& typed, char decimalSeparator, double& value) {
  std::size_t first = typed.find_first_not_of(' ');
  std::size_t last = typed.find_last_not_of(' ');
  if (first == std::string::npos) return false;
  std::string text = typed.substr(first, last - first + 1);
  const char other = decimalSeparator == ',' ? '.' : ',';
  if (text.find(other) != std::string::npos) return false;
  std::replace(text.begin(), text.end(), decimalSeparator, '.');
  if (!text.empty() && text[0] == '+') {
    text.erase(0, 1);
    if (!text.empty() && text[0] == '-') return false;
  }
  if (text.empty() || text[0] == '+') return false;
  for (char c : text) {  // plain decimal and exponent notation only
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' ||
          c == 'E')) {
      return false;
    }
  }
  double parsed = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

// ---------------------------------------------------------------- sheets

MemorySheet::MemorySheet(std::weak_ptr<AppState> app, std::string name, bool isWorksheet)
    : app_(std::move(app)), name_(std::move(name)), isWorksheet_(isWorksheet) {}

std::shared_ptr<AppState> MemorySheet::Check(int row, int column, int lastColumn) const {
  auto app = app_.lock();
  if (!app) throw Gone();
  if (closed_) throw LinkError(kNoWorkbook, "The workbook of sheet \"" + name_ + "\" is closed");
  if (!isWorksheet_) throw LinkError(kNotAWorksheet, "\"" + name_ + "\" is not a worksheet");
  if (row != 0 || column != 0) {
    const int last = std::max(column, lastColumn);
    if (row < 1 || row > kMaxRow || column < 1 || last > kMaxColumn || lastColumn < 0 ||
        (lastColumn != 0 && lastColumn < column)) {
      throw LinkError(kBadArgument, "No such cell or range: " + Address(row, column) +
                                        (lastColumn != 0 ? " to column " + std::to_string(lastColumn) : ""));
    }
  }
  return app;
}

std::string MemorySheet::Name() const {
  if (!app_.lock()) throw Gone();
  if (closed_) throw LinkError(kNoWorkbook, "The workbook of sheet \"" + name_ + "\" is closed");
  return name_;
}

MemorySheet::Cell& MemorySheet::At(int row, int column) {
  const auto r = static_cast<std::size_t>(row), c = static_cast<std::size_t>(column);
  if (r >= rows_.size()) rows_.resize(std::max(r + 1, rows_.size() * 3 / 2));
  if (c >= rows_[r].size()) {
    if (rows_[r].capacity() == 0) rows_[r].reserve(16);
    rows_[r].resize(c + 1);
  }
  return rows_[r][c];
}

CellValue MemorySheet::ValueOf(const Cell& cell) const {
  switch (cell.What) {
    case Cell::kNumber: return cell.Number;
    case Cell::kText: return texts_[cell.Text];
    default: return std::monostate{};
  }
}

std::string MemorySheet::CellText(int row, int column) const {
  auto app = Check(row, column);
  const Cell* cell = Find(row, column);
  if (!cell || cell->What == Cell::kEmpty) return "";
  if (cell->What == Cell::kNumber) return NumberText(cell->Number, app->DecimalSeparator);
  return texts_[cell->Text];
}

void MemorySheet::Store(int row, int column, CellValue value) {
  if (std::holds_alternative<std::monostate>(value)) {
    const auto r = static_cast<std::size_t>(row), c = static_cast<std::size_t>(column);
    if (r < rows_.size() && c < rows_[r].size()) rows_[r][c].What = Cell::kEmpty;
    return;
  }
  Cell& cell = At(row, column);
  if (const double* d = std::get_if<double>(&value)) {
    cell.What = Cell::kNumber;
    cell.Number = *d;
  } else {
    cell.What = Cell::kText;
    cell.Text = static_cast<std::uint32_t>(texts_.size());
    texts_.push_back(std::get<std::string>(std::move(value)));
  }
}

void MemorySheet::Notify(const std::shared_ptr<AppState>& app, const CellRange& range) const {
  if (app->EventsEnabled && handler_) handler_(range);
}

void MemorySheet::WriteNumber(int row, int column, double value) {
  auto app = Check(row, column);
  if (!std::isfinite(value)) throw LinkError(kBadArgument, "Not a finite number for cell " + Address(row, column));
  Store(row, column, value == 0.0 ? 0.0 : value);
  if (journalOn_) Log("N " + std::to_string(row) + " " + std::to_string(column) + " " + NumberText(value, '.'));
  Notify(app, {row, column, row, column});
}

void MemorySheet::WriteText(int row, int column, const std::string& text) {
  auto app = Check(row, column);
  Store(row, column, text.empty() ? CellValue{} : CellValue{text});
  if (journalOn_) Log("T " + std::to_string(row) + " " + std::to_string(column) + " " + text);
  Notify(app, {row, column, row, column});
}

void MemorySheet::WriteNumbers(int row, int column, std::span<const double> values) {
  for (std::size_t k = 0; k < values.size(); ++k) WriteNumber(row, column + static_cast<int>(k), values[k]);
}

void MemorySheet::ClearContents(int row, int firstColumn, int lastColumn) {
  auto app = Check(row, firstColumn, lastColumn);
  for (int c = firstColumn; c <= lastColumn; ++c) Store(row, c, CellValue{});
  if (journalOn_) Log("C " + std::to_string(row) + " " + std::to_string(firstColumn) + " " + std::to_string(lastColumn));
  Notify(app, {row, firstColumn, row, lastColumn});
}

void MemorySheet::SetFontColor(int row, int firstColumn, int lastColumn, Rgb color) {
  Check(row, firstColumn, lastColumn);
  if (color > 0xFFFFFFu) throw LinkError(kBadArgument, "Not an RGB colour: " + std::to_string(color));
  for (int c = firstColumn; c <= lastColumn; ++c) At(row, c).FontColor = color;
  if (journalOn_) {
    Log("F " + std::to_string(row) + " " + std::to_string(firstColumn) + " " + std::to_string(lastColumn) + " " +
        std::to_string(color));
  }
}

void MemorySheet::SetChangeHandler(std::function<void(const CellRange&)> handler) {
  if (!app_.lock()) throw Gone();
  handler_ = std::move(handler);
}

void MemorySheet::SetNumber(int row, int column, double value) {
  Check(row, column);
  Store(row, column, value);
}

void MemorySheet::SetText(int row, int column, const std::string& text) {
  Check(row, column);
  Store(row, column, text.empty() ? CellValue{} : CellValue{text});
}

CellValue MemorySheet::Value(int row, int column) const {
  const Cell* cell = Find(row, column);
  return cell ? ValueOf(*cell) : CellValue{};
}

Rgb MemorySheet::FontColor(int row, int column) const {
  const Cell* cell = Find(row, column);
  return cell ? cell->FontColor : 0;
}

std::map<std::pair<int, int>, CellValue> MemorySheet::Values() const {
  std::map<std::pair<int, int>, CellValue> out;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    for (std::size_t c = 0; c < rows_[r].size(); ++c) {
      if (rows_[r][c].What == Cell::kEmpty) continue;
      out[{static_cast<int>(r), static_cast<int>(c)}] = ValueOf(rows_[r][c]);
    }
  }
  return out;
}

void MemorySheet::UserEdit(int row, int column, const std::string& typed) {
  auto app = Check(row, column);
  double number = 0;
  if (typed.empty()) {
    Store(row, column, CellValue{});
  } else if (ParseTypedNumber(typed, app->DecimalSeparator, number)) {
    Store(row, column, number);
  } else {
    Store(row, column, typed);
  }
  Notify(app, {row, column, row, column});
}

// ---------------------------------------------------------------- application

MemoryApplication::MemoryApplication(char decimalSeparator) : state_(std::make_shared<AppState>()) {
  state_->DecimalSeparator = decimalSeparator;
}

MemoryApplication::~MemoryApplication() = default;

AppState& MemoryApplication::State() const {
  if (!state_) throw Gone();
  return *state_;
}

MemoryWorkbook& MemoryApplication::ActiveBook() const {
  AppState& s = State();
  if (s.Workbooks.empty()) throw LinkError(kNoWorkbook, "No workbook is open");
  return *s.Workbooks[s.Active];
}

void MemoryApplication::SetVisible(bool visible) { State().Visible = visible; }
bool MemoryApplication::Visible() const { return State().Visible; }
char MemoryApplication::DecimalSeparator() const { return State().DecimalSeparator; }

std::string MemoryApplication::ActiveWorkbookName() { return ActiveBook().Name; }

std::string MemoryApplication::ActiveSheetName() {
  MemoryWorkbook& book = ActiveBook();
  if (book.Sheets.empty()) throw LinkError(kNotAWorksheet, "The workbook has no sheet");
  return book.Sheets[book.ActiveSheet]->Name();
}

std::shared_ptr<Worksheet> MemoryApplication::ActiveSheet() {
  MemoryWorkbook& book = ActiveBook();
  if (book.Sheets.empty() || !book.Sheets[book.ActiveSheet]->IsWorksheet()) {
    throw LinkError(kNotAWorksheet, "The active sheet is not a worksheet");
  }
  return book.Sheets[book.ActiveSheet];
}

std::shared_ptr<Worksheet> MemoryApplication::FirstWorksheet() {
  for (const auto& sheet : ActiveBook().Sheets) {
    if (sheet->IsWorksheet()) return sheet;
  }
  throw LinkError(kNotAWorksheet, "The workbook has no worksheet");
}

int MemoryApplication::WorkbookCount() { return static_cast<int>(State().Workbooks.size()); }

std::string MemoryApplication::WorkbookName(int index) {
  AppState& s = State();
  if (index < 1 || index > static_cast<int>(s.Workbooks.size())) {
    throw LinkError(kBadArgument, "No workbook number " + std::to_string(index));
  }
  return s.Workbooks[static_cast<std::size_t>(index - 1)]->Name;
}

std::string MemoryApplication::WorkbookFullName(int index) {
  WorkbookName(index);
  return State().Workbooks[static_cast<std::size_t>(index - 1)]->FullName;
}

void MemoryApplication::ActivateWorkbook(int index) {
  WorkbookName(index);
  State().Active = static_cast<std::size_t>(index - 1);
}

void MemoryApplication::OpenWorkbook(const std::string& path, bool /*readOnly*/) {
  AppState& s = State();
  for (std::size_t i = 0; i < s.Workbooks.size(); ++i) {
    if (s.Workbooks[i]->FullName == path && !path.empty()) {
      s.Active = i;
      return;
    }
  }
  auto file = files_.find(path);
  if (file == files_.end()) throw LinkError(kFileError, "Cannot open \"" + path + "\": no such file");
  AddWorkbook(path.substr(path.find_last_of('/') + 1), path);
  file->second(*this);
}

void MemoryApplication::NewWorkbookFromTemplate(const std::string& templatePath, const std::string& /*saveFolder*/) {
  State();
  auto file = files_.find(templatePath);
  if (file == files_.end()) throw LinkError(kFileError, "Cannot open \"" + templatePath + "\": no such file");
  AddWorkbook("Untitled " + std::to_string(++untitled_));
  file->second(*this);
}

void MemoryApplication::SetEventsEnabled(bool enabled) { State().EventsEnabled = enabled; }
bool MemoryApplication::EventsEnabled() const { return State().EventsEnabled; }

void MemoryApplication::Quit() {
  State();
  SimulateGone();
}

MemoryWorkbook& MemoryApplication::AddWorkbook(const std::string& name, const std::string& fullName) {
  AppState& s = State();
  auto book = std::make_shared<MemoryWorkbook>();
  book->Name = name;
  book->FullName = fullName;
  s.Workbooks.push_back(book);
  s.Active = s.Workbooks.size() - 1;
  return *book;
}

std::shared_ptr<MemorySheet> MemoryApplication::AddSheet(const std::string& name, bool isWorksheet) {
  MemoryWorkbook& book = ActiveBook();
  auto sheet = std::make_shared<MemorySheet>(state_, name, isWorksheet);
  book.Sheets.push_back(sheet);
  return sheet;
}

void MemoryApplication::ActivateSheet(const std::string& name) {
  MemoryWorkbook& book = ActiveBook();
  for (std::size_t i = 0; i < book.Sheets.size(); ++i) {
    if (book.Sheets[i]->Name() == name) {
      book.ActiveSheet = i;
      return;
    }
  }
  throw LinkError(kBadArgument, "No sheet \"" + name + "\"");
}

std::shared_ptr<MemorySheet> MemoryApplication::Sheet(const std::string& name) {
  for (const auto& sheet : ActiveBook().Sheets) {
    if (sheet->Name() == name) return sheet;
  }
  return nullptr;
}

void MemoryApplication::AddFile(const std::string& fullPath, std::function<void(MemoryApplication&)> fill) {
  State();
  files_[fullPath] = std::move(fill);
}

void MemoryApplication::CloseWorkbook(int index) {
  WorkbookName(index);
  AppState& s = State();
  const auto i = static_cast<std::size_t>(index - 1);
  for (auto& sheet : s.Workbooks[i]->Sheets) sheet->MarkClosed();
  s.Workbooks.erase(s.Workbooks.begin() + static_cast<std::ptrdiff_t>(i));
  if (s.Active >= s.Workbooks.size()) s.Active = s.Workbooks.empty() ? 0 : s.Workbooks.size() - 1;
}

void MemoryApplication::SaveWorkbookAs(int index, const std::string& fullPath) {
  WorkbookName(index);
  MemoryWorkbook& book = *State().Workbooks[static_cast<std::size_t>(index - 1)];
  book.FullName = fullPath;
  book.Name = fullPath.substr(fullPath.find_last_of('/') + 1);
}

void MemoryApplication::SimulateGone() { state_.reset(); }

}  // namespace tersolv::link::memory
