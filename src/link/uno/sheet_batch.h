// The cell traffic of one Calc worksheet in blocks (Worksheet::BeginBatch):
// a round trip to the office costs ~0.1-0.2 ms whatever it carries, so a
// batch reads the used area in blocks of rows with getDataArray and holds
// writes back until they are sent as a few range operations: the cleared
// cells in one clearContents, the written cells as setDataArray over
// rectangles of rows (the numbers of cells alone, one column's in one
// XChartDataArray::setData), each font colour in one CharColor over all its
// cells.
// Every cell keeps only its last write, so the order of the calls is kept
// where it matters (a cell cleared, then written) and nowhere else.
//
// From a batch's first sending on, automatic calculation is off (restored at
// its end, also when it fails), and every sending locks the document's controllers,
// so that the office repaints once per block instead of once per cell.
// Private to src/link/uno.
#pragma once

#include <chrono>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/link.h"

namespace tersolv::link::uno {

namespace css = ::com::sun::star;

// The office's encoding of a colour (0xRRGGBB).
sal_Int32 OfficeColor(Rgb color);

// What a batch holds for one cell: its last write, and its font colour.
struct SheetBatchCell {
  enum class Content : std::uint8_t { kNone, kNumber, kText, kClear };
  Content What = Content::kNone;
  bool Coloured = false;
  Rgb Color = 0;
  double Number = 0;
  std::string Text;
};

class SheetBatch {
 public:
  // Runs one office operation as the sheet runs its calls (watched,
  // failures turned into LinkError); `what` names it in messages.
  using Runner = std::function<void(const char* what, const std::function<void()>& call)>;

  SheetBatch(css::uno::Reference<css::sheet::XSpreadsheet> sheet, css::uno::Reference<css::frame::XModel> model,
             char decimalSeparator, Runner run);

  bool Active() const { return depth_ > 0; }
  void Begin();
  // Sends what is held and, at the outermost level, ends the batch (always)
  // and restores automatic calculation; throws the first failure.
  void End();

  // The text of a cell from the block that holds it (fetched on first use);
  // nullopt when the block cannot tell (a formula's error value): ask the cell.
  std::optional<std::string> CellText(int row, int column);

  // Held writes (cells numbered from 1, checked by the caller). A write too
  // far right to be held is sent at once (after what is held).
  bool CanHold(int column) const { return column <= kMaxColumns; }
  void WriteNumber(int row, int column, double value);
  void WriteText(int row, int column, const std::string& text);
  void Clear(int row, int firstColumn, int lastColumn);
  void SetFontColor(int row, int firstColumn, int lastColumn, Rgb color);
  void Flush();

 private:
  static constexpr int kMaxColumns = 256;     // columns a batch holds writes for
  static constexpr int kBlockRows = 4096;     // rows of a read block
  static constexpr int kBlockColumns = 4;     // columns of a read block (the input columns)
  static constexpr std::size_t kMaxHeldCells = 1 << 20;  // bounds the memory held
  static constexpr auto kFlushEvery = std::chrono::milliseconds(500);

  struct Block {
    std::vector<std::optional<std::string>> Texts;  // row-major, kBlockColumns wide
  };

  SheetBatchCell& At(int row, int column);
  // After a write: the blocks read of those cells dropped, the used area
  // grown, and what is held sent when it is due.
  void Written(int row, int firstColumn, int lastColumn);
  void SendHeld();
  const Block& Fetch(int rowBlock, int columnBlock);
  void ReadUsedArea();

  css::uno::Reference<css::sheet::XSpreadsheet> sheet_;
  css::uno::Reference<css::frame::XModel> model_;
  char decimalSeparator_;
  Runner run_;
  int depth_ = 0;
  bool calculationChecked_ = false;  // automatic calculation switched off if it was on
  bool restoreCalculation_ = false;
  bool usedRead_ = false;
  int usedRows_ = 0, usedColumns_ = 0;  // the used area, grown by the held writes
  std::map<int, std::vector<SheetBatchCell>> held_;  // by row; index = column
  int lastRow_ = 0;  // the row of lastCells_, the cells of the last write
  std::vector<SheetBatchCell>* lastCells_ = nullptr;
  std::size_t heldCells_ = 0;
  std::chrono::steady_clock::time_point lastSent_;
  std::map<std::pair<int, int>, Block> blocks_;
};

}  // namespace tersolv::link::uno
