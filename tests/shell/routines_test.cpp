// The shell's small routines: switch, credit text, settings file, paths.
#include "shell/routines.h"

#include <gtest/gtest.h>

#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

using Dirs = testing::ScratchFolders;

TEST(RoutinesTest, ExtendedRangeSwitchAndCreditText) {
  for (const char* on : {"/ie/", "/ie", "/IE", "-x /ie", "/Ie/ more", "--extended-range"}) {
    EXPECT_TRUE(ExtendedRangeSwitch(on)) << on;
  }
  for (const char* off : {"", "ie", "/i e", "/ied", "-ie"}) EXPECT_FALSE(ExtendedRangeSwitch(off)) << off;

  std::string text = "AB";  // key 32 ^ 'A' = 'a', then 'a' ^ 'B' = '#'
  UnscrambleText(text);
  EXPECT_EQ(text, "a#");
  text = ScrambleText("Tersolv release 0.");
  UnscrambleText(text);
  EXPECT_EQ(text, "Tersolv release 0.");
}

TEST(RoutinesTest, SettingsFile) {
  Dirs dirs;
  const std::string path = dirs.Program + "Tersolv.ini";
  EXPECT_FALSE(ReadWorkDir(path));
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"WorkDir=  /a b/  \r\n", "/a b/"}, {"WorkDir=/x/", "/x/"}, {"WorkDir=\n", ""},
      {"workdir=/a/\n", std::nullopt},    {" WorkDir=/a/", std::nullopt}, {"\nWorkDir=/a/", std::nullopt}};
  for (const auto& [text, expected] : cases) {
    Dirs::Write(path, text);
    EXPECT_EQ(ReadWorkDir(path), expected) << text;
  }
  // Where the program folder cannot be written: the XDG configuration folder.
  const std::string none = dirs.root.string() + "/none";
  EXPECT_EQ(SettingsFilePath(dirs.Program, "", dirs.Home), path);
  EXPECT_EQ(SettingsFilePath(none, "/cfg", dirs.Home), "/cfg/tersolv/Tersolv.ini");
  EXPECT_EQ(SettingsFilePath(none, "relative", dirs.Home), dirs.Home + ".config/tersolv/Tersolv.ini");
  ASSERT_TRUE(WriteWorkDir(dirs.Home + ".config/tersolv/Tersolv.ini", "/d/"));
  EXPECT_EQ(Dirs::Read(dirs.Home + ".config/tersolv/Tersolv.ini"), "WorkDir=/d/\n");
}

TEST(RoutinesTest, FoldersAndPaths) {
  Dirs dirs;
  EXPECT_FALSE(HasOrdinaryFiles(dirs.Home));  // folders only
  Dirs::Write(dirs.Data + "a.xlsx", "x");
  EXPECT_TRUE(HasOrdinaryFiles(dirs.Data));
  EXPECT_FALSE(HasOrdinaryFiles(dirs.Home + "data"));  // no trailing "/"
  std::filesystem::create_symlink(dirs.Data, dirs.Home + "link");
  EXPECT_TRUE(SamePath(dirs.Data + "a.xlsx", dirs.Home + "link/../other/../data/./a.xlsx"));
  EXPECT_TRUE(SamePath(dirs.Data, dirs.Home + "link"));
  EXPECT_FALSE(SamePath(dirs.Data + "a.xlsx", dirs.Data + "A.xlsx"));
  EXPECT_FALSE(SamePath(dirs.Data + "a.xlsx", dirs.Other + "a.xlsx"));
  EXPECT_FALSE(SamePath("", ""));
}

}  // namespace
}  // namespace tersolv::shell
