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

  const std::string templateBytes = link::uno::testing::FileBytes(dirs.Program + "Tersolv.xlsx");
  shell.Button_Click(0);  // "Create new data file": an untitled workbook made from the template, read at once
  ASSERT_EQ(shell.ErrorCode, 0) << prompter.Last();
  ASSERT_EQ(calc->WorkbookCount(), 1);
  EXPECT_TRUE(calc->WorkbookFullName(1).empty() && shell.WorkbookName == calc->WorkbookName(1));

  // Three points typed into it: plain, above the H2S solubility, above both saturations.
  const std::string data;  // the untitled workbook
  shell.MainWindowProc(-1);
  TestOffice::SetActiveSheet(*calc, data, "Ternary system");
  const char* cells[12] = {"25", "0.1", "0", "0", "25", "0.1", "0.5", "1", "25", "0.1", "0.5", "7"};
  for (int i = 0; i < 12; ++i) TestOffice::UserEdit(*calc, data, "Ternary system", i / 4 + 4, i % 4 + 1, cells[i]);
  shell.MainWindowProc(1);
  ASSERT_EQ(shell.Reader->Points.PointCount, 3);
  EXPECT_FALSE(window.enabled[0]);  // the workbook it made is open unsaved

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

  EXPECT_EQ(link::uno::testing::FileBytes(dirs.Program + "Tersolv.xlsx"), templateBytes);

  // Kept as a file and opened by the dialog; the office then reloads it into its window (another
  // document): the return reads it again, and the results go into what the user sees.
  const std::string file = dirs.Data + "run1.xlsx";
  calc->SaveActiveWorkbookCopy(file);
  prompter.answers.push_back(file);
  shell.Button_Click(1);
  ASSERT_EQ(shell.WorkbookName, "run1.xlsx");
  shell.MainWindowProc(-1);
  TestOffice::Reload(*calc, file);
  TestOffice::UserEdit(*calc, file, "Ternary system", 6, 1, "");  // the last point removed
  window.captions.clear();
  shell.MainWindowProc(1);
  EXPECT_TRUE(window.Read() && shell.Reader->Points.PointCount == 2);
  TestOffice::Reload(*calc, file);
  prompter.messages.clear();
  shell.Button_Click(2);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.Last();
  EXPECT_EQ(TestOffice::FontColor(*calc, file, "Ternary system", 5, 8), 0x0000FF);

  TestOffice::CloseAllDocuments(*calc);  // the user closes every workbook
  shell.MainWindowProc(-1);
  shell.MainWindowProc(1);
  EXPECT_TRUE(prompter.Shown("Tersolv closed: could not find an open worksheet ") && shell.Ended);
}

}  // namespace
}  // namespace tersolv::shell
