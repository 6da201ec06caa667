#include <cmath>

#include "link/book/book_file.h"
#include "link/book/cell_format.h"

namespace tersolv::link::book {
namespace {

void CheckCell(int row, int column) {
  if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
    throw LinkError(kBadArgument, "Cell (" + std::to_string(row) + ", " + std::to_string(column) +
                                      ") lies outside the worksheet");
}

void CheckRange(int row, int firstColumn, int lastColumn) {
  CheckCell(row, firstColumn);
  CheckCell(row, lastColumn);
  if (lastColumn < firstColumn)
    throw LinkError(kBadArgument, "Empty cell range in row " + std::to_string(row));
}

}  // namespace

void BookSheet::CheckOpen() const {
  if (!state_->Open) throw LinkError(kNoWorkbook, "The workbook of this sheet has been closed");
}

void BookSheet::Changed(int row, int firstColumn, int lastColumn) {
  state_->Modified = true;
  if (handler_ && state_->EventsEnabled && *state_->EventsEnabled)
    handler_(CellRange{row, firstColumn, row, lastColumn});
}

std::string BookSheet::Name() const {
  CheckOpen();
  return StoredName();
}

int BookSheet::LastRow() const {
  CheckOpen();
  return UsedRows();
}

int BookSheet::LastColumn(int row) const {
  CheckOpen();
  return UsedColumns(row);
}

Rgb BookSheet::FontColor(int row, int column) const {
  CheckOpen();
  CheckCell(row, column);
  return StoredFontColor(row, column);
}

std::string BookSheet::CellText(int row, int column) const {
  CheckOpen();
  CheckCell(row, column);
  return Text(row, column);
}

void BookSheet::WriteNumber(int row, int column, double value) {
  CheckOpen();
  CheckCell(row, column);
  if (!std::isfinite(value)) throw LinkError(kBadArgument, "Only finite numbers can be written into a cell");
  PutNumber(row, column, value);
  Changed(row, column, column);
}

void BookSheet::WriteNumbers(int row, int column, std::span<const double> values) {
  for (std::size_t k = 0; k < values.size(); ++k) WriteNumber(row, column + static_cast<int>(k), values[k]);
}

void BookSheet::WriteText(int row, int column, const std::string& text) {
  CheckOpen();
  CheckCell(row, column);
  PutText(row, column, text);
  Changed(row, column, column);
}

void BookSheet::ClearContents(int row, int firstColumn, int lastColumn) {
  CheckOpen();
  CheckRange(row, firstColumn, lastColumn);
  Clear(row, firstColumn, lastColumn);
  Changed(row, firstColumn, lastColumn);
}

void BookSheet::SetFontColor(int row, int firstColumn, int lastColumn, Rgb color) {
  CheckOpen();
  CheckRange(row, firstColumn, lastColumn);
  if (color > 0xFFFFFFu) throw LinkError(kBadArgument, "Not an RGB colour: " + std::to_string(color));
  Color(row, firstColumn, lastColumn, color);
  state_->Modified = true;
}

void BookSheet::SetChangeHandler(std::function<void(const CellRange&)> handler) {
  CheckOpen();
  handler_ = std::move(handler);
}

}  // namespace tersolv::link::book
