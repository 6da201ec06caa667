// libFuzzer target: arbitrary bytes as an .xlsx workbook. Whatever opens must
// read, take edits, save, and open again from what it saved.
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/book/book_file.h"

namespace {

using namespace tersolv::link;
using namespace tersolv::link::book;

Limits SmallLimits() {
  Limits limits;
  limits.MaxFileBytes = 4u << 20;
  limits.MaxPartBytes = 4u << 20;
  limits.MaxUnpackedBytes = 16u << 20;
  limits.MaxEntries = 200;
  limits.MaxCells = 20000;
  return limits;
}

void Exercise(BookFile& file) {
  for (int i = 0; i < file.SheetCount(); ++i) {
    (void)file.SheetName(i);
    auto sheet = file.Sheet(i);
    if (!sheet) continue;
    const int lastRow = std::min(sheet->LastRow(), 200);
    for (int row = 1; row <= lastRow; ++row)
      for (int column = 1; column <= std::min(sheet->LastColumn(row), 40); ++column) {
        (void)sheet->CellText(row, column);
        (void)sheet->FontColor(row, column);
      }
    try {
      sheet->WriteNumber(4, 5, 0.25);
      sheet->WriteText(4, 6, "not found");
      sheet->ClearContents(4, 1, 3);
      sheet->SetFontColor(4, 5, 12, RgbColor(0, 0, 255));
      sheet->SetFontColor(2, 1, 2, RgbColor(255, 0, 0));
    } catch (const LinkError&) {
      // refused edits (a shared formula, styles without fonts) are fine
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Limits limits = SmallLimits();
  std::string saved;
  try {
    auto state = std::make_shared<BookState>();
    state->EventsEnabled = std::make_shared<bool>(true);
    auto file = OpenXlsx(std::string(reinterpret_cast<const char*>(data), size), "fuzz.xlsx", state, limits);
    Exercise(*file);
    saved = file->Serialize();
  } catch (const LinkError&) {
    return 0;  // refused with a message: the expected outcome for most inputs
  }
  // What we saved opens again.
  auto state = std::make_shared<BookState>();
  state->EventsEnabled = std::make_shared<bool>(true);
  Limits roomy = limits;
  roomy.MaxCells *= 2;
  roomy.MaxEntries += 4;
  roomy.MaxUnpackedBytes *= 2;
  roomy.MaxPartBytes *= 2;
  auto again = OpenXlsx(saved, "saved.xlsx", state, roomy);
  Exercise(*again);
  return 0;
}
