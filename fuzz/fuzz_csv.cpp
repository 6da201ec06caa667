// libFuzzer target: arbitrary bytes as a .csv sheet. What opens is saved, and
// the saved text reads back to the same cells.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "link/book/book_file.h"

using namespace tersolv::link;
using namespace tersolv::link::book;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Limits limits;
  limits.MaxCells = 20000;
  auto state = std::make_shared<BookState>();
  state->EventsEnabled = std::make_shared<bool>(true);
  std::unique_ptr<BookFile> file;
  try {
    file = OpenCsv(std::string(reinterpret_cast<const char*>(data), size), "fuzz.csv", "Ternary system", state, limits);
  } catch (const LinkError&) {
    return 0;
  }
  auto sheet = file->Sheet(0);
  sheet->WriteText(2, 3, "a \"b\", c");
  const std::string saved(file->Serialize());
  auto again = OpenCsv(saved, "saved.csv", "Ternary system", state, limits);
  auto other = again->Sheet(0);
  if (other->LastRow() != sheet->LastRow()) std::abort();
  for (int row = 1; row <= sheet->LastRow(); ++row) {
    if (other->LastColumn(row) != sheet->LastColumn(row)) std::abort();
    for (int column = 1; column <= sheet->LastColumn(row); ++column)
      if (other->CellText(row, column) != sheet->CellText(row, column)) std::abort();
  }
  return 0;
}
