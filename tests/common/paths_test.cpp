#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "common/paths.h"
#include "test_support.h"

using namespace astrelon;
namespace fs = std::filesystem;

TEST(Paths, ProgramFolderHoldsTheRunningProgram) {
  const std::string folder = ProgramFolder();
  EXPECT_TRUE(fs::exists(fs::path(folder) / program_invocation_short_name)) << folder;
  const auto data = ProgramDataFolders();
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0], folder);
  EXPECT_EQ(data[1], "/usr/local/share/astrelon");
}

TEST(Paths, FileFoundInTheFirstFolderThatHoldsIt) {
  test::TempDir a, b;
  std::filesystem::create_directory(a.path() / "anleitung.html");  // a folder, not a file
  test::WriteText(b.file("anleitung.html"), "<html></html>");
  const std::vector<std::string> folders{a.path().string(), b.path().string()};
  EXPECT_EQ(FindFileInFolders(folders, "anleitung.html"), b.file("anleitung.html"));
  EXPECT_EQ(FindFileInFolders(folders, "fehlt.html"), "");
  EXPECT_EQ(FindFileInFolders(folders, ""), "");
  // The build puts the short guide beside the program.
  EXPECT_NE(FindFileInFolders({ASTRELON_BINARY_DIR}, HelpPageName), "");
}

TEST(Paths, SettingsFolderFollowsXdgConfigHome) {
  test::ConfigHome home;
  const std::string expected = home.path().string() + "/astrelon";
  EXPECT_EQ(SettingsFolder(), expected);
  EXPECT_FALSE(fs::exists(expected));
  EXPECT_TRUE(EnsureSettingsFolder());
  EXPECT_TRUE(fs::is_directory(expected));
  EXPECT_TRUE(EnsureSettingsFolder());  // already there

  // A relative XDG_CONFIG_HOME is ignored in favour of ~/.config.
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  const char* oldHome = std::getenv("HOME");
  const std::string saved = oldHome ? oldHome : "";
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(SettingsFolder(), "/home/someone/.config/astrelon");
  if (oldHome)
    setenv("HOME", saved.c_str(), 1);
  else
    unsetenv("HOME");
}

TEST(Paths, SettingsFolderThatCannotBeCreated) {
  test::ConfigHome home;
  test::WriteText(home.path().string() + "/astrelon", "a file in the way");
  EXPECT_FALSE(EnsureSettingsFolder());
}

TEST(FileNames, ExtensionComesFromTheLastComponent) {
  EXPECT_EQ(ExtractFileExt("/data/m42.fit"), ".fit");
  EXPECT_EQ(ExtractFileExt("m42.tar.gz"), ".gz");
  EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
  EXPECT_EQ(ExtractFileExt("noext"), "");
  EXPECT_EQ(ExtractFileExt("name."), ".");
  EXPECT_EQ(ExtractFileExt(""), "");

  EXPECT_EQ(ChangeFileExt("/data/m42.fit", ".tif"), "/data/m42.tif");
  EXPECT_EQ(ChangeFileExt("/a.b/c", ".qzh"), "/a.b/c.qzh");
  EXPECT_EQ(ChangeFileExt("m42.fit", ""), "m42");

  EXPECT_EQ(ExtractFileName("/data/m42.fit"), "m42.fit");
  EXPECT_EQ(ExtractFileName("m42.fit"), "m42.fit");
  EXPECT_EQ(ExtractFileName("/data/"), "");
  EXPECT_EQ(ExtractFilePath("/data/m42.fit"), "/data/");
  EXPECT_EQ(ExtractFilePath("m42.fit"), "");
}

TEST(Strings, EmptySearchTextIsNeverFound) {
  EXPECT_EQ(UpperCase("Grün m42"), "GRüN M42");  // ASCII only; UTF-8 bytes untouched
  EXPECT_EQ(LowerCase("NGC 7000"), "ngc 7000");

  EXPECT_TRUE(ContainsText("HISTORY Gauss", "gauss"));
  EXPECT_FALSE(ContainsText("HISTORY", ""));
  EXPECT_FALSE(ContainsText("", ""));
  EXPECT_TRUE(ContainsStr("abc", "bc"));
  EXPECT_FALSE(ContainsStr("abc", "BC"));
  EXPECT_FALSE(ContainsStr("abc", ""));

  EXPECT_EQ(Pos("b", "abcb"), 2);
  EXPECT_EQ(Pos("a", "abc"), 1);
  EXPECT_EQ(Pos("x", "abc"), 0);
  EXPECT_EQ(Pos("", "abc"), 0);
  EXPECT_EQ(Pos("abcd", "abc"), 0);
}
