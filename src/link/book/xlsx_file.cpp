// .xlsx workbooks edited in place: the package is kept as it is, and only the
// parts that changed (the edited worksheets, the shared strings, the styles,
// the content types and relationships when parts are added or dropped) are
// written anew.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <unordered_map>

#include "link/book/book_file.h"
#include "link/book/cell_format.h"
#include "link/book/xml_util.h"
#include "link/book/zip_archive.h"

namespace tersolv::link::book {
namespace {

constexpr const char* kRelTypeBase = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr const char* kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
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

// One worksheet: its part's DOM and an index of its rows and cells.
class XlsxSheet final : public BookSheet {
 public:
  XlsxSheet(XlsxFile& file, std::string name, std::string part, std::shared_ptr<BookState> state)
      : BookSheet(std::move(state)), file_(file), name_(std::move(name)), part_(std::move(part)) {}

  void Load(const std::string& xml, std::uint64_t& cellBudget);
  std::string Name() const override { return name_; }
  int LastRow() const override { return rows_.empty() ? 0 : rows_.rbegin()->first; }
  int LastColumn(int row) const override {
    auto it = rows_.find(row);
    return it == rows_.end() || it->second.Cells.empty() ? 0 : it->second.Cells.back().Column;
  }
  Rgb FontColor(int row, int column) const override;
  const std::string& Part() const { return part_; }
  bool Dirty() const { return dirty_; }
  std::string Serialize();

 protected:
  std::string Text(int row, int column) const override;
  void PutNumber(int row, int column, double value) override;
  void PutText(int row, int column, const std::string& text) override;
  void Clear(int row, int firstColumn, int lastColumn) override;
  void Color(int row, int firstColumn, int lastColumn, Rgb color) override;

 private:
  struct Cell {
    int Column;
    pugi::xml_node Node;
  };
  struct Row {
    pugi::xml_node Node;
    std::vector<Cell> Cells;  // by column
  };
  std::string Where(int row, int column) const {
    return "cell " + CellReference(row, column) + " of sheet \"" + name_ + "\"";
  }
  const Cell* Find(int row, int column) const;
  // The row's entry, or null; remembers the last row asked for (the reader
  // and the driver work row by row).
  Row* RowAt(int row) const;
  pugi::xml_node Obtain(int row, int column);
  void ReleaseValue(int row, int column, pugi::xml_node cell);
  pugi::xml_node ValueElement(pugi::xml_node cell);
  void CheckCellOnLoad(int row, int column, pugi::xml_node cell) const;

  XlsxFile& file_;
  std::string name_, part_;
  pugi::xml_document doc_;
  pugi::xml_node sheetData_;
  std::string prefix_;
  std::map<int, Row> rows_;
  mutable int cachedRow_ = 0;
  mutable Row* cached_ = nullptr;
  bool dirty_ = false;
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
      entry.Sheet->Load(zip_.Read(rel->second.Target), cellBudget);
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
  const std::string minimal = std::string(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<styleSheet xmlns=\"") + kMainNamespace + "\">"
      "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
      "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
      "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
      "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
      "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
      "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
      "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
      "</styleSheet>";
  ParseStyles(minimal, stylesPart_);
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
  std::set<std::string> removed;
  bool anySheet = false;
  for (auto& entry : sheets_)
    if (entry.Sheet && entry.Sheet->Dirty()) {
      replaced[entry.Sheet->Part()] = entry.Sheet->Serialize();
      anySheet = true;
    }
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
  return zip_.Write(replaced, removed);
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
    if (!ParseNumber(text))
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

void XlsxSheet::Load(const std::string& xml, std::uint64_t& cellBudget) {
  const std::string what = "\"" + file_.DisplayName() + "\": sheet \"" + name_ + "\"";
  ParseXml(doc_, xml, what);
  const pugi::xml_node root = doc_.document_element();
  if (LocalName(root.name()) != "worksheet") throw LinkError(kFileError, what + " is not a worksheet part");
  sheetData_ = ChildElement(root, "sheetData");
  if (!sheetData_) throw LinkError(kFileError, what + " has no cell data");
  prefix_ = PrefixOf(sheetData_);
  int lastRow = 0;
  for (pugi::xml_node r = sheetData_.first_child(); r; r = r.next_sibling()) {
    if (r.type() != pugi::node_element || LocalName(r.name()) != "row") continue;
    int rowNumber = lastRow + 1;
    if (pugi::xml_attribute ra = r.attribute("r")) {
      const auto n = ParseNumber(ra.value());
      rowNumber = n && *n >= 1 && *n <= kMaxRows && *n == static_cast<int>(*n) ? static_cast<int>(*n) : 0;
    }
    if (rowNumber <= lastRow || rowNumber > kMaxRows)
      throw LinkError(kFileError, what + ": row numbers are invalid or out of order after row " +
                                      std::to_string(lastRow));
    lastRow = rowNumber;
    Row& row = rows_[rowNumber];
    row.Node = r;
    int lastColumn = 0;
    for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
      if (c.type() != pugi::node_element || LocalName(c.name()) != "c") continue;
      int column = lastColumn + 1;
      if (pugi::xml_attribute ref = c.attribute("r")) {
        const auto address = ParseCellReference(ref.value());
        if (!address || address->Row != rowNumber)
          throw LinkError(kFileError, what + ": cell reference \"" + std::string(ref.value()).substr(0, 20) +
                                          "\" is invalid in row " + std::to_string(rowNumber));
        column = address->Column;
      }
      if (column <= lastColumn || column > kMaxColumns)
        throw LinkError(kFileError, what + ": cells out of order in row " + std::to_string(rowNumber));
      lastColumn = column;
      if (cellBudget == 0)
        throw LinkError(kFileError, "\"" + file_.DisplayName() + "\" has too many cells (more than " +
                                        std::to_string(file_.limits_.MaxCells) + ")");
      --cellBudget;
      CheckCellOnLoad(rowNumber, column, c);
      row.Cells.push_back(Cell{column, c});
    }
  }
}

XlsxSheet::Row* XlsxSheet::RowAt(int row) const {
  if (cached_ && cachedRow_ == row) return cached_;
  auto r = rows_.find(row);
  if (r == rows_.end()) return nullptr;
  cachedRow_ = row;
  cached_ = const_cast<Row*>(&r->second);
  return cached_;
}

const XlsxSheet::Cell* XlsxSheet::Find(int row, int column) const {
  const Row* r = RowAt(row);
  if (!r) return nullptr;
  const auto& cells = r->Cells;
  auto c = std::lower_bound(cells.begin(), cells.end(), column, [](const Cell& a, int col) { return a.Column < col; });
  return c != cells.end() && c->Column == column ? &*c : nullptr;
}

std::string XlsxSheet::Text(int row, int column) const {
  const Cell* cell = Find(row, column);
  if (!cell) return "";
  const pugi::xml_node node = cell->Node;
  const std::string_view type = node.attribute("t").value();
  if (type == "inlineStr") return StringItemText(ChildElement(node, "is"));
  const pugi::xml_node v = ChildElement(node, "v");
  if (!v) return "";
  const char* text = v.text().get();
  if (*text == '\0') return "";
  if (type.empty() || type == "n") return NumberText(*ParseNumber(text), State().DecimalSeparator);
  if (type == "s") return file_.SharedString(static_cast<std::size_t>(*ParseNumber(text)));
  if (type == "b") return std::string_view(text) == "1" ? "TRUE" : "FALSE";
  return text;  // str (formula text), e (error value), d (date text)
}

pugi::xml_node XlsxSheet::Obtain(int row, int column) {
  dirty_ = true;
  Row* found = RowAt(row);
  if (!found) {
    auto next = rows_.upper_bound(row);
    const std::string name = prefix_ + "row";
    pugi::xml_node node = next != rows_.end() ? sheetData_.insert_child_before(name.c_str(), next->second.Node)
                                              : sheetData_.append_child(name.c_str());
    node.append_attribute("r") = row;
    found = &rows_.emplace(row, Row{node, {}}).first->second;
    cachedRow_ = row;
    cached_ = found;
  }
  Row& entry = *found;
  auto c = std::lower_bound(entry.Cells.begin(), entry.Cells.end(), column,
                            [](const Cell& a, int col) { return a.Column < col; });
  if (c != entry.Cells.end() && c->Column == column) return c->Node;
  entry.Node.remove_attribute("spans");  // a hint that a new cell may invalidate
  const std::string name = prefix_ + "c";
  pugi::xml_node before = c != entry.Cells.end() ? c->Node : ChildElement(entry.Node, "extLst");
  pugi::xml_node node = before ? entry.Node.insert_child_before(name.c_str(), before) : entry.Node.append_child(name.c_str());
  node.append_attribute("r") = CellReference(row, column).c_str();
  entry.Cells.insert(c, Cell{column, node});
  return node;
}

// Removes a cell's value, formula and type, keeping its style.
void XlsxSheet::ReleaseValue(int row, int column, pugi::xml_node cell) {
  if (pugi::xml_node f = ChildElement(cell, "f")) {
    const std::string_view kind = f.attribute("t").value();
    const std::string_view ref = f.attribute("ref").value();
    if ((kind == "shared" || kind == "array") && !ref.empty() && ref.find(':') != std::string_view::npos &&
        ref != CellReference(row, column) + ":" + CellReference(row, column))
      throw LinkError(kOtherError, Where(row, column) + " holds a formula that other cells share (" + std::string(ref) +
                                       "); it is left as it is");
    cell.remove_child(f);
    file_.FormulaOverwritten();
  }
  while (pugi::xml_node is = ChildElement(cell, "is")) cell.remove_child(is);
  cell.remove_attribute("t");
  cell.remove_attribute("cm");
  cell.remove_attribute("vm");
}

pugi::xml_node XlsxSheet::ValueElement(pugi::xml_node cell) {
  if (pugi::xml_node v = ChildElement(cell, "v")) return v;
  const std::string name = prefix_ + "v";
  pugi::xml_node before = ChildElement(cell, "extLst");
  return before ? cell.insert_child_before(name.c_str(), before) : cell.append_child(name.c_str());
}

void XlsxSheet::PutNumber(int row, int column, double value) {
  pugi::xml_node cell = Obtain(row, column);
  ReleaseValue(row, column, cell);
  ValueElement(cell).text().set(FormatNumber(value).c_str());
}

void XlsxSheet::PutText(int row, int column, const std::string& text) {
  pugi::xml_node cell = Obtain(row, column);
  ReleaseValue(row, column, cell);
  if (text.empty()) {
    if (pugi::xml_node v = ChildElement(cell, "v")) cell.remove_child(v);
    return;
  }
  const std::size_t index = file_.AddSharedString(text);
  cell.append_attribute("t") = "s";
  ValueElement(cell).text().set(static_cast<unsigned long long>(index));
}

void XlsxSheet::Clear(int row, int firstColumn, int lastColumn) {
  Row* r = RowAt(row);
  if (!r) return;
  auto& cells = r->Cells;
  for (auto c = cells.begin(); c != cells.end();) {
    if (c->Column < firstColumn || c->Column > lastColumn) {
      ++c;
      continue;
    }
    dirty_ = true;
    ReleaseValue(row, c->Column, c->Node);
    if (pugi::xml_node v = ChildElement(c->Node, "v")) c->Node.remove_child(v);
    if (!c->Node.attribute("s") && !c->Node.first_child()) {
      r->Node.remove_child(c->Node);
      c = cells.erase(c);
    } else {
      ++c;
    }
  }
}

void XlsxSheet::Color(int row, int firstColumn, int lastColumn, Rgb color) {
  for (int column = firstColumn; column <= lastColumn; ++column) {
    const Cell* existing = Find(row, column);
    const int style = existing ? existing->Node.attribute("s").as_int(0) : 0;
    const int colored = file_.ColoredStyle(style, color);
    if (colored == style && existing) continue;
    pugi::xml_node cell = Obtain(row, column);
    (cell.attribute("s") ? cell.attribute("s") : cell.append_attribute("s")).set_value(colored);
  }
}

Rgb XlsxSheet::FontColor(int row, int column) const {
  const Cell* cell = Find(row, column);
  return cell ? file_.StyleFontColor(cell->Node.attribute("s").as_int(0)) : 0;
}

std::string XlsxSheet::Serialize() {
  // Keep the used-range hint in step with the cells.
  pugi::xml_node root = doc_.document_element();
  if (pugi::xml_node dimension = ChildElement(root, "dimension")) {
    int firstColumn = 0, lastColumn = 0;
    for (const auto& [number, row] : rows_)
      if (!row.Cells.empty()) {
        firstColumn = firstColumn == 0 ? row.Cells.front().Column : std::min(firstColumn, row.Cells.front().Column);
        lastColumn = std::max(lastColumn, row.Cells.back().Column);
      }
    int firstRow = 0, lastRow = 0;
    for (const auto& [number, row] : rows_)
      if (!row.Cells.empty()) {
        if (firstRow == 0) firstRow = number;
        lastRow = number;
      }
    const std::string ref = firstRow == 0 ? "A1"
                            : CellReference(firstRow, firstColumn) + ":" + CellReference(lastRow, lastColumn);
    (dimension.attribute("ref") ? dimension.attribute("ref") : dimension.append_attribute("ref")).set_value(ref.c_str());
  }
  return SerializeXml(doc_);
}

}  // namespace

std::unique_ptr<BookFile> OpenXlsx(std::string bytes, const std::string& displayName,
                                   std::shared_ptr<BookState> state, const Limits& limits) {
  return std::make_unique<XlsxFile>(std::move(bytes), displayName, std::move(state), limits);
}

}  // namespace tersolv::link::book
