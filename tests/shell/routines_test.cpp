// The shell's small routines: settings file, folders, the command-line
// switch and the credit text.
#include "shell/routines.h"

#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

using testing::ScratchFolders;

TEST(RoutinesTest, ExtendedRangeSwitch) {
  for (const char* on : {"/ie/", "/ie", "/IE", "-x /ie", "/Ie/ more", "--extended-range", "a --extended-range"}) {
    EXPECT_TRUE(ExtendedRangeSwitch(on)) << on;
  }
  for (const char* off : {"", "ie", "/i e", "/ied", "--extended", "-ie"}) {
    EXPECT_FALSE(ExtendedRangeSwitch(off)) << off;
  }
}

TEST(RoutinesTest, UnscrambleText) {
  std::string text = "AB";  // key 32 ^ 'A' = 'a', then 'a' ^ 'B' = '#'
  UnscrambleText(text);
  EXPECT_EQ(text, "a#");
  std::string credit = ScrambleText("Tersolv release 0.");
  EXPECT_NE(credit, "Tersolv release 0.");
  UnscrambleText(credit);
  EXPECT_EQ(credit, "Tersolv release 0.");
}

TEST(RoutinesTest, ReadWorkDirTakesOnlyAnExactKeyOnTheFirstLine) {
  ScratchFolders dirs;
  const std::string path = dirs.Program + "Tersolv.ini";
  EXPECT_FALSE(ReadWorkDir(path));  // missing
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"", std::nullopt},
      {"WorkDir=/a/b/\n", "/a/b/"},
      {"WorkDir=  /a b/  \r\n", "/a b/"},
      {"WorkDir=\n", ""},
      {"WorkDir=/x/", "/x/"},  // no line break
      {"workdir=/a/\n", std::nullopt},
      {" WorkDir=/a/\n", std::nullopt},
      {"WorkDir", std::nullopt},
      {"\nWorkDir=/a/\n", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    ScratchFolders::WriteFile(path, text);
    EXPECT_EQ(ReadWorkDir(path), expected) << text;
  }
}

TEST(RoutinesTest, WriteWorkDirCreatesItsFolderAndReplacesTheFile) {
  ScratchFolders dirs;
  const std::string path = dirs.Home + ".config/tersolv/Tersolv.ini";
  ASSERT_TRUE(WriteWorkDir(path, "/data/"));
  ASSERT_TRUE(WriteWorkDir(path, "/other/"));
  EXPECT_EQ(ScratchFolders::ReadFile(path), "WorkDir=/other/\n");
  EXPECT_FALSE(WriteWorkDir(dirs.Home + "missing.txt/Tersolv.ini", "/x/") &&
               std::filesystem::is_regular_file(dirs.Home + "missing.txt"));
}

TEST(RoutinesTest, SettingsFileBesideTheProgramOrInTheConfigFolder) {
  ScratchFolders dirs;
  EXPECT_EQ(SettingsFilePath(dirs.Program, "", dirs.Home), dirs.Program + "Tersolv.ini");
  EXPECT_EQ(SettingsFilePath(dirs.root.string() + "/none", "/cfg", dirs.Home), "/cfg/tersolv/Tersolv.ini");
  EXPECT_EQ(SettingsFilePath(dirs.root.string() + "/none", "", dirs.Home), dirs.Home + ".config/tersolv/Tersolv.ini");
  EXPECT_EQ(SettingsFilePath(dirs.root.string() + "/none", "relative", dirs.Home),
            dirs.Home + ".config/tersolv/Tersolv.ini");
  if (::geteuid() != 0) {  // the superuser may write anywhere
    std::filesystem::permissions(dirs.Program, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_EQ(SettingsFilePath(dirs.Program, "/cfg", dirs.Home), "/cfg/tersolv/Tersolv.ini");
    std::filesystem::permissions(dirs.Program, std::filesystem::perms::owner_all);
  }
}

TEST(RoutinesTest, FoldersAndPaths) {
  ScratchFolders dirs;
  EXPECT_FALSE(HasOrdinaryFiles(dirs.Data));  // only folders so far
  ScratchFolders::WriteFile(dirs.Data + "a.xlsx", "x");
  EXPECT_TRUE(HasOrdinaryFiles(dirs.Data));
  EXPECT_FALSE(HasOrdinaryFiles(dirs.Data.substr(0, dirs.Data.size() - 1)));  // no trailing "/"
  EXPECT_FALSE(HasOrdinaryFiles(dirs.Home + "missing/"));
  EXPECT_FALSE(HasOrdinaryFiles(""));

  EXPECT_TRUE(SamePath(dirs.Data, dirs.Home + "data"));
  EXPECT_TRUE(SamePath(dirs.Data + "a.xlsx", dirs.Home + "other/../data/./a.xlsx"));
  std::filesystem::create_symlink(dirs.Data, dirs.Home + "link");
  EXPECT_TRUE(SamePath(dirs.Data + "a.xlsx", dirs.Home + "link/a.xlsx"));
  EXPECT_FALSE(SamePath(dirs.Data + "a.xlsx", dirs.Data + "A.xlsx"));
  EXPECT_FALSE(SamePath(dirs.Data + "a.xlsx", dirs.Other + "a.xlsx"));
  EXPECT_FALSE(SamePath("", ""));
  EXPECT_EQ(WithTrailingSlash("/a"), "/a/");
  EXPECT_EQ(WithTrailingSlash("/a/"), "/a/");
  EXPECT_EQ(WithTrailingSlash(""), "");
}

}  // namespace
}  // namespace tersolv::shell
