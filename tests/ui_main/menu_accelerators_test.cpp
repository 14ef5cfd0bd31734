// The main menu's accelerators: within each menu, hidden items included, no two
// items share a letter (a clash makes the letter cycle, and a disabled item
// swallows it).
#include <QChar>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

#include <gtest/gtest.h>

#include "shell/ui/menu/main_menu_table.h"

namespace astrelon {
namespace {

// The letter after the caption's single "&" (lower case); none for "&&" or no "&".
QChar Accelerator(const QString& caption) {
  for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return caption[i + 1].toLower();
  }
  return {};
}

TEST(MainMenuTable, EveryMenuGivesEachItemItsOwnLetter) {
  EXPECT_EQ(Accelerator("Bildgröße ä&ndern"), QChar('n'));
  EXPECT_EQ(Accelerator("A&&B"), QChar());
  QStringList clashes;
  std::function<void(const QString&, const std::vector<TMenuEntry>&)> walk = [&](const QString& menu,
                                                                                 const auto& items) {
    QMap<QChar, QString> taken;
    for (const TMenuEntry& e : items) {
      if (e.Flags & (mfSeparator | mfShortcutOnly)) continue;
      const QChar letter = Accelerator(e.Caption);
      if (!letter.isNull()) {
        if (taken.contains(letter)) clashes << menu + ": " + taken[letter] + " / " + e.Caption;
        taken.insert(letter, e.Caption);
      }
      walk(e.Caption, e.Items);
    }
  };
  walk("menu bar", MainMenuTable());
  EXPECT_TRUE(clashes.isEmpty()) << clashes.join("\n").toStdString();
}

}  // namespace
}  // namespace astrelon
