// The listing of the network folder for the menus: filter networks with
// tags 1, 2, ..., subfolders with networks (tags 1000 s + j), none for a
// subfolder without networks or a hidden one, two-times networks apart,
// extensions in any case, names in order.
#include "filters/network/network_folder.h"

#include <filesystem>

#include "test_support.h"

namespace astrelon::test {
namespace {

TEST(NetworkFolder, ListsNetworksAndSubfolders) {
  TempDir dir;
  const auto& root = dir.path();
  for (const char* sub : {"a_empty", "b_nets", ".hidden", "c_more"}) std::filesystem::create_directories(root / sub);
  for (const char* f : {"Zeta.nnf", "alpha.NNF", "x2.nnw", "Big.NNW", "note.txt", "b_nets/one.nnf", "b_nets/Two.NnF",
                        "b_nets/skip.nnw", "a_empty/readme.txt", ".hidden/h.nnf", "c_more/three.nnf"})
    WriteText((root / f).string(), "x");

  const TNetworkFolderListing l = ListNetworkFolder(root.string());
  // Names in byte order: upper case before lower case.
  ASSERT_EQ(l.Filters.size(), 2u);
  EXPECT_EQ(l.Filters[0].Caption, "Zeta");
  EXPECT_EQ(l.Filters[0].Tag, 1);
  EXPECT_EQ(l.Filters[1].Caption, "alpha");
  EXPECT_EQ(l.Filters[1].Tag, 2);
  EXPECT_EQ(l.Filters[1].Path, (root / "alpha.NNF").string());
  ASSERT_EQ(l.Subfolders.size(), 2u);
  EXPECT_EQ(l.Subfolders[0].Name, "b_nets");
  ASSERT_EQ(l.Subfolders[0].Items.size(), 2u);
  EXPECT_EQ(l.Subfolders[0].Items[0].Caption, "Two");
  EXPECT_EQ(l.Subfolders[0].Items[0].Tag, 1001);
  EXPECT_EQ(l.Subfolders[0].Items[0].Path, (root / "b_nets" / "Two.NnF").string());
  EXPECT_EQ(l.Subfolders[0].Items[1].Tag, 1002);
  EXPECT_EQ(l.Subfolders[1].Name, "c_more");
  EXPECT_EQ(l.Subfolders[1].Items[0].Tag, 2001);
  ASSERT_EQ(l.TwoTimes.size(), 2u);
  EXPECT_EQ(l.TwoTimes[0].Caption, "Big");
  EXPECT_EQ(l.TwoTimes[1].Caption, "x2");
  EXPECT_EQ(l.TwoTimes[1].Tag, 2);

  const TNetworkFolderListing none = ListNetworkFolder((root / "missing").string());
  EXPECT_TRUE(none.Filters.empty() && none.Subfolders.empty() && none.TwoTimes.empty());
  EXPECT_TRUE(ListNetworkFolder("").Filters.empty());
}

}  // namespace
}  // namespace astrelon::test
