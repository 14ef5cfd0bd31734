// Choosing the second image of a two-image operation.
#include "registration/ui/choose_second_image.h"

#include <QListWidget>
#include <QPushButton>
#include <memory>

#include "../ui_windows/window_fixture.h"
#include "qt_test_app.h"
#include "shell/ui/dialogs/list_chooser.h"

namespace astrelon::test {
namespace {

struct TSeen {
  QStringList Items;
  int ListHeight = 0, RowHeight = 0, CurrentRow = -1;
  bool OkEnabled = false;
};

class ChooseSecondImageTest : public WindowTest {
protected:
  // Shows the chooser; answers it with row `row` and Ok, or Cancel for -1.
  static int Choose(int current, int excluded, int row, TSeen& seen) {
    auto out = std::make_shared<TSeen>();
    WhenModal([out, row](QWidget* w) {
      auto* form = qobject_cast<TForm4*>(w);
      ASSERT_NE(form, nullptr);
      for (int i = 0; i < form->ListBox1->count(); ++i) out->Items << form->ListBox1->item(i)->text();
      out->ListHeight = form->ListBox1->height();
      out->RowHeight = form->ListBox1->sizeHintForRow(0);
      out->CurrentRow = form->ListBox1->currentRow();
      out->OkEnabled = form->Button1->isEnabled();
      if (row < 0) {
        form->Button2->click();
        return;
      }
      form->ListBox1->setCurrentRow(row);
      form->Button1->click();
    });
    const int slot = ChooseSecondImage(current, excluded, "Welches Bild addieren:", false);
    seen = *out;
    return slot;
  }
};

TEST_F(ChooseSecondImageTest, TheClickedEntryGivesItsSlotEvenWhenNamesShortenAlike) {
  const std::string lead = "/data/" + std::string(70, 'p'), tail = std::string(70, 's') + "/a.fit";
  for (int s = 1; s <= 3; ++s) Open(s, 8, 6);
  Store.FileName[2] = lead + "/one/" + tail;
  Store.FileName[3] = lead + "/two/" + tail;
  TSeen seen;
  EXPECT_EQ(Choose(1, 1, 0, seen), 2);
  ASSERT_EQ(seen.Items.size(), 2);
  EXPECT_EQ(seen.Items[0], seen.Items[1]);  // elided to the same text
  EXPECT_LT(seen.Items[0].size(), int(Store.FileName[2].size()));
  EXPECT_FALSE(seen.OkEnabled);  // nothing chosen yet
  EXPECT_EQ(seen.ListHeight, seen.RowHeight * 2 + 4);
  EXPECT_EQ(Choose(1, 1, 1, seen), 3);
  EXPECT_EQ(Choose(1, 1, -1, seen), -1);  // Cancel
}

TEST_F(ChooseSecondImageTest, ASingleEntryIsPreselectedAndTheListStopsGrowingAt15Rows) {
  for (int s = 1; s <= 3; ++s) Open(s, 4, 4);
  TSeen seen;
  EXPECT_EQ(Choose(1, 2, 0, seen), 3);
  EXPECT_EQ(seen.Items.size(), 1);
  EXPECT_EQ(seen.CurrentRow, 0);
  EXPECT_TRUE(seen.OkEnabled);

  for (int s = 4; s <= 20; ++s) Open(s, 4, 4);
  EXPECT_EQ(Choose(1, 1, 16, seen), 18);
  EXPECT_EQ(seen.Items.size(), 19);
  EXPECT_EQ(seen.ListHeight, seen.RowHeight * 15 + 4);
  // Nothing to list: no chooser and no slot.
  EXPECT_EQ(ChooseSecondImage(1, 1, "x", true), -1);
}

}  // namespace
}  // namespace astrelon::test
