// The job of `tersolv calc` on a workbook file with the embedded backend:
// open the file (the named sheet, or the active one), read and check the
// sheet, calculate every point and save the workbook in place or into
// another file. The command line and the Python package both run it, and
// each tells its outcome in its own way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/frontend.h"

namespace tersolv::job {

struct CalcFileRequest {
  std::string Book;    // .xlsx, .xlsm or .csv
  std::string Sheet;   // "" for the active sheet (a .csv file's one sheet is named after the file)
  std::string Output;  // "" to save in place; else a file of the same format
  bool ExtendedRange = false;
  unsigned Threads = 0;  // for checking the rows and for the calculation; 0: one per core
  char DecimalSeparator = '.';
  // Called now and then during the calculation with (points done, points);
  // may be empty. What it throws ends the job at once, nothing saved.
  std::function<void(int, int)> Progress;
};

struct CalcFileOutcome {
  enum class Result : std::uint8_t {
    Calculated,  // every point calculated and saved
    NoSuchFile,  // not a workbook file the backend reads (Message says why); nothing read
    NoSuchSheet, // no sheet of that name (SheetNames lists those there are); nothing changed
    Rejected,    // the reader's Status at (Row, Column), Message its text; the file not changed
    Failed,      // a run-time error (or a link error) in Row, Message its text; the rows before it saved
  };
  Result What = Result::Calculated;
  int Points = 0;  // the points the sheet holds
  int UnreadRow = 0;  // the first row with inputs below the empty temperature cell that ends the data (not read)
  int Row = 0, Column = 0;
  std::int16_t Status = 0;
  std::string Message;
  std::string Detail;  // Rejected with status 1: what the run-time error said
  bool LinkFailure = false;  // Failed on a link error rather than a run-time error
  std::string SheetName;     // the sheet that was read
  std::vector<std::string> SheetNames;
  int MarkedCellsNotStored = 0;  // rows whose colour mark the file's format cannot keep
  std::string SavedTo;           // Calculated or Failed: the full path of the saved file
  std::string SaveError;         // or why the results could not be saved (the file keeps its contents)
};

// Whether the embedded backend reads the file (by its extension).
bool IsWorkbookFile(const std::string& path);
// Whether two files have the same format (both .csv or neither).
bool SameFormat(const std::string& a, const std::string& b);

// Runs the job; the frontend hears the reader's messages. Throws
// link::LinkError when the file cannot be opened.
CalcFileOutcome CalcFile(const CalcFileRequest& request, link::Frontend& frontend);

}  // namespace tersolv::job
