// The Qt window of the panel, offscreen: its layout, its heights, and the
// activation hook driving the shell for real (the window loses and regains
// the focus to a second window).
#include "shell/qt/form1.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "link/memory/memory.h"
#include "shell/shell.h"
#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

using link::memory::MemoryApplication;
using testing::ScratchFolders;
using testing::ScriptedPrompter;

QApplication& Application() {
  static int argc = 1;
  static char name[] = "tersolv_shell_gui_test";
  static char* argv[] = {name, nullptr};
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static auto* application = new QApplication(argc, argv);
  return *application;
}

TEST(Form1Test, LayoutAndHeights) {
  Application();
  Form1 form;
  EXPECT_EQ(form.Button(0)->text(), "Create &new data file");
  EXPECT_EQ(form.Button(1)->text(), "&Open existing data file");
  EXPECT_EQ(form.Button(2)->text(), "&Calculate values");
  EXPECT_EQ(form.Caption(), "Tersolv");
  EXPECT_EQ(form.width(), 208);
  EXPECT_EQ(form.Height(), kDesignHeight);
  EXPECT_EQ(form.Credit()->font().family(), "Tahoma");
  EXPECT_DOUBLE_EQ(form.Credit()->font().pointSizeF(), 8.25);

  form.SetHeight(kCollapsedHeight);
  EXPECT_EQ(form.Height(), kCollapsedHeight);
  // Collapsed, the client area ends above the separator and the third button.
  EXPECT_LT(form.height(), 72);
  EXPECT_GE(form.Button(2)->geometry().top(), form.height());
  EXPECT_GT(form.Button(1)->geometry().bottom(), 0);
  EXPECT_LT(form.Button(1)->geometry().bottom(), form.height());

  form.MakeTopmost();
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  form.SetCreditCaption("abc5");
  EXPECT_EQ(form.Credit()->text(), "abc5");
}

TEST(Form1Test, ActivationChangesDriveTheShell) {
  Application();
  ScratchFolders dirs;
  ScratchFolders::WriteFile(dirs.Data + "run1.xlsx", "data");
  Form1 form;
  ScriptedPrompter prompter;
  MemoryApplication* app = nullptr;
  Environment env;
  env.ProgramFolder = dirs.Program;
  env.HomeFolder = dirs.Home;
  env.StartApplication = [&]() -> std::unique_ptr<link::Application> {
    auto a = std::make_unique<MemoryApplication>('.');
    a->AddFile(dirs.Data + "run1.xlsx", [](MemoryApplication& m) {
      testing::AddTernarySheet(m, {{25, 1, 0.1, 0.5}, {100, 10, 0.2, 1.0}});
    });
    app = a.get();
    return a;
  };
  Shell shell(form, prompter, env);
  form.SetShell(&shell);
  shell.Form_Load();
  ASSERT_FALSE(shell.Ended);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  EXPECT_FALSE(form.ButtonEnabled(0));  // no template beside the program
  EXPECT_FALSE(form.SeparatorVisible());
  EXPECT_EQ(form.Credit()->text(), "Tersolv release 0.5");

  // A click on the visible button runs the command.
  prompter.answers.push_back(dirs.Data + "run1.xlsx");
  QTest::mouseClick(form.Button(1), Qt::LeftButton);
  ASSERT_EQ(prompter.requests.size(), 1u);
  EXPECT_EQ(form.Caption(), "Tersolv: Ternary system");
  EXPECT_EQ(form.Height(), kDesignHeight);
  EXPECT_TRUE(form.SeparatorVisible());
  app->SetEventsEnabled(false);

  // Another window takes the focus: the bridge switches events on.
  QWidget other;
  other.setGeometry(300, 0, 100, 100);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  QTRY_VERIFY(!form.isActiveWindow());
  EXPECT_TRUE(app->EventsEnabled());
  app->Sheet("Ternary system")->UserEdit(5, 3, "0.3");
  EXPECT_TRUE(shell.Events->xlChanged);

  // Back to the panel: events off, the edited sheet read again.
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  EXPECT_FALSE(app->EventsEnabled());
  EXPECT_DOUBLE_EQ(shell.Reader->Points.PointMH2S[2], 0.3);
  EXPECT_FALSE(shell.Busy);

  // Closing the window unloads it and writes the settings.
  form.close();
  EXPECT_TRUE(shell.Ended);
  EXPECT_EQ(ScratchFolders::ReadFile(dirs.Program + "Tersolv.ini"), "WorkDir=" + dirs.Data + "\n");
  form.SetShell(nullptr);
}

}  // namespace
}  // namespace tersolv::shell
