// The panel's logic against a real headless LibreOffice Calc: the template
// opened and watched, a data file made from it, points typed in as a user
// types them, the returns to the panel, the calculation, and the results and
// colour marks read back from the office.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "link/uno/calc_application.h"
#include "office_fixture.h"
#include "shell/shell.h"
#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

using link::uno::CalcApplication;
using link::uno::testing::TestOffice;
using testing::FakeWindow;
using testing::ScratchFolders;
using testing::ScriptedPrompter;

double Number(const std::string& text) {
  std::size_t used = 0;
  const double value = text.empty() ? NAN : std::stod(text, &used);
  EXPECT_EQ(used, text.size()) << "not a number: \"" << text << "\"";
  return value;
}

void CreateTypeActivateCalculate(std::string& step);

// The office's own exceptions do not derive from std::exception: name the
// step at which one escaped.
TEST(PanelOfficeTest, CreateTypeActivateCalculate) {
  std::string step = "start";
  try {
    CreateTypeActivateCalculate(step);
  } catch (const std::exception& e) {
    FAIL() << "at " << step << ": " << e.what();
  } catch (...) {
    FAIL() << "an exception of the office at " << step;
  }
}

void CreateTypeActivateCalculate(std::string& step) {
  if (const std::string missing = link::uno::testing::OfficeMissing(); !missing.empty()) {
    GTEST_SKIP() << "LibreOffice is not available: " << missing;
  }
  const std::string templatePath = TERSOLV_TEMPLATE_PATH;
  if (!std::filesystem::is_regular_file(templatePath)) {
    GTEST_SKIP() << "the template workbook " << templatePath << " has not been built";
  }

  ScratchFolders dirs;
  std::filesystem::copy_file(templatePath, dirs.Program + "Tersolv.xlsx");
  const std::string book = dirs.Program + "Tersolv.xlsx";
  TestOffice& office = TestOffice::Shared();
  office.EnsureRunning();

  FakeWindow window;
  ScriptedPrompter prompter;
  CalcApplication* calc = nullptr;
  Environment env;
  env.ProgramFolder = dirs.Program;
  env.HomeFolder = dirs.Home;
  env.StartApplication = [&]() -> std::unique_ptr<link::Application> {
    auto a = office.Attach('.');
    calc = a.get();
    return a;
  };
  Shell shell(window, prompter, env);
  window.shell = &shell;
  shell.Form_Load();
  ASSERT_FALSE(shell.Ended) << shell.StartError;
  ASSERT_TRUE(window.enabled[0]);
  TestOffice::CloseAllDocuments(*calc);

  // "Create new data file": the template opens and is read.
  step = "create";
  shell.Button_Click(0);
  ASSERT_EQ(shell.ErrorCode, 0) << (prompter.messages.empty() ? "" : prompter.messages.back().second);
  EXPECT_FALSE(window.enabled[0]);
  EXPECT_EQ(shell.WorkbookName, "Tersolv.xlsx");

  // The user keeps a copy of the template as a data file (in the office
  // this is "Save As"; the template itself opens read-only), closes the
  // template and opens the copy with the panel.
  step = "open the copy";
  const std::string data = dirs.Data + "run1.xlsx";
  std::filesystem::copy_file(book, data);
  calc->CloseActiveWorkbook();
  prompter.answers.push_back(data);
  shell.Button_Click(1);
  ASSERT_EQ(shell.ErrorCode, 0) << (prompter.messages.empty() ? "" : prompter.messages.back().second);
  EXPECT_EQ(shell.WorkbookName, "run1.xlsx");
  EXPECT_EQ(shell.WorkFolder, dirs.Data);
  shell.MainWindowProc(-1);
  shell.MainWindowProc(1);
  EXPECT_TRUE(window.enabled[0]);  // the template is no longer open

  // There the user picks the ternary sheet and types three points: one
  // plain, one above the H2S solubility, one above both saturations.
  step = "typing";
  shell.MainWindowProc(-1);
  TestOffice::SetActiveSheet(*calc, data, "Ternary system");
  const char* rows[3][4] = {{"25", "0.1", "0", "0"}, {"25", "0.1", "0.5", "1"}, {"25", "0.1", "0.5", "7"}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) TestOffice::UserEdit(*calc, data, "Ternary system", r + 4, c + 1, rows[r][c]);
  }
  prompter.messages.clear();
  shell.MainWindowProc(1);
  EXPECT_EQ(shell.SheetName, "Ternary system");
  EXPECT_TRUE(prompter.Shown("Number of points:  3"));
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
  EXPECT_EQ(window.height, kDesignHeight);
  ASSERT_EQ(shell.Reader->Points.PointCount, 3);

  // An edit of the data sheet is noticed on the next return.
  shell.MainWindowProc(-1);
  TestOffice::UserEdit(*calc, data, "Ternary system", 5, 4, "1.5");
  window.captions.clear();
  shell.MainWindowProc(1);
  EXPECT_TRUE(window.Read());
  EXPECT_DOUBLE_EQ(shell.Reader->Points.PointMNaCl[2], 1.5);

  // "Calculate values".
  step = "calculate";
  prompter.messages.clear();
  window.captions.clear();
  shell.Button_Click(2);
  ASSERT_TRUE(prompter.messages.empty()) << prompter.messages.back().second;
  ASSERT_FALSE(window.captions.empty());
  EXPECT_EQ(window.captions.front(), "Calculating...");
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
  EXPECT_FALSE(shell.Events->xlChanged);

  const auto& sheet = *shell.DataSheet;
  // Pure water at 25 C and 0.1 MPa: phi = 1, a/x = 1, gamma = 1, and the
  // density of water (IAPWS-95: 0.997047 g/cm3 at 298.15 K, 0.1 MPa).
  EXPECT_NEAR(Number(sheet.CellText(4, 5)), 1.0, 1e-12);
  EXPECT_NEAR(Number(sheet.CellText(4, 6)), 1.0, 1e-12);
  EXPECT_NEAR(Number(sheet.CellText(4, 10)), 1.0, 1e-12);
  EXPECT_NEAR(Number(sheet.CellText(4, 11)), 0.997047, 1e-6);
  for (int row = 4; row <= 6; ++row) {
    for (int column = 5; column <= 12; ++column) {
      if (row == 4 && column == 7) continue;  // k_S needs salt
      SCOPED_TRACE("row " + std::to_string(row) + ", column " + std::to_string(column));
      EXPECT_TRUE(std::isfinite(Number(sheet.CellText(row, column))));
    }
  }
  EXPECT_EQ(TestOffice::FontColor(*calc, data, "Ternary system", 4, 5), 0x000000);
  EXPECT_EQ(TestOffice::FontColor(*calc, data, "Ternary system", 5, 8), 0x0000FF);   // H2S above solubility
  EXPECT_EQ(TestOffice::FontColor(*calc, data, "Ternary system", 6, 12), 0xFF00FF);  // and NaCl above halite

  step = "closing";
  TestOffice::CloseAllDocuments(*calc);
  shell.MainWindowProc(-1);  // the user closed every workbook
  shell.MainWindowProc(1);
  EXPECT_TRUE(prompter.Shown("Tersolv closed: could not find an open worksheet "));
  EXPECT_TRUE(shell.Ended);
}

}  // namespace
}  // namespace tersolv::shell
