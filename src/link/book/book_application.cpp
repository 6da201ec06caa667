#include "link/book/book_application.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "link/book/book_file.h"
#include "link/book/file_io.h"

namespace tersolv::link::book {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Extension(const std::string& path) { return Lower(std::filesystem::path(path).extension().string()); }

}  // namespace

bool IsCsvPath(const std::string& path) { return Extension(path) == ".csv"; }

struct BookApplication::OpenBook {
  std::string FullName;
  bool ReadOnly = false;
  bool Csv = false;
  FileStamp Stamp;
  std::unique_ptr<WorkbookLock> Lock;  // held from opening to closing unless read-only
  std::shared_ptr<BookState> State;
  std::unique_ptr<BookFile> File;
  int ActiveSheet = 0;
};

BookApplication::BookApplication(char decimalSeparator, Limits limits)
    : decimalSeparator_(decimalSeparator), limits_(limits), events_(std::make_shared<bool>(true)) {}

BookApplication::~BookApplication() { Quit(); }

BookApplication::OpenBook& BookApplication::Active() {
  if (active_ < 0 || active_ >= static_cast<int>(books_.size())) throw LinkError(kNoWorkbook, "No workbook is open");
  return *books_[static_cast<std::size_t>(active_)];
}

BookApplication::OpenBook& BookApplication::At(int index) {
  if (index < 1 || index > static_cast<int>(books_.size()))
    throw LinkError(kBadArgument, "There is no workbook number " + std::to_string(index));
  return *books_[static_cast<std::size_t>(index - 1)];
}

std::string BookApplication::ActiveWorkbookName() {
  return std::filesystem::path(Active().FullName).filename().string();
}

std::string BookApplication::ActiveSheetName() {
  OpenBook& book = Active();
  return book.File->SheetName(book.ActiveSheet);
}

std::shared_ptr<Worksheet> BookApplication::ActiveSheet() {
  OpenBook& book = Active();
  auto sheet = book.File->Sheet(book.ActiveSheet);
  if (!sheet)
    throw LinkError(kNotAWorksheet, "Sheet \"" + book.File->SheetName(book.ActiveSheet) + "\" is not a worksheet");
  return sheet;
}

std::shared_ptr<Worksheet> BookApplication::FirstWorksheet() {
  OpenBook& book = Active();
  for (int i = 0; i < book.File->SheetCount(); ++i)
    if (auto sheet = book.File->Sheet(i)) return sheet;
  throw LinkError(kNotAWorksheet, "The workbook has no worksheet");
}

int BookApplication::WorkbookCount() { return static_cast<int>(books_.size()); }

std::string BookApplication::WorkbookName(int index) {
  return std::filesystem::path(At(index).FullName).filename().string();
}

std::string BookApplication::WorkbookFullName(int index) { return At(index).FullName; }

void BookApplication::ActivateWorkbook(int index) {
  At(index);
  active_ = index - 1;
}

void BookApplication::OpenWorkbook(const std::string& path, bool readOnly) { OpenWorkbook(path, readOnly, ""); }

void BookApplication::OpenWorkbook(const std::string& path, bool readOnly, const std::string& csvSheetName) {
  const std::string full = FullPath(path);
  for (std::size_t i = 0; i < books_.size(); ++i)
    if (books_[i]->FullName == full) {
      active_ = static_cast<int>(i);
      return;
    }
  auto book = std::make_unique<OpenBook>();
  book->FullName = full;
  book->ReadOnly = readOnly;
  book->Csv = IsCsvPath(full);
  book->State = std::make_shared<BookState>();
  book->State->EventsEnabled = events_;
  book->State->DecimalSeparator = decimalSeparator_;
  book->State->KeepsFormulaValue = keepsFormulaValue_;
  if (!readOnly) book->Lock = std::make_unique<WorkbookLock>(full);
  const std::string displayName = std::filesystem::path(full).filename().string();
  if (book->Csv) {
    std::string bytes = ReadWholeFile(full, limits_.MaxFileBytes, &book->Stamp);
    const std::string sheetName =
        csvSheetName.empty() ? std::filesystem::path(full).stem().string() : csvSheetName;
    book->File = OpenCsv(std::move(bytes), displayName, sheetName, book->State, limits_);
  } else {
    book->File = OpenXlsx(ReadWholeFile(full, limits_.MaxFileBytes, &book->Stamp), displayName, book->State, limits_);
  }
  if (!readOnly) CheckReplaceable(full);  // refused now rather than after the work
  book->ActiveSheet = book->File->ActiveSheetIndex();
  books_.push_back(std::move(book));
  active_ = static_cast<int>(books_.size()) - 1;
}

void BookApplication::SetEventsEnabled(bool enabled) { *events_ = enabled; }
bool BookApplication::EventsEnabled() const { return *events_; }

void BookApplication::Quit() {
  for (auto& book : books_) book->State->Open = false;
  books_.clear();
  outputLocks_.clear();
  active_ = -1;
}

std::vector<std::string> BookApplication::SheetNames() {
  OpenBook& book = Active();
  std::vector<std::string> names;
  for (int i = 0; i < book.File->SheetCount(); ++i) names.push_back(book.File->SheetName(i));
  return names;
}

void BookApplication::ActivateSheet(const std::string& name) {
  OpenBook& book = Active();
  for (int i = 0; i < book.File->SheetCount(); ++i)
    if (book.File->SheetName(i) == name) {
      book.ActiveSheet = i;
      return;
    }
  throw LinkError(kBadArgument, "The workbook has no sheet \"" + name + "\"");
}

bool BookApplication::Modified() { return Active().State->Modified; }

int BookApplication::MarkedCellsNotStored() { return Active().State->MarkedCellsNotStored; }

void BookApplication::WriteFile(OpenBook& book, const std::string& path, const FileStamp* expected) {
  const std::string bytes = book.File->Serialize();
  ReplaceFile(path, bytes, expected);
}

void BookApplication::LockOutput(const std::string& path) {
  const std::string full = FullPath(path);
  if (outputLocks_.count(full)) return;
  for (const auto& book : books_)
    if (book->FullName == full && book->Lock) return;
  auto lock = std::make_unique<WorkbookLock>(full);
  CheckReplaceable(full);
  outputLocks_.emplace(full, std::move(lock));
}

void BookApplication::KeepFormulaValues(std::function<bool(std::string_view, int, int)> keep) {
  keepsFormulaValue_ = std::move(keep);
  for (auto& book : books_) book->State->KeepsFormulaValue = keepsFormulaValue_;
}

void BookApplication::Save() {
  OpenBook& book = Active();
  if (book.ReadOnly) throw LinkError(kFileError, "\"" + book.FullName + "\" was opened read-only; it is not saved");
  FileStamp now;
  try {
    now = StampOf(book.FullName);
  } catch (const LinkError&) {
    throw LinkError(kFileError, "\"" + book.FullName + "\" has been removed or moved since it was opened; not saved");
  }
  if (!(now == book.Stamp))
    throw LinkError(kFileError, "\"" + book.FullName +
                                    "\" was changed by another program since it was opened; it is not overwritten");
  WriteFile(book, book.FullName, &book.Stamp);
  book.Stamp = StampOf(book.FullName);
  book.State->Modified = false;
}

void BookApplication::SaveAs(const std::string& path) {
  OpenBook& book = Active();
  if (IsCsvPath(path) != book.Csv)
    throw LinkError(kFileError, "\"" + path + "\" must have the format of \"" + book.FullName + "\" (" +
                                    (book.Csv ? ".csv" : ".xlsx") + ")");
  const std::string full = FullPath(path);
  if (full == book.FullName && !book.ReadOnly) return Save();  // with its check for changes on disk
  LockOutput(full);
  FileStamp before;
  const bool existed = ::access(full.c_str(), F_OK) == 0;
  if (existed) before = StampOf(full);
  WriteFile(book, full, existed ? &before : nullptr);
  book.FullName = full;
  book.ReadOnly = false;
  if (auto lock = outputLocks_.find(full); lock != outputLocks_.end()) {
    book.Lock = std::move(lock->second);
    outputLocks_.erase(lock);
  }
  book.Stamp = StampOf(full);
  book.State->Modified = false;
}

int BookApplication::LastRow(const Worksheet& sheet) {
  const auto* s = dynamic_cast<const BookSheet*>(&sheet);
  return s ? s->LastRow() : 0;
}

int BookApplication::LastColumn(const Worksheet& sheet, int row) {
  const auto* s = dynamic_cast<const BookSheet*>(&sheet);
  return s ? s->LastColumn(row) : 0;
}

}  // namespace tersolv::link::book

namespace tersolv::link::book {

Rgb BookApplication::FontColor(const Worksheet& sheet, int row, int column) {
  const auto* s = dynamic_cast<const BookSheet*>(&sheet);
  return s ? s->FontColor(row, column) : 0;
}

}  // namespace tersolv::link::book
