// The panel's Qt window, offscreen: on top, its place and heights. (Its activation hook, which drives the
// shell, is used for real by the desktop test beside a visible office.)
#include "shell/qt/form1.h"

#include <QApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

TEST(Form1Test, OnTopPlaceAndHeights) {
  static int argc = 1;
  static char name[] = "tersolv_shell_gui_test", *argv[] = {name, nullptr};
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);

  testing::ScratchFolders dirs;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dirs.Home + ".config"));  // the panel's place is kept there
  Form1 form;
  testing::ScriptedPrompter prompter;
  Shell shell(form, prompter, dirs.Env([&]() -> std::unique_ptr<link::Application> {
    auto app = std::make_unique<link::memory::MemoryApplication>('.');
    app->AddFile(dirs.Data + "run1.xlsx", [](auto& m) { testing::AddTernarySheet(m, {{25, 1, 0.1, 0.5}}); });
    return app;
  }));
  form.SetShell(&shell);
  shell.Form_Load();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  const QRect area = form.screen()->availableGeometry();
  EXPECT_EQ(form.frameGeometry().topRight(), area.topRight());  // first start: top right
  // Collapsed: the third button is out of sight and out of reach.
  EXPECT_TRUE(form.Height() == kCollapsedHeight && !form.SeparatorVisible() && form.Button(2)->isHidden());

  prompter.answers.push_back(dirs.Data + "run1.xlsx");
  QTest::mouseClick(form.Button(1), Qt::LeftButton);
  EXPECT_EQ(form.Caption(), "Tersolv: Ternary system");
  EXPECT_TRUE(form.Height() == kDesignHeight && form.SeparatorVisible() && form.Button(2)->isVisible());

  const QPoint left = area.topLeft() + QPoint(40, 30);  // where the user leaves it
  form.move(left);
  form.close();  // unloads: settings written
  EXPECT_EQ(testing::ScratchFolders::Read(dirs.Program + "Tersolv.ini"), "WorkDir=" + dirs.Data + "\n");
  form.SetShell(nullptr);
  Form1 again;  // the next start
  again.Show();
  EXPECT_EQ(again.pos(), left);
  Form1::PlaceSettings().setValue("window/position", QPoint(-5000, -5000));  // on no screen now
  Form1 lost;
  lost.Show();
  EXPECT_EQ(lost.frameGeometry().topRight(), area.topRight());
}

}  // namespace
}  // namespace tersolv::shell
