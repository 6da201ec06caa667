// Every result column of both layouts at the reference state points, each
// group computed as one sheet: the reader's pass, then the driver's, on one
// thread and on several.
#include <gtest/gtest.h>

#include <cstdio>

#include "calc/reference_points.h"
#include "calc/sheet_helpers.h"

namespace tersolv {
namespace {

using testing_sheets::Bench;
using testing_sheets::Number;
using testing_sheets::Relative;

constexpr double kTolerance = 1e-7;  // the table's 8 significant digits

std::string Text(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.10g", v);
  return buffer;
}

class ReferenceSheets : public ::testing::TestWithParam<unsigned> {};

TEST_P(ReferenceSheets, Components) {
  Bench bench;
  std::vector<std::vector<std::string>> rows;
  for (const auto& p : reference::kComponents) rows.push_back({Text(p.T), p.P});
  auto sheet = bench.Sheet("Components", rows);
  bench.Run(sheet, GetParam());
  int row = 4;
  for (const auto& p : reference::kComponents) {
    SCOPED_TRACE("T = " + Text(p.T) + " C, P = " + p.P);
    EXPECT_TRUE(Relative(Number(sheet, row, 2), p.NormalisedP, kTolerance));
    for (int k = 0; k < 8; ++k) {
      SCOPED_TRACE("column " + std::to_string(k + 3));
      if (p.Values[k] == reference::kNotFound) {
        EXPECT_EQ(sheet->CellText(row, k + 3), "not found");
      } else {
        EXPECT_TRUE(Relative(Number(sheet, row, k + 3), p.Values[k], kTolerance));
      }
    }
    ++row;
  }
}

TEST_P(ReferenceSheets, TernaryGroups) {
  for (const auto& group : reference::kTernary) {
    SCOPED_TRACE(group.Name);
    Bench bench;
    std::vector<std::vector<std::string>> rows;
    for (const auto& p : group.Points) rows.push_back({Text(p.T), Text(p.P), Text(p.MH2S), Text(p.MNaCl)});
    auto sheet = bench.Sheet("Ternary system", rows);
    bench.Run(sheet, GetParam());
    int row = 4;
    for (const auto& p : group.Points) {
      SCOPED_TRACE("m(NaCl) = " + Text(p.MNaCl));
      for (int k = 0; k < 8; ++k) {
        SCOPED_TRACE("column " + std::to_string(k + 5));
        EXPECT_TRUE(Relative(Number(sheet, row, k + 5), p.Values[k], kTolerance));
      }
      EXPECT_EQ(sheet->FontColor(row, 5), p.Mark);
      ++row;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, ReferenceSheets, ::testing::Values(1u, 2u),
                         [](const auto& info) { return "Threads" + std::to_string(info.param); });

}  // namespace
}  // namespace tersolv
