// The comet is measured inside the box the user drew: field stars as bright
// as the nucleus just outside each edge of the comet's box, in the first or
// in the last image, leave "Berechnen"'s motion at the truth, and a stack on
// that motion has the nucleus where numpy's comet stack has it. A box of
// empty sky is said so, cleared, and computes nothing until the comet is
// marked again.
#include <algorithm>
#include <array>
#include <functional>
#include <utility>
#include <cmath>
#include <string>

#include "batch/align/prompt_texts.h"
#include "batch/steps/batch_captions.h"
#include "comet_frames.h"
#include "common/pascal_format.h"
#include "marked_run_fixture.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

using namespace comet;

constexpr int BoxHalf = 5;  // the comet's box: 11 x 11 pixels around the nucleus

// Which edge of the box a neighbour lies beyond.
enum class TEdge { Left, Right, Top, Bottom };

// The box the user draws around the nucleus of frame k.
TRectI CometBox(int k) {
  const int cx = int(std::nearbyint(NucleusX(k))), cy = int(std::nearbyint(NucleusY(k)));
  return {cx - BoxHalf, cy - BoxHalf, cx + BoxHalf, cy + BoxHalf};
}

// A field star of the nucleus' height `gap` pixels beyond an edge of frame
// k's comet box, level with the nucleus (a little off it, as stars are).
TFieldStar Beside(int k, TEdge edge, double gap, double peak = NucleusPeak) {
  const TRectI b = CometBox(k);
  switch (edge) {
    case TEdge::Left: return {b.Left - gap, NucleusY(k) + 0.3, peak};
    case TEdge::Right: return {b.Right + gap, NucleusY(k) - 0.4, peak};
    case TEdge::Top: return {NucleusX(k) + 0.35, b.Top - gap, peak};
    default: return {NucleusX(k) - 0.25, b.Bottom + gap, peak};
  }
}

class CometBoxTest : public MarkedRunTest {
protected:
  // "Berechnen" over the first and the last frame: the bright star boxed in
  // the first, the comet boxed in both (or as `comet` says), "Keine Kontrolle
  // mehr". The motion is in BatchRun's comet fields when it was computed.
  void Compute(const std::string& start, std::function<void(int slot, int k, int attempt)> comet = {}) {
    Restart();
    BatchRun.CometValuesSet = false;
    BatchRun.CometPerFrameX = BatchRun.CometPerFrameY = 0;
    Files(start, "comet.fit");
    MarkedAddBatch(1);
    BatchRunView.ChooseImage = [this](const std::string&) { return dir.file(FrameName(Count)); };
    attempts = 0;
    answer = [this, comet](int prompt, int target, int work) {
      const bool first = prompts.back().first == 0;
      if (prompt == 1) DrawBox(target, BoxAround(Stars[0].X, Stars[0].Y, 6));
      if (prompts.back().second == CometPrompt()) {
        const int slot = first ? target : work, k = first ? 1 : Count, attempt = attempts++;
        if (comet)
          comet(slot, k, attempt);
        else
          DrawBox(slot, CometBox(k));
      }
      Ok(true);
    };
    BatchTextSchreiben();
    ASSERT_TRUE(CheckCometComputation());
    BeginBatchRun();
    Run();
    EXPECT_FALSE(BatchRun.Running);
  }
  int attempts = 0;
};

TEST_F(CometBoxTest, StarsJustOutsideTheCometsBoxLeaveTheMotionTrue) {
  // As bright as the nucleus from a pixel beyond the edge on, half as bright
  // again two pixels beyond.
  const std::pair<double, double> neighbours[] = {{1.0, 1.0}, {1.0, 2.0}, {1.0, 4.0}, {1.5, 2.0}};
  for (const bool last : {false, true})
    for (const TEdge edge : {TEdge::Left, TEdge::Right, TEdge::Top, TEdge::Bottom})
      for (const auto& [ratio, gap] : neighbours) {
        SCOPED_TRACE(std::string(last ? "last" : "first") + " image, edge " + std::to_string(int(edge)) + ", " +
                     std::to_string(ratio) + " x the nucleus " + std::to_string(gap) + " px outside");
        const TFieldStar extra[] = {Beside(last ? Count : 1, edge, gap, ratio * NucleusPeak)};
        Compute(WriteFrames(dir, extra, true));
        ASSERT_TRUE(BatchRun.CometValuesSet);
        EXPECT_NEAR(BatchRun.CometPerFrameX, -MoveX, 0.01);
        EXPECT_NEAR(BatchRun.CometPerFrameY, -MoveY, 0.01);
        EXPECT_EQ(attempts, 2) << "each comet's box measured at once";
      }
}

// A box of empty sky (in the first or in the last image): the message, the
// box cleared and the comet asked for again. Cancelled there, no motion is
// computed; a box around the comet or a direct mark (+) on it goes on.
TEST_F(CometBoxTest, ABoxOfEmptySkyIsSaidSoAndComputesNothingUntilTheCometIsMarked) {
  const std::string start = WriteFrames(dir, {}, true);
  enum class TThen { Cancel, Box, DirectMark };
  for (const bool last : {false, true})
    for (const TThen then : {TThen::Cancel, TThen::Box, TThen::DirectMark}) {
      SCOPED_TRACE(std::string(last ? "last" : "first") + " image, then " + std::to_string(int(then)));
      bool cleared = false;
      Compute(start, [&](int slot, int k, int attempt) {
        const bool empty = (k == Count) == last && attempt == (last ? 1 : 0);
        if (empty) {
          // Sky 25 pixels from the nucleus, in the image's corner.
          DrawBox(slot, {8, 8, 18, 18});
          return;
        }
        if (attempt == (last ? 2 : 1)) {
          FakeWindow& w = windows[size_t(slot)];
          cleared = !w.sel1 && !w.marker1;
          if (then == TThen::Cancel) {
            BatchRun.EndOfRun = true;
            return;
          }
          if (then == TThen::DirectMark) {
            w.marker1 = true;
            w.markerPoint = {int(std::nearbyint(NucleusX(k))), int(std::nearbyint(NucleusY(k)))};
            return;
          }
        }
        DrawBox(slot, CometBox(k));
      });
      EXPECT_EQ(std::count(ui.Messages.begin(), ui.Messages.end(), BatchCaption(TBatchCaption::CometNotInBox)), 1);
      EXPECT_TRUE(cleared) << "the empty box is taken away for the next mark";
      if (then == TThen::Cancel) {
        EXPECT_FALSE(BatchRun.CometValuesSet);
        EXPECT_EQ(BatchRun.CometPerFrameX, 0);
        EXPECT_EQ(BatchRun.CometPerFrameY, 0);
        continue;
      }
      ASSERT_TRUE(BatchRun.CometValuesSet);
      // A direct mark is taken as placed: the last nucleus' whole pixel.
      const double placed = then == TThen::DirectMark && last ? std::nearbyint(NucleusX(Count)) - NucleusX(Count) : 0;
      const double placedY = then == TThen::DirectMark && last ? std::nearbyint(NucleusY(Count)) - NucleusY(Count) : 0;
      EXPECT_NEAR(BatchRun.CometPerFrameX, -MoveX - placed / (Count - 1), 0.01);
      EXPECT_NEAR(BatchRun.CometPerFrameY, -MoveY - placedY / (Count - 1), 0.01);
    }
}

// A box drawn so that the nucleus sits up to one and a half pixels beyond one
// of its edges (its light half inside or less), with a faint star (40 noise
// levels) inside: the box's
// brightest place is the nucleus' light, whose peak lies outside where the
// nucleus is centred more than half a pixel beyond the edge. Such a box is
// ambiguous: the message, and the box drawn anew gives the true motion. A
// nucleus whose peak pixel is still inside is measured. The faint star is
// never taken for the comet.
TEST_F(CometBoxTest, ANucleusJustBeyondTheBoxsEdgeIsNeverReplacedByAFaintStarInside) {
  for (const bool last : {false, true})
    for (const TEdge edge : {TEdge::Left, TEdge::Right, TEdge::Top, TEdge::Bottom})
      for (const int further : {0, 1}) {
        const int k = last ? Count : 1;
        const double nx = NucleusX(k), ny = NucleusY(k);
        const int cx = int(std::nearbyint(nx)), cy = int(std::nearbyint(ny));
        // The edge's pixel just short of the nucleus' centre, `further` more.
        TRectI box{cx - BoxHalf, cy - BoxHalf, cx + BoxHalf, cy + BoxHalf};
        double beyond = 0;
        TFieldStar faint{0, 0, 40 * Noise};
        switch (edge) {
          case TEdge::Left:
            box.Left = int(std::floor(nx)) + 1 + further, box.Right = box.Left + 2 * BoxHalf;
            beyond = box.Left - nx, faint = {box.Left + 6.3, ny + 0.4, faint.Peak};
            break;
          case TEdge::Right:
            box.Right = int(std::ceil(nx)) - 1 - further, box.Left = box.Right - 2 * BoxHalf;
            beyond = nx - box.Right, faint = {box.Right - 6.3, ny - 0.4, faint.Peak};
            break;
          case TEdge::Top:
            box.Top = int(std::floor(ny)) + 1 + further, box.Bottom = box.Top + 2 * BoxHalf;
            beyond = box.Top - ny, faint = {nx + 0.4, box.Top + 6.3, faint.Peak};
            break;
          default:
            box.Bottom = int(std::ceil(ny)) - 1 - further, box.Top = box.Bottom - 2 * BoxHalf;
            beyond = ny - box.Bottom, faint = {nx - 0.4, box.Bottom - 6.3, faint.Peak};
        }
        // Two pixels beyond, the nucleus' light is the box's no more: the faint
        // star is then the box's brightest place, and its object.
        if (beyond > 1.6) continue;
        SCOPED_TRACE(std::string(last ? "last" : "first") + " image, edge " + std::to_string(int(edge)) +
                     ", nucleus " + std::to_string(beyond) + " px beyond");
        const TFieldStar extra[] = {faint};
        Compute(WriteFrames(dir, extra, true), [&](int slot, int frame, int attempt) {
          const bool loose = frame == k && attempt == (last ? 1 : 0);
          DrawBox(slot, loose ? box : CometBox(frame));
        });
        const auto said =
            std::count(ui.Messages.begin(), ui.Messages.end(), BatchCaption(TBatchCaption::CometNotInBox));
        if (beyond > 0.6) {
          EXPECT_EQ(said, 1) << "the nucleus' light rises outward from the box's border";
        }
        ASSERT_TRUE(BatchRun.CometValuesSet);
        EXPECT_NEAR(BatchRun.CometPerFrameX, -MoveX, 0.01);
        EXPECT_NEAR(BatchRun.CometPerFrameY, -MoveY, 0.01);
        EXPECT_EQ(attempts, 2 + int(said));
      }
}

// A stack on the motion "Berechnen" gave with a star beside the last comet
// mark: the nucleus where numpy's stack on the true motion has it, as sharp.
TEST_F(CometBoxTest, AStackOnTheComputedMotionHasTheNucleusWhereNumpyHasIt) {
  const TFieldStar extra[] = {Beside(Count, TEdge::Right, 2), Beside(1, TEdge::Bottom, 1)};
  const std::string start = WriteFrames(dir, extra);
  Compute(start);
  ASSERT_TRUE(BatchRun.CometValuesSet);
  const auto shown = [](double v) { return FloatToStrF(v, TFloatFormat::Fixed, 15, 8); };
  const std::string x = shown(BatchRun.CometPerFrameX), y = shown(BatchRun.CometPerFrameY);

  Restart();
  Files(start, "stack.fit");
  MarkedAddBatch(1);
  Step(2).Values[0] = x;
  Step(2).Values[1] = y;
  answer = [this](int prompt, int target, int) {
    if (prompt == 1) DrawBox(target, BoxAround(Stars[0].X, Stars[0].Y, 6));
    Ok(true);
  };
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label1, "12 Bilder Add");
  FreeSlot(48);
  ASSERT_TRUE(LoadImageFile(48, dir.file("stack.fit")));
  const std::vector<float> target = PlaneValues(48, 1);
  FreeSlot(48);
  const TNucleusOracle n = MeasureNucleus(target, extra);
  ASSERT_TRUE(n.Ok);
  EXPECT_NEAR(n.Target.X, n.Numpy.X, 0.1);
  EXPECT_NEAR(n.Target.Y, n.Numpy.Y, 0.1);
  EXPECT_LT(n.Target.Sigma, 1.1 * n.Numpy.Sigma);
}

}  // namespace
}  // namespace astrelon::test
