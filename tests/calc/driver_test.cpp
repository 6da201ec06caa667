// The calculation driver over in-memory sheets (order of writes, edge rows,
// colour marks, pure water, a fault part-way, threads) and the caps and
// limits of the equations it combines.
#include <gmock/gmock.h>

#include <random>

#include "calc/equations.h"
#include "calc/point.h"
#include "calc/reference_points.h"
#include "fakes/sheets.h"
#include "core/fp.h"

namespace tersolv {
namespace {

using link::memory::MemorySheet;
using reference::Relative;
using testing_sheets::Bench;
using testing_sheets::Empty;
using testing_sheets::Number;
using Calls = std::vector<std::string>;

// The journal's calls and their cells, without the numbers written.
Calls CallsOf(const MemorySheet& sheet) {
  Calls calls;
  for (const std::string& line : sheet.Journal()) {
    calls.push_back(line[0] == 'N' ? line.substr(0, line.find(' ', line.find(' ', 2) + 1)) : line);
  }
  return calls;
}

TEST(Driver, OrderOfWritesCaptionAndChangeFlag) {
  Bench bench;
  const std::pair<std::shared_ptr<MemorySheet>, Calls> cases[] = {
      {bench.Sheet("Components", {{"25", "10"}}),
       {"N 4 3", "N 4 4", "N 4 5", "N 4 6", "N 4 7", "N 4 8", "N 4 9", "N 4 10"}},
      {bench.Sheet("Ternary system", {{"25", "0.1", "1", "7"}}),
       {"N 4 7", "N 4 8", "N 4 9", "N 4 10", "N 4 5", "N 4 6", "N 4 11", "N 4 12", "F 4 5 12 16711935"}},
  };
  for (const auto& [sheet, calls] : cases) {
    ASSERT_EQ(bench.reader.ReadWorksheet(sheet, false), 0);
    bench.frontend.Changed = true;
    sheet->EnableJournal(true);
    calc::CalculateValues(bench.reader, *sheet, bench.frontend);
    EXPECT_EQ(CallsOf(*sheet), calls);
    EXPECT_EQ(std::tuple(bench.frontend.Captions.rbegin()[1], bench.frontend.Caption(), bench.frontend.Changed),
              std::tuple("Calculating...", "Tersolv: " + sheet->Name(), false));
  }
}

TEST(Driver, TernaryEdgeRowsAndTheFourColourMarks) {
  Bench bench;
  auto sheet = bench.Sheet("Ternary system", {
      // 25 C, 0.1 MPa: H2S dissolves to about 0.09 mol/kg, halite to about 6.1.
      {"25", "0.1", "0.05", "1"},
      {"25", "0.1", "0.5", "1"},
      {"25", "0.1", "0.01", "7"},
      {"25", "0.1", "0.5", "7"},
      {"75", "20", "", ""},  // pure water
      // At the saturation pressure no H2S dissolves: m_Hs = 0 leaves k_S undefined, its stale value is
      // cleared, not kept; any H2S is above that solubility, so the row is blue. The next row has its own k_S.
      {"150", "sat", "0.1", "1"}, {"150", "10", "0.1", "1"},
      // k_S at the switch from its series to the ratio, just above it and at m(NaCl) = 0.
      {"100", "10", "0", "0.002"}, {"100", "10", "0", "0.0020001"}, {"100", "10", "0", "0"}});
  for (int c = 5; c <= 12; ++c) sheet->SetNumber(9, c, 9.0);
  bench.Run(sheet);
  const unsigned marks[] = {0, 16711680, 255, 16711935, 0, 16711680, 0, 0, 0, 0};
  for (int row = 4; row < 14; ++row) {
    for (int c = 4; c <= 13; ++c) {
      EXPECT_EQ(sheet->FontColor(row, c), c == 4 || c == 13 ? 0 : marks[row - 4]) << row << ", " << c;
      EXPECT_EQ(Empty(sheet, row, c), c == 13 || (row == 9 && c == 7)) << row << ", " << c;
    }
  }
  // Zero molalities are pure water, exactly: phi, a_w/x_w, gamma H2S and gamma+- are 1.
  const double rho = bench.reader.Points.PointRho[5];
  for (int c : {5, 6, 9, 10}) EXPECT_EQ(Number(sheet, 8, c), 1.0) << c;
  EXPECT_TRUE(Relative(Number(sheet, 8, 11), rho, 1e-15));
  EXPECT_TRUE(Relative(Number(sheet, 8, 12), 18.015268 / rho, 1e-15));
  EXPECT_EQ(Number(sheet, 9, 8), 0.0);
  for (int c : {5, 6, 9, 10, 11, 12}) EXPECT_GT(Number(sheet, 9, c), 0.0) << c;
  EXPECT_GT(Number(sheet, 10, 7), 0.0);
  const double series = Number(sheet, 11, 7), ratio = Number(sheet, 12, 7), limit = Number(sheet, 13, 7);
  EXPECT_NEAR(ratio / series, 1, 1e-5);
  EXPECT_NE(ratio, series);
  EXPECT_NEAR(series / limit, 1, 1e-2);
  EXPECT_TRUE(Relative(limit, 0.19269089));  // the reference row at m(NaCl) = 0
  // Below the switch the series follows the ratio.
  const auto h2s = nacl::H2SInteractionParameters(373.15);
  const calc::PureWaterSolubility pure = calc::SolubilityInPureWater(2.9, 2.9, h2s);
  const double mN = 0.001, mHs = calc::SolubilityInSolution(2.9, pure.LastIterate, mN, h2s);
  EXPECT_NEAR(calc::SaltingOutCoefficient(pure.MH0, mHs, mN, h2s) / (std::log(pure.MH0 / mHs) / mN), 1, 1e-6);
}

TEST(Driver, AFaultAtPointKLeavesTheRowsBeforeCompleteAndAfterUntouched) {
  // At point k an H2S molality so large that its activity coefficient
  // overflows after columns 7 and 8 are written.
  for (const auto& [threads, count, k] : {std::tuple{1u, 5, 3}, {2u, 300, 150}, {2u, 300, 1}}) {
    SCOPED_TRACE(std::to_string(threads) + " threads, k = " + std::to_string(k));
    testing_sheets::Rows rows;
    for (int i = 1; i <= count; ++i) {
      rows.push_back({std::to_string(20 + i % 280), std::to_string(1 + i % 90), i == k ? "300" : "0.01",
                      std::to_string((i % 50) * 0.1)});
    }
    Bench bench;
    auto sheet = bench.Sheet("Ternary system", rows);
    ASSERT_EQ(bench.reader.ReadWorksheet(sheet, false), 0);
    bench.frontend.Changed = true;
    EXPECT_THROW(calc::CalculateValues(bench.reader, *sheet, bench.frontend, {threads, {}, false}), FloatingPointError);
    for (int i = 1; i <= count; ++i) {
      for (int c = 5; c <= 12; ++c) {
        const bool written = i < k || (i == k && (c == 7 || c == 8));
        ASSERT_EQ(Empty(sheet, i + 3, c), !written) << "point " << i << ", column " << c;
      }
    }
    // The mark is never reached, the caption stays and the sheet still counts as changed.
    EXPECT_EQ(std::tuple(sheet->FontColor(k + 3, 5), bench.frontend.Caption(), bench.frontend.Changed),
              std::tuple(0u, "Calculating...", true));
  }
}

TEST(Driver, SeveralThreadsWriteWhatOneWould) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> t(0, 325), p(0, 100), m(0, 3);
  testing_sheets::Rows rows;
  for (int i = 0; i < 400; ++i) {
    rows.push_back({std::to_string(t(random)), i % 17 == 0 ? "sat" : std::to_string(p(random)),
                    std::to_string(m(random) / 2), std::to_string(m(random) * 2)});
  }
  Bench one, two;
  auto a = one.Sheet("Ternary system", rows), b = two.Sheet("Ternary system", rows);
  a->EnableJournal(true);
  b->EnableJournal(true);
  one.Run(a);
  int progressCalls = 0;
  two.Run(b, 2, [&](int done, int total) { progressCalls += done <= total ? 1 : -1000; });  // < 0 if wrong
  EXPECT_GT(progressCalls, 0);
  EXPECT_EQ(CallsOf(*a), CallsOf(*b));  // the same calls on the same cells in the same order
  const auto va = a->Values(), vb = b->Values();
  ASSERT_EQ(va.size(), vb.size());
  for (const auto& [cell, value] : va) {
    ASSERT_EQ(value.index(), vb.at(cell).index());
    if (const double* d = std::get_if<double>(&value)) {
      EXPECT_TRUE(Relative(std::get<double>(vb.at(cell)), *d, 1e-12));
    }
  }
}

// `count` points of 25 C and 10 MPa on a "Components" sheet, set straight into the reader.
void SetPoints(Bench& bench, std::int16_t count) {
  const auto n = static_cast<std::size_t>(count) + 1;
  bench.reader.Points = {1, count, std::vector(n, 298.15), std::vector(n, 100.0), std::vector(n, 1.0014670),
                         {}, {}};
  bench.reader.HaliteDataSet = true;
  bench.reader.HaliteData = {{-384160.0, 72.132, 2.7015, 44.6, 0.032, 0, 0}};
}

TEST(Driver, RowsBeyond32767) {
  // Points 32765..32767 land in rows 32768..32770 (a 16-bit row would overflow).
  Bench bench;
  auto sheet = bench.Sheet("Components", {});
  SetPoints(bench, 32767);
  calc::CalculateValues(bench.reader, *sheet, bench.frontend, {0, {}, false});
  EXPECT_EQ(Number(sheet, 32770, 3), 1.0014670);
  EXPECT_FALSE(Empty(sheet, 32770, 10));
  EXPECT_TRUE(Empty(sheet, 32771, 3));
}

TEST(Driver, AWorkbookClosedWhileWorkersRunEndsTheRunWithItsError) {
  Bench bench;
  auto sheet = bench.Sheet("Components", {});
  SetPoints(bench, 5000);
  auto closeOnce = [&](int, int) {
    if (bench.app.WorkbookCount() > 0) bench.app.CloseWorkbook(1);
  };
  EXPECT_THROW(calc::CalculateValues(bench.reader, *sheet, bench.frontend, {2, closeOnce, false}), link::LinkError);
}

TEST(Driver, AResultRowHoldsEachCellOnceAndNoMore) {
  // A cell set again keeps its first place; a position beyond the row is refused, not written past it.
  calc::PointOutcome row;
  row.Number({2}, 1.0);
  row.Special({0}, calc::ResultCell::Kind::Empty);
  row.Number({2}, 3.0);
  EXPECT_THROW(row.Number({layout::kMaxResults}, 4.0), std::out_of_range);
  EXPECT_EQ(std::tuple(row.Written, row.Order[0], row.Order[1], row.Cells[2].Value), std::tuple(2u, 2, 0, 3.0));
}

TEST(Equations, IterationCapsAndZeroLimits) {
  // With 2 lambda m = 3.5 at the fixed point the damped step overshoots
  // (slope -1.25): the iterates cycle and never meet the tolerance.
  nacl::H2SInteraction cycling;
  cycling.LambdaHH = 1.75;
  EXPECT_THAT([&] { calc::SolubilityInPureWater(std::exp(3.5), 1.01, cycling); },
              ::testing::ThrowsMessage<FloatingPointError>(::testing::HasSubstr("did not converge")));
  EXPECT_THROW(calc::SolubilityInSolution(std::exp(3.5), 1.01, 0.0, cycling), FloatingPointError);
  const auto h2s = nacl::H2SInteractionParameters(298.15);
  EXPECT_EQ(calc::SolubilityInSolution(0.1, 0.0, 1.0, h2s), 0.0);  // a start at 0 stays there
  EXPECT_THROW(calc::SolubilityInSolution(0.0, 0.1, 1.0, h2s), FloatingPointError);
  // At and just below the saturation pressure there is no H2S to dissolve (y <= 0).
  EXPECT_EQ(calc::ReferenceMolality(373.15, 1.0141799, 0.958, -2.3, 1.0141799, 1.0), 0.0);
  EXPECT_EQ(calc::ReferenceMolality(373.15, 1.0141799, 0.958, -2.3, 1.0141800, 1.0), 0.0);
}

}  // namespace
}  // namespace tersolv
