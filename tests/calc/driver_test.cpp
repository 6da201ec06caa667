// The calculation driver over in-memory sheets: the order of writes, the
// caption and change flag, the edge rows of both layouts, the colour marks,
// "not found", a fault part-way, and several threads writing what one would.
#include <gtest/gtest.h>

#include <random>

#include "calc/sheet_helpers.h"
#include "water/fp_check.h"

namespace tersolv {
namespace {

using testing_sheets::Bench;
using testing_sheets::Empty;
using testing_sheets::Number;
using testing_sheets::Relative;

TEST(Driver, NoPointsOnlyTheCaptionAndTheFlag) {
  Bench bench;
  auto sheet = bench.Sheet("Ternary system", {});
  ASSERT_EQ(bench.reader.ReadWorksheet(sheet, false), 0);
  bench.frontend.SetCaption("Tersolv: Ternary system");
  bench.frontend.Changed = true;
  sheet->EnableJournal(true);
  calc::CalculateValues(bench.reader, *sheet, bench.frontend);
  EXPECT_TRUE(sheet->Journal().empty());
  EXPECT_EQ(bench.frontend.Captions.back(), "Tersolv: Ternary system");
  EXPECT_EQ(bench.frontend.Captions[bench.frontend.Captions.size() - 2], "Calculating...");
  EXPECT_FALSE(bench.frontend.Changed);
}

TEST(Driver, OrderOfWritesOfBothLayouts) {
  Bench bench;
  auto components = bench.Sheet("Components", {{"25", "10"}});
  ASSERT_EQ(bench.reader.ReadWorksheet(components, false), 0);
  components->EnableJournal(true);
  calc::CalculateValues(bench.reader, *components, bench.frontend);
  ASSERT_EQ(components->Journal().size(), 8u);
  for (int k = 0; k < 8; ++k) {
    const std::string prefix = "N 4 " + std::to_string(k + 3) + " ";
    EXPECT_EQ(components->Journal()[k].substr(0, prefix.size()), prefix);
  }

  auto ternary = bench.Sheet("Ternary system", {{"25", "0.1", "1", "7"}});
  ASSERT_EQ(bench.reader.ReadWorksheet(ternary, false), 0);
  ternary->EnableJournal(true);
  calc::CalculateValues(bench.reader, *ternary, bench.frontend);
  const auto& journal = ternary->Journal();
  ASSERT_EQ(journal.size(), 9u);
  const int order[] = {7, 8, 9, 10, 5, 6, 11, 12};
  for (int k = 0; k < 8; ++k) {
    const std::string prefix = "N 4 " + std::to_string(order[k]) + " ";
    EXPECT_EQ(journal[k].substr(0, prefix.size()), prefix);
  }
  EXPECT_EQ(journal[8], "F 4 5 12 16711935");  // the mark comes last
}

TEST(Driver, ZeroMolalitiesArePureWater) {
  Bench bench;
  auto sheet = bench.Sheet("Ternary system", {{"75", "20", "", ""}});
  bench.Run(sheet);
  const double rho = bench.reader.Points.PointRho[1];
  EXPECT_EQ(Number(sheet, 4, 5), 1.0);  // phi
  EXPECT_EQ(Number(sheet, 4, 6), 1.0);  // a_w / x_w
  EXPECT_EQ(Number(sheet, 4, 9), 1.0);  // gamma H2S
  EXPECT_EQ(Number(sheet, 4, 10), 1.0);  // gamma +-
  EXPECT_TRUE(Relative(Number(sheet, 4, 11), rho, 1e-15));
  EXPECT_TRUE(Relative(Number(sheet, 4, 12), 18.015268 / rho, 1e-15));
  EXPECT_EQ(sheet->FontColor(4, 5), 0u);
}

TEST(Driver, SaturationPressureRows) {
  Bench bench;
  auto components = bench.Sheet("Components", {{"150", "sat"}});
  bench.Run(components);
  EXPECT_EQ(Number(components, 4, 9), 0.0);  // no H2S in the gas phase
  EXPECT_GT(Number(components, 4, 10), 0.0);

  // The ternary row: m_Hs = 0, so k_S is undefined and its cell is left
  // empty; the H2S given is above that solubility, so the row is blue.
  auto ternary = bench.Sheet("Ternary system", {{"150", "sat", "0.1", "1"}, {"150", "10", "0.1", "1"}});
  for (int c = 5; c <= 12; ++c) ternary->SetNumber(4, c, 9.0);
  bench.Run(ternary);
  EXPECT_TRUE(Empty(ternary, 4, 7));
  EXPECT_EQ(Number(ternary, 4, 8), 0.0);
  for (int c : {5, 6, 9, 10, 11, 12}) EXPECT_GT(Number(ternary, 4, c), 0.0) << c;
  EXPECT_EQ(ternary->FontColor(4, 5), 16711680u);
  // The next row has its own k_S.
  EXPECT_GT(Number(ternary, 5, 7), 0.0);
  EXPECT_EQ(ternary->FontColor(5, 5), 0u);
}

TEST(Driver, SaltingOutCoefficientAtTheSeriesSwitch) {
  Bench bench;
  auto sheet = bench.Sheet("Ternary system", {{"100", "10", "0", "0.002"}, {"100", "10", "0", "0.0020001"},
                                              {"100", "10", "0", "0"}});
  bench.Run(sheet);
  const double series = Number(sheet, 4, 7), ratio = Number(sheet, 5, 7), limit = Number(sheet, 6, 7);
  EXPECT_NEAR(ratio / series, 1, 1e-5);
  EXPECT_NE(ratio, series);
  EXPECT_NEAR(series / limit, 1, 1e-2);
  EXPECT_TRUE(Relative(limit, 0.19269089, 1e-7));  // the reference row at m(NaCl) = 0
}

TEST(Driver, TheFourColourMarks) {
  Bench bench;
  // 25 C, 0.1 MPa: H2S dissolves to about 0.09 mol/kg, halite to about 6.1.
  auto sheet = bench.Sheet("Ternary system", {{"25", "0.1", "0.05", "1"},
                                              {"25", "0.1", "0.5", "1"},
                                              {"25", "0.1", "0.01", "7"},
                                              {"25", "0.1", "0.5", "7"}});
  for (int c = 4; c <= 13; ++c) sheet->SetNumber(8, c, 1.0);
  sheet->SetFontColor(8, 13, 13, 65280);
  bench.Run(sheet);
  const unsigned marks[] = {0, 16711680, 255, 16711935};
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE(r);
    for (int c = 5; c <= 12; ++c) {
      EXPECT_EQ(sheet->FontColor(4 + r, c), marks[r]);
      EXPECT_FALSE(Empty(sheet, 4 + r, c));  // values are written in every case
    }
    EXPECT_EQ(sheet->FontColor(4 + r, 4), 0u);
    EXPECT_EQ(sheet->FontColor(4 + r, 13), 0u);
  }
}

TEST(Driver, NotFoundThenANormalRow) {
  Bench bench;
  auto sheet = bench.Sheet("Components", {{"300", "50"}, {"25", "10"}});
  bench.Run(sheet);
  EXPECT_EQ(sheet->CellText(4, 10), "not found");
  for (int c = 3; c <= 9; ++c) EXPECT_GT(Number(sheet, 4, c), 0.0) << c;
  EXPECT_TRUE(Relative(Number(sheet, 5, 10), 6.1673639, 1e-7));
}

// A sheet with a fault at point `k` of `count`: an H2S molality so large that
// its activity coefficient overflows after columns 7 and 8 are written.
std::vector<std::vector<std::string>> RowsWithFault(int count, int k) {
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= count; ++i) {
    rows.push_back({std::to_string(20 + i % 280), std::to_string(1 + i % 90), i == k ? "300" : "0.01",
                    std::to_string((i % 50) * 0.1)});
  }
  return rows;
}

void ExpectFaultAt(unsigned threads, int count, int k) {
  Bench bench;
  auto sheet = bench.Sheet("Ternary system", RowsWithFault(count, k));
  ASSERT_EQ(bench.reader.ReadWorksheet(sheet, false), 0);
  bench.frontend.Changed = true;
  calc::DriverOptions options;
  options.Threads = threads;
  EXPECT_THROW(calc::CalculateValues(bench.reader, *sheet, bench.frontend, options), FloatingPointError);
  for (int i = 1; i < k; ++i) {
    for (int c = 5; c <= 12; ++c) ASSERT_FALSE(Empty(sheet, i + 3, c)) << i << " " << c;
  }
  EXPECT_FALSE(Empty(sheet, k + 3, 7));
  EXPECT_FALSE(Empty(sheet, k + 3, 8));
  for (int c : {5, 6, 9, 10, 11, 12}) EXPECT_TRUE(Empty(sheet, k + 3, c)) << c;
  EXPECT_EQ(sheet->FontColor(k + 3, 5), 0u);  // the mark is never reached
  for (int i = k + 1; i <= count; ++i) {
    for (int c = 5; c <= 12; ++c) ASSERT_TRUE(Empty(sheet, i + 3, c)) << i << " " << c;
  }
  EXPECT_EQ(bench.frontend.Caption(), "Calculating...");
  EXPECT_TRUE(bench.frontend.Changed);
}

TEST(Driver, AFaultAtPointKLeavesTheRowsBeforeCompleteAndAfterUntouched) {
  ExpectFaultAt(1, 5, 3);
  ExpectFaultAt(2, 300, 150);
  ExpectFaultAt(2, 300, 1);
}

TEST(Driver, SeveralThreadsWriteWhatOneWould) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> t(0, 325), p(0, 100), m(0, 3);
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 400; ++i) {
    rows.push_back({std::to_string(t(random)), i % 17 == 0 ? "sat" : std::to_string(p(random)),
                    std::to_string(m(random) / 2), std::to_string(m(random) * 2)});
  }
  Bench one, two;
  auto a = one.Sheet("Ternary system", rows);
  auto b = two.Sheet("Ternary system", rows);
  ASSERT_EQ(one.reader.ReadWorksheet(a, false), 0);
  ASSERT_EQ(two.reader.ReadWorksheet(b, false), 0);
  a->EnableJournal(true);
  b->EnableJournal(true);
  calc::DriverOptions single, parallel;
  parallel.Threads = 2;
  int progressCalls = 0;
  parallel.Progress = [&](int done, int total) {
    ++progressCalls;
    EXPECT_LE(done, total);
  };
  calc::CalculateValues(one.reader, *a, one.frontend, single);
  calc::CalculateValues(two.reader, *b, two.frontend, parallel);
  EXPECT_GT(progressCalls, 0);
  ASSERT_EQ(a->Journal().size(), b->Journal().size());
  for (std::size_t k = 0; k < a->Journal().size(); ++k) {
    // Same call, same cell; the value to 1e-12.
    const std::string& x = a->Journal()[k];
    const std::string& y = b->Journal()[k];
    const std::size_t cell = x.find(' ', x.find(' ', 2) + 1);
    ASSERT_EQ(x.substr(0, cell), y.substr(0, cell)) << k;
  }
  const auto va = a->Values(), vb = b->Values();
  ASSERT_EQ(va.size(), vb.size());
  for (const auto& [cell, value] : va) {
    const auto& other = vb.at(cell);
    ASSERT_EQ(value.index(), other.index());
    if (const double* d = std::get_if<double>(&value)) {
      EXPECT_TRUE(Relative(std::get<double>(other), *d, 1e-12)) << cell.first << " " << cell.second;
    }
  }
  for (int row = 4; row < 404; ++row) EXPECT_EQ(a->FontColor(row, 5), b->FontColor(row, 5));
}

TEST(Driver, RowsBeyond32767) {
  // Points 32765..32767 land in rows 32768..32770 (a 16-bit row number
  // would overflow there).
  Bench bench;
  auto sheet = bench.Sheet("Components", {});
  bench.reader.Points.SheetKind = 1;
  bench.reader.HaliteDataSet = true;
  bench.reader.HaliteData = {{-384160.0, 72.132, 2.7015, 44.6, 0.032, 0, 0}};
  auto& pts = bench.reader.Points;
  pts.PointCount = 32767;
  pts.PointT.assign(32768, 298.15);
  pts.PointP.assign(32768, 100.0);
  pts.PointRho.assign(32768, 1.0014670);
  calc::DriverOptions options;
  options.Threads = 0;
  calc::CalculateValues(bench.reader, *sheet, bench.frontend, options);
  EXPECT_FALSE(Empty(sheet, 32770, 10));
  EXPECT_TRUE(Empty(sheet, 32771, 3));
  EXPECT_EQ(Number(sheet, 32770, 3), 1.0014670);
}

}  // namespace
}  // namespace tersolv
