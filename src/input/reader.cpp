#include "input/reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/constants.h"
#include "core/row_blocks.h"
#include "layout/layout.h"
#include "nacl/halite.h"

namespace tersolv::input {
namespace {

constexpr double kMaxCelsius = 325.0;        // upper temperature limit, C
constexpr double kMaxPressure = 1000.0;      // bar
constexpr double kMinDensity = 0.322;        // g/cm3, critical density of water
constexpr std::int16_t kMaxPoints = 32767;  // points of one sheet

const char* const kStatusText[8] = {"",
                                    "Unexpected error",
                                    "Format error or incorrect keyword",
                                    "Unrecognized worksheet",
                                    "T/P/D value(s) out of range",
                                    "Saturation vapor pressure does not exist",
                                    "Illegal value of m(H2S)",
                                    "Illegal value of m(NaCl)"};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool InNumberRange(double value) {
  return std::isfinite(value) && (value == 0 || std::fabs(value) >= std::numeric_limits<double>::min());
}

CheckStatus CheckTemperature(double celsius, bool extendedRange) {
  if (!extendedRange && !(celsius >= 0 && celsius <= kMaxCelsius)) return {4, 1};
  return {};
}

PressureCheck CheckPressure(water::WaterModel& water, double T, const PressureInput& pressure, bool extendedRange) {
  constexpr PressureCheck kOutOfRange{{4, 2}}, kNoSaturation{{5, 2}};
  using Kind = PressureInput::Kind;
  Kind kind = pressure.What;
  double P = 0;
  if (kind == Kind::MPa) {
    if (pressure.Value < 0 || pressure.Value > std::numeric_limits<double>::max() / 10) return kOutOfRange;
    if (pressure.Value == 0) kind = Kind::SaturationAtLeastOneBar;
    P = kBarPerMPa * pressure.Value;
  }
  if (kind != Kind::MPa) {
    if (T > water::kCriticalTemperature) return kNoSaturation;
    double rhoVapour = 0, rhoLiquid = 0;
    P = water.SaturationPressure(T, rhoVapour, rhoLiquid);
    // A saturation pressure that the solver cannot find (it reports failure
    // by a value <= 0) does not exist for this row either; taking 1 bar for
    // "0" would hide it.
    if (!(P > 0)) return kNoSaturation;
    if (kind == Kind::SaturationAtLeastOneBar && P < 1.0) P = 1.0;
  }
  if (!extendedRange && P > kMaxPressure) return kOutOfRange;
  return {{}, P, kind != Kind::MPa};
}

LiquidDensity EvaluateDensity(water::WaterModel& water, double T, double P) {
  LiquidDensity d;
  d.Rho = water.WaterDensity(T, P, water::kLiquidPhase);
  if (T < water::kCriticalTemperature) {  // evaluated on the way: remembered, so nearly free
    SaturationState& s = d.Saturation;
    s.Psat = std::max(0.0, water.SaturationPressure(T, s.RhoVapour, s.RhoLiquid));
  }
  return d;
}

CheckStatus CheckDensity(double rho) { return rho >= kMinDensity ? CheckStatus{} : CheckStatus{4, 2}; }

CheckStatus CheckMolality(int k, double molality) {
  if (molality >= 0 && InNumberRange(molality)) return {};
  return {static_cast<std::int16_t>(k == 0 ? 6 : 7), 3 + k};
}

const char* StatusText(std::int16_t status) { return status >= 0 && status < 8 ? kStatusText[status] : ""; }

HaliteDataRecord StandardHaliteData() {
  const nacl::HaliteConstants& halite = nacl::HaliteData;
  return {{halite.G0, halite.S0, halite.V0, halite.A, halite.B, halite.C, halite.D}};
}

bool IsInputCell(std::string_view sheetName, int row, int column) {
  const layout::SheetLayout* sheetLayout = layout::LayoutNamed(sheetName);
  return sheetLayout && row >= layout::kFirstPointRow && column >= 1 && column <= static_cast<int>(sheetLayout->Inputs.size());
}

WorksheetReader::WorksheetReader(link::Application& app, link::Frontend& frontend, water::WaterModel& water,
                                 char decimalSeparator)
    : app_(app), frontend_(frontend), water_(water), decimalSeparator_(decimalSeparator) {}

bool WorksheetReader::IsNumberText(const std::string& text) const {
  const char separator = decimalSeparator_ == ',' ? ',' : '.';
  const char other = separator == ',' ? '.' : ',';
  if (text.find(other) != std::string::npos) return false;
  const std::string t = Trim(text);
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == separator) {
    ++i;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == t.size();
}

std::optional<double> WorksheetReader::ToNumber(const std::string& text) const {
  std::string t = Trim(text);
  const char separator = decimalSeparator_ == ',' ? ',' : '.';
  std::replace(t.begin(), t.end(), separator, '.');
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  double value = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) return std::nullopt;
  if (ec != std::errc() || end != t.data() + t.size()) throw std::invalid_argument("not a number: " + text);
  // Too large, or so small that it is 0 or subnormal though its digits are not: out of range.
  if (!InNumberRange(value)) return std::nullopt;
  return value;
}

void WorksheetReader::NextRow(link::Worksheet& sheet) {
  ++CursorRow;
  CursorColumn = 0;
  NextCell(sheet);
}

void WorksheetReader::NextCell(link::Worksheet& sheet) {
  ++CursorColumn;
  cell_ = sheet.CellText(CursorRow, CursorColumn);
}

std::int16_t WorksheetReader::ReadPressure(PressureInput& pressure) const {
  const std::string text = Lower(Trim(cell_));
  if (text == "sat" || text == "0") {
    pressure.What = text == "sat" ? PressureInput::Kind::Saturation : PressureInput::Kind::SaturationAtLeastOneBar;
    return 0;
  }
  if (!IsNumberText(text)) return 2;
  const auto number = ToNumber(text);
  if (!number) return 4;  // out of range, as any value too large
  pressure = {PressureInput::Kind::MPa, *number};
  return 0;
}

std::int16_t WorksheetReader::ReadRows(link::Worksheet& sheet, bool ExtendedRange) {
  const int kind = Points.SheetKind;
  // Title row: nothing in it is checked.
  NextRow(sheet);
  if (cell_.empty()) NextCell(sheet);
  HaliteDataSet = true;
  HaliteData = StandardHaliteData();

  // Header rows.
  const layout::SheetLayout& sheetLayout = *layout::LayoutOfKind(kind);
  const int headerColumns = static_cast<int>(sheetLayout.Inputs.size());
  NextRow(sheet);
  if (cell_ != sheetLayout.Keyword) return 2;
  while (CursorColumn < headerColumns) {
    NextCell(sheet);
    if (!cell_.empty()) return 2;
  }
  NextRow(sheet);
  for (const layout::Column& input : sheetLayout.Inputs) {
    if (input.Index > 1) NextCell(sheet);
    if (cell_ != input.Header) return 2;
  }

  // Data rows, in two steps that keep the outcome of a row-by-row reading:
  // the cells of the rows up to the first rejected one, then the densities
  // of their state points (on several threads; the costly part) while the
  // rows are accepted in order: the first failure ends the reading there,
  // every row before it is accepted and written back.
  // The points of the last read: a row whose state is the same point's takes
  // its density from there (re-reading a calculated 32767-row sheet, as the
  // panel does when the user comes back to it, spent most of its time
  // evaluating densities again).
  std::vector<double> lastT, lastP, lastRho;
  std::vector<PointList::Saturation> lastSaturation;
  lastT.swap(Points.PointT);
  lastP.swap(Points.PointP);
  lastRho.swap(Points.PointRho);
  lastSaturation.swap(Points.PointSaturation);
  Points.PointCount = 0;
  Points.PointT.assign(1, 0.0);
  Points.PointP.assign(1, 0.0);
  Points.PointRho.assign(1, 0.0);
  Points.PointSaturation.assign(1, {});
  if (kind == 2) {
    Points.PointMH2S.assign(1, 0.0);
    Points.PointMNaCl.assign(1, 0.0);
  }
  std::vector<PendingRow> rows;
  std::int16_t status = 0;
  std::exception_ptr fault;
  try {
    status = ReadDataCells(sheet, kind, ExtendedRange, rows);
  } catch (const std::exception&) {
    fault = std::current_exception();
  }
  for (std::size_t i = 0; i < rows.size() && i + 1 < std::min({lastT.size(), lastP.size(), lastRho.size(),
                                                                 lastSaturation.size()});
       ++i) {
    if (rows[i].T == lastT[i + 1] && rows[i].P == lastP[i + 1]) {
      rows[i].Rho = lastRho[i + 1];
      rows[i].Saturation = lastSaturation[i + 1];
    }
  }
  const int stopRow = CursorRow, stopColumn = CursorColumn;
  if (const std::int16_t rowStatus = AcceptRows(sheet, kind, rows)) return rowStatus;
  CursorRow = stopRow;
  CursorColumn = stopColumn;
  if (fault) std::rethrow_exception(fault);
  return status;
}

std::int16_t WorksheetReader::ReadDataCells(link::Worksheet& sheet, int kind, bool ExtendedRange,
                                            std::vector<PendingRow>& rows) {
  for (;;) {
    NextRow(sheet);
    if (cell_.empty()) return 0;
    if (!IsNumberText(cell_)) return 2;
    const auto t = ToNumber(cell_);
    if (!t) return 4;
    if (const CheckStatus status = CheckTemperature(*t, ExtendedRange)) return status.Status;
    PendingRow row;
    row.Row = CursorRow;
    row.T = *t + kZeroCelsius;

    NextCell(sheet);
    PressureInput pressure;
    if (std::int16_t status = ReadPressure(pressure)) return status;
    const PressureCheck checked = CheckPressure(water_, row.T, pressure, ExtendedRange);
    if (checked.Check) return checked.Check.Status;
    row.P = checked.P;
    row.WriteP = checked.Saturation;

    for (int k = 0; k < 2 && kind == 2 && row.Status == 0; ++k) {
      NextCell(sheet);
      const std::string text = Trim(cell_);
      row.WriteMolality[k] = text.empty();  // an empty molality is 0, written so
      if (text.empty()) continue;
      if (!IsNumberText(text)) {
        row.Status = 2;
      } else if (const auto m = ToNumber(text); !m) {
        row.Status = k == 0 ? 6 : 7;  // out of range
      } else {
        row.Molality[k] = *m;
        row.Status = CheckMolality(k, row.Molality[k]).Status;
      }
    }
    row.EndColumn = CursorColumn;
    rows.push_back(row);
    // A rejected molality is reported after the row's density check; one
    // row more than a sheet may hold is enough to report the overflow.
    if (row.Status != 0 || rows.size() > static_cast<std::size_t>(kMaxPoints)) return 0;
  }
}

std::int16_t WorksheetReader::AcceptRow(link::Worksheet& sheet, int kind, const PendingRow& r) {
  CursorRow = r.Row;
  CursorColumn = 2;  // the density is checked once the pressure is read
  if (r.Fault) std::rethrow_exception(r.Fault);
  if (const CheckStatus density = CheckDensity(r.Rho)) return density.Status;
  CursorColumn = r.EndColumn;
  if (r.Status != 0) return r.Status;
  if (Points.PointCount == kMaxPoints) throw std::overflow_error("more than 32767 points");
  ++Points.PointCount;
  Points.PointT.push_back(r.T);
  Points.PointP.push_back(r.P);
  Points.PointRho.push_back(r.Rho);
  Points.PointSaturation.push_back(r.Saturation);
  if (kind == 2) {
    Points.PointMH2S.push_back(r.Molality[0]);
    Points.PointMNaCl.push_back(r.Molality[1]);
  }
  // Only what the row's numbers changed is written: "sat" and "0" become the
  // pressure used, an empty molality 0; every other input cell keeps what
  // it holds (the number as typed, a formula).
  if (r.WriteP) sheet.WriteNumber(r.Row, 2, SheetPressure(r.P));
  for (int k = 0; k < 2 && kind == 2; ++k)
    if (r.WriteMolality[k]) sheet.WriteNumber(r.Row, 3 + k, 0.0);
  const layout::SheetLayout& sheetLayout = *layout::LayoutOfKind(kind);
  sheet.ClearContents(r.Row, sheetLayout.FirstResultColumn(), sheetLayout.LastResultColumn());
  if (sheetLayout.HasMarks())
    sheet.SetFontColor(r.Row, sheetLayout.FirstMarkedColumn(), sheetLayout.LastMarkedColumn(), link::RgbColor(0, 0, 0));
  return 0;
}

std::int16_t WorksheetReader::AcceptRows(link::Worksheet& sheet, int kind, std::vector<PendingRow>& rows) {
  constexpr std::size_t kBlock = 256;  // rows a thread takes at a time
  const unsigned threads = BlockThreads(Threads, rows.size(), kBlock);
  std::vector<water::WaterModel> extra(threads - 1);  // thread 0 uses the reader's model
  std::int16_t status = 0;
  RunRowBlocks(
      rows.size(), kBlock, threads,
      [&](unsigned thread, std::size_t i) {
        PendingRow& row = rows[i];
        try {
          if (row.Rho != 0) return !CheckDensity(row.Rho);  // the last read's (see ReadRows)
          const LiquidDensity density = EvaluateDensity(thread == 0 ? water_ : extra[thread - 1], row.T, row.P);
          row.Rho = density.Rho;
          row.Saturation = density.Saturation;
        } catch (...) {
          row.Fault = std::current_exception();
        }
        return !row.Fault && !CheckDensity(row.Rho);
      },
      [&](std::size_t i) { return (status = AcceptRow(sheet, kind, rows[i])) == 0; });
  return status;
}

std::int16_t WorksheetReader::ReadWorksheet(std::shared_ptr<link::Worksheet> DataSheet, bool ExtendedRange) {
  // Failures up to here are not turned into a status: they reach the caller.
  ErrorCode = 0;
  ErrorDetail.clear();
  DecimalComma = link::NumberText(0.1, decimalSeparator_).find(',') != std::string::npos;
  WorkbookName = app_.ActiveWorkbookName();
  SheetName = app_.ActiveSheetName();
  frontend_.WatchSheet(DataSheet);
  frontend_.SetChanged(false);
  frontend_.SetCaption("Reading data...");
  CursorRow = 0;
  CursorColumn = 0;

  std::int16_t status = 0;
  Points.SheetKind = 0;
  try {
    if (!DataSheet) throw link::LinkError(link::kNotAWorksheet, "No data sheet");
    const std::string name = DataSheet->Name();
    const layout::SheetLayout* sheetLayout = layout::LayoutNamed(name);
    Points.SheetKind = static_cast<std::int16_t>(sheetLayout ? sheetLayout->Kind : 0);
    if (Points.SheetKind != 0) {
      link::CellBatch batch(*DataSheet);  // the rows written back before a failure reach the sheet too
      status = ReadRows(*DataSheet, ExtendedRange);
      batch.Finish();
    } else {
      status = 3;
    }
  } catch (const std::exception& e) {
    status = 1;  // any run-time error: link failure, floating-point fault, overflow
    ErrorDetail = e.what();
  }

  if (status == 0 && Points.PointCount != LastPointCount) {
    LastPointCount = Points.PointCount;
    frontend_.ShowMessage(link::MessageIcon::Information,
                          "Number of points: " + std::string(" ") + std::to_string(Points.PointCount));
  }

  ErrorCode = status;
  ErrorText = StatusText(status);
  if (status != 0) {
    const layout::SheetLayout* sheetLayout = layout::LayoutOfKind(Points.SheetKind);
    if (CursorRow > layout::kFirstPointRow && sheetLayout) {
      try {
        DataSheet->ClearContents(CursorRow, sheetLayout->FirstResultColumn(), sheetLayout->LastResultColumn());
      } catch (const std::exception&) {
        // The status already tells of the failure; the message below shows it.
      }
    }
    frontend_.SetExpanded(false);
    frontend_.SetCaption("Tersolv");
    frontend_.ShowMessage(link::MessageIcon::Error, "Row=" + std::to_string(CursorRow) + ", Col=" +
                                                        std::to_string(CursorColumn) + ": " + ErrorText);
  } else {
    frontend_.SetCaption("Tersolv: " + DataSheet->Name());
    frontend_.SetExpanded(true);
  }
  frontend_.ProcessEvents();
  return status;
}

}  // namespace tersolv::input
