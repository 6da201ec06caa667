// `tersolv calc --via-calc BOOK`: the job of `tersolv calc` run through a
// headless LibreOffice Calc, for any workbook format it opens (.xlsx, .xls,
// .ods, ...): the file is opened read-write in a private office, read,
// calculated and saved in its own format with the colour marks. Built where
// the LibreOffice Calc link is (TERSOLV_WITH_CALC_LINK).
#pragma once

#include <string>

namespace tersolv::app {

struct ViaCalcJob {
  std::string Book;   // the workbook file
  std::string Sheet;  // the sheet to calculate ("" = the active sheet)
  std::string Out;    // save a copy here instead of into Book ("" = Book)
  bool ExtendedRange = false;
  unsigned Threads = 0;
};

// Runs the job; prints its own messages and returns the exit code of
// `tersolv calc` (kExitOk, kExitRejected, kExitRuntime, kExitLink).
int RunCalcViaCalc(const ViaCalcJob& job);

}  // namespace tersolv::app
