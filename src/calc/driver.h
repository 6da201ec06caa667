// The calculation driver: computes every point of the last read and writes
// the result columns (with the colour marks and "not found") into the data
// sheet, point by point, in the order a single thread would.
//
// (Interface agreed between the driver and the shell; the driver's
// implementer may add members but keeps these names.)
#pragma once

#include <functional>

#include "input/reader.h"
#include "link/frontend.h"
#include "link/link.h"

namespace tersolv::calc {

struct DriverOptions {
  unsigned Threads = 1;  // 0 = all cores
  // Called now and then with (points done, PointCount); may be empty.
  std::function<void(int, int)> Progress;
  // Lifts the density floor of the aqueous-species model, as the reader's
  // option of the same name lifts its limits.
  bool ExtendedRange = false;
};

// Runs over reader.Points into DataSheet. A run-time error (FloatingPointError,
// LinkError, an iteration cap) ends the run and propagates: rows of the points
// before it are complete, later rows untouched, the caption stays
// "Calculating..." and the change flag is not cleared.
void CalculateValues(const input::WorksheetReader& reader, link::Worksheet& DataSheet,
                     link::Frontend& frontend, const DriverOptions& options = {});

}  // namespace tersolv::calc
