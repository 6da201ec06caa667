// Malformed and hostile workbook files: each gives a clear message and a
// non-zero exit code, never a crash, and the file stays byte for byte as it
// was.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "link/book/book_application.h"
#include "link/book/command_test_util.h"
#include "link/book/workbook_writer.h"

namespace tersolv::link::book {
namespace {

using testing::EditPackage;
using testing::PartOf;
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

std::string GoodWorkbook() {
  NewSheet s;
  s.Name = "Ternary system";
  s.Rows = {{std::string("Title")},
            {std::string("System definitions")},
            {std::string("T, C"), std::string("P, MPa"), std::string("m(H2S)"), std::string("m(NaCl)")},
            {25.0, 0.1, 0.0, 1.0}};
  return WriteNewWorkbook({s});
}

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
  for (const Hostile& file : HostileFiles()) {
    SCOPED_TRACE(file.Name);
    WriteFile(dir / file.Name, file.Bytes);
    const RunResult run = RunTersolv(dir, "calc '" + file.Name + "'");
    EXPECT_EQ(run.Exit, file.Exit) << run.Err;
    EXPECT_NE(run.Err.find(file.Message), std::string::npos) << run.Err;
    EXPECT_LT(run.Err.size(), 600u) << "a message, not a dump";
    EXPECT_TRUE(ReadFile(dir / file.Name) == file.Bytes) << "the file was changed";
    std::filesystem::remove(dir / file.Name);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2) << "only .stdout and .stderr";
}

TEST(HostileFiles, FoldersMissingFilesAndUnwritableFolders) {
  TempFolder dir;
  std::filesystem::create_directory(dir / "folder.xlsx");
  RunResult run = RunTersolv(dir, "calc folder.xlsx");
  EXPECT_EQ(run.Exit, 5);
  EXPECT_NE(run.Err.find("is a folder"), std::string::npos) << run.Err;
  run = RunTersolv(dir, "calc missing.xlsx");
  EXPECT_EQ(run.Exit, 5);
  EXPECT_NE(run.Err.find("No such file"), std::string::npos) << run.Err;
  run = RunTersolv(dir, "calc");
  EXPECT_EQ(run.Exit, 2);
  // Saving into a folder that does not exist fails after the run, cleanly.
  WriteFile(dir / "good.xlsx", GoodWorkbook());
  run = RunTersolv(dir, "calc good.xlsx -o no/such/folder/out.xlsx");
  EXPECT_EQ(run.Exit, 5);
  EXPECT_NE(run.Err.find("not saved"), std::string::npos) << run.Err;
  EXPECT_EQ(ReadFile(dir / "good.xlsx"), GoodWorkbook());
  run = RunTersolv(dir, "calc good.xlsx -o out.csv");
  EXPECT_EQ(run.Exit, 2);
}

// Files the fuzzer found; each must be refused cleanly (and, under the
// sanitizers, without leaking what was opened before the refusal).
TEST(HostileFiles, FuzzerFinds) {
  for (const char* name : {"refused-archive.xlsx"}) {
    SCOPED_TRACE(name);
    BookApplication app;
    EXPECT_THROW(app.OpenWorkbook(std::string(TERSOLV_TEST_DATA) + "/" + name, true), LinkError);
  }
}

// Limits of the backend itself, with small bounds so that the cases stay cheap.
TEST(HostileFiles, AllocationLimitsHold) {
  TempFolder dir;
  const std::string good = GoodWorkbook();
  const auto expectRefused = [&](const Limits& limits, const std::string& bytes, const std::string& message) {
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
  };
  Limits file;
  file.MaxFileBytes = 100;
  expectRefused(file, good, "too large");
  Limits part;
  part.MaxPartBytes = 300;
  expectRefused(part, good, "more than the 300 allowed");
  Limits total;
  total.MaxUnpackedBytes = 2000;
  expectRefused(total, good, "allowed");
  Limits entries;
  entries.MaxEntries = 3;
  expectRefused(entries, good, "entries, more than 3");
  Limits cells;
  cells.MaxCells = 8;
  expectRefused(cells, good, "too many cells");
  // A directory entry that understates the size of its entry is read only up to the limit.
  std::string lying = EditPackage(good, {{"xl/worksheets/sheet1.xml", SheetXml(std::string(5000, ' '))}});
  const std::string name = "xl/worksheets/sheet1.xml";
  // Patch the uncompressed size in the central directory (offset 24 after the signature).
  const auto central = lying.rfind("PK\x01\x02", lying.rfind(name));
  ASSERT_NE(central, std::string::npos);
  lying[central + 24] = 10, lying[central + 25] = 0, lying[central + 26] = 0, lying[central + 27] = 0;
  Limits bounded;
  bounded.MaxPartBytes = 4000;
  expectRefused(bounded, lying, "");
}

}  // namespace
}  // namespace tersolv::link::book
