// A first run (no settings file) with one image named on the command line: the
// tool windows the program opens by itself leave the menu bar, the tool bar and
// the image's picture free. Each screen size runs in a child process of this
// program on an offscreen screen of that size.
#include <QApplication>
#include <QMdiArea>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <filesystem>

#include <gtest/gtest.h>

#include "shell/ui/histogram/histogram_window.h"
#include "shell/ui/main/main_window.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include "shell/ui/windows/image_view.h"
#include "shell/ui/windows/image_window.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

constexpr const char* ScreenCase = "ASTRELON_SCREEN_CASE";

QRect OnDesk(const QWidget* w) { return {w->mapToGlobal(QPoint(0, 0)), w->size()}; }

std::string Text(const QRect& r) {
  return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
         std::to_string(r.height());
}

TEST(FirstRunPlacement, OnEveryScreenFromTheSmallestUp) {
  if (qEnvironmentVariableIsSet(ScreenCase)) GTEST_SKIP();
  test::TempDir dir;
  const struct {
    QSize Screen, Image;
  } cases[] = {
      {{1280, 800}, {600, 400}},   {{1366, 900}, {600, 400}},   {{1600, 1200}, {600, 400}},
      {{1920, 1080}, {600, 400}},  {{2560, 1440}, {600, 400}},
      {{1280, 800}, {700, 560}},  // the corner is too small: the window moves beside the picture, narrower
  };
  for (const auto& c : cases) {
    const std::string config = dir.file("screen.json");
    test::WriteText(config, "{\"screens\": [{\"name\": \"s\", \"x\": 0, \"y\": 0, \"width\": " +
                                std::to_string(c.Screen.width()) + ", \"height\": " +
                                std::to_string(c.Screen.height()) + ", \"logicalDpi\": 96}]}");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", QString::fromStdString("offscreen:configfile=" + config));
    env.insert(ScreenCase, QString("%1x%2").arg(c.Image.width()).arg(c.Image.height()));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string()),
                {"--gtest_filter=FirstRunPlacement.OnThisScreen"});
    ASSERT_TRUE(child.waitForFinished(120000));
    EXPECT_EQ(child.exitCode(), 0) << "screen " << c.Screen.width() << " x " << c.Screen.height() << ", image "
                                   << c.Image.width() << " x " << c.Image.height() << "\n"
                                   << child.readAll().toStdString();
  }
}

// `astrelon sky.fit` with an empty settings folder, on the screen the parent set.
TEST(FirstRunPlacement, OnThisScreen) {
  if (!qEnvironmentVariableIsSet(ScreenCase)) GTEST_SKIP() << "run by OnEveryScreenFromTheSmallestUp";
  const QStringList size = qEnvironmentVariable(ScreenCase).split('x');
  ASSERT_EQ(size.size(), 2);
  const int w = size[0].toInt(), h = size[1].toInt();
  test::ConfigHome home;
  test::TempDir dir;
  Store.Reset();
  test::MakeImage(1, w, h, {std::vector<float>(size_t(w) * size_t(h), 100.0f)}, "sky.fit");
  const std::string sky = dir.file("sky.fit");
  ASSERT_TRUE(SaveFits(1, 16, sky, false, false));
  Store.Reset();
  TMainForm main({sky});
  main.show();
  ASSERT_TRUE(QTest::qWaitFor([] { return ImageWindow(1) != nullptr; }, 5000));
  QTest::qWait(300);  // the histogram window follows the active window every 100 ms
  const TForm2* histogram = HistogramWindow();
  ASSERT_TRUE(histogram && histogram->isVisible());
  const QRect hist = histogram->frameGeometry(), desk = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect picture = OnDesk(ImageWindow(1)->Image1).intersected(OnDesk(main.MdiArea->viewport()));
  ASSERT_EQ(picture.size(), QSize(w, h));
  const std::string where = "histogram " + Text(hist) + ", picture " + Text(picture) + ", main " +
                            Text(main.frameGeometry());
  EXPECT_TRUE(desk.contains(hist)) << where;
  EXPECT_FALSE(hist.intersects(OnDesk(main.menuBar()))) << where;
  EXPECT_FALSE(hist.intersects(OnDesk(main.ToolBar1))) << where;
  EXPECT_FALSE(hist.intersects(picture)) << where;
  main.close();
  main.FormDestroy();
}

}  // namespace
}  // namespace astrelon
