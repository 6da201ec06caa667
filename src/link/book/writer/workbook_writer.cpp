#include "link/book/writer/workbook_writer.h"

#include <zip.h>

#include <pugixml.hpp>

#include "link/book/cell_format.h"
#include "link/book/file_io.h"
#include "link/book/xml_util.h"
#include "link/book/zip_archive.h"
#include "link/link.h"

namespace tersolv::link::book {
namespace {

std::string ZipErrorText(zip_error_t* error) {
  const char* text = zip_error_strerror(error);
  return text ? text : "unknown zip error";
}

constexpr const char* kDeclaration = kXmlDeclaration;
constexpr const char* kMain = kMainNamespace;
constexpr const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A cell style: bold font, wrapped text (top-aligned), number format id.
struct CellStyle {
  bool Bold = false, Wrap = false;
  int Format = 0;
  bool operator==(const CellStyle&) const = default;
};

// Styles: 0 plain, 1 bold; then one per combination in use.
struct StyleTable {
  std::vector<CellStyle> Xfs{{false, false, 0}, {true, false, 0}};
  int Index(const CellStyle& style) {
    for (std::size_t i = 0; i < Xfs.size(); ++i)
      if (Xfs[i] == style) return static_cast<int>(i);
    Xfs.push_back(style);
    return static_cast<int>(Xfs.size()) - 1;
  }
  std::string Xml() const {
    std::string xfs;
    for (const auto& [bold, wrap, format] : Xfs)
      xfs += "<xf numFmtId=\"" + std::to_string(format) + "\" fontId=\"" + (bold ? "1" : "0") +
             "\" fillId=\"0\" borderId=\"0\" xfId=\"0\"" + (bold ? " applyFont=\"1\"" : "") +
             (format ? " applyNumberFormat=\"1\"" : "") +
             (wrap ? " applyAlignment=\"1\"><alignment vertical=\"top\" wrapText=\"1\"/></xf>" : "/>");
    return StylesPart(true, Xfs.size(), xfs);
  }
};

}  // namespace

std::string WriteNewWorkbook(const std::vector<NewSheet>& sheets, int activeSheet) {
  StyleTable styles;
  std::vector<std::string> strings;
  std::map<std::string, std::size_t> stringIndex;
  std::size_t stringRefs = 0;
  const auto stringId = [&](const std::string& text) {
    ++stringRefs;
    auto [it, added] = stringIndex.emplace(text, strings.size());
    if (added) strings.push_back(text);
    return it->second;
  };

  std::vector<std::pair<std::string, std::string>> entries;
  std::string contentTypes = std::string(kDeclaration) +
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
      "<Override PartName=\"/xl/styles.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
      "<Override PartName=\"/xl/sharedStrings.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
  std::string workbookSheets, workbookRels;
  std::vector<std::pair<std::string, std::string>> sheetParts;

  for (std::size_t s = 0; s < sheets.size(); ++s) {
    const NewSheet& sheet = sheets[s];
    // Chart sheets and worksheets are listed alike, under their own kind and folder.
    const bool chart = !sheet.IsWorksheet;
    const std::string number = std::to_string(s + 1);
    const std::string kind = chart ? "chartsheet" : "worksheet";
    const std::string file = kind + "s/sheet" + number + ".xml";
    const std::string part = "xl/" + file;
    contentTypes += "<Override PartName=\"/" + part +
                    "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml." + kind + "+xml\"/>";
    workbookSheets += "<sheet name=\"" + Escape(sheet.Name) + "\" sheetId=\"" + number + "\" r:id=\"rId" + number + "\"/>";
    workbookRels += "<Relationship Id=\"rId" + number +
                    "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + kind +
                    "\" Target=\"" + file + "\"/>";
    if (chart) {
      sheetParts.emplace_back(part, std::string(kDeclaration) + "<chartsheet xmlns=\"" + kMain +
                                        "\"><sheetViews><sheetView workbookViewId=\"0\"/></sheetViews></chartsheet>");
      continue;
    }

    std::string xml = std::string(kDeclaration) + "<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel + "\">";
    // Every cell that has a value, a formula or a number format.
    std::map<int, std::map<int, std::string>> cells;
    for (std::size_t r = 0; r < sheet.Rows.size(); ++r)
      for (std::size_t c = 0; c < sheet.Rows[r].size(); ++c) {
        const NewValue& value = sheet.Rows[r][c];
        const int row = static_cast<int>(r) + 1, column = static_cast<int>(c) + 1;
        if (std::holds_alternative<double>(value))
          cells[row][column] = "<v>" + FormatNumber(std::get<double>(value)) + "</v>";
        else if (std::holds_alternative<std::string>(value))
          cells[row][column] = "t=\"s\"><v>" + std::to_string(stringId(std::get<std::string>(value))) + "</v>";
      }
    for (const auto& [ref, formula] : sheet.Formulas) {
      const auto address = ParseCellReference(ref);
      if (!address) throw LinkError(kBadArgument, "Bad cell reference " + ref);
      cells[address->Row][address->Column] = "<f>" + Escape(formula) + "</f>";
    }
    for (const auto& [ref, format] : sheet.NumberFormats) {
      const auto address = ParseCellReference(ref);
      if (!address) throw LinkError(kBadArgument, "Bad cell reference " + ref);
      cells[address->Row][address->Column];  // make sure it exists
    }
    int lastRow = 1, lastColumn = 1;
    for (const auto& [row, columns] : cells) {
      lastRow = std::max(lastRow, row);
      if (!columns.empty()) lastColumn = std::max(lastColumn, columns.rbegin()->first);
    }
    xml += "<dimension ref=\"A1:" + CellReference(lastRow, lastColumn) + "\"/>";
    xml += "<sheetViews><sheetView workbookViewId=\"0\"" + std::string(static_cast<int>(s) == activeSheet ? " tabSelected=\"1\"" : "") +
           "/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
    if (!sheet.ColumnWidths.empty()) {
      xml += "<cols>";
      for (std::size_t c = 0; c < sheet.ColumnWidths.size(); ++c)
        if (sheet.ColumnWidths[c] > 0)
          xml += "<col min=\"" + std::to_string(c + 1) + "\" max=\"" + std::to_string(c + 1) + "\" width=\"" +
                 FormatNumber(sheet.ColumnWidths[c]) + "\" customWidth=\"1\"/>";
      xml += "</cols>";
    }
    xml += "<sheetData>";
    for (const auto& [row, columns] : cells) {
      xml += "<row r=\"" + std::to_string(row) + "\"";
      if (const auto height = sheet.RowHeights.find(row); height != sheet.RowHeights.end())
        xml += " ht=\"" + FormatNumber(height->second) + "\" customHeight=\"1\"";
      xml += ">";
      for (const auto& [column, body] : columns) {
        const std::string ref = CellReference(row, column);
        const auto format = sheet.NumberFormats.find(ref);
        const int style = styles.Index({sheet.BoldRows.count(row) != 0, sheet.WrapRows.count(row) != 0,
                                        format == sheet.NumberFormats.end() ? 0 : format->second});
        xml += "<c r=\"" + ref + "\"" + (style ? " s=\"" + std::to_string(style) + "\"" : "");
        if (body.empty()) {
          xml += "/>";
        } else if (body.rfind("t=", 0) == 0) {
          xml += " " + body + "</c>";
        } else {
          xml += ">" + body + "</c>";
        }
      }
      xml += "</row>";
    }
    xml += "</sheetData>";
    if (!sheet.Merges.empty()) {
      xml += "<mergeCells count=\"" + std::to_string(sheet.Merges.size()) + "\">";
      for (const auto& m : sheet.Merges) xml += "<mergeCell ref=\"" + m + "\"/>";
      xml += "</mergeCells>";
    }
    xml += "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>";
    xml += "</worksheet>";
    sheetParts.emplace_back(part, std::move(xml));
  }
  contentTypes += "</Types>";
  workbookRels += "<Relationship Id=\"rId" + std::to_string(sheets.size() + 1) +
                  "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
                  "Target=\"styles.xml\"/>"
                  "<Relationship Id=\"rId" + std::to_string(sheets.size() + 2) +
                  "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
                  "Target=\"sharedStrings.xml\"/>";

  std::string sst = std::string(kDeclaration) + "<sst xmlns=\"" + kMain + "\" count=\"" + std::to_string(stringRefs) +
                    "\" uniqueCount=\"" + std::to_string(strings.size()) + "\">";
  for (const auto& text : strings) {
    const std::string encoded = Escape(EncodeStringItemText(text));
    const bool preserve = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    sst += std::string("<si><t") + (preserve ? " xml:space=\"preserve\"" : "") + ">" + encoded + "</t></si>";
  }
  sst += "</sst>";

  entries.emplace_back("[Content_Types].xml", contentTypes);
  entries.emplace_back("_rels/.rels", std::string(kDeclaration) +
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
      "Target=\"xl/workbook.xml\"/></Relationships>");
  entries.emplace_back("xl/workbook.xml", std::string(kDeclaration) + "<workbook xmlns=\"" + kMain +
      "\" xmlns:r=\"" + kRel + "\"><bookViews><workbookView activeTab=\"" + std::to_string(activeSheet) +
      "\"/></bookViews><sheets>" + workbookSheets + "</sheets><calcPr calcId=\"191029\"/></workbook>");
  entries.emplace_back("xl/_rels/workbook.xml.rels", std::string(kDeclaration) +
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + workbookRels +
      "</Relationships>");
  for (auto& part : sheetParts) entries.push_back(std::move(part));
  entries.emplace_back("xl/styles.xml", styles.Xml());
  entries.emplace_back("xl/sharedStrings.xml", sst);
  return WriteNewZip(entries);
}

void WriteNewWorkbookFile(const std::string& path, const std::vector<NewSheet>& sheets, int activeSheet) {
  ReplaceFile(path, WriteNewWorkbook(sheets, activeSheet));
}

std::string WriteNewZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* sink = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_source_keep(sink);
  zip_t* out = zip_open_from_source(sink, ZIP_TRUNCATE, &error);
  if (!out) {
    zip_source_free(sink);
    throw LinkError(kFileError, "Cannot create a zip package: " + ZipErrorText(&error));
  }
  for (const auto& [name, data] : entries) {
    zip_source_t* source = zip_source_buffer(out, data.data(), data.size(), 0);
    const zip_int64_t index = source ? zip_file_add(out, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
      if (source) zip_source_free(source);
      zip_discard(out);
      zip_source_free(sink);
      throw LinkError(kFileError, "Cannot create a zip package");
    }
    zip_set_file_compression(out, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, DeflateLevelFor(data.size()));
  }
  if (zip_close(out) != 0) {
    zip_discard(out);
    zip_source_free(sink);
    throw LinkError(kFileError, "Cannot create a zip package");
  }
  zip_stat_t st;
  std::string bytes;
  if (zip_source_stat(sink, &st) == 0 && zip_source_open(sink) == 0) {
    bytes.resize(static_cast<std::size_t>(st.size));
    const zip_int64_t n = zip_source_read(sink, bytes.data(), bytes.size());
    zip_source_close(sink);
    if (n < 0 || static_cast<std::size_t>(n) != bytes.size()) bytes.clear();
  }
  zip_source_free(sink);
  if (bytes.empty()) throw LinkError(kFileError, "Cannot create a zip package");
  return bytes;
}

}  // namespace tersolv::link::book
