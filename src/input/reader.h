// The worksheet reader: recognises the "Components" and "Ternary system"
// layouts, checks every input row, converts it into a state point (T in K,
// P in bar, liquid-water density in g/cm3, molalities in mol/kg), writes the
// normalised input back and clears the result cells, and reports the outcome
// (status 0..7, a message, the front end's caption and height).
//
// (Interface agreed between the reader, the driver and the shell; the
// reader's implementer may add members but keeps these names.)
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "input/point_checks.h"
#include "link/frontend.h"
#include "link/link.h"
#include "water/water.h"

namespace tersolv::input {

// Constants of solid NaCl, filled by the reader (see calc for their use).
struct HaliteDataRecord {
  double Values[7] = {0, 0, 0, 0, 0, 0, 0};
};
// The constants of solid NaCl that every read sets.
HaliteDataRecord StandardHaliteData();

// The accepted points of the last read. Vectors are indexed from 1; element 0
// is never used (kept so that point i is PointT[i], as the sheet numbers it).
struct PointList {
  std::int16_t SheetKind = 0;  // 0 unrecognised, 1 "Components", 2 "Ternary system"
  std::int16_t PointCount = 0;
  std::vector<double> PointT{0.0}, PointP{0.0}, PointRho{0.0}, PointMH2S{0.0}, PointMNaCl{0.0};
  // The saturation state at each point's temperature as the density check
  // evaluated it (Psat 0 where it did not), so that it is not evaluated again.
  using Saturation = SaturationState;
  std::vector<Saturation> PointSaturation{Saturation{}};
};

// Whether (row, column) of the sheet named `sheetName` is an input cell of a
// data row: temperature and pressure, and the molalities of "Ternary system".
bool IsInputCell(std::string_view sheetName, int row, int column);

class WorksheetReader {
 public:
  // decimalSeparator: '.' or ',', the system's notation of numbers in cells.
  WorksheetReader(link::Application& app, link::Frontend& frontend, water::WaterModel& water,
                  char decimalSeparator);

  // Reads DataSheet; returns the status and leaves it in ErrorCode.
  std::int16_t ReadWorksheet(std::shared_ptr<link::Worksheet> DataSheet, bool ExtendedRange);
  bool IsNumberText(const std::string& text) const;

  // State of the last read.
  PointList Points;
  std::int16_t ErrorCode = 0;
  std::string ErrorText;
  std::string ErrorDetail;  // status 1: what the run-time error said (a cell that cannot be written, ...)
  std::int16_t LastPointCount = 0;
  bool DecimalComma = false;
  std::string WorkbookName;
  std::string SheetName;
  HaliteDataRecord HaliteData;
  bool HaliteDataSet = false;
  int CursorRow = 0, CursorColumn = 0;
  // Threads that evaluate the densities of the rows (0: one per core).
  unsigned Threads = 0;

 private:
  // The cell cursor: the next-row and next-cell steps; both read the cell
  // they move to into cell_.
  void NextRow(link::Worksheet& sheet);
  void NextCell(link::Worksheet& sheet);
  // The number of a text that IsNumberText accepted; nullopt when it is out
  // of the range of numbers (too large for a double, or so small that it is
  // 0 or subnormal although its digits are not 0): the cell's status then
  // tells that its value is out of range, as for any value out of its range.
  std::optional<double> ToNumber(const std::string& text) const;
  std::int16_t ReadRows(link::Worksheet& sheet, bool ExtendedRange);
  // A data row read and checked up to its density, which comes later.
  struct PendingRow {
    int Row = 0, EndColumn = 0;  // EndColumn: the cursor's column after the row
    double T = 0, P = 0, Rho = 0;
    double Molality[2] = {0, 0};
    PointList::Saturation Saturation;
    bool WriteP = false;                      // "sat" or "0": the pressure used is written
    bool WriteMolality[2] = {false, false};  // empty: 0 is written
    std::int16_t Status = 0;  // a rejected molality, reported after the density check
    std::exception_ptr Fault;  // the density evaluation failed
  };
  // Reads the data rows up to the first rejected cell (its status returned)
  // or the end of the data (0).
  std::int16_t ReadDataCells(link::Worksheet& sheet, int kind, bool ExtendedRange, std::vector<PendingRow>& rows);
  // Evaluates the densities of the rows (on Threads threads) and accepts the
  // rows in order: each is checked, added to Points and written back; returns
  // the status of the first failing row, or 0.
  std::int16_t AcceptRows(link::Worksheet& sheet, int kind, std::vector<PendingRow>& rows);
  std::int16_t AcceptRow(link::Worksheet& sheet, int kind, const PendingRow& row);
  // The pressure cell as a number or keyword; status 2 when it is neither.
  std::int16_t ReadPressure(PressureInput& pressure) const;

  std::string cell_;
  link::Application& app_;
  link::Frontend& frontend_;
  water::WaterModel& water_;
  char decimalSeparator_;
};

}  // namespace tersolv::input
