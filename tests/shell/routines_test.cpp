// The shell's small routines that its flows do not reach: the switch's
// near misses, the credit text, the settings file's fallback place, paths.
#include "shell/routines.h"

#include <gtest/gtest.h>

#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

using Dirs = testing::ScratchFolders;

TEST(RoutinesTest, SwitchAndCreditText) {
  for (const char* on : {"/ie", "/Ie/ x", "--extended-range"}) EXPECT_TRUE(ExtendedRangeSwitch(on)) << on;
  for (const char* off : {"ie", "/i e", "/ied", "-ie"}) EXPECT_FALSE(ExtendedRangeSwitch(off)) << off;
  std::string text = "AB";  // key 32 ^ 'A' = 'a', then 'a' ^ 'B' = '#'
  UnscrambleText(text);
  EXPECT_EQ(text, "a#");
}

TEST(RoutinesTest, SettingsFileAndPaths) {
  Dirs dirs;
  const std::string none = dirs.root.string() + "/none";  // a program folder that cannot be written
  EXPECT_EQ(SettingsFilePath(none, "/cfg", dirs.Home), "/cfg/tersolv/Tersolv.ini");
  EXPECT_EQ(SettingsFilePath(none, "relative", dirs.Home), dirs.Home + ".config/tersolv/Tersolv.ini");
  ASSERT_TRUE(WriteWorkDir(dirs.Home + ".config/tersolv/Tersolv.ini", "/d/"));
  EXPECT_EQ(ReadWorkDir(dirs.Home + ".config/tersolv/Tersolv.ini"), "/d/");

  Dirs::Write(dirs.Data + "a.xlsx", "x");
  std::filesystem::create_symlink(dirs.Data, dirs.Home + "link");
  EXPECT_TRUE(SamePath(dirs.Data + "a.xlsx", dirs.Home + "link/../other/../data/./a.xlsx"));
  EXPECT_FALSE(SamePath(dirs.Data + "a.xlsx", dirs.Data + "A.xlsx"));
  EXPECT_FALSE(SamePath("", ""));
}

}  // namespace
}  // namespace tersolv::shell
