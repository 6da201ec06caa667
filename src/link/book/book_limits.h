// Bounds on what a workbook file may make the embedded backend read and
// allocate, so that a hostile file (a "zip bomb", a giant sheet) fails with a
// clear error instead of exhausting the machine.
#pragma once

#include <cstdint>

namespace tersolv::link::book {

struct Limits {
  std::uint64_t MaxFileBytes = 256ull << 20;      // size of the file on disk
  std::uint64_t MaxPartBytes = 160ull << 20;      // one part of an .xlsx, unpacked
  std::uint64_t MaxUnpackedBytes = 384ull << 20;  // all parts read from one .xlsx
  std::uint64_t MaxEntries = 10000;               // entries of the .xlsx archive
  std::uint64_t MaxCells = 2000000;               // cells of all sheets of one file
};

}  // namespace tersolv::link::book
