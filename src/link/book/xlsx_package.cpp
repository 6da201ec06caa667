// .xlsx workbooks edited in place: the package is kept as it is, and only the
// parts that changed (the edited worksheets, the shared strings, the styles,
// the content types and relationships when parts are added or dropped) are
// written anew. The worksheets themselves: xlsx_sheet.cpp.
#include "link/book/xlsx_parts.h"

namespace tersolv::link::book::xlsx {
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

// The type's last segment: ".../relationships/worksheet" -> "worksheet".
std::string ShortType(const std::string& type) {
  const auto slash = type.rfind('/');
  return slash == std::string::npos ? type : type.substr(slash + 1);
}

}  // namespace

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

std::size_t XlsxFile::SameOrNewStyleEntry(const char* listName, pugi::xml_node entry,
                                          std::vector<pugi::xml_node>& nodes, std::vector<std::string>& texts) {
  std::string text = SerializeNode(entry);
  const std::size_t index = static_cast<std::size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
  if (index < texts.size()) return index;
  pugi::xml_node list = ChildElement(styles_.document_element(), listName);
  nodes.push_back(list.insert_copy_after(entry, nodes.back()));
  texts.push_back(std::move(text));
  (list.attribute("count") ? list.attribute("count") : list.append_attribute("count")).set_value(nodes.size());
  stylesDirty_ = true;
  return index;
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
  const std::size_t newFont = SameOrNewStyleEntry("fonts", font, fonts_, fontText_);

  pugi::xml_node newXf = scratch.append_copy(xf);
  (newXf.attribute("fontId") ? newXf.attribute("fontId") : newXf.append_attribute("fontId")).set_value(newFont);
  (newXf.attribute("applyFont") ? newXf.attribute("applyFont") : newXf.append_attribute("applyFont")).set_value("1");
  const std::size_t index = SameOrNewStyleEntry("cellXfs", newXf, cellXfs_, xfText_);
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

}  // namespace tersolv::link::book::xlsx

namespace tersolv::link::book {

std::unique_ptr<BookFile> OpenXlsx(std::string bytes, const std::string& displayName,
                                   std::shared_ptr<BookState> state, const Limits& limits) {
  return std::make_unique<xlsx::XlsxFile>(std::move(bytes), displayName, std::move(state), limits);
}

std::unique_ptr<BookFile> OpenXlsx(std::string_view bytes, const std::string& displayName,
                                   std::shared_ptr<BookState> state, const Limits& limits) {
  return OpenXlsx(std::string(bytes), displayName, std::move(state), limits);
}

}  // namespace tersolv::link::book
