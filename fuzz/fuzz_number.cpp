// libFuzzer target: the number texts of cells. The files' own parser must
// round-trip every number it accepts; the worksheet reader's test and
// conversion must never fail otherwise than by rejecting the text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "input/reader.h"
#include "link/book/cell_format.h"
#include "link/frontend.h"
#include "link/memory/memory.h"
#include "water/water.h"

namespace {

class SilentFrontend : public tersolv::link::Frontend {
 public:
  std::string Caption() const override { return ""; }
  void SetCaption(const std::string&) override {}
  void SetExpanded(bool) override {}
  void ShowMessage(tersolv::link::MessageIcon, const std::string&) override {}
  void ProcessEvents() override {}
  void WatchSheet(std::shared_ptr<tersolv::link::Worksheet>) override {}
  void SetChanged(bool) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (auto value = tersolv::link::book::ParseNumber(text)) {
    if (!std::isfinite(*value)) std::abort();
    const auto again = tersolv::link::book::ParseNumber(tersolv::link::book::FormatNumber(*value));
    if (!again || *again != *value) std::abort();
  }
  if (size > 200) return 0;
  // The reader on a one-row "Ternary system" sheet whose cells hold the text,
  // cut at tabs into temperature, pressure and the two molalities.
  for (char separator : {'.', ','}) {
    tersolv::link::memory::MemoryApplication app(separator);
    app.AddWorkbook("fuzz.xlsx");
    auto sheet = app.AddSheet("Ternary system");
    sheet->SetText(1, 1, "fuzz");
    sheet->SetText(2, 1, "System definitions");
    const char* headers[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
    for (int c = 0; c < 4; ++c) sheet->SetText(3, c + 1, headers[c]);
    std::size_t start = 0;
    for (int column = 1; column <= 4 && start <= text.size(); ++column) {
      const std::size_t tab = text.find('\t', start);
      sheet->SetText(4, column, text.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    SilentFrontend frontend;
    tersolv::water::WaterModel water;
    tersolv::input::WorksheetReader reader(app, frontend, water, separator);
    (void)reader.IsNumberText(text);
    const int status = reader.ReadWorksheet(sheet, size % 2 == 1);
    if (status < 0 || status > 7) std::abort();
  }
  return 0;
}
