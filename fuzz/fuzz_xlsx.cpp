// libFuzzer target: arbitrary bytes as an .xlsx workbook. Whatever opens must
// read, take edits, save, and open again from what it saved, with the same
// cell texts and font colours.
//
// Built twice: fuzz_xlsx takes the bytes as the whole package (the zip layer);
// fuzz_xlsx_parts (TERSOLV_FUZZ_PARTS) takes them as the XML of a package's
// parts, cut at "\n--\n" into the worksheet, the shared strings, the styles
// and the workbook, and packs them into a valid zip, so that mutations reach
// the XML handling past the archive's checksums.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "link/book/book_file.h"
#include "link/book/writer/workbook_writer.h"
#include "link/book/zip_archive.h"

namespace {

using namespace tersolv::link;
using namespace tersolv::link::book;

Limits SmallLimits() {
  Limits limits;
  limits.MaxFileBytes = 4u << 20;
  limits.MaxPartBytes = 4u << 20;
  limits.MaxUnpackedBytes = 16u << 20;
  limits.MaxEntries = 200;
  limits.MaxCells = 20000;
  return limits;
}

void Exercise(BookFile& file) {
  for (int i = 0; i < file.SheetCount(); ++i) {
    (void)file.SheetName(i);
    auto sheet = file.Sheet(i);
    if (!sheet) continue;
    const int lastRow = std::min(sheet->LastRow(), 200);
    for (int row = 1; row <= lastRow; ++row)
      for (int column = 1; column <= std::min(sheet->LastColumn(row), 40); ++column) {
        (void)sheet->CellText(row, column);
        (void)sheet->FontColor(row, column);
      }
    try {
      sheet->WriteNumber(4, 5, 0.25);
      sheet->WriteText(4, 6, "not found");
      sheet->ClearContents(4, 1, 3);
      sheet->SetFontColor(4, 5, 12, RgbColor(0, 0, 255));
      sheet->SetFontColor(2, 1, 2, RgbColor(255, 0, 0));
    } catch (const LinkError&) {
      // refused edits (a shared formula, styles without fonts) are fine
    }
  }
}

// The texts and font colours of the cells Exercise reads, one line each.
std::string Snapshot(BookFile& file) {
  std::string out;
  for (int i = 0; i < file.SheetCount(); ++i) {
    auto sheet = file.Sheet(i);
    if (!sheet) continue;
    const int lastRow = std::min(sheet->LastRow(), 200);
    for (int row = 1; row <= lastRow; ++row)
      for (int column = 1; column <= std::min(sheet->LastColumn(row), 40); ++column)
        out += std::to_string(row) + "," + std::to_string(column) + ": " + sheet->CellText(row, column) + " #" +
               std::to_string(sheet->FontColor(row, column)) + "\n";
  }
  return out;
}

}  // namespace

#ifdef TERSOLV_FUZZ_PARTS
namespace {

std::string Package(const std::string& input) {
  std::string parts[4] = {
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData/></worksheet>",
      "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>",
      "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>",
      "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
      "<sheet name=\"Ternary system\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"};
  std::size_t start = 0;
  for (int k = 0; k < 4 && start <= input.size(); ++k) {
    const std::size_t cut = input.find("\n--\n", start);
    parts[k] = input.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
    if (cut == std::string::npos) break;
    start = cut + 4;
  }
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  return WriteNewZip({
      {"[Content_Types].xml",
       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
       "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>"},
      {"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                      "<Relationship Id=\"rId1\" Type=\"" + rel + "officeDocument\" Target=\"xl/workbook.xml\"/>"
                      "</Relationships>"},
      {"xl/workbook.xml", parts[3]},
      {"xl/_rels/workbook.xml.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
       "<Relationship Id=\"rId2\" Type=\"" + rel + "sharedStrings\" Target=\"sharedStrings.xml\"/>"
       "<Relationship Id=\"rId3\" Type=\"" + rel + "styles\" Target=\"styles.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml", parts[0]},
      {"xl/sharedStrings.xml", parts[1]},
      {"xl/styles.xml", parts[2]}});
}

}  // namespace
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Limits limits = SmallLimits();
  std::string input(reinterpret_cast<const char*>(data), size);
#ifdef TERSOLV_FUZZ_PARTS
  if (size > (1u << 20)) return 0;
  input = Package(input);
#endif
  std::string saved, before;
  try {
    auto state = std::make_shared<BookState>();
    state->EventsEnabled = std::make_shared<bool>(true);
    auto file = OpenXlsx(input, "fuzz.xlsx", state, limits);
    Exercise(*file);
    saved = file->Serialize();
    before = Snapshot(*file);  // as saved (cached values of formulas that use edited cells are gone)
  } catch (const LinkError&) {
    return 0;  // refused with a message: the expected outcome for most inputs
  }
  // What we saved opens again, with the same cells.
  auto state = std::make_shared<BookState>();
  state->EventsEnabled = std::make_shared<bool>(true);
  Limits roomy = limits;
  roomy.MaxCells *= 2;
  roomy.MaxEntries += 4;
  roomy.MaxUnpackedBytes *= 2;
  roomy.MaxPartBytes *= 2;
  auto again = OpenXlsx(saved, "saved.xlsx", state, roomy);
  if (Snapshot(*again) != before) std::abort();
  Exercise(*again);
  return 0;
}
