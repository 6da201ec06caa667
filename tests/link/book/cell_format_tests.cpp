// Text forms of numbers and cell addresses.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "link/book/cell_format.h"

namespace tersolv::link::book {
namespace {

TEST(CellFormat, NumbersRoundTripInTheShortestForm) {
  EXPECT_EQ(FormatNumber(25.0), "25");
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(0.1), "0.1");
  EXPECT_EQ(FormatNumber(1.5, ','), "1,5");
  EXPECT_EQ(FormatNumber(1e-5), "1e-05");
  EXPECT_EQ(FormatNumber(1.7976931348623157e308), "1.7976931348623157e+308");
  for (double x : {298.15 - 273.15, 1.0 / 3.0, 6.02214076e23, 4.9e-324, 0.1 + 0.2})
    EXPECT_EQ(*ParseNumber(FormatNumber(x)), x) << x;
  EXPECT_THROW(FormatNumber(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
  EXPECT_THROW(FormatNumber(HUGE_VAL), std::invalid_argument);
}

TEST(CellFormat, ParsesOnlyWholeFiniteNumbers) {
  EXPECT_EQ(ParseNumber("+1.5E3"), 1500.0);
  EXPECT_EQ(ParseNumber("-.5"), -0.5);
  EXPECT_EQ(ParseNumber("1e-400"), std::nullopt);  // underflow is reported as out of range
  for (const char* bad : {"", "+", " 1", "1 ", "1,5", "nan", "NaN", "inf", "-Infinity", "1e999", "0x10", "1e",
                          "--1", "1.2.3", "sat"})
    EXPECT_EQ(ParseNumber(bad), std::nullopt) << bad;
}

TEST(CellFormat, CellReferences) {
  EXPECT_EQ(ColumnLetters(27), "AA");
  EXPECT_EQ(ColumnLetters(16384), "XFD");
  for (int c : {1, 26, 27, 52, 702, 703, 16384}) EXPECT_EQ(ColumnNumber(ColumnLetters(c)), c);
  EXPECT_EQ(ColumnNumber("XFE"), 0);
  EXPECT_EQ(ColumnNumber("a"), 0);
  EXPECT_EQ(CellReference(12, 2), "B12");
  EXPECT_EQ(ParseCellReference("XFD1048576").value().Row, 1048576);
  EXPECT_EQ(ParseCellReference("XFD1048576").value().Column, 16384);
  for (const char* bad : {"", "A", "12", "A0", "A01", "A1048577", "XFE1", "a1", "A1B", "$A$1"})
    EXPECT_FALSE(ParseCellReference(bad)) << bad;
}

}  // namespace
}  // namespace tersolv::link::book
