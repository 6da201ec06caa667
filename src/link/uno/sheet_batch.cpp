#include "link/uno/sheet_batch.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/chart/XChartDataArray.hpp>
#include <com/sun/star/document/XActionLockable.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSheetCellRangeContainer.hpp>
#include <com/sun/star/sheet/XSheetOperation.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <exception>
#include <set>
#include <tuple>

#include "link/uno/calc_session.h"

namespace tersolv::link::uno {
namespace {

using namespace css;
using Clock = std::chrono::steady_clock;

// A rectangle of cells (numbered from 1) that share a key: a colour, or
// nothing.
struct Rectangle {
  int FirstRow, LastRow, FirstColumn, LastColumn;
  Rgb Key;
};

// Runs of cells of the same row, merged with the identical runs of the rows
// just above them into rectangles.
class Rectangles {
 public:
  void Add(int row, int firstColumn, int lastColumn, Rgb key) {
    const auto at = open_.find({firstColumn, lastColumn, key});
    if (at != open_.end() && all_[at->second].LastRow == row - 1) {
      all_[at->second].LastRow = row;
      return;
    }
    all_.push_back({row, row, firstColumn, lastColumn, key});
    open_[{firstColumn, lastColumn, key}] = all_.size() - 1;
  }
  const std::vector<Rectangle>& All() const { return all_; }

 private:
  std::vector<Rectangle> all_;
  std::map<std::tuple<int, int, Rgb>, std::size_t> open_;  // the rectangle a run may extend
};

// Adds the runs of one row's cells for which key(cell) gives a value.
template <class Key>
void AddRuns(Rectangles& into, int row, const std::vector<SheetBatchCell>& cells, Key key) {
  std::optional<Rgb> current;
  int first = 0;
  for (int column = 1; column <= static_cast<int>(cells.size()); ++column) {
    const std::optional<Rgb> k = column < static_cast<int>(cells.size()) ? key(cells[column]) : std::nullopt;
    if (current && k == current) continue;
    if (current) into.Add(row, first, column - 1, *current);
    current = k;
    first = column;
  }
}

table::CellRangeAddress Address(sal_Int16 sheet, const Rectangle& r) {
  return {sheet, r.FirstColumn - 1, r.FirstRow - 1, r.LastColumn - 1, r.LastRow - 1};
}

}  // namespace

sal_Int32 OfficeColor(Rgb color) {
  return static_cast<sal_Int32>(((color & 0xFFu) << 16) | (color & 0xFF00u) | ((color >> 16) & 0xFFu));
}

SheetBatch::SheetBatch(Reference<sheet::XSpreadsheet> sheet, Reference<frame::XModel> model, char decimalSeparator,
                       Runner run)
    : sheet_(std::move(sheet)), model_(std::move(model)), decimalSeparator_(decimalSeparator), run_(std::move(run)) {}

void SheetBatch::Begin() {
  if (depth_++ > 0) return;
  lastSent_ = Clock::now();
  calculationChecked_ = false;
}

void SheetBatch::End() {
  if (depth_ == 0) return;
  if (--depth_ > 0) return;
  std::exception_ptr failure;
  try {
    SendHeld();
  } catch (...) {
    failure = std::current_exception();
  }
  held_.clear();
  lastCells_ = nullptr;
  heldCells_ = 0;
  blocks_.clear();
  usedRows_ = usedColumns_ = 0;
  usedRead_ = false;
  calculationChecked_ = false;
  if (restoreCalculation_) {
    restoreCalculation_ = false;
    try {
      run_("EndBatch", [&] {
        Reference<sheet::XCalculatable>(model_, css::uno::UNO_QUERY_THROW)->enableAutomaticCalculation(true);
      });
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// --- Reading ---

void SheetBatch::ReadUsedArea() {
  run_("CellText", [&] {
    Reference<sheet::XSheetCellCursor> cursor = sheet_->createCursor();
    Reference<sheet::XUsedAreaCursor>(cursor, css::uno::UNO_QUERY_THROW)->gotoEndOfUsedArea(false);
    const table::CellRangeAddress end =
        Reference<sheet::XCellRangeAddressable>(cursor, css::uno::UNO_QUERY_THROW)->getRangeAddress();
    usedRows_ = std::max(usedRows_, end.EndRow + 1);
    usedColumns_ = std::max(usedColumns_, end.EndColumn + 1);
  });
  usedRead_ = true;
}

const SheetBatch::Block& SheetBatch::Fetch(int rowBlock, int columnBlock) {
  if (const auto at = blocks_.find({rowBlock, columnBlock}); at != blocks_.end()) return at->second;
  Flush();  // the block shows what was written before
  const int firstRow = rowBlock * kBlockRows + 1, firstColumn = columnBlock * kBlockColumns + 1;
  const int lastRow = std::min(usedRows_, firstRow + kBlockRows - 1);
  const int lastColumn = std::min(usedColumns_, firstColumn + kBlockColumns - 1);
  Block block;
  block.Texts.assign(static_cast<std::size_t>(kBlockRows * kBlockColumns), std::string());
  run_("CellText", [&] {
    const css::uno::Sequence<css::uno::Sequence<css::uno::Any>> data =
        Reference<sheet::XCellRangeData>(
            sheet_->getCellRangeByPosition(firstColumn - 1, firstRow - 1, lastColumn - 1, lastRow - 1),
            css::uno::UNO_QUERY_THROW)
            ->getDataArray();
    for (sal_Int32 r = 0; r < data.getLength(); ++r) {
      for (sal_Int32 c = 0; c < data[r].getLength(); ++c) {
        std::optional<std::string>& text = block.Texts[static_cast<std::size_t>(r * kBlockColumns + c)];
        const css::uno::Any& value = data[r][c];
        double number = 0;
        OUString string;
        if (value >>= number) {
          text = NumberText(number, decimalSeparator_);
        } else if (value >>= string) {
          text = ToUtf8(string);
        } else {
          text.reset();  // an error value: the cell's own text tells it
        }
      }
    }
  });
  return blocks_.emplace(std::pair{rowBlock, columnBlock}, std::move(block)).first->second;
}

std::optional<std::string> SheetBatch::CellText(int row, int column) {
  if (!usedRead_) ReadUsedArea();
  if (row > usedRows_ || column > usedColumns_) return std::string();  // held writes grow the area
  const Block& block = Fetch((row - 1) / kBlockRows, (column - 1) / kBlockColumns);
  return block.Texts[static_cast<std::size_t>(((row - 1) % kBlockRows) * kBlockColumns + (column - 1) % kBlockColumns)];
}

// --- Writing ---

SheetBatchCell& SheetBatch::At(int row, int column) {
  if (row != lastRow_ || lastCells_ == nullptr) {  // the writes come row by row
    lastCells_ = &held_[row];
    lastRow_ = row;
  }
  std::vector<SheetBatchCell>& cells = *lastCells_;
  if (static_cast<int>(cells.size()) <= column) cells.resize(static_cast<std::size_t>(column) + 1);
  return cells[static_cast<std::size_t>(column)];
}

void SheetBatch::Written(int row, int firstColumn, int lastColumn) {
  for (int block = (firstColumn - 1) / kBlockColumns; block <= (lastColumn - 1) / kBlockColumns; ++block)
    blocks_.erase({(row - 1) / kBlockRows, block});
  usedRows_ = std::max(usedRows_, row);
  usedColumns_ = std::max(usedColumns_, lastColumn);
  heldCells_ += static_cast<std::size_t>(lastColumn - firstColumn + 1);
  if (heldCells_ >= kMaxHeldCells || Clock::now() - lastSent_ >= kFlushEvery) Flush();
}

void SheetBatch::WriteNumber(int row, int column, double value) {
  SheetBatchCell& cell = At(row, column);
  cell.What = SheetBatchCell::Content::kNumber;
  cell.Number = value;
  cell.Text.clear();
  Written(row, column, column);
}

void SheetBatch::WriteText(int row, int column, const std::string& text) {
  SheetBatchCell& cell = At(row, column);
  cell.What = SheetBatchCell::Content::kText;
  cell.Text = text;
  Written(row, column, column);
}

void SheetBatch::Clear(int row, int firstColumn, int lastColumn) {
  for (int column = firstColumn; column <= lastColumn; ++column) {
    SheetBatchCell& cell = At(row, column);
    cell.What = SheetBatchCell::Content::kClear;
    cell.Text.clear();
  }
  Written(row, firstColumn, lastColumn);
}

void SheetBatch::SetFontColor(int row, int firstColumn, int lastColumn, Rgb color) {
  for (int column = firstColumn; column <= lastColumn; ++column) {
    SheetBatchCell& cell = At(row, column);
    cell.Coloured = true;
    cell.Color = color;
  }
  heldCells_ += static_cast<std::size_t>(lastColumn - firstColumn + 1);
  if (heldCells_ >= kMaxHeldCells || Clock::now() - lastSent_ >= kFlushEvery) Flush();
}

void SheetBatch::Flush() {
  if (held_.empty()) return;
  SendHeld();
  lastSent_ = Clock::now();
}

void SheetBatch::SendHeld() {
  std::map<int, std::vector<SheetBatchCell>> held;
  held.swap(held_);
  lastCells_ = nullptr;
  heldCells_ = 0;
  if (held.empty()) return;

  Rectangles clears, values, colours;
  for (const auto& [row, cells] : held) {
    using Content = SheetBatchCell::Content;
    AddRuns(clears, row, cells,
            [](const SheetBatchCell& c) { return c.What == Content::kClear ? std::optional<Rgb>(0) : std::nullopt; });
    AddRuns(values, row, cells, [](const SheetBatchCell& c) {
      return c.What == Content::kNumber || c.What == Content::kText ? std::optional<Rgb>(0) : std::nullopt;
    });
    AddRuns(colours, row, cells,
            [](const SheetBatchCell& c) { return c.Coloured ? std::optional<Rgb>(c.Color) : std::nullopt; });
  }

  run_("Batch", [&] {
    // Off from the first sending on: with it off, a formula the office has
    // not evaluated yet reads as 0, so the reading before stays as it was.
    if (!calculationChecked_) {
      calculationChecked_ = true;
      Reference<sheet::XCalculatable> calculation(model_, css::uno::UNO_QUERY);
      if (calculation.is() && calculation->isAutomaticCalculationEnabled()) {
        calculation->enableAutomaticCalculation(false);
        restoreCalculation_ = true;
      }
    }
    Reference<document::XActionLockable> actions(model_, css::uno::UNO_QUERY);
    model_->lockControllers();
    if (actions.is()) actions->addActionLock();
    struct Unlock {
      const Reference<frame::XModel>& Model;
      const Reference<document::XActionLockable>& Actions;
      ~Unlock() {
        try {
          if (Actions.is()) Actions->removeActionLock();
          Model->unlockControllers();
        } catch (const css::uno::Exception&) {
          // The office is gone or the document closed: nothing left to unlock.
        }
      }
    } unlock{model_, actions};

    const sal_Int16 sheetIndex =
        Reference<sheet::XCellRangeAddressable>(sheet_, css::uno::UNO_QUERY_THROW)->getRangeAddress().Sheet;
    // All rectangles of one key as one range object.
    const auto ranges = [&](const std::vector<Rectangle>& all, Rgb key) -> Reference<css::uno::XInterface> {
      std::vector<table::CellRangeAddress> addresses;
      for (const Rectangle& r : all)
        if (r.Key == key) addresses.push_back(Address(sheetIndex, r));
      if (addresses.size() == 1) {
        const table::CellRangeAddress& a = addresses.front();
        return sheet_->getCellRangeByPosition(a.StartColumn, a.StartRow, a.EndColumn, a.EndRow);
      }
      Reference<sheet::XSheetCellRangeContainer> container(
          Reference<lang::XMultiServiceFactory>(model_, css::uno::UNO_QUERY_THROW)
              ->createInstance("com.sun.star.sheet.SheetCellRanges"),
          css::uno::UNO_QUERY_THROW);
      container->addRangeAddresses(
          css::uno::Sequence<table::CellRangeAddress>(addresses.data(), static_cast<sal_Int32>(addresses.size())),
          false);
      return container;
    };

    if (!clears.All().empty()) {
      Reference<sheet::XSheetOperation>(ranges(clears.All(), 0), css::uno::UNO_QUERY_THROW)
          ->clearContents(sheet::CellFlags::VALUE | sheet::CellFlags::DATETIME | sheet::CellFlags::STRING |
                          sheet::CellFlags::FORMULA);
    }
    // Numbers of cells alone in their rectangle, by column: each column's in
    // one call, as a call per cell costs as much as a call per block.
    std::map<int, std::vector<const Rectangle*>> lone;
    for (const Rectangle& r : values.All()) {
      if (r.FirstRow == r.LastRow && r.FirstColumn == r.LastColumn &&
          held.at(r.FirstRow)[static_cast<std::size_t>(r.FirstColumn)].What == SheetBatchCell::Content::kNumber)
        lone[r.FirstColumn].push_back(&r);
    }
    std::set<const Rectangle*> sent;
    for (const auto& [column, cells] : lone) {
      if (cells.size() < 2) continue;
      std::vector<Rectangle> all;
      css::uno::Sequence<css::uno::Sequence<double>> numbers(static_cast<sal_Int32>(cells.size()));
      for (std::size_t k = 0; k < cells.size(); ++k) {  // in the order of their rows, as the ranges give them
        all.push_back(*cells[k]);
        numbers.getArray()[k] = css::uno::Sequence<double>(
            &held.at(cells[k]->FirstRow)[static_cast<std::size_t>(column)].Number, 1);
        sent.insert(cells[k]);
      }
      Reference<chart::XChartDataArray>(ranges(all, all.front().Key), css::uno::UNO_QUERY_THROW)->setData(numbers);
    }
    for (const Rectangle& r : values.All()) {
      if (sent.count(&r)) continue;
      css::uno::Sequence<css::uno::Sequence<css::uno::Any>> data(r.LastRow - r.FirstRow + 1);
      for (int row = r.FirstRow; row <= r.LastRow; ++row) {
        const std::vector<SheetBatchCell>& cells = held.at(row);
        css::uno::Sequence<css::uno::Any> line(r.LastColumn - r.FirstColumn + 1);
        for (int column = r.FirstColumn; column <= r.LastColumn; ++column) {
          const SheetBatchCell& cell = cells[static_cast<std::size_t>(column)];
          css::uno::Any& value = line.getArray()[column - r.FirstColumn];
          if (cell.What == SheetBatchCell::Content::kNumber) {
            value <<= cell.Number;
          } else {
            value <<= ToOUString(cell.Text);
          }
        }
        data.getArray()[row - r.FirstRow] = line;
      }
      Reference<sheet::XCellRangeData>(
          sheet_->getCellRangeByPosition(r.FirstColumn - 1, r.FirstRow - 1, r.LastColumn - 1, r.LastRow - 1),
          css::uno::UNO_QUERY_THROW)
          ->setDataArray(data);
    }
    std::vector<Rgb> done;
    for (const Rectangle& r : colours.All()) {
      if (std::find(done.begin(), done.end(), r.Key) != done.end()) continue;
      done.push_back(r.Key);
      Reference<beans::XPropertySet>(ranges(colours.All(), r.Key), css::uno::UNO_QUERY_THROW)
          ->setPropertyValue("CharColor", css::uno::Any(OfficeColor(r.Key)));
    }
  });
}

}  // namespace tersolv::link::uno
