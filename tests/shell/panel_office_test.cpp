// The panel's logic against a real headless LibreOffice Calc: create from the template,
// type points in, return to the panel, calculate, read the results and colour marks back.
#include <cmath>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "link/uno/calc_application.h"
#include "office_fixture.h"
#include "shell/shell.h"
#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

using link::uno::testing::TestOffice;

TEST(PanelOfficeTest, CreateTypeActivateCalculate) {
  const std::string missing = link::uno::testing::OfficeMissing();
  if (!missing.empty()) GTEST_SKIP() << "LibreOffice is not available: " << missing;
  if (!std::filesystem::is_regular_file(TERSOLV_TEMPLATE_PATH)) GTEST_SKIP() << "the template workbook is not built";
  testing::ScratchFolders dirs;
  std::filesystem::copy_file(TERSOLV_TEMPLATE_PATH, dirs.Program + "Tersolv.xlsx");
  TestOffice::Shared().EnsureRunning();

  testing::FakeWindow window;
  testing::ScriptedPrompter prompter;
  link::uno::CalcApplication* calc = nullptr;
  Shell shell(window, prompter, dirs.Env([&]() -> std::unique_ptr<link::Application> {
    auto a = TestOffice::Shared().Attach('.');
    calc = a.get();
    return a;
  }));
  window.shell = &shell;
  shell.Form_Load();
  ASSERT_FALSE(shell.Ended) << shell.StartError;
  TestOffice::CloseAllDocuments(*calc);

  shell.Button_Click(0);  // "Create new data file": the template opens read-only and is read
  ASSERT_EQ(shell.ErrorCode, 0) << prompter.Last();

  // The user keeps a copy as a data file, closes the template and opens the copy.
  const std::string data = dirs.Data + "run1.xlsx";
  std::filesystem::copy_file(dirs.Program + "Tersolv.xlsx", data);
  calc->CloseActiveWorkbook();
  prompter.answers.push_back(data);
  shell.Button_Click(1);
  ASSERT_EQ(shell.ErrorCode, 0) << prompter.Last();

  // Three points: plain, above the H2S solubility, above both saturations.
  shell.MainWindowProc(-1);
  TestOffice::SetActiveSheet(*calc, data, "Ternary system");
  const char* cells[12] = {"25", "0.1", "0", "0", "25", "0.1", "0.5", "1", "25", "0.1", "0.5", "7"};
  for (int i = 0; i < 12; ++i) TestOffice::UserEdit(*calc, data, "Ternary system", i / 4 + 4, i % 4 + 1, cells[i]);
  shell.MainWindowProc(1);
  ASSERT_EQ(shell.Reader->Points.PointCount, 3);
  EXPECT_TRUE(window.enabled[0]);  // the template is no longer open

  prompter.messages.clear();
  shell.Button_Click(2);
  ASSERT_TRUE(prompter.messages.empty()) << prompter.Last();
  const auto number = [&](int row, int column) { return std::stod(shell.DataSheet->CellText(row, column)); };
  // Pure water at 25 C, 0.1 MPa: phi = a/x = gamma = 1; density 0.997047 g/cm3 (IAPWS-95).
  for (int column : {5, 6, 10}) EXPECT_NEAR(number(4, column), 1.0, 1e-12) << column;
  EXPECT_NEAR(number(4, 11), 0.997047, 1e-6);
  // The other two points: every result is a number (rows 5 and 6, columns 5 to 12).
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(number(5 + i / 8, 5 + i % 8))) << "cell " << i;
  EXPECT_EQ(TestOffice::FontColor(*calc, data, "Ternary system", 4, 5), 0x000000);
  EXPECT_EQ(TestOffice::FontColor(*calc, data, "Ternary system", 5, 8), 0x0000FF);   // H2S above solubility
  EXPECT_EQ(TestOffice::FontColor(*calc, data, "Ternary system", 6, 12), 0xFF00FF);  // and NaCl above halite

  TestOffice::CloseAllDocuments(*calc);  // the user closes every workbook
  shell.MainWindowProc(-1);
  shell.MainWindowProc(1);
  EXPECT_TRUE(prompter.Shown("Tersolv closed: could not find an open worksheet ") && shell.Ended);
}

}  // namespace
}  // namespace tersolv::shell
