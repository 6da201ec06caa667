// A worksheet of an .xlsx workbook: its part read forward into compact cell
// records (a big part piece by piece), cells read and written, and the part
// written anew in pieces when the workbook is saved.
#include "link/book/xlsx_parts.h"

namespace tersolv::link::book::xlsx {

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

}  // namespace tersolv::link::book::xlsx
