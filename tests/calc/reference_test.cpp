// Every result column of both layouts at the reference state points, each
// layout computed as one sheet: the reader's pass, then the driver's.
#include "calc/reference_points.h"
#include "fakes/sheets.h"

namespace tersolv::reference {
namespace {

using testing_sheets::Number;

TEST(ReferenceSheets, Components) {
  testing_sheets::Bench bench;
  testing_sheets::Rows rows;
  for (const auto& p : kComponents) rows.push_back({Text(p.T), p.P});
  auto sheet = bench.Sheet("Components", rows);
  bench.Run(sheet);
  for (int row = 4; const auto& p : kComponents) {
    SCOPED_TRACE("T = " + Text(p.T) + " C, P = " + p.P);
    EXPECT_TRUE(Relative(Number(sheet, row, 2), p.NormalisedP));
    for (int k = 0; k < 8; ++k) {
      SCOPED_TRACE("column " + std::to_string(k + 3));
      if (p.Values[k] == kNotFound) {
        EXPECT_EQ(sheet->CellText(row, k + 3), "not found");
      } else {
        EXPECT_TRUE(Relative(Number(sheet, row, k + 3), p.Values[k]));
      }
    }
    ++row;
  }
}

TEST(ReferenceSheets, Ternary) {
  testing_sheets::Bench bench;
  testing_sheets::Rows rows;
  for (const auto& p : kTernary) rows.push_back({Text(p.T), Text(p.P), Text(p.MH2S), Text(p.MNaCl)});
  auto sheet = bench.Sheet("Ternary system", rows);
  bench.Run(sheet);
  for (int row = 4; const auto& p : kTernary) {
    SCOPED_TRACE("row " + std::to_string(row));
    for (int k = 0; k < 8; ++k) EXPECT_TRUE(Relative(Number(sheet, row, k + 5), p.Values[k])) << "column " << k + 5;
    EXPECT_EQ(sheet->FontColor(row++, 5), p.Mark);
  }
}

}  // namespace
}  // namespace tersolv::reference
