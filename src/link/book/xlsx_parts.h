// The two halves of the .xlsx backend, shared by xlsx_package.cpp (the
// package: workbook, relationships, content types, shared strings, styles,
// saving) and xlsx_sheet.cpp (a worksheet: its rows and cells, read forward
// and written anew). Internal to the workbook backend.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "link/book/book_file.h"
#include "link/book/cell_format.h"
#include "link/book/formula_refs.h"
#include "link/book/sheet_xml.h"
#include "link/book/xml_util.h"
#include "link/book/zip_archive.h"

namespace tersolv::link::book::xlsx {

struct Relationship {
  std::string Id, Type, Target;  // Target resolved to a part name
  bool External = false;
};

class XlsxFile;

// One cell as a sheet keeps it: numbers, shared-string references and empty
// (styled) cells as a few bytes; any other cell (formulas, inline or rich
// text, booleans, errors, further attributes or children) as the XML element
// it was, kept as it is until it is written to.
enum class CellKind : std::uint8_t {
  Empty,       // no value
  Number,      // Number, written as FormatNumber writes it
  NumberText,  // Number as read, written as it was: TextLength bytes at TextOffset of the sheet's text pool
  Shared,      // shared string number Index
  Node,        // the element Index of the sheet's kept elements
};

struct CellRecord {
  std::int32_t Column = 0;
  std::int32_t Style = -1;  // index into the cell formats; -1 when the cell names none
  CellKind Kind = CellKind::Empty;
  bool NumberType = false;  // the number was written with an explicit t="n"
  std::uint8_t TextLength = 0;
  std::uint32_t TextOffset = 0;
  union {
    double Number;
    std::uint64_t Index = 0;
  };
};
static_assert(sizeof(CellRecord) == 24, "a cell record stays small: a sheet holds hundreds of thousands");

using CellRecords = std::vector<CellRecord>;

struct RowRecord {
  CellRecords Cells;       // by column
  std::string Attributes;  // the row's attributes but r, as written (" spans=\"1:4\" ht=\"15\"")
  std::string Extras;      // child elements other than cells (extLst), as written
};

// One worksheet: the part's text around <sheetData>, kept as it was, and
// the rows and cells, which are written anew when the sheet is saved.
class XlsxSheet final : public BookSheet {
 public:
  XlsxSheet(XlsxFile& file, std::string name, std::string part, std::shared_ptr<BookState> state)
      : BookSheet(std::move(state)), file_(file), name_(std::move(name)), part_(std::move(part)) {}

  void Load(ZipArchive& zip, std::uint64_t& cellBudget);
  int UsedRows() const override { return lastRow_; }
  int UsedColumns(int row) const override {
    const RowRecord* r = RowAt(row);
    return r == nullptr || r->Cells.empty() ? 0 : r->Cells.back().Column;
  }
  Rgb StoredFontColor(int row, int column) const override;
  const std::string& Part() const { return part_; }
  bool Dirty() const { return dirty_; }
  // The part's text, in pieces (held by the sheet, which must not change meanwhile).
  ZipArchive::PartWriter Writer() const;
  // The formula cells with cached values (but those `keep` names), with the
  // formula of each (a shared one moved to its cell).
  struct Formula {
    pugi::xml_node Cell;
    int Row = 0, Column = 0;
    std::string Text;
  };
  void CollectFormulas(const std::function<bool(std::string_view, int, int)>& keep, std::vector<Formula>& out) const;
  // The block of cells written since the file was read (FirstRow 0: none).
  const FormulaArea& Written() const { return written_; }
  std::string StoredName() const override { return name_; }
  void MarkChanged() { dirty_ = true; }

 protected:
  std::string Text(int row, int column) const override;
  void PutNumber(int row, int column, double value) override;
  void PutText(int row, int column, const std::string& text) override;
  void Clear(int row, int firstColumn, int lastColumn) override;
  void Color(int row, int firstColumn, int lastColumn, Rgb color) override;

 private:
  std::string Where(int row, int column) const {
    return "cell " + CellReference(row, column) + " of sheet \"" + name_ + "\"";
  }
  std::string What() const;  // "\"Data.xlsx\": sheet \"Notes\"", for messages
  // Reading the part: `text`, and with `entry` the rest of it piece by piece
  // (a big sheet is never held whole). False when the text holds forms the
  // forward reader leaves to the full parser; LinkError for cells and rows
  // that are wrong as such.
  bool Scan(ZipArchive::Entry* entry, std::string& text, std::uint64_t& cellBudget);
  bool ScanRow(std::string_view xml, const StartTag& tag, std::size_t& pos, int& lastRow, std::uint64_t& cellBudget);
  // The end of the cell at `at`, or nullopt.
  std::optional<std::size_t> ScanCell(std::string_view xml, std::size_t at, const StartTag& tag, int rowNumber,
                                      int& lastColumn, std::vector<CellRecord>& cells);
  std::optional<pugi::xml_node> KeepElement(std::string_view xml, std::size_t begin, std::size_t end);
  std::string Normalized(const std::string& xml) const;
  void Reset();
  // Room for the rows the <dimension> announces, as far as a part of
  // `partSize` bytes can hold them.
  void ReserveRows(std::uint64_t partSize);
  void CheckCellOnLoad(int row, int column, pugi::xml_node cell) const;
  void CheckNumber(int row, int column, std::string_view text, CellRecord& cell);

  const RowRecord* RowAt(int row) const;
  RowRecord& ObtainRow(int row);
  const CellRecord* Find(int row, int column) const;
  CellRecord& Obtain(int row, int column);
  pugi::xml_node NodeOf(const CellRecord& cell) const { return nodes_[cell.Index]; }
  int StyleOf(const CellRecord& cell) const;
  void ReleaseValue(int row, int column, pugi::xml_node cell);
  void HandOverSharedFormula(int row, int column, pugi::xml_node formula);
  void MarkWritten(int row, int firstColumn, int lastColumn) {
    if (written_.FirstRow == 0) written_ = {name_, row, firstColumn, row, lastColumn};
    written_.FirstRow = std::min(written_.FirstRow, row);
    written_.LastRow = std::max(written_.LastRow, row);
    written_.FirstColumn = std::min(written_.FirstColumn, firstColumn);
    written_.LastColumn = std::max(written_.LastColumn, lastColumn);
  }
  pugi::xml_node ValueElement(pugi::xml_node cell);
  void AppendHead(std::string& out) const;
  void AppendRow(std::string& out, std::size_t number) const;
  void AppendCell(std::string& out, std::string_view rowDigits, const CellRecord& cell) const;
  std::string Dimension() const;

  XlsxFile& file_;
  std::string name_, part_;
  bool dirty_ = false;
  FormulaArea written_;
  // The part: head_ (with the <dimension> at dimension_), then the
  // <sheetData> element, then tail_.
  std::string head_, tail_;
  std::size_t dimensionBegin_ = std::string::npos, dimensionEnd_ = std::string::npos;
  std::string dataName_, dataAttributes_, dataExtras_;
  std::string prefix_, rowName_, cellName_, valueName_;
  std::string cellOpen_, valueOpen_, valueClose_;  // "<c r=\"", "><v>", "</v></c>"
  mutable std::vector<char> cellText_;            // where a cell's text is put together
  // Rows in any order, and their position by row number (-1: none).
  std::vector<RowRecord> rows_;
  std::vector<std::int32_t> slot_;
  std::vector<CellRecord> scratch_;  // the cells of the row being read
  int lastRow_ = 0;
  std::string numberText_;  // the texts of numbers as read
  pugi::xml_document kept_;
  pugi::xml_node keptRoot_;
  std::vector<pugi::xml_node> nodes_;
};

class XlsxFile final : public BookFile {
 public:
  XlsxFile(std::string bytes, const std::string& displayName, std::shared_ptr<BookState> state,
           const Limits& limits);

  int SheetCount() const override { return static_cast<int>(sheets_.size()); }
  std::string SheetName(int index) const override { return sheets_.at(static_cast<std::size_t>(index)).Name; }
  std::shared_ptr<BookSheet> Sheet(int index) override { return sheets_.at(static_cast<std::size_t>(index)).Sheet; }
  int ActiveSheetIndex() const override { return activeSheet_; }
  std::string Serialize() override;

  // Used by the sheets.
  const std::string& DisplayName() const { return displayName_; }
  std::size_t SharedStringCount() const { return sharedStrings_.size(); }
  const std::string& SharedString(std::size_t index) const { return sharedStrings_[index]; }
  std::size_t AddSharedString(const std::string& text);
  int ColoredStyle(int style, Rgb color);
  Rgb StyleFontColor(int style) const;
  std::size_t CellStyleCount() const { return styleLoaded_ ? cellXfs_.size() : 1; }
  void FormulaOverwritten() { dropCalcChain_ = true; }

 private:
  std::map<std::string, Relationship> ReadRelationships(const std::string& part);
  void LoadSharedStrings(const std::string& part);
  void LoadStyles(const std::string& part);
  void ParseStyles(const std::string& text, const std::string& part);
  void EnsureSharedStrings();
  void EnsureStyles();
  // The index of the entry of the styles list `listName` (fonts, cellXfs)
  // that is the same as `entry`; a copy of `entry` appended (and the list's
  // count updated) when there is none.
  std::size_t SameOrNewStyleEntry(const char* listName, pugi::xml_node entry, std::vector<pugi::xml_node>& nodes,
                                  std::vector<std::string>& texts);
  void AddPart(const std::string& part, const std::string& contentType, const std::string& relType);
  void DropCalcChain();
  void DropStaleFormulaValues();
  void RequestFullCalculation();

  std::string displayName_;
  std::shared_ptr<BookState> state_;
  Limits limits_;
  ZipArchive zip_;
  std::string workbookPart_;
  pugi::xml_document contentTypes_, workbook_, workbookRels_;
  bool contentTypesDirty_ = false, workbookDirty_ = false, workbookRelsDirty_ = false;

  struct SheetEntry {
    std::string Name;
    std::shared_ptr<XlsxSheet> Sheet;  // null for chart sheets and the like
  };
  std::vector<SheetEntry> sheets_;
  int activeSheet_ = 0;
  bool hasFormulas_ = false;

  std::string sharedStringsPart_;
  pugi::xml_document sst_;
  std::vector<std::string> sharedStrings_;
  std::unordered_map<std::string, std::size_t> sharedStringIndex_;
  bool sstDirty_ = false;
  std::size_t sstAdded_ = 0;

  std::string stylesPart_;
  pugi::xml_document styles_;
  bool styleLoaded_ = false, stylesDirty_ = false;
  std::vector<pugi::xml_node> fonts_, cellXfs_;
  std::vector<std::string> fontText_, xfText_;
  std::map<std::pair<int, Rgb>, int> colored_;

  std::string calcChainPart_;
  bool dropCalcChain_ = false;
  friend class XlsxSheet;
};

}  // namespace tersolv::link::book::xlsx
