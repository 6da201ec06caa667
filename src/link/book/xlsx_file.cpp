// .xlsx workbooks edited in place: the package is kept as it is, and only the
// parts that changed (the edited worksheets, the shared strings, the styles,
// the content types and relationships when parts are added or dropped) are
// written anew.
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

namespace tersolv::link::book {
namespace {

constexpr const char* kRelTypeBase = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr const char* kSharedStringsType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
constexpr const char* kStylesType = "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// Folder of a part ("xl/workbook.xml" -> "xl/").
std::string FolderOf(const std::string& part) {
  const auto slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// Resolves a relationship target against the folder of its source part.
std::string ResolveTarget(const std::string& folder, const std::string& target) {
  std::string path = (!target.empty() && target[0] == '/') ? target.substr(1) : folder + target;
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const std::string piece = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (piece == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!piece.empty() && piece != ".") {
      parts.push_back(piece);
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

std::string RelsPathOf(const std::string& part) {
  const std::string folder = FolderOf(part);
  return folder + "_rels/" + part.substr(folder.size()) + ".rels";
}

struct Relationship {
  std::string Id, Type, Target;  // Target resolved to a part name
  bool External = false;
};

// The type's last segment: ".../relationships/worksheet" -> "worksheet".
std::string ShortType(const std::string& type) {
  const auto slash = type.rfind('/');
  return slash == std::string::npos ? type : type.substr(slash + 1);
}

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

// ---------------------------------------------------------------- the file

XlsxFile::XlsxFile(std::string bytes, const std::string& displayName, std::shared_ptr<BookState> state,
                   const Limits& limits)
    : displayName_(displayName), state_(std::move(state)), limits_(limits), zip_(std::move(bytes), displayName, limits) {
  const std::string notWorkbook = "\"" + displayName_ + "\" is not an .xlsx workbook: ";
  if (!zip_.Has("[Content_Types].xml") || !zip_.Has("_rels/.rels"))
    throw LinkError(kFileError, notWorkbook + "the package has no content types or relationships");
  ParseXml(contentTypes_, zip_.Read("[Content_Types].xml"), "\"" + displayName_ + "\": [Content_Types].xml");

  for (const auto& [id, rel] : ReadRelationships(""))
    if (ShortType(rel.Type) == "officeDocument" && !rel.External) workbookPart_ = rel.Target;
  if (workbookPart_.empty() || !zip_.Has(workbookPart_))
    throw LinkError(kFileError, notWorkbook + "it holds no workbook part (another kind of document?)");
  if (EndsWith(workbookPart_, ".bin"))
    throw LinkError(kFileError, notWorkbook + "it is a binary (.xlsb) workbook, which is not supported");
  ParseXml(workbook_, zip_.Read(workbookPart_), "\"" + displayName_ + "\": " + workbookPart_);
  if (LocalName(workbook_.document_element().name()) != "workbook")
    throw LinkError(kFileError, notWorkbook + "its main part is not a workbook");

  const auto rels = ReadRelationships(workbookPart_);
  for (const auto& [id, rel] : rels) {
    const std::string type = ShortType(rel.Type);
    if (rel.External) continue;
    if (type == "sharedStrings") sharedStringsPart_ = rel.Target;
    if (type == "styles") stylesPart_ = rel.Target;
    if (type == "calcChain") calcChainPart_ = rel.Target;
  }
  if (!sharedStringsPart_.empty() && zip_.Has(sharedStringsPart_)) LoadSharedStrings(sharedStringsPart_);
  if (!stylesPart_.empty() && zip_.Has(stylesPart_)) LoadStyles(stylesPart_);

  const pugi::xml_node root = workbook_.document_element();
  const pugi::xml_node sheetsNode = ChildElement(root, "sheets");
  std::uint64_t cellBudget = limits_.MaxCells;
  std::set<std::string> names;
  for (pugi::xml_node s = sheetsNode.first_child(); s; s = s.next_sibling()) {
    if (s.type() != pugi::node_element || LocalName(s.name()) != "sheet") continue;
    SheetEntry entry;
    entry.Name = s.attribute("name").value();
    if (entry.Name.empty() || !names.insert(entry.Name).second)
      throw LinkError(kFileError, notWorkbook + "a sheet has no name or a name used twice");
    const std::string id = AttributeByLocalName(s, "id").value();
    auto rel = rels.find(id);
    if (rel == rels.end() || rel->second.External)
      throw LinkError(kFileError, notWorkbook + "sheet \"" + entry.Name + "\" has no part");
    if (ShortType(rel->second.Type) == "worksheet") {
      entry.Sheet = std::make_shared<XlsxSheet>(*this, entry.Name, rel->second.Target, state_);
      entry.Sheet->Load(zip_, cellBudget);
    }
    sheets_.push_back(std::move(entry));
  }
  if (sheets_.empty()) throw LinkError(kFileError, notWorkbook + "it has no sheets");
  if (pugi::xml_node view = ChildElement(ChildElement(root, "bookViews"), "workbookView")) {
    const int active = view.attribute("activeTab").as_int(0);
    if (active >= 0 && active < SheetCount()) activeSheet_ = active;
  }
}

std::map<std::string, Relationship> XlsxFile::ReadRelationships(const std::string& part) {
  const std::string relsPart = part.empty() ? "_rels/.rels" : RelsPathOf(part);
  std::map<std::string, Relationship> rels;
  if (!zip_.Has(relsPart)) return rels;
  pugi::xml_document doc;
  ParseXml(doc, zip_.Read(relsPart), "\"" + displayName_ + "\": " + relsPart);
  for (pugi::xml_node r = doc.document_element().first_child(); r; r = r.next_sibling()) {
    if (r.type() != pugi::node_element || LocalName(r.name()) != "Relationship") continue;
    Relationship rel;
    rel.Id = r.attribute("Id").value();
    rel.Type = r.attribute("Type").value();
    rel.External = std::string_view(r.attribute("TargetMode").value()) == "External";
    rel.Target = rel.External ? r.attribute("Target").value() : ResolveTarget(FolderOf(part), r.attribute("Target").value());
    rels[rel.Id] = rel;
  }
  if (part == workbookPart_) workbookRels_.reset(doc);
  return rels;
}

void XlsxFile::LoadSharedStrings(const std::string& part) {
  ParseXml(sst_, zip_.Read(part), "\"" + displayName_ + "\": " + part);
  for (pugi::xml_node si = sst_.document_element().first_child(); si; si = si.next_sibling())
    if (si.type() == pugi::node_element && LocalName(si.name()) == "si") sharedStrings_.push_back(StringItemText(si));
}

void XlsxFile::LoadStyles(const std::string& part) { ParseStyles(zip_.Read(part), part); }

void XlsxFile::ParseStyles(const std::string& text, const std::string& part) {
  ParseXml(styles_, text, "\"" + displayName_ + "\": " + part);
  styleLoaded_ = true;
  const pugi::xml_node root = styles_.document_element();
  for (pugi::xml_node f = ChildElement(root, "fonts").first_child(); f; f = f.next_sibling())
    if (f.type() == pugi::node_element && LocalName(f.name()) == "font") fonts_.push_back(f);
  for (pugi::xml_node x = ChildElement(root, "cellXfs").first_child(); x; x = x.next_sibling())
    if (x.type() == pugi::node_element && LocalName(x.name()) == "xf") cellXfs_.push_back(x);
}

// Adds a part to the content types and to the workbook's relationships.
void XlsxFile::AddPart(const std::string& part, const std::string& contentType, const std::string& relType) {
  pugi::xml_node types = contentTypes_.document_element();
  pugi::xml_node over = types.append_child((PrefixOf(types) + "Override").c_str());
  over.append_attribute("PartName") = ("/" + part).c_str();
  over.append_attribute("ContentType") = contentType.c_str();
  contentTypesDirty_ = true;

  if (!workbookRels_.document_element()) {
    workbookRels_.append_child(pugi::node_declaration).append_attribute("version") = "1.0";
    workbookRels_.first_child().append_attribute("encoding") = "UTF-8";
    workbookRels_.first_child().append_attribute("standalone") = "yes";
    workbookRels_.append_child("Relationships").append_attribute("xmlns") =
        "http://schemas.openxmlformats.org/package/2006/relationships";
  }
  pugi::xml_node relsRoot = workbookRels_.document_element();
  std::set<std::string> ids;
  for (pugi::xml_node r = relsRoot.first_child(); r; r = r.next_sibling())
    if (r.type() == pugi::node_element) ids.insert(r.attribute("Id").value());
  int n = 1;
  while (ids.count("rId" + std::to_string(n))) ++n;
  pugi::xml_node rel = relsRoot.append_child((PrefixOf(relsRoot) + "Relationship").c_str());
  rel.append_attribute("Id") = ("rId" + std::to_string(n)).c_str();
  rel.append_attribute("Type") = (std::string(kRelTypeBase) + relType).c_str();
  const std::string folder = FolderOf(workbookPart_);
  const std::string target = part.rfind(folder, 0) == 0 ? part.substr(folder.size()) : "/" + part;
  rel.append_attribute("Target") = target.c_str();
  workbookRelsDirty_ = true;
}

void XlsxFile::EnsureSharedStrings() {
  if (sst_.document_element()) return;
  sharedStringsPart_ = FolderOf(workbookPart_) + "sharedStrings.xml";
  if (zip_.Has(sharedStringsPart_))  // present but not related: do not reuse its name
    sharedStringsPart_ = FolderOf(workbookPart_) + "sharedStrings" + std::to_string(sheets_.size() + 1) + ".xml";
  pugi::xml_node decl = sst_.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  decl.append_attribute("standalone") = "yes";
  pugi::xml_node root = sst_.append_child("sst");
  root.append_attribute("xmlns") = kMainNamespace;
  root.append_attribute("count") = 0;
  root.append_attribute("uniqueCount") = 0;
  AddPart(sharedStringsPart_, kSharedStringsType, "sharedStrings");
}

std::size_t XlsxFile::AddSharedString(const std::string& text) {
  EnsureSharedStrings();
  if (sharedStringIndex_.empty())
    for (std::size_t i = 0; i < sharedStrings_.size(); ++i) sharedStringIndex_.emplace(sharedStrings_[i], i);
  pugi::xml_node root = sst_.document_element();
  if (pugi::xml_attribute count = root.attribute("count")) count = count.as_ullong() + 1;
  if (auto it = sharedStringIndex_.find(text); it != sharedStringIndex_.end()) {
    sstDirty_ = true;
    return it->second;
  }
  const std::string prefix = PrefixOf(root);
  const pugi::xml_node extLst = ChildElement(root, "extLst");
  pugi::xml_node si = extLst ? root.insert_child_before((prefix + "si").c_str(), extLst)
                             : root.append_child((prefix + "si").c_str());
  pugi::xml_node t = si.append_child((prefix + "t").c_str());
  const std::string encoded = EncodeStringItemText(text);
  if (!encoded.empty() && (encoded.front() == ' ' || encoded.back() == ' ' || encoded.front() == '\n' ||
                           encoded.back() == '\n' || encoded.front() == '\t' || encoded.back() == '\t'))
    t.append_attribute("xml:space") = "preserve";
  t.text().set(encoded.c_str());
  sharedStrings_.push_back(text);
  sharedStringIndex_.emplace(text, sharedStrings_.size() - 1);
  if (pugi::xml_attribute unique = root.attribute("uniqueCount"))
    unique = static_cast<unsigned long long>(sharedStrings_.size());
  sstDirty_ = true;
  ++sstAdded_;
  return sharedStrings_.size() - 1;
}

void XlsxFile::EnsureStyles() {
  if (styleLoaded_) {
    const pugi::xml_node root = styles_.document_element();
    if (fonts_.empty() || cellXfs_.empty() || !ChildElement(root, "fonts") || !ChildElement(root, "cellXfs"))
      throw LinkError(kFileError, "\"" + displayName_ + "\": the styles part has no fonts or cell formats; "
                                  "font colours cannot be set");
    return;
  }
  stylesPart_ = FolderOf(workbookPart_) + "styles.xml";
  if (zip_.Has(stylesPart_)) stylesPart_ = FolderOf(workbookPart_) + "styles" + std::to_string(sheets_.size() + 1) + ".xml";
  ParseStyles(StylesPart(false, 1, "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"),
              stylesPart_);
  AddPart(stylesPart_, kStylesType, "styles");
  stylesDirty_ = true;
}

int XlsxFile::ColoredStyle(int style, Rgb color) {
  const auto key = std::make_pair(style, color);
  if (auto it = colored_.find(key); it != colored_.end()) return it->second;
  EnsureStyles();
  if (style < 0 || static_cast<std::size_t>(style) >= cellXfs_.size()) style = 0;
  if (fontText_.empty()) {
    for (auto f : fonts_) fontText_.push_back(SerializeNode(f));
    for (auto x : cellXfs_) xfText_.push_back(SerializeNode(x));
  }
  const pugi::xml_node xf = cellXfs_[static_cast<std::size_t>(style)];
  std::size_t fontId = xf.attribute("fontId").as_ullong(0);
  if (fontId >= fonts_.size()) fontId = 0;

  // The cell's font with the colour replaced, in the position the schema wants.
  pugi::xml_document scratch;
  pugi::xml_node font = scratch.append_copy(fonts_[fontId]);
  const std::string prefix = PrefixOf(font);
  for (pugi::xml_node c = ChildElement(font, "color"); c; c = ChildElement(font, "color")) font.remove_child(c);
  pugi::xml_node before;
  for (const char* name : {"name", "family", "charset", "scheme", "extLst"})
    if ((before = ChildElement(font, name))) break;
  pugi::xml_node colorNode = before ? font.insert_child_before((prefix + "color").c_str(), before)
                                    : font.append_child((prefix + "color").c_str());
  char argb[16];
  std::snprintf(argb, sizeof argb, "FF%02X%02X%02X", color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  colorNode.append_attribute("rgb") = argb;
  const std::string fontText = SerializeNode(font);
  std::size_t newFont = std::find(fontText_.begin(), fontText_.end(), fontText) - fontText_.begin();
  const pugi::xml_node root = styles_.document_element();
  if (newFont == fontText_.size()) {
    pugi::xml_node fonts = ChildElement(root, "fonts");
    fonts_.push_back(fonts.insert_copy_after(font, fonts_.back()));
    fontText_.push_back(fontText);
    fonts.attribute("count") ? fonts.attribute("count").set_value(fonts_.size())
                             : fonts.append_attribute("count").set_value(fonts_.size());
    stylesDirty_ = true;
  }

  pugi::xml_node newXf = scratch.append_copy(xf);
  (newXf.attribute("fontId") ? newXf.attribute("fontId") : newXf.append_attribute("fontId")).set_value(newFont);
  (newXf.attribute("applyFont") ? newXf.attribute("applyFont") : newXf.append_attribute("applyFont")).set_value("1");
  const std::string xfText = SerializeNode(newXf);
  std::size_t index = std::find(xfText_.begin(), xfText_.end(), xfText) - xfText_.begin();
  if (index == xfText_.size()) {
    pugi::xml_node xfs = ChildElement(root, "cellXfs");
    cellXfs_.push_back(xfs.insert_copy_after(newXf, cellXfs_.back()));
    xfText_.push_back(xfText);
    xfs.attribute("count") ? xfs.attribute("count").set_value(cellXfs_.size())
                           : xfs.append_attribute("count").set_value(cellXfs_.size());
    stylesDirty_ = true;
  }
  colored_[key] = static_cast<int>(index);
  return static_cast<int>(index);
}

Rgb XlsxFile::StyleFontColor(int style) const {
  if (!styleLoaded_ || style < 0 || static_cast<std::size_t>(style) >= cellXfs_.size()) return 0;
  const std::size_t fontId = cellXfs_[static_cast<std::size_t>(style)].attribute("fontId").as_ullong(0);
  if (fontId >= fonts_.size()) return 0;
  const std::string_view argb = ChildElement(fonts_[fontId], "color").attribute("rgb").value();
  if (argb.size() != 8) return 0;
  const unsigned long value = std::strtoul(std::string(argb.substr(2)).c_str(), nullptr, 16);
  return RgbColor(static_cast<int>((value >> 16) & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>(value & 0xFF));
}

void XlsxFile::RequestFullCalculation() {
  if (!hasFormulas_) return;
  pugi::xml_node root = workbook_.document_element();
  pugi::xml_node calcPr = ChildElement(root, "calcPr");
  if (!calcPr) {
    pugi::xml_node before;
    for (const char* name : {"oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes",
                             "webPublishing", "fileRecoveryPr", "webPublishObjects", "extLst"})
      if ((before = ChildElement(root, name))) break;
    const std::string name = PrefixOf(root) + "calcPr";
    calcPr = before ? root.insert_child_before(name.c_str(), before) : root.append_child(name.c_str());
  }
  if (std::string_view(calcPr.attribute("fullCalcOnLoad").value()) == "1") return;
  (calcPr.attribute("fullCalcOnLoad") ? calcPr.attribute("fullCalcOnLoad") : calcPr.append_attribute("fullCalcOnLoad"))
      .set_value("1");
  workbookDirty_ = true;
}

namespace {

std::string UpperName(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool Overlap(const FormulaArea& a, const FormulaArea& b) {
  return a.FirstRow <= b.LastRow && b.FirstRow <= a.LastRow && a.FirstColumn <= b.LastColumn &&
         b.FirstColumn <= a.LastColumn;
}

}  // namespace

// Cached results of formulas that may use the written cells, directly or
// through other formulas, would be shown as they are by applications that
// do not calculate on loading (LibreOffice Calc by default): they go, and
// the application calculates those cells.
void XlsxFile::DropStaleFormulaValues() {
  constexpr std::size_t kTraced = 20000;  // formulas whose references are followed; beyond, all lose their values
  std::map<std::string, std::vector<FormulaArea>> changed;  // by sheet name in capitals
  std::vector<std::pair<XlsxSheet*, std::vector<XlsxSheet::Formula>>> formulas;
  std::size_t count = 0;
  for (auto& entry : sheets_) {
    if (!entry.Sheet) continue;
    if (entry.Sheet->Written().FirstRow != 0) changed[UpperName(entry.Name)].push_back(entry.Sheet->Written());
    formulas.emplace_back(entry.Sheet.get(), std::vector<XlsxSheet::Formula>());
    entry.Sheet->CollectFormulas(state_->KeepsFormulaValue, formulas.back().second);
    count += formulas.back().second.size();
  }
  const auto uses = [&](const std::string& sheet, const XlsxSheet::Formula& formula) {
    if (count > kTraced || formula.Text.empty()) return true;
    const auto areas = FormulaAreas(formula.Text);
    if (!areas) return true;
    for (const FormulaArea& area : *areas) {
      const auto blocks = changed.find(area.Sheet.empty() ? UpperName(sheet) : UpperName(area.Sheet));
      if (blocks == changed.end()) continue;
      for (const FormulaArea& block : blocks->second)
        if (Overlap(area, block)) return true;
    }
    return false;
  };
  for (bool more = true; more;) {  // until no formula is left that uses a changed cell
    more = false;
    for (auto& [sheet, list] : formulas)
      for (auto& formula : list) {
        if (!formula.Cell || !uses(sheet->StoredName(), formula)) continue;
        formula.Cell.remove_child(ChildElement(formula.Cell, "v"));
        formula.Cell.remove_attribute("t");
        sheet->MarkChanged();
        changed[UpperName(sheet->StoredName())].push_back({"", formula.Row, formula.Column, formula.Row, formula.Column});
        formula.Cell = {};
        more = true;
      }
  }
}

void XlsxFile::DropCalcChain() {
  if (calcChainPart_.empty()) return;
  pugi::xml_node types = contentTypes_.document_element();
  for (pugi::xml_node o = types.first_child(); o;) {
    pugi::xml_node next = o.next_sibling();
    if (o.type() == pugi::node_element && ResolveTarget("", o.attribute("PartName").value()) == calcChainPart_) {
      types.remove_child(o);
      contentTypesDirty_ = true;
    }
    o = next;
  }
  pugi::xml_node rels = workbookRels_.document_element();
  for (pugi::xml_node r = rels.first_child(); r;) {
    pugi::xml_node next = r.next_sibling();
    if (r.type() == pugi::node_element && ShortType(r.attribute("Type").value()) == "calcChain") {
      rels.remove_child(r);
      workbookRelsDirty_ = true;
    }
    r = next;
  }
}

std::string XlsxFile::Serialize() {
  std::map<std::string, std::string> replaced;
  std::map<std::string, ZipArchive::PartWriter> written;
  std::set<std::string> removed;
  bool anySheet = false;
  for (auto& entry : sheets_) anySheet = anySheet || (entry.Sheet && entry.Sheet->Dirty());
  if (anySheet && hasFormulas_) DropStaleFormulaValues();
  for (auto& entry : sheets_)
    if (entry.Sheet && entry.Sheet->Dirty()) written[entry.Sheet->Part()] = entry.Sheet->Writer();
  if (anySheet) RequestFullCalculation();
  if (dropCalcChain_) {
    DropCalcChain();
    if (!calcChainPart_.empty()) removed.insert(calcChainPart_);
  }
  if (sstDirty_) replaced[sharedStringsPart_] = SerializeXml(sst_);
  if (stylesDirty_) replaced[stylesPart_] = SerializeXml(styles_);
  if (contentTypesDirty_) replaced["[Content_Types].xml"] = SerializeXml(contentTypes_);
  if (workbookDirty_) replaced[workbookPart_] = SerializeXml(workbook_);
  if (workbookRelsDirty_) replaced[RelsPathOf(workbookPart_)] = SerializeXml(workbookRels_);
  return zip_.Write(replaced, removed, written);
}

// ---------------------------------------------------------------- a sheet

void XlsxSheet::CheckCellOnLoad(int row, int column, pugi::xml_node cell) const {
  const std::string_view type = cell.attribute("t").value();
  const pugi::xml_node v = ChildElement(cell, "v");
  if (ChildElement(cell, "f")) file_.hasFormulas_ = true;
  if (!v) {
    if (type == "inlineStr" || type.empty() || type == "n" || type == "str" || type == "e" || type == "b" ||
        type == "s" || type == "d")
      return;
  }
  const char* text = v.text().get();
  if (*text == '\0' && type != "s") return;  // an empty value: an empty cell
  if (type.empty() || type == "n") {
    if (!ParseNumber(text) && !IsNumberOutOfRange(text))
      throw LinkError(kFileError, "\"" + file_.DisplayName() + "\": " + Where(row, column) + " holds \"" +
                                      std::string(text).substr(0, 40) + "\", which is not a finite number");
  } else if (type == "s") {
    const auto index = ParseNumber(text);
    if (!index || *index < 0 || *index != static_cast<double>(static_cast<std::size_t>(*index)) ||
        static_cast<std::size_t>(*index) >= file_.SharedStringCount())
      throw LinkError(kFileError, "\"" + file_.DisplayName() + "\": " + Where(row, column) +
                                      " refers to a shared string that does not exist");
  } else if (type != "str" && type != "inlineStr" && type != "e" && type != "b" && type != "d") {
    throw LinkError(kFileError, "\"" + file_.DisplayName() + "\": " + Where(row, column) + " has the unknown type \"" +
                                    std::string(type) + "\"");
  }
}

// A number cell's value, with its text as read (an untouched cell is
// written as it was); a text too long to keep is written as FormatNumber
// writes its value.
void XlsxSheet::CheckNumber(int row, int column, std::string_view text, CellRecord& cell) {
  const auto value = ParseNumber(text);
  if (!value)
    throw LinkError(kFileError, "\"" + file_.DisplayName() + "\": " + Where(row, column) + " holds \"" +
                                    std::string(text.substr(0, 40)) + "\", which is not a finite number");
  cell.Number = *value;
  cell.Kind = CellKind::Number;
  if (text.size() > std::numeric_limits<std::uint8_t>::max() || numberText_.size() > UINT32_MAX - text.size()) return;
  cell.Kind = CellKind::NumberText;
  cell.TextOffset = static_cast<std::uint32_t>(numberText_.size());
  cell.TextLength = static_cast<std::uint8_t>(text.size());
  if (numberText_.size() + text.size() > numberText_.capacity())
    numberText_.reserve(std::max<std::size_t>(numberText_.capacity() * 2, std::size_t{1} << 20));
  numberText_.append(text);
}

std::string XlsxSheet::What() const { return "\"" + file_.DisplayName() + "\": sheet \"" + name_ + "\""; }

void XlsxSheet::ReserveRows(std::uint64_t partSize) {
  if (dimensionBegin_ == std::string::npos) return;
  const auto tag = ReadStartTag(head_, dimensionBegin_);
  std::string_view attributes = tag ? tag->Attributes : std::string_view();
  Attribute attribute;
  while (NextAttribute(attributes, attribute).value_or(false)) {
    const auto colon = attribute.Value.find(':');
    if (attribute.Name != "ref" || colon == std::string_view::npos) continue;
    if (const auto last = ParseCellReference(attribute.Value.substr(colon + 1))) {
      const auto rows = std::min<std::uint64_t>(static_cast<std::uint64_t>(last->Row), partSize / 16);
      rows_.reserve(static_cast<std::size_t>(rows));
      slot_.reserve(static_cast<std::size_t>(rows) + 1);
    }
  }
}

void XlsxSheet::Reset() {
  head_.clear();
  tail_.clear();
  dataExtras_.clear();
  dimensionBegin_ = dimensionEnd_ = std::string::npos;
  rows_.clear();
  slot_.clear();
  lastRow_ = 0;
  numberText_.clear();
  kept_.reset();
  keptRoot_ = {};
  nodes_.clear();
}

void XlsxSheet::Load(ZipArchive& zip, std::uint64_t& cellBudget) {
  const std::uint64_t budget = cellBudget;
  {
    ZipArchive::Entry entry(zip, part_);
    std::string text;
    if (Scan(&entry, text, cellBudget)) return;
  }
  // Forms the forward reader leaves alone (another encoding, references in
  // row numbers, malformed XML...): the full parser reads the part, or says
  // what is wrong with it, and its output is read.
  Reset();
  cellBudget = budget;
  std::string xml = Normalized(zip.Read(part_));
  if (!Scan(nullptr, xml, cellBudget))
    throw LinkError(kFileError, What() + ": its cell data has a form that cannot be read");
}

std::string XlsxSheet::Normalized(const std::string& xml) const {
  pugi::xml_document doc;
  ParseXml(doc, xml, What());
  const pugi::xml_node root = doc.document_element();
  if (LocalName(root.name()) != "worksheet") throw LinkError(kFileError, What() + " is not a worksheet part");
  if (!ChildElement(root, "sheetData")) throw LinkError(kFileError, What() + " has no cell data");
  const pugi::xml_node declaration = doc.first_child();
  if (declaration.type() == pugi::node_declaration && declaration.attribute("encoding"))
    declaration.attribute("encoding").set_value("UTF-8");  // as it is written
  return SerializeXml(doc);
}

std::optional<pugi::xml_node> XlsxSheet::KeepElement(std::string_view xml, std::size_t begin, std::size_t end) {
  if (!keptRoot_) keptRoot_ = kept_.append_child("kept");
  const pugi::xml_node last = keptRoot_.last_child();
  const pugi::xml_parse_result parsed =
      keptRoot_.append_buffer(xml.data() + begin, end - begin, pugi::parse_full | pugi::parse_ws_pcdata,
                              pugi::encoding_utf8);
  const pugi::xml_node node = last ? last.next_sibling() : keptRoot_.first_child();
  if (!parsed || !node || node.next_sibling() || node.type() != pugi::node_element) return std::nullopt;
  return node;
}

bool XlsxSheet::Scan(ZipArchive::Entry* entry, std::string& text, std::uint64_t& cellBudget) {
  constexpr std::size_t kPiece = 1u << 19;
  const auto more = [&] { return entry != nullptr && entry->ReadMore(text, kPiece); };
  std::optional<SheetLayout> layout;
  while (!(layout = LocateSheetData(text)))
    if (!more()) return false;
  const StartTag& data = layout->DataTag;
  dataName_ = data.Name;
  dataAttributes_ = data.Attributes;
  prefix_ = dataName_.substr(0, dataName_.size() - std::string_view("sheetData").size());
  rowName_ = prefix_ + "row";
  cellName_ = prefix_ + "c";
  valueName_ = prefix_ + "v";
  cellOpen_ = "<" + cellName_ + " r=\"";
  valueOpen_ = "><" + valueName_ + ">";
  valueClose_ = "</" + valueName_ + "></" + cellName_ + ">";
  // The longest compact cell: the fragments, a reference, a style, a type and a number text.
  cellText_.resize(cellOpen_.size() + valueOpen_.size() + valueClose_.size() + 320);
  head_.assign(text, 0, layout->DataBegin);
  dimensionBegin_ = layout->DimensionBegin;
  dimensionEnd_ = layout->DimensionEnd;
  const bool empty = data.Empty;
  ReserveRows(entry ? entry->Size() : text.size());
  std::size_t pos = data.End;
  // What has been read goes, and the next piece comes: rows cut off at the
  // end of a piece are read again once they are whole.
  const auto refill = [&] {
    text.erase(0, pos);
    pos = 0;
    return more();
  };
  int lastRow = 0;
  while (!empty) {
    const std::string_view xml = text;
    const auto at = SkipMisc(xml, pos);
    if (!at) {
      if (refill()) continue;
      return false;
    }
    if (xml.compare(*at, 2, "</") == 0) {
      const std::size_t close = xml.find('>', *at);
      if (close == std::string_view::npos) {
        if (refill()) continue;
        return false;
      }
      if (xml.compare(*at + 2, dataName_.size(), dataName_) != 0) return false;
      pos = close + 1;
      break;
    }
    const auto tag = ReadStartTag(xml, *at);
    std::optional<std::size_t> end;
    if (tag && tag->Name == rowName_) {
      const std::uint64_t budget = cellBudget;
      const int last = lastRow;
      std::size_t past = *at;
      if (ScanRow(xml, *tag, past, lastRow, cellBudget)) {
        end = past;
      } else {
        cellBudget = budget;
        lastRow = last;
      }
    } else if (tag && LocalName(std::string(tag->Name).c_str()) != "row") {  // not a row: kept as written
      end = SkipElement(xml, *at);
      if (end) {
        if (!KeepElement(xml, *at, *end)) return false;
        dataExtras_.append(xml.substr(*at, *end - *at));
      }
    }
    if (end) {
      pos = *end;
    } else if (!refill()) {
      return false;
    }
  }
  text.erase(0, pos);
  while (more()) {
  }
  tail_ = std::move(text);
  // The rest of the part must be well-formed XML on its own.
  std::string rest = head_;
  rest.append("<").append(dataName_).append(dataAttributes_).append("/>").append(tail_);
  pugi::xml_document doc;
  ParseXml(doc, rest, What());
  return true;
}

bool XlsxSheet::ScanRow(std::string_view xml, const StartTag& tag, std::size_t& pos, int& lastRow,
                        std::uint64_t& cellBudget) {
  RowRecord row;
  scratch_.clear();
  int rowNumber = lastRow + 1;
  std::string_view attributes = tag.Attributes;
  Attribute attribute;
  for (;;) {
    const auto more = NextAttribute(attributes, attribute);
    if (!more) return false;
    if (!*more) break;
    if (HasBadReference(attribute.Value)) return false;
    if (attribute.Name == "r") {
      if (attribute.Value.find('&') != std::string_view::npos) return false;
      const auto n = ParseNumber(attribute.Value);
      rowNumber = n && *n >= 1 && *n <= kMaxRows && *n == static_cast<int>(*n) ? static_cast<int>(*n) : 0;
    } else {
      const char quote = attribute.Value.data()[-1];
      row.Attributes.append(" ").append(attribute.Name).append("=");
      row.Attributes.append(1, quote).append(attribute.Value).append(1, quote);
    }
  }
  if (rowNumber <= lastRow || rowNumber > kMaxRows)
    throw LinkError(kFileError, What() + ": row numbers are invalid or out of order after row " + std::to_string(lastRow));
  lastRow = rowNumber;
  pos = tag.End;
  int lastColumn = 0;
  while (!tag.Empty) {
    const auto at = SkipMisc(xml, pos);
    if (!at) return false;
    if (xml.compare(*at, 2, "</") == 0) {
      if (xml.compare(*at + 2, rowName_.size(), rowName_) != 0) return false;
      pos = *at + 2 + rowName_.size();
      while (pos < xml.size() && (xml[pos] == ' ' || xml[pos] == '\t' || xml[pos] == '\r' || xml[pos] == '\n')) ++pos;
      if (pos >= xml.size() || xml[pos] != '>') return false;
      ++pos;
      break;
    }
    const auto child = ReadStartTag(xml, *at);
    if (!child) return false;
    std::optional<std::size_t> end;
    if (child->Name == cellName_) {
      if (cellBudget == 0)
        throw LinkError(kFileError, "\"" + file_.DisplayName() + "\" has too many cells (more than " +
                                        std::to_string(file_.limits_.MaxCells) + ")");
      --cellBudget;
      end = ScanCell(xml, *at, *child, rowNumber, lastColumn, scratch_);
      if (!end) return false;
    } else {  // not a cell (extLst): kept as written, after the cells
      end = SkipElement(xml, *at);
      if (!end || LocalName(std::string(child->Name).c_str()) == "c" || !KeepElement(xml, *at, *end)) return false;
      row.Extras.append(xml.substr(*at, *end - *at));
    }
    pos = *end;
  }
  if (static_cast<std::size_t>(rowNumber) >= slot_.size()) slot_.resize(static_cast<std::size_t>(rowNumber) + 1, -1);
  slot_[static_cast<std::size_t>(rowNumber)] = static_cast<std::int32_t>(rows_.size());
  row.Cells.assign(scratch_.begin(), scratch_.end());  // at its size: most rows keep their cells
  rows_.push_back(std::move(row));
  lastRow_ = rowNumber;
  return true;
}

namespace {

// The attributes of a cell's start tag: its reference, type and style; false
// when the cell has others (or references in these), which a compact record
// does not keep; nullopt when they are malformed.
struct CellAttributes {
  std::optional<std::string_view> Reference;
  std::string_view Type;
  std::int32_t Style = -1;
};
std::optional<bool> ReadCellAttributes(std::string_view attributes, CellAttributes& out) {
  bool compact = true;
  Attribute attribute;
  for (;;) {
    const auto more = NextAttribute(attributes, attribute);
    if (!more) return std::nullopt;
    if (!*more) return compact;
    const std::string_view value = attribute.Value;
    if (value.find('&') != std::string_view::npos) {
      compact = false;
    } else if (attribute.Name == "r") {
      out.Reference = value;
    } else if (attribute.Name == "t") {
      out.Type = value;
    } else if (attribute.Name != "s" || value.empty() || value.size() > 9 || value[0] < '0' || value[0] > '9' ||
               std::from_chars(value.data(), value.data() + value.size(), out.Style).ptr != value.data() + value.size()) {
      compact = false;
    }
  }
}

// The value of the cell whose start tag is `tag` when it is nothing, <v/> or
// <v>text</v> (text without references): where the cell ends. nullopt for
// any other content.
struct CellValue {
  bool Present = false;
  std::string_view Text;
};
std::optional<std::size_t> ReadCompactValue(std::string_view xml, const StartTag& tag, const std::string& cellName,
                                            const std::string& valueName, CellValue& out) {
  if (tag.Empty) return tag.End;
  const auto close = [&](std::size_t p, const std::string& name) {
    return p < xml.size() && xml.compare(p, 2, "</") == 0 && xml.compare(p + 2, name.size(), name) == 0 &&
           p + 2 + name.size() < xml.size() && xml[p + 2 + name.size()] == '>';
  };
  std::size_t p = tag.End;
  if (!close(p, cellName)) {
    const auto v = ReadStartTag(xml, p);
    if (!v || v->Name != valueName) return std::nullopt;
    out.Present = true;
    p = v->End;
    if (!v->Empty) {
      const std::size_t lt = xml.find('<', p);
      if (lt == std::string_view::npos) return std::nullopt;
      out.Text = xml.substr(p, lt - p);
      if (out.Text.find('&') != std::string_view::npos || !close(lt, valueName)) return std::nullopt;
      p = lt + 3 + valueName.size();
    }
    if (!close(p, cellName)) return std::nullopt;
  }
  return p + 3 + cellName.size();
}

}  // namespace

std::optional<std::size_t> XlsxSheet::ScanCell(std::string_view xml, std::size_t at, const StartTag& tag,
                                               int rowNumber, int& lastColumn, std::vector<CellRecord>& cells) {
  CellAttributes attributes;
  const auto compactAttributes = ReadCellAttributes(tag.Attributes, attributes);
  if (!compactAttributes) return std::nullopt;
  CellValue value;
  std::optional<std::size_t> end;
  if (*compactAttributes) end = ReadCompactValue(xml, tag, cellName_, valueName_, value);
  const std::string_view type = attributes.Type;
  // A number out of range for a double is kept as written (an element); only
  // a long text or one with an exponent can be one.
  const auto outOfRange = [](std::string_view text) {
    return (text.size() > 300 || text.find_first_of("eE") != std::string_view::npos) && IsNumberOutOfRange(text);
  };
  const bool compact = end && ((type.empty() || type == "n") ? !outOfRange(value.Text) : type == "s" && value.Present);

  CellRecord cell;
  cell.Style = attributes.Style;
  pugi::xml_node node;
  if (!compact) {  // kept as an element
    end = SkipElement(xml, at);
    const auto kept = end ? KeepElement(xml, at, *end) : std::nullopt;
    if (!kept) return std::nullopt;
    node = *kept;
    attributes.Reference.reset();
    if (const pugi::xml_attribute r = node.attribute("r")) attributes.Reference = r.value();
  }
  int column = lastColumn + 1;
  if (const auto& reference = attributes.Reference) {
    const auto address = ParseCellReference(*reference);
    if (!address || address->Row != rowNumber)
      throw LinkError(kFileError, What() + ": cell reference \"" + std::string(reference->substr(0, 20)) +
                                      "\" is invalid in row " + std::to_string(rowNumber));
    column = address->Column;
  }
  if (column <= lastColumn || column > kMaxColumns)
    throw LinkError(kFileError, What() + ": cells out of order in row " + std::to_string(rowNumber));
  lastColumn = column;
  cell.Column = column;
  if (!compact) {
    CheckCellOnLoad(rowNumber, column, node);
    // A cell without a reference sits where its place says: it would move
    // once cells before it go or come.
    if (!node.attribute("r")) node.prepend_attribute("r").set_value(CellReference(rowNumber, column).c_str());
    cell.Kind = CellKind::Node;
    cell.Index = nodes_.size();
    nodes_.push_back(node);
  } else if (!value.Present || (value.Text.empty() && type != "s")) {
    cell.Kind = CellKind::Empty;
  } else if (type == "s") {
    const auto index = ParseNumber(value.Text);
    if (!index || *index < 0 || *index != static_cast<double>(static_cast<std::size_t>(*index)) ||
        static_cast<std::size_t>(*index) >= file_.SharedStringCount())
      throw LinkError(kFileError, "\"" + file_.DisplayName() + "\": " + Where(rowNumber, column) +
                                      " refers to a shared string that does not exist");
    cell.Kind = CellKind::Shared;
    cell.Index = static_cast<std::uint64_t>(*index);
  } else {
    CheckNumber(rowNumber, column, value.Text, cell);
    cell.NumberType = type == "n";
  }
  cells.push_back(cell);
  return end;
}

const RowRecord* XlsxSheet::RowAt(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= slot_.size() || slot_[static_cast<std::size_t>(row)] < 0)
    return nullptr;
  return &rows_[static_cast<std::size_t>(slot_[static_cast<std::size_t>(row)])];
}

RowRecord& XlsxSheet::ObtainRow(int row) {
  if (const RowRecord* found = RowAt(row)) return const_cast<RowRecord&>(*found);
  if (static_cast<std::size_t>(row) >= slot_.size()) slot_.resize(static_cast<std::size_t>(row) + 1, -1);
  slot_[static_cast<std::size_t>(row)] = static_cast<std::int32_t>(rows_.size());
  lastRow_ = std::max(lastRow_, row);
  return rows_.emplace_back();
}

const CellRecord* XlsxSheet::Find(int row, int column) const {
  const RowRecord* r = RowAt(row);
  if (!r) return nullptr;
  const auto& cells = r->Cells;
  auto c = std::lower_bound(cells.begin(), cells.end(), column,
                            [](const CellRecord& a, int col) { return a.Column < col; });
  return c != cells.end() && c->Column == column ? &*c : nullptr;
}

CellRecord& XlsxSheet::Obtain(int row, int column) {
  dirty_ = true;
  MarkWritten(row, column, column);
  RowRecord& entry = ObtainRow(row);
  auto& cells = entry.Cells;
  auto c = cells.end();
  if (!cells.empty() && cells.back().Column >= column) {
    c = std::lower_bound(cells.begin(), cells.end(), column,
                         [](const CellRecord& a, int col) { return a.Column < col; });
    if (c->Column == column) return *c;
  }
  // A new cell may invalidate the row's "spans" hint: it goes.
  if (entry.Attributes.find("spans") != std::string::npos) {
    std::string kept;
    std::string_view attributes = entry.Attributes;
    Attribute attribute;
    while (NextAttribute(attributes, attribute).value_or(false))
      if (attribute.Name != "spans") {
        const char quote = attribute.Value.data()[-1];
        kept.append(" ").append(attribute.Name).append("=");
        kept.append(1, quote).append(attribute.Value).append(1, quote);
      }
    entry.Attributes = std::move(kept);
  }
  // Rows are read with no room to spare, and a run adds several cells to
  // each: room for some more at once rather than doubling step by step.
  if (cells.size() == cells.capacity()) {
    const auto at = c - cells.begin();
    cells.reserve(std::max<std::size_t>(cells.size() * 2, cells.size() + 8));
    c = cells.begin() + at;
  }
  CellRecord cell;
  cell.Column = column;
  return *cells.insert(c, cell);
}

int XlsxSheet::StyleOf(const CellRecord& cell) const {
  if (cell.Kind == CellKind::Node) return NodeOf(cell).attribute("s").as_int(0);
  return cell.Style < 0 ? 0 : cell.Style;
}

std::string XlsxSheet::Text(int row, int column) const {
  const CellRecord* cell = Find(row, column);
  if (!cell) return "";
  switch (cell->Kind) {
    case CellKind::Empty:
      return "";
    case CellKind::Number:
    case CellKind::NumberText:
      return NumberText(cell->Number, State().DecimalSeparator);
    case CellKind::Shared:
      return file_.SharedString(cell->Index);
    case CellKind::Node:
      break;
  }
  const pugi::xml_node node = NodeOf(*cell);
  const std::string_view type = node.attribute("t").value();
  if (type == "inlineStr") return StringItemText(ChildElement(node, "is"));
  const pugi::xml_node v = ChildElement(node, "v");
  if (!v) return "";
  const char* text = v.text().get();
  if (*text == '\0') return "";
  if (type.empty() || type == "n") {
    const auto number = ParseNumber(text);
    return number ? NumberText(*number, State().DecimalSeparator) : std::string(text);  // out of range: as written
  }
  if (type == "s") return file_.SharedString(static_cast<std::size_t>(*ParseNumber(text)));
  if (type == "b") return std::string_view(text) == "1" ? "TRUE" : "FALSE";
  return text;  // str (formula text), e (error value), d (date text)
}

// Removes a kept cell's value, formula and type, keeping its style.
void XlsxSheet::ReleaseValue(int row, int column, pugi::xml_node cell) {
  if (pugi::xml_node f = ChildElement(cell, "f")) {
    const std::string_view kind = f.attribute("t").value();
    const std::string_view ref = f.attribute("ref").value();
    const bool group = !ref.empty() && ref.find(':') != std::string_view::npos &&
                       ref != CellReference(row, column) + ":" + CellReference(row, column);
    if (group && kind == "array")
      throw LinkError(kOtherError, Where(row, column) + " holds an array formula of the cells " + std::string(ref) +
                                       "; it is left as it is");
    if (group && kind == "shared") HandOverSharedFormula(row, column, f);
    cell.remove_child(f);
    file_.FormulaOverwritten();
  }
  while (pugi::xml_node is = ChildElement(cell, "is")) cell.remove_child(is);
  cell.remove_attribute("t");
  cell.remove_attribute("cm");
  cell.remove_attribute("vm");
}

// The first cell of a shared formula's group holds its text; before it is
// overwritten, the next cell of the group that shares it takes the text
// over (its references moved to it), with the range of the rest.
void XlsxSheet::HandOverSharedFormula(int row, int column, pugi::xml_node formula) {
  const std::string_view ref = formula.attribute("ref").value();
  const std::string_view index = formula.attribute("si").value();
  const auto colon = ref.find(':');
  const auto first = ParseCellReference(ref.substr(0, colon)), last = ParseCellReference(ref.substr(colon + 1));
  if (!first || !last || index.empty()) return;  // no group the cells could name
  pugi::xml_node heir;
  int heirRow = 0, heirColumn = 0, top = 0, left = kMaxColumns, bottom = 0, right = 0;
  for (int r = first->Row; r <= std::min(last->Row, lastRow_); ++r) {
    const RowRecord* cells = RowAt(r);
    if (!cells) continue;
    for (const CellRecord& cell : cells->Cells) {
      if (cell.Column < first->Column || cell.Column > last->Column || cell.Kind != CellKind::Node) continue;
      if (r == row && cell.Column == column) continue;
      const pugi::xml_node f = ChildElement(NodeOf(cell), "f");
      if (!f || std::string_view(f.attribute("t").value()) != "shared" || index != f.attribute("si").value()) continue;
      if (!heir) {
        heir = f;
        heirRow = r;
        heirColumn = cell.Column;
        top = r;
      }
      left = std::min(left, cell.Column);
      right = std::max(right, cell.Column);
      bottom = r;
    }
  }
  if (!heir) return;
  const auto moved = MoveFormulaReferences(formula.text().get(), heirRow - row, heirColumn - column);
  if (!moved)
    throw LinkError(kOtherError, Where(row, column) + " holds the formula that the cells " + std::string(ref) +
                                     " share, and it cannot be moved to " + CellReference(heirRow, heirColumn) +
                                     " (a reference would leave the sheet); nothing is written");
  heir.text().set(moved->c_str());
  const std::string range = CellReference(top, left) + ":" + CellReference(bottom, right);
  (heir.attribute("ref") ? heir.attribute("ref") : heir.insert_attribute_after("ref", heir.attribute("t")))
      .set_value(range.c_str());
  dirty_ = true;
}

void XlsxSheet::CollectFormulas(const std::function<bool(std::string_view, int, int)>& keep,
                                std::vector<Formula>& out) const {
  struct Master {
    int Row, Column;
    std::string Text;
  };
  std::map<std::string, Master> masters;  // of the shared formulas, by their index
  const std::size_t first = out.size();
  for (std::size_t number = 1; number < slot_.size(); ++number) {
    if (slot_[number] < 0) continue;
    for (const CellRecord& cell : rows_[static_cast<std::size_t>(slot_[number])].Cells) {
      if (cell.Kind != CellKind::Node) continue;
      const pugi::xml_node node = NodeOf(cell);
      const pugi::xml_node f = ChildElement(node, "f");
      if (!f) continue;
      const int row = static_cast<int>(number);
      const std::string text = f.text().get();
      if (std::string_view(f.attribute("t").value()) == "shared" && !text.empty())
        masters.emplace(f.attribute("si").value(), Master{row, cell.Column, text});
      if (!ChildElement(node, "v") || (keep && keep(name_, row, cell.Column))) continue;
      out.push_back({node, row, cell.Column, text});
    }
  }
  for (std::size_t k = first; k < out.size(); ++k) {  // the cells that share a formula get theirs
    Formula& formula = out[k];
    const pugi::xml_node f = ChildElement(formula.Cell, "f");
    if (!formula.Text.empty() || std::string_view(f.attribute("t").value()) != "shared") continue;
    const auto master = masters.find(f.attribute("si").value());
    if (master == masters.end()) continue;
    formula.Text = MoveFormulaReferences(master->second.Text, formula.Row - master->second.Row,
                                         formula.Column - master->second.Column)
                       .value_or("");
  }
}

pugi::xml_node XlsxSheet::ValueElement(pugi::xml_node cell) {
  if (pugi::xml_node v = ChildElement(cell, "v")) return v;
  pugi::xml_node before = ChildElement(cell, "extLst");
  return before ? cell.insert_child_before(valueName_.c_str(), before) : cell.append_child(valueName_.c_str());
}

void XlsxSheet::PutNumber(int row, int column, double value) {
  CellRecord& cell = Obtain(row, column);
  if (cell.Kind == CellKind::Node) {
    pugi::xml_node node = NodeOf(cell);
    ReleaseValue(row, column, node);
    ValueElement(node).text().set(FormatNumber(value).c_str());
    return;
  }
  cell.Kind = CellKind::Number;
  cell.NumberType = false;
  cell.Number = value;
}

void XlsxSheet::PutText(int row, int column, const std::string& text) {
  CellRecord& cell = Obtain(row, column);
  const std::size_t index = text.empty() ? 0 : file_.AddSharedString(text);
  if (cell.Kind == CellKind::Node) {
    pugi::xml_node node = NodeOf(cell);
    ReleaseValue(row, column, node);
    if (text.empty()) {
      if (pugi::xml_node v = ChildElement(node, "v")) node.remove_child(v);
      return;
    }
    node.append_attribute("t") = "s";
    ValueElement(node).text().set(static_cast<unsigned long long>(index));
    return;
  }
  cell.Kind = text.empty() ? CellKind::Empty : CellKind::Shared;
  cell.NumberType = false;
  cell.Index = index;
}

void XlsxSheet::Clear(int row, int firstColumn, int lastColumn) {
  const RowRecord* found = RowAt(row);
  if (!found) return;
  MarkWritten(row, firstColumn, lastColumn);
  auto& cells = const_cast<RowRecord*>(found)->Cells;
  for (auto c = cells.begin(); c != cells.end();) {
    if (c->Column < firstColumn || c->Column > lastColumn) {
      ++c;
      continue;
    }
    dirty_ = true;
    bool drop = false;
    if (c->Kind == CellKind::Node) {
      pugi::xml_node node = NodeOf(*c);
      ReleaseValue(row, c->Column, node);
      if (pugi::xml_node v = ChildElement(node, "v")) node.remove_child(v);
      drop = !node.attribute("s") && !node.first_child();
      if (drop) keptRoot_.remove_child(node);
    } else {
      c->Kind = CellKind::Empty;
      c->NumberType = false;
      drop = c->Style < 0;
    }
    c = drop ? cells.erase(c) : c + 1;
  }
}

void XlsxSheet::Color(int row, int firstColumn, int lastColumn, Rgb color) {
  for (int column = firstColumn; column <= lastColumn; ++column) {
    const CellRecord* existing = Find(row, column);
    const int style = existing ? StyleOf(*existing) : 0;
    const int colored = file_.ColoredStyle(style, color);
    if (colored == style && existing) continue;
    CellRecord& cell = Obtain(row, column);
    if (cell.Kind == CellKind::Node) {
      pugi::xml_node node = NodeOf(cell);
      (node.attribute("s") ? node.attribute("s") : node.append_attribute("s")).set_value(colored);
    } else {
      cell.Style = colored;
    }
  }
}

Rgb XlsxSheet::StoredFontColor(int row, int column) const {
  const CellRecord* cell = Find(row, column);
  return cell ? file_.StyleFontColor(StyleOf(*cell)) : 0;
}

namespace {

struct AppendWriter : pugi::xml_writer {
  explicit AppendWriter(std::string& out) : Out(out) {}
  void write(const void* data, std::size_t size) override { Out.append(static_cast<const char*>(data), size); }
  std::string& Out;
};

void AppendInteger(std::string& out, std::uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

}  // namespace

void XlsxSheet::AppendCell(std::string& out, std::string_view rowDigits, const CellRecord& cell) const {
  if (cell.Kind == CellKind::Node) {
    AppendWriter writer(out);
    NodeOf(cell).print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return;
  }
  // The cell's text is put together in cellText_ (room for the longest)
  // and appended at once.
  char* const start = cellText_.data();
  char* p = start;
  const auto put = [&p](std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    p += text.size();
  };
  put(cellOpen_);
  p = PutColumnLetters(p, cell.Column);
  put(rowDigits);
  *p++ = '"';
  if (cell.Style >= 0) {
    put(" s=\"");
    p = std::to_chars(p, p + 16, cell.Style).ptr;
    *p++ = '"';
  }
  if (cell.Kind == CellKind::Empty) {
    put("/>");
  } else {
    if (cell.Kind == CellKind::Shared) put(" t=\"s\"");
    if (cell.Kind != CellKind::Shared && cell.NumberType) put(" t=\"n\"");
    put(valueOpen_);
    if (cell.Kind == CellKind::Number) {
      char number[kNumberTextMax];
      put(std::string_view(number, FormatNumberInto(cell.Number, number)));
    } else if (cell.Kind == CellKind::NumberText) {
      put(std::string_view(numberText_.data() + cell.TextOffset, cell.TextLength));
    } else {
      p = std::to_chars(p, p + 24, cell.Index).ptr;
    }
    put(valueClose_);
  }
  out.append(start, static_cast<std::size_t>(p - start));
}

// The used range ("A1:L32770"), as the <dimension> element gives it.
std::string XlsxSheet::Dimension() const {
  int firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
  for (std::size_t number = 1; number < slot_.size(); ++number) {
    if (slot_[number] < 0) continue;
    const auto& cells = rows_[static_cast<std::size_t>(slot_[number])].Cells;
    if (cells.empty()) continue;
    firstColumn = firstColumn == 0 ? cells.front().Column : std::min(firstColumn, cells.front().Column);
    lastColumn = std::max(lastColumn, cells.back().Column);
    if (firstRow == 0) firstRow = static_cast<int>(number);
    lastRow = static_cast<int>(number);
  }
  return firstRow == 0 ? "A1" : CellReference(firstRow, firstColumn) + ":" + CellReference(lastRow, lastColumn);
}

// The part up to the first row: its head, with the used-range hint
// (<dimension>) kept in step with the cells.
void XlsxSheet::AppendHead(std::string& out) const {
  if (dimensionBegin_ != std::string::npos) {
    out.append(head_, 0, dimensionBegin_);
    pugi::xml_document doc;
    doc.load_buffer(head_.data() + dimensionBegin_, dimensionEnd_ - dimensionBegin_,
                    pugi::parse_full | pugi::parse_ws_pcdata, pugi::encoding_utf8);
    pugi::xml_node dimension = doc.document_element();
    (dimension.attribute("ref") ? dimension.attribute("ref") : dimension.append_attribute("ref"))
        .set_value(Dimension().c_str());
    AppendWriter writer(out);
    dimension.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    out.append(head_, dimensionEnd_);
  } else {
    out += head_;
  }
  out.append("<").append(dataName_).append(dataAttributes_);
  out += rows_.empty() && dataExtras_.empty() ? "/>" : ">";
}

void XlsxSheet::AppendRow(std::string& out, std::size_t number) const {
  const RowRecord& row = rows_[static_cast<std::size_t>(slot_[number])];
  out += '<';
  out += rowName_;
  out += " r=\"";
  AppendInteger(out, number);
  out += '"';
  out += row.Attributes;
  if (row.Cells.empty() && row.Extras.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  char digits[24];
  const std::string_view rowDigits(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, number).ptr - digits));
  for (const CellRecord& cell : row.Cells) AppendCell(out, rowDigits, cell);
  out += row.Extras;
  out += "</";
  out += rowName_;
  out += '>';
}

ZipArchive::PartWriter XlsxSheet::Writer() const {
  constexpr std::size_t kPiece = 1u << 20;
  return [this, started = false, number = std::size_t{1}](std::string& out) mutable {
    if (!started) {
      AppendHead(out);
      started = true;
    }
    const std::size_t target = out.size() + kPiece;
    for (; number < slot_.size() && out.size() < target; ++number)
      if (slot_[number] >= 0) AppendRow(out, number);
    if (number < slot_.size()) return true;
    if (!rows_.empty() || !dataExtras_.empty()) out.append(dataExtras_).append("</").append(dataName_).append(">");
    out += tail_;
    return false;
  };
}

}  // namespace

std::unique_ptr<BookFile> OpenXlsx(std::string bytes, const std::string& displayName,
                                   std::shared_ptr<BookState> state, const Limits& limits) {
  return std::make_unique<XlsxFile>(std::move(bytes), displayName, std::move(state), limits);
}

std::unique_ptr<BookFile> OpenXlsx(std::string_view bytes, const std::string& displayName,
                                   std::shared_ptr<BookState> state, const Limits& limits) {
  return OpenXlsx(std::string(bytes), displayName, std::move(state), limits);
}

}  // namespace tersolv::link::book
