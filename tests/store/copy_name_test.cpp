// Numbered copy names of slots and of files.
#include "store/copy_name.h"

#include <filesystem>

#include "fake_window.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

TEST(CopyName, NumbersNamesAndPassesOverTakenOnes) {
  auto never = [](const std::string&) { return false; };
  struct Case {
    const char* from;
    bool numbered;
    const char* to;
    bool added;
  } const cases[] = {
      {"/d/M42.fit", false, "/d/M42_2.fit", true},     {"/d/M42_2.fit", false, "/d/M42_3.fit", false},
      {"/d/M42_9.fit", false, "/d/M42_10.fit", false}, {"/d/M42_19.fit", true, "/d/M42_20.fit", false},
      {"/d/M42_", false, "/d/M42_2", false},           {"/d.x/M42", false, "/d.x/M42_2", true},
  };
  for (const Case& c : cases) {
    bool added = !c.added;
    EXPECT_EQ(NextCopyName(c.from, c.numbered, added, never), c.to) << c.from;
    EXPECT_EQ(added, c.added) << c.from;
  }
  bool added = false;
  const auto taken = [](const std::string& n) { return n == "/d/a_2.fit" || n == "/d/a_3.fit"; };
  EXPECT_EQ(NextCopyName("/d/a.fit", false, added, taken), "/d/a_4.fit");
}

TEST(CopyName, FreeFileNameNeverNamesAnExistingFile) {
  TempDir dir;
  const std::string name = dir.file("VList_3Stars_10files.qvl");
  EXPECT_EQ(FreeCopyFileName(name), name);
  WriteText(name, "x");
  WriteText(dir.file("VList_3Stars_10files_2.qvl"), "x");
  EXPECT_EQ(FreeCopyFileName(name), dir.file("VList_3Stars_10files_3.qvl"));
  // A dangling link is a name in use too.
  std::filesystem::create_symlink(dir.file("nowhere"), dir.file("VList_3Stars_10files_3.qvl"));
  EXPECT_EQ(FreeCopyFileName(name), dir.file("VList_3Stars_10files_4.qvl"));
}

TEST_F(StoreTest, MakeCopyNameSkipsNamesOfOpenWindows) {
  FakeWindow w;
  MakeImage(1, 2, 2, {{0, 0, 0, 0}}, "/d/img.fit");
  MakeImage(2, 2, 2, {{0, 0, 0, 0}}, "/d/img_2.fit");
  Store.HasWindow[2] = 1;
  Store.Window[2] = &w;
  MakeCopyName(1, 3);
  EXPECT_EQ(Store.FileName[3], "/d/img_3.fit");
  EXPECT_EQ(Store.Image[3].NumberedName, 1);
  Store.Window[2] = nullptr;
  Store.HasWindow[2] = 0;
}

}  // namespace
}  // namespace astrelon::test
