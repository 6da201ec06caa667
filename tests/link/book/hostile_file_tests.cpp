// Malformed and hostile workbook files: a clear message, a non-zero exit, never
// a crash, and the file stays byte for byte as it was.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "link/book/book_application.h"
#include "link/book/book_test_util.h"
#include "link/book/workbook_writer.h"

namespace tersolv::link::book {
namespace {

using testing::EditPackage;
using testing::ReadFile;
using testing::RunResult;
using testing::RunTersolv;
using testing::TempFolder;
using testing::WriteFile;

struct Hostile {
  std::string Name;      // file name
  std::string Bytes;     // its contents
  int Exit;              // expected exit code
  std::string Message;   // a part of the expected message
};

Limits With(std::uint64_t Limits::*bound, std::uint64_t value) {
  Limits limits;
  limits.*bound = value;
  return limits;
}

const std::string kFolder = "\x02", kMissing = "\x03";  // not bytes: a folder, no file at all

std::string GoodWorkbook() { return WriteNewWorkbook({testing::PointSheet({{25.0, 0.1, 0.0, 1.0}})}); }

// The good workbook with its data sheet's XML replaced.
std::string WithSheet(const std::string& xml) {
  return EditPackage(GoodWorkbook(), {{"xl/worksheets/sheet1.xml", xml}});
}

std::string SheetXml(const std::string& rows) {
  return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
         "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c></row>"
         "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>System definitions</t></is></c></row>"
         "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>T, C</t></is></c><c r=\"B3\" t=\"inlineStr\"><is><t>P, MPa</t></is></c>"
         "<c r=\"C3\" t=\"inlineStr\"><is><t>m(H2S)</t></is></c><c r=\"D3\" t=\"inlineStr\"><is><t>m(NaCl)</t></is></c></row>" +
         rows + "</sheetData></worksheet>";
}

std::string TextRow(const std::string& t) {
  return "<row r=\"4\"><c r=\"A4\" t=\"inlineStr\"><is><t>" + t + "</t></is></c><c r=\"B4\"><v>0.1</v></c></row>";
}

const std::string kCsvHead = "T\nSystem definitions\n\"T, C\",\"P, MPa\",m(H2S),m(NaCl)\n";

std::vector<Hostile> HostileFiles() {
  const std::string good = GoodWorkbook();
  std::vector<Hostile> h;
  h.push_back({"empty.xlsx", "", 5, "not a zip package"});
  h.push_back({"truncated.xlsx", good.substr(0, good.size() / 2), 5, "damaged or truncated"});
  h.push_back({"tail-cut.xlsx", good.substr(0, good.size() - 10), 5, "damaged or truncated"});
  h.push_back({"noise.xlsx", std::string(4096, '\x5a'), 5, "not a zip package"});
  h.push_back({"old.xlsx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4000, '\0'), 5,
               "password-protected"});
  h.push_back({"no-types.xlsx", EditPackage(good, {{"[Content_Types].xml", "\x01"}}), 5, "no content types"});
  h.push_back({"document.xlsx",
               EditPackage(good, {{"_rels/.rels",
                                   "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                                   "relationships\"><Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats."
                                   "org/officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/>"
                                   "</Relationships>"}}),
               5, "holds no workbook part"});
  h.push_back({"bad-workbook-xml.xlsx", EditPackage(good, {{"xl/workbook.xml", "<workbook><sheets>"}}), 5,
               "not well-formed XML"});
  h.push_back({"bad-sheet-xml.xlsx", WithSheet("<worksheet><sheetData><row r=\"1\"><c></row>"), 5,
               "not well-formed XML"});
  h.push_back({"missing-sheet.xlsx", EditPackage(good, {{"xl/worksheets/sheet1.xml", "\x01"}}), 5, "is missing"});
  h.push_back({"no-sheet-data.xlsx", WithSheet("<worksheet/>"), 5, "has no cell data"});
  h.push_back({"entities.xlsx",
               WithSheet("<!DOCTYPE w [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                         "<worksheet><sheetData/></worksheet>"),
               5, "document type"});
  h.push_back({"nan-cell.xlsx", WithSheet(SheetXml("<row r=\"4\"><c r=\"A4\"><v>NaN</v></c></row>")), 5,
               "not a finite number"});
  h.push_back({"huge-exponent-cell.xlsx", WithSheet(SheetXml("<row r=\"4\"><c r=\"A4\"><v>1e999</v></c></row>")), 5,
               "not a finite number"});
  h.push_back({"bad-string-index.xlsx",
               WithSheet(SheetXml("<row r=\"4\"><c r=\"A4\" t=\"s\"><v>99999</v></c></row>")), 5,
               "shared string that does not exist"});
  h.push_back({"unknown-type.xlsx", WithSheet(SheetXml("<row r=\"4\"><c r=\"A4\" t=\"zz\"><v>1</v></c></row>")), 5,
               "unknown type"});
  h.push_back({"rows-out-of-order.xlsx", WithSheet(SheetXml("<row r=\"2\"/>")), 5, "out of order"});
  h.push_back({"bad-reference.xlsx", WithSheet(SheetXml("<row r=\"4\"><c r=\"ZZZZ4\"><v>1</v></c></row>")), 5,
               "is invalid"});
  h.push_back({"text-in-number-cell.xlsx", WithSheet(SheetXml(TextRow("twenty"))), 3, "Row=4, Col=1: Format error"});
  h.push_back({"nan-text.xlsx", WithSheet(SheetXml(TextRow("NaN"))), 3, "Row=4, Col=1"});
  h.push_back({"inf-text.xlsx", WithSheet(SheetXml(TextRow("inf"))), 3, "Row=4, Col=1"});
  h.push_back({"huge-exponent-text.xlsx", WithSheet(SheetXml(TextRow("1e999"))), 3, "Row=4, Col=1"});
  h.push_back({"Ternary system.csv", kCsvHead + "25,1e400,0,0\n", 3, "Row=4, Col=2"});
  h.push_back({"binary.csv", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10), 5, "binary data"});
  h.push_back({"latin1.csv", kCsvHead + "25,0.1,caf\xe9,0\n", 5, "not UTF-8"});
  h.push_back({"open-quote.csv", kCsvHead + "25,\"0.1,0,0\n", 5, "never ends"});
  h.push_back({"text-after-quote.csv", kCsvHead + "\"25\"x,0.1,0,0\n", 5, "text after a closing quote"});
  h.push_back({"overlong-utf8.csv", kCsvHead + "\xC0\xAF\n", 5, "not UTF-8"});
  h.push_back({"surrogate.csv", kCsvHead + "\xED\xA0\x80\n", 5, "not UTF-8"});
  h.push_back({"folder.xlsx", kFolder, 5, "is a folder"});
  h.push_back({"missing.xlsx", kMissing, 5, "No such file"});
  h.push_back({"spreadsheet.ods", "PK\x03\x04", 5, "reads .xlsx and .csv"});
  // A part that unpacks to far more than a workbook needs (a "zip bomb").
  std::string bomb = SheetXml("");
  bomb.insert(bomb.find("<sheetData>"), std::string(200u << 20, ' '));
  h.push_back({"bomb.xlsx", WithSheet(bomb), 5, "more than the"});
  // A sheet of a million rows.
  std::string million = "T\nSystem definitions\n\"T, C\",\"P, MPa\"\n";
  million.reserve(8u << 20);
  for (int i = 0; i < 1000000; ++i) million += "25,0.1\n";
  h.push_back({"Components.csv", million, 5, "more than 2000000 cells"});
  return h;
}

TEST(HostileFiles, ClearMessageNonZeroExitFileUntouched) {
  TempFolder dir;
  const auto files = HostileFiles();
  ASSERT_GE(files.size(), 20u);
  for (const Hostile& file : files) {
    SCOPED_TRACE(file.Name);
    if (file.Bytes == kFolder)
      std::filesystem::create_directory(dir / file.Name);
    else if (file.Bytes != kMissing)
      WriteFile(dir / file.Name, file.Bytes);
    const RunResult run = RunTersolv(dir, "calc '" + file.Name + "'");
    EXPECT_EQ(run.Exit, file.Exit) << run.Err;
    EXPECT_NE(run.Err.find(file.Message), std::string::npos) << run.Err;
    EXPECT_LT(run.Err.size(), 600u) << "a message, not a dump";
    EXPECT_TRUE(file.Bytes.size() <= 1 || ReadFile(dir / file.Name) == file.Bytes) << "the file was changed";
    std::filesystem::remove(dir / file.Name);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2) << "only .stdout and .stderr";
}

// Limits of the backend itself, with small bounds so that the cases stay cheap;
// and a file the fuzzer found (refused after opening, which once leaked).
TEST(HostileFiles, AllocationLimitsHold) {
  TempFolder dir;
  const std::string good = GoodWorkbook();
  // A directory entry that understates the size of its part is read only up to the limit:
  // patch the uncompressed size in the central directory (offset 24 after the signature).
  std::string lying = EditPackage(good, {{"xl/worksheets/sheet1.xml", SheetXml(std::string(5000, ' '))}});
  const auto central = lying.rfind("PK\x01\x02", lying.rfind("xl/worksheets/sheet1.xml"));
  ASSERT_NE(central, std::string::npos);
  lying[central + 24] = 10, lying[central + 25] = 0, lying[central + 26] = 0, lying[central + 27] = 0;
  const std::tuple<Limits, std::string, std::string> cases[] = {
      {With(&Limits::MaxFileBytes, 100), good, "too large"},
      {With(&Limits::MaxPartBytes, 300), good, "more than the 300 allowed"},
      {With(&Limits::MaxUnpackedBytes, 2000), good, "allowed"},
      {With(&Limits::MaxEntries, 3), good, "entries, more than 3"},
      {With(&Limits::MaxCells, 8), good, "too many cells"},
      {With(&Limits::MaxPartBytes, 4000), lying, ""},
      {Limits{}, ReadFile(std::string(TERSOLV_TEST_DATA) + "/refused-archive.xlsx"), ""},
  };
  for (const auto& [limits, bytes, message] : cases) {
    SCOPED_TRACE(message);
    WriteFile(dir / "x.xlsx", bytes);
    BookApplication app('.', limits);
    try {
      app.OpenWorkbook(dir / "x.xlsx", false);
      ADD_FAILURE() << "opened";
    } catch (const LinkError& e) {
      EXPECT_EQ(e.Number(), kFileError);
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace tersolv::link::book
