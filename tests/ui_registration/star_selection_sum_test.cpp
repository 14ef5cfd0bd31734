// "Bild addieren (mit Verschiebung)" with "Helligkeitsschwerpunkt" as a user
// does it: two 480 x 360 star fields, a 21 x 21 selection drawn around a star
// in each, the second image moved. The sum holds every object of the second
// image where the first has it: each selection measured its own star, whatever
// brighter light reaches it from beside it (a galaxy core, a bright star in
// worse seeing, a bright star just beyond the second selection's edge).
#include <QAction>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "../ui_windows/window_fixture.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "registration/ui/two_image_commands.h"
#include "scripted_ui.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "star_scene.h"
#include "store/display/display_histogram.h"

namespace astrelon::test {
namespace {

constexpr int FW = 480, FH = 360;

class StarSelectionSumTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterTwoImageCommands();
    Settings.ShiftMode = 0;  // "Helligkeitsschwerpunkt"
  }
  // The field in the slot's window, a 21 x 21 selection centred on (x, y).
  TMDIChild* Field(int slot, const TScene& scene, uint32_t seed, double x, double y) {
    TMDIChild* w = Open(slot, FW, FH);
    const std::vector<float> values = scene.Render(seed);
    Store.Image[size_t(slot)].Planes[1].assign(values.begin(), values.end());
    UpdateMinMax(slot);
    ResetDisplayRange(slot, 0);
    Drag(w, {10, 10}, {30, 30});
    EXPECT_TRUE(w->SelectionVisible(1));
    w->CentreSelection(1, x, y);
    const TRectI r = w->SelectionImageRect(1);
    EXPECT_EQ(r.Right - r.Left, 20);
    EXPECT_EQ(r.Bottom - r.Top, 20);
    return w;
  }
  // The light-weighted centre of what the sum adds to the first image (the
  // second image on the first's grid), or with `minus` 0 of the first image
  // itself, within four pixels of the first image's star.
  static TFloatPoint StarCentre(int slot, int minus, TFloatPoint at) {
    double sw = 0, sx = 0, sy = 0;
    for (int y = int(at.Y) - 4; y <= int(at.Y) + 5; ++y)
      for (int x = int(at.X) - 4; x <= int(at.X) + 5; ++x) {
        if (std::hypot(x - at.X, y - at.Y) > 4) continue;
        const double v =
            double(Store.Image[size_t(slot)].At(1, x, y)) - (minus ? Store.Image[size_t(minus)].At(1, x, y) : 0.0f);
        const double w = std::max(v - 1000.0, 0.0);
        sw += w;
        sx += w * x;
        sy += w * y;
      }
    return sw > 0 ? TFloatPoint{float(sx / sw), float(sy / sw)} : TFloatPoint{-1e6f, -1e6f};
  }
};

struct TUserCase {
  const char* Name;
  std::vector<TDrawnStar> Stars1, Stars2;
  std::vector<TBlob> Blobs1, Blobs2;
  TFloatPoint Star1;           // the star in the first image
  TFloatPoint Box1, Box2;      // the selections' centres
};

TEST_F(StarSelectionSumTest, TheSumHoldsTheStarOfBothSelectionsWhereverBrighterLightReachesThem) {
  const double mx = -2.6, my = 1.8;
  std::vector<TUserCase> cases;
  {
    // A star 18 pixels left of a galaxy core on its halo; the second
    // selection drawn 4 pixels right of the star.
    const TDrawnStar star{200.3, 150.6, 3000, 1.5};
    const TBlob core{218.3, 151.1, 6000, 4, 3}, halo{218.3, 151.1, 600, 12, 12};
    const auto moved = [&](auto b) {
      b.X += mx;
      b.Y += my;
      return b;
    };
    cases.push_back({"a galaxy core beside the star", {star}, {moved(star)}, {core, halo}, {moved(core), moved(halo)},
                     {float(star.X), float(star.Y)}, {float(star.X), float(star.Y)},
                     {float(star.X + mx + 4), float(star.Y + my)}});
  }
  {
    // A star of 1500 with a star 20 times as bright 13 pixels right; the
    // second image in worse seeing, the fluxes kept.
    const TDrawnStar star{200.3, 150.6, 1500, 1.5}, bright{213.3, 151.4, 30000, 1.5};
    const double k = 1 / (1.35 * 1.35);
    const TDrawnStar star2{star.X + mx, star.Y + my, star.Peak * k, 1.5 * 1.35},
        bright2{bright.X + mx, bright.Y + my, bright.Peak * k, 1.5 * 1.35};
    cases.push_back({"a bright star beside it, worse seeing in the second image", {star, bright}, {star2, bright2},
                     {}, {}, {float(star.X), float(star.Y)}, {float(star.X), float(star.Y)},
                     {float(star2.X), float(star2.Y)}});
  }
  for (const double beyond : {2.0, 3.0}) {
    // The first selection centred on a bright star; the second drawn so
    // that its centre lies `beyond` pixels past its edge, a star a fifth as
    // bright inside it.
    const TDrawnStar bright{200.3, 150.6, 5000, 1.6}, faint{206.1, 143.2, 1000, 1.6};
    const TDrawnStar bright2{bright.X + mx, bright.Y + my, bright.Peak, bright.Sigma},
        faint2{faint.X + mx, faint.Y + my, faint.Peak, faint.Sigma};
    cases.push_back({"the star just beyond the second selection, a fainter one inside",
                     {bright, faint},
                     {bright2, faint2},
                     {},
                     {},
                     {float(bright.X), float(bright.Y)},
                     {float(bright.X), float(bright.Y)},
                     {float(bright2.X + 10 + beyond), float(bright2.Y - 3)}});
  }
  for (const TUserCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TScene one, two;
    one.Width = two.Width = FW;
    one.Height = two.Height = FH;
    one.Stars = c.Stars1;
    one.Blobs = c.Blobs1;
    two.Stars = c.Stars2;
    two.Blobs = c.Blobs2;
    Field(1, one, 11, c.Box1.X, c.Box1.Y);
    Field(2, two, 12, c.Box2.X, c.Box2.Y);
    ActivateImageWindow(1);
    ASSERT_TRUE(RunMenuCommand("Bildaddieren1"));
    QApplication::processEvents();
    ASSERT_TRUE(Store.HasWindow[3]);
    // The same measure of each object in either image: the move is undone.
    std::vector<TFloatPoint> objects;
    for (const TDrawnStar& s : c.Stars1) objects.push_back({float(s.X), float(s.Y)});
    for (const TBlob& b : c.Blobs1) objects.push_back({float(b.X), float(b.Y)});
    double off = 0;
    for (const TFloatPoint& at : objects) {
      const TFloatPoint first = StarCentre(1, 0, at), second = StarCentre(3, 1, at);
      off = std::max(off, double(std::hypot(second.X - first.X, second.Y - first.Y)));
    }
    std::printf("%s: the second image's objects %.3f px from the first's\n", c.Name, off);
    EXPECT_LT(off, 0.1);
    area_->closeAllSubWindows();
    QApplication::processEvents();
    Store.Reset();
  }
}

// Pairs of frames of one night: 150 stars (peaks 30 to 30000, widths 1.2 to
// 2.2) on each field, the second image moved by 3 to 30 pixels, in worse
// seeing (widths x 1.2-1.5) through a thinner sky (fluxes x 0.5-0.8); the
// first selection drawn around a clearly visible star (no brighter one within
// 12 pixels), the second around the same star moved, off centre by up to a
// third of its size. In every sum the star's light lies where the first image
// has it.
TEST_F(StarSelectionSumTest, PairsOfFramesOfOneNightAddUp) {
  std::mt19937 random(515);
  std::uniform_real_distribution<double> u(0, 1);
  int within = 0, sums = 0;
  while (sums < 15) {
    TScene one, two;
    one.Width = two.Width = FW;
    one.Height = two.Height = FH;
    const double angle = 2 * M_PI * u(random), distance = 3 + 27 * u(random);
    const double mx = distance * std::cos(angle), my = distance * std::sin(angle);
    const double seeing = 1.2 + 0.3 * u(random), thinner = 0.5 + 0.3 * u(random);
    for (int k = 0; k < 150; ++k) {
      const double x = -40 + (FW + 80) * u(random), y = -40 + (FH + 80) * u(random);
      const double peak = 30 * std::pow(1000.0, u(random)), sigma = 1.2 + u(random);
      one.Stars.push_back({x, y, peak, sigma});
      two.Stars.push_back({x + mx, y + my, peak * thinner / (seeing * seeing), sigma * seeing});
    }
    // The star: clearly visible, no brighter one within 12 pixels, the boxes well inside.
    const TDrawnStar* chosen = nullptr;
    for (const TDrawnStar& s : one.Stars) {
      bool clear = s.Peak >= 500 && s.X > 50 && s.Y > 50 && s.X < FW - 50 && s.Y < FH - 50 && s.X + mx > 50 &&
                   s.Y + my > 50 && s.X + mx < FW - 50 && s.Y + my < FH - 50;
      for (const TDrawnStar& o : one.Stars)
        clear = clear && !(&o != &s && o.Peak > s.Peak && std::hypot(o.X - s.X, o.Y - s.Y) < 12);
      if (clear) {
        chosen = &s;
        break;
      }
    }
    if (!chosen) continue;
    ++sums;
    const TFloatPoint star{float(chosen->X), float(chosen->Y)};
    Field(1, one, 21 + uint32_t(sums), chosen->X, chosen->Y);
    Field(2, two, 41 + uint32_t(sums), chosen->X + mx + (2 * u(random) - 1) * 7, chosen->Y + my + (2 * u(random) - 1) * 7);
    ActivateImageWindow(1);
    ASSERT_TRUE(RunMenuCommand("Bildaddieren1"));
    QApplication::processEvents();
    ASSERT_TRUE(Store.HasWindow[3]);
    const TFloatPoint first = StarCentre(1, 0, star), second = StarCentre(3, 1, star);
    const double off = std::hypot(second.X - first.X, second.Y - first.Y);
    std::printf("pair %d (moved %.1f px, seeing x%.2f, sky x%.2f): the star %.3f px from the first image's\n", sums,
                distance, seeing, thinner, off);
    within += off < 0.1;
    area_->closeAllSubWindows();
    QApplication::processEvents();
    Store.Reset();
  }
  EXPECT_EQ(within, 15);
}

// Six pairs whose second frame has a cosmic-ray track of 2 to 4 pixels
// touching the star or ending 2 to 3 pixels beside it: every sum holds the
// second image where the first has it (a star far from the track shows it),
// or the command says it found no star and, told not to go on, makes no sum.
TEST_F(StarSelectionSumTest, ATrackAtTheSecondStarMovesNoSum) {
  TScriptedUi ui;
  ui.DefaultAnswer = TDialogAnswer::No;
  TScriptedUiScope scope(ui);
  const std::vector<std::vector<THotPixel>> tracks = {
      {{1, 0, 3000}, {2, 0, 3000}},
      {{0, 1, 8000}, {1, 2, 8000}, {2, 3, 8000}},
      {{-1, 0, 2000}, {0, 0, 2000}, {1, 0, 2000}, {2, 0, 2000}},
      {{3, -1, 5000}, {3, 0, 5000}, {3, 1, 5000}, {3, 2, 5000}},
      {{-4, 1, 10000}, {-5, 1, 10000}, {-6, 2, 10000}},
      {{1, 3, 3000}, {2, 3, 3000}}};
  int within = 0, refused = 0;
  for (size_t k = 0; k < tracks.size(); ++k) {
    const double mx = -2.6 + 0.7 * double(k), my = 1.8 - 0.4 * double(k);
    const TDrawnStar star{200.3 + 0.1 * double(k), 150.6, 1200 + 300 * double(k), 1.3 + 0.15 * double(k)};
    TScene one, two;
    one.Width = two.Width = FW;
    one.Height = two.Height = FH;
    const TDrawnStar check{star.X + 40.3, star.Y + 25.6, 2000, 1.5};
    one.Stars = {star, check};
    two.Stars = {{star.X + mx, star.Y + my, star.Peak, star.Sigma}, {check.X + mx, check.Y + my, 2000, 1.5}};
    const int px = int(std::nearbyint(star.X + mx)), py = int(std::nearbyint(star.Y + my));
    for (const THotPixel& h : tracks[k]) two.Hot.push_back({px + h.X, py + h.Y, h.Excess});
    Field(1, one, 61 + uint32_t(k), star.X, star.Y);
    Field(2, two, 71 + uint32_t(k), star.X + mx + 1, star.Y + my - 1);
    ActivateImageWindow(1);
    const size_t asked = ui.Messages.size();
    ASSERT_TRUE(RunMenuCommand("Bildaddieren1"));
    QApplication::processEvents();
    if (!Store.HasWindow[3]) {
      refused += ui.Messages.size() > asked;
      std::printf("pair %zu: no sum, %s\n", k, ui.Messages.size() > asked ? ui.Messages.back().c_str() : "no message");
    } else {
      const TFloatPoint at{float(check.X), float(check.Y)};
      const TFloatPoint first = StarCentre(1, 0, at), second = StarCentre(3, 1, at);
      const double off = std::hypot(second.X - first.X, second.Y - first.Y);
      std::printf("pair %zu: the star %.3f px from the first image's\n", k, off);
      within += off < 0.1;
    }
    area_->closeAllSubWindows();
    QApplication::processEvents();
    Store.Reset();
  }
  EXPECT_EQ(within + refused, int(tracks.size()));
}

}  // namespace
}  // namespace astrelon::test
