// Numbers beyond what a float or a filter can carry, typed or stored: every
// batch step that reads numbers, the settings files that steps and dialogs
// read, and the computations the dialogs run on typed values either refuse
// such a number (an error or a message, the image unchanged) or limit it, so
// that no result holds NaN or infinity.
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "../filters/network_test_nets.h"
#include "batch/exec/batch_step_dispatch.h"
#include "batch/exec/step_values.h"
#include "batch_run_fixture.h"
#include "common/number_text.h"
#include "filters/enlargement/sharpen_neighbours3.h"
#include "filters/experimental/shift_sharpening.h"
#include "frequency/deconvolution/deconvolution.h"
#include "frequency/deconvolution/psf_designer.h"
#include "frequency/deconvolution/psf_images.h"
#include "frequency/filter/filter_equaliser.h"
#include "frequency/filter/frequency_curve_file.h"
#include "frequency/filter/frequency_filter.h"
#include "frequency/wavelet/wavelet_noise_filter.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "frequency/wavelet/wavelet_settings.h"
#include "kernels/network/network_weights.h"
#include "pixelops/colour/color_correction_file.h"
#include "pixelops/geometry/field_distortion_file.h"
#include "pixelops/mosaic/mosaic_settings_file.h"
#include "pixelops/pixels/synthetic_noise.h"
#include "store/color_models.h"
#include "store/display/histogram_settings_file.h"

namespace astrelon::test {
namespace {

constexpr int W = 64, H = 48, Work = 1;

class HugeValueTest : public BatchRunTest {
public:
  // Ordinary data: a 16-bit sky with a gradient, noise and a few stars.
  static void Sky(int planes) {
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0, 6);
    std::vector<std::vector<float>> v(size_t(planes), std::vector<float>(size_t(W) * H));
    for (int p = 0; p < planes; ++p)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          float s = 600.0f + 3.0f * float(x) + 2.0f * float(y) + 100.0f * float(p) + noise(rng);
          for (const auto& [sx, sy, peak] : {std::tuple{20, 15, 40000.0f}, {45, 30, 12000.0f}, {10, 38, 3000.0f}})
            s += peak * std::exp(-float((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 3.0f);
          v[size_t(p)][size_t(y) * W + x] = std::nearbyint(s);
        }
    MakeImage(Work, W, H, v, "/in/img.fit");
    if (planes == 3) SetHeader3Axis(Work);
    UpdateMinMax(Work);
  }
  // Step 2 of operation op with these values, on the work image.
  void RunStep(TBatchOp op, const std::vector<std::string>& values) {
    BatchSteps = TBatchStepList();
    Steps({op});
    for (size_t i = 0; i < values.size(); ++i) Step(2).Values[i] = values[i];
    Step(2).OptionCaption.clear();
    BatchRun.WorkSlot = Work;
    BatchTextSchreiben();
    RunBatchStep(2);
  }
  std::string Network(const std::string& name) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(WriteUniversalNetworkFile(path, astrelon::Network));
    return path;
  }
  std::string File(const std::string& name, const std::string& text) {
    const std::string path = dir.file(name);
    WriteText(path, text);
    return path;
  }
  static std::string Lines(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
  }
  // Nine colour-matrix percentages.
  std::string Qzf(const std::string& diagonal, const std::string& other) {
    return File("m.qzf", Lines({diagonal, other, "0", other, diagonal, "0", "0", other, diagonal}));
  }
  std::string Wvl(const std::string& strength, const std::string& threshold, const std::string& gain) {
    return File("w.wvl", Lines({"1", strength, threshold, "1", threshold, "1", gain, "1", "1", gain, "loqual"}));
  }
  std::string Qfg(const std::vector<std::string>& gains) {
    std::vector<std::string> lines{std::to_string(gains.size())};
    lines.insert(lines.end(), gains.begin(), gains.end());
    return File("f.qfg", Lines(lines));
  }
  std::string Qzk(const std::string& a, const std::string& d) {
    TDistortionSettings s;
    s.A = a;
    s.D = d;
    const std::string path = dir.file("d.qzk");
    EXPECT_TRUE(WriteDistortionSettings(path, s));
    return path;
  }
  std::string Qcm(const std::string& rmul, const std::string& bias, const std::string& ratio) {
    TMosaicSettings s;
    s.Method = 0;
    s.Rmul = rmul;
    s.Bias = bias;
    s.RedRatio = ratio;
    const std::string path = dir.file("c.qcm");
    EXPECT_TRUE(WriteMosaicSettings(path, s));
    return path;
  }
  std::string Qzh(const std::string& gamma, const std::string& black, const std::string& white) {
    return File("h.qzh", Lines({gamma, black, white, "0", "65535", "gammanull ist jetzt in abgerundet/eckig",
                                "eckig", "RGBgamma"}));
  }

  // The dialogs' computations on the work image (a copy of it in slot 2 as the result).
  static bool WaveletDialog(const std::string& strength, const std::string& threshold, const std::string& gain) {
    TWaveletSettings s;
    s.Strength = strength;
    s.Thresholds = {threshold, "1", threshold, "1"};
    s.Gains = {gain, "1", "1", gain};
    TWaveletNumbers n;
    if (!WaveletNumbers(s, n)) return false;
    const TRectI whole{0, 0, W - 1, H - 1};
    EXPECT_TRUE(BuildPyramid(Work, 0, 4, whole));
    TWaveletFilterOptions o;
    o.Thresholds = n.Thresholds;
    EXPECT_TRUE(PyramidNoiseFilter(Work, 0, 1, o, Work, whole));
    CollapsePyramid(0, Work, 1, 4, n.Gains, whole);
    FreePyramid(0);
    return true;
  }
  // "Laden" of a curve file, then "&Berechnen", in 2D or 1D.
  static bool CurveFileDialog(const std::string& file, bool twoD) {
    TFrequencyCurveFile curve;
    if (ReadFrequencyCurveFile(file, curve) != TCurveFileRead::Read) return false;
    TFrequencyFilter filter;
    filter.TwoD = twoD;
    const TPlaneList planes = SelectedChannels(Work);
    EXPECT_TRUE(filter.ComputeFilterSpectrum(Work, planes, false));
    TFilterCurves& c = filter.Curves;
    const std::vector<double> gains = ResampleCurveGains(curve.Gains, c.K(), 1);
    for (size_t i = 0; i < gains.size(); ++i) c.C[i] = gains[i] * c.S[i];
    EXPECT_TRUE(filter.Apply(Work, Work, planes, {}));
    return true;
  }
  // The equaliser's typed value on the spectrum, then "&Berechnen".
  static bool EqualiserDialog(const std::string& value, TEqualiserPass pass) {
    const std::optional<double> v = TryStrToFloatDot(value);
    if (!v) return false;
    TFrequencyFilter filter;
    const TPlaneList planes = SelectedChannels(Work);
    EXPECT_TRUE(filter.ComputeFilterSpectrum(Work, planes, false));
    TEqualiser eq;
    eq.Pass = pass;
    eq.Value = *v;
    eq.Frequency = 0.01;
    EqualiseCurve(filter.Curves.B, filter.Curves.C, eq);
    EXPECT_TRUE(filter.Apply(Work, Work, planes, {}));
    return true;
  }
  // The PSF designer's typed PSF2 weight, the designed PSF made an image and the deconvolution by it.
  static bool DesignedPsfDeconvolution(double weight) {
    TPsfDesigner d;
    EXPECT_TRUE(BuildDesignerPsf(d, 1, 0, 2.0, 1.0));
    EXPECT_TRUE(BuildDesignerPsf(d, 2, 0, 5.0, 1.0));
    d.Psf2Weight = weight;
    CombineDesignerPsf(d);
    const int psf = PsfGridToNewSlot(d.DesignedPsf, "PSF.fit");
    EXPECT_GE(psf, 1);
    EXPECT_TRUE(std::all_of(d.DesignedPsf.begin(), d.DesignedPsf.end(), [](float v) { return std::isfinite(v); }));
    DeconvolutionBerechnen(Work, Work, psf, 10);
    FreeSlot(psf);
    return true;
  }
};

TEST_F(HugeValueTest, EveryTypedOrStoredNumberIsRefusedOrGivesAFiniteResult) {
  // `run` returns false when it refused by itself (a reader or a check said no).
  struct Case {
    std::string what;
    int planes;
    std::function<bool(HugeValueTest&)> run;
  };
  auto step = [](TBatchOp op, std::vector<std::string> values) {
    return [op, values](HugeValueTest& t) {
      t.RunStep(op, values);
      return true;
    };
  };
  auto fileStep = [](TBatchOp op, std::function<std::string(HugeValueTest&)> file, std::vector<std::string> more = {}) {
    return [op, file, more](HugeValueTest& t) {
      std::vector<std::string> values{file(t)};
      values.insert(values.end(), more.begin(), more.end());
      t.RunStep(op, values);
      return true;
    };
  };
  // The files of steps 13, 24 and 25 are read when the run starts, as there.
  auto readStep = [](TBatchOp op, std::function<std::string(HugeValueTest&)> file) {
    return [op, file](HugeValueTest& t) {
      const std::string name = file(t);
      std::string why;
      const bool read = op == 13   ? ReadMosaicSettings(name)
                        : op == 24 ? ReadColorCorrection(name, ColorCorrection, &why) == TColorCorrectionRead::Read
                                   : LoadDistortionSettings(name);
      if (!read) return false;
      t.RunStep(op, {name});
      return true;
    };
  };
  const std::vector<Case> cases{
      {"Bildgröße ändern 1e39", 1, step(3, {"1e39", "1"})},
      {"Bildgröße ändern 3e38", 1, step(3, {"3e38", "3e38"})},
      {"Wert addieren 1e39", 1, step(4, {"1e39"})},
      {"Wert addieren 3e38", 1, step(4, {"3e38"})},
      {"Wert multiplizieren 1e39", 1, step(5, {"1e39"})},
      {"Wert multiplizieren -3e38", 1, step(5, {"-3e38"})},
      {"Unten begrenzen 1e39", 1, step(7, {"1e39"})},
      {"Oben begrenzen -1e39", 1, step(8, {"-1e39"})},
      {"Blur 3e38", 1, step(9, {"3e38"})},
      {"Wert addieren RGB 1e39", 3, step(17, {"1e39", "0", "0"})},
      {"Wert multiplizieren RGB 3e38", 3, step(18, {"3e38", "-3e38", "1e39"})},
      {"Bild rotieren 3e38", 1, step(19, {"3e38"})},
      {"Hintergrund auf 0 setzen 1e39", 1, step(22, {"1e39"})},
      {"Hintergrund ebnen 3e38", 1, step(27, {"3e38"})},
      {"Farbrauschen filtern 3e38", 3, step(30, {"3e38", "3e38"})},
      {"Bildgröße x2 hi-f tri 1e39", 1, step(31, {"1e39"})},
      {"Farbsättigung 1e39", 3, step(35, {"1e39"})},
      {"Farbsättigung 3e38", 3, step(35, {"3e38"})},
      {"Zeilen gleichhell 3e38", 1, step(36, {"3e38"})},
      {"Rauschfilter 3e38", 1, step(39, {"3e38", "3e38", "3e38"})},
      {"Sternradius verkleinern 3e38", 1, step(40, {"3e38", "3e38", "3e38"})},
      {"Universeller NN-Filter Skalierung 3e38", 1,
       [](HugeValueTest& t) {
         MakeZeroNetwork(11, 8, {-5.0f, -5.0f, -5.0f, -5.0f});
         t.RunStep(32, {t.Network("n.nnf"), "3e38"});
         return true;
       }},
      {"Medianfilter 1e39", 1, step(43, {"1e39", "1e39"})},
      {"Histogramm Funktion Werte 1e39", 1,
       fileStep(34, [](HugeValueTest& t) { return t.Qzh("1", "0", "65535"); }, {"1e39", "-1e39", "1e39"})},
      {"Histogramm Funktion Werte 3e38", 1,
       fileStep(34, [](HugeValueTest& t) { return t.Qzh("1", "0", "65535"); }, {"-3e38", "3e38", "3e38"})},
      {".qzh 3e38", 1,
       fileStep(34, [](HugeValueTest& t) { return t.Qzh("3e38", "-3e38", "3e38"); }, {"0", "255", "65535"})},
      {".qcm 1e39", 1, readStep(13, [](HugeValueTest& t) { return t.Qcm("1e39", "0", "1.000"); })},
      {".qcm 3e38", 1, readStep(13, [](HugeValueTest& t) { return t.Qcm("3e38", "3e38", "1.000"); })},
      {".qcm Größenverhältnis 3e38", 1, readStep(13, [](HugeValueTest& t) { return t.Qcm("1", "0", "3e38"); })},
      {".qzf 1e39", 3, readStep(24, [](HugeValueTest& t) { return t.Qzf("1e39", "0"); })},
      {".qzf 3e38", 3, readStep(24, [](HugeValueTest& t) { return t.Qzf("3e38", "-3e38"); })},
      {".qzf 1e30", 3, readStep(24, [](HugeValueTest& t) { return t.Qzf("1e30", "1e30"); })},
      {".qzk 1e39", 1, readStep(25, [](HugeValueTest& t) { return t.Qzk("1e39", "1"); })},
      {".qzk 3e38", 1, readStep(25, [](HugeValueTest& t) { return t.Qzk("3e38", "3e38"); })},
      {".wvl Verstärkung 1e39", 1, fileStep(41, [](HugeValueTest& t) { return t.Wvl("1", "1", "1e39"); })},
      {".wvl Verstärkung 3e38", 1, fileStep(41, [](HugeValueTest& t) { return t.Wvl("1", "1", "3e38"); })},
      {".wvl Schwelle 1e200 x 1e200", 1, fileStep(41, [](HugeValueTest& t) { return t.Wvl("1e200", "1e200", "1"); })},
      {".wvl Schwelle 3e38 x 3e38", 1, fileStep(41, [](HugeValueTest& t) { return t.Wvl("3e38", "3e38", "1"); })},
      {".qfg 1e39", 1, fileStep(42, [](HugeValueTest& t) { return t.Qfg({"1", "1e39", "1"}); })},
      {".qfg 3e38", 1, fileStep(42, [](HugeValueTest& t) { return t.Qfg({"3e38", "1", "3e38"}); })},
      {"Wavelet-Dialog Verstärkung 1e39", 1, [](HugeValueTest&) { return WaveletDialog("1", "1", "1e39"); }},
      {"Wavelet-Dialog Verstärkung 3e38", 1, [](HugeValueTest&) { return WaveletDialog("1", "1", "3e38"); }},
      {"Wavelet-Dialog Schwelle 1e200 x 1e200", 1,
       [](HugeValueTest&) { return WaveletDialog("1e200", "1e200", "1"); }},
      {"Frequenzfilter 2D Laden 1e39", 1,
       [](HugeValueTest& t) { return CurveFileDialog(t.Qfg({"1", "1e39", "1"}), true); }},
      {"Frequenzfilter 2D Laden 3e38", 1,
       [](HugeValueTest& t) { return CurveFileDialog(t.Qfg({"3e38", "1", "3e38"}), true); }},
      {"Frequenzfilter 1D Laden 3e38", 1,
       [](HugeValueTest& t) { return CurveFileDialog(t.Qfg({"3e38", "1", "3e38"}), false); }},
      {"Equaliser invTief 80", 1, [](HugeValueTest&) { return EqualiserDialog("80", TEqualiserPass::InverseLow); }},
      {"Equaliser Band 1e39", 1, [](HugeValueTest&) { return EqualiserDialog("1e39", TEqualiserPass::Band); }},
      {"Equaliser Band 1000", 1, [](HugeValueTest&) { return EqualiserDialog("1000", TEqualiserPass::Band); }},
      {"PSF2-Gewicht 3e38", 1, [](HugeValueTest&) { return DesignedPsfDeconvolution(3e38); }},
      {"Verschiebungs-schärfen 3e38", 1,
       [](HugeValueTest&) {
         EXPECT_TRUE(CopyImageSlot(Work, 2));
         return SharpenByGradientShift(2, Work, 3e38, 3e38);
       }},
      {"Bildabhängiges V-Schärfen 3e38", 1,
       [](HugeValueTest&) {
         EXPECT_TRUE(CopyImageSlot(Work, 2));
         return ShiftSharpenImage(2, Work, 3e38, 3e38);
       }},
      {"CFilter 3e38", 1,
       [](HugeValueTest&) {
         SharpenNeighbours3(Work, 3e38, -3e38, 3e38, 1);
         return true;
       }},
      {"Einstellung Netzwerkini 3e38", 1,
       [](HugeValueTest&) {
         const double kept = Settings.NetworkSetting;
         Settings.NetworkSetting = 3e38;
         InitNetwork(8, 8, 20, 3);
         Settings.NetworkSetting = kept;
         const std::vector<float>& w1 = astrelon::Network.W1;
         EXPECT_TRUE(std::all_of(w1.begin(), w1.end(), [](float v) { return std::fabs(v) < 100; }));
         return true;
       }},
      {"Rauschen hinzufügen 3e38", 1,
       [](HugeValueTest&) {
         TNoiseSettings s;
         s.Amount = 3e38;
         EXPECT_TRUE(CopyImageSlot(Work, 2));
         return AddSyntheticNoise(2, Work, s, 5);
       }},
  };
  const TColorMatrix matrix = ColorCorrection;
  const TDistortionSettings distortion = DistortionSettings;
  const TMosaicSettings mosaic = MosaicSettings;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sky(c.planes);
    const std::vector<float> before = PlaneValues(Work, 1);
    ui.Messages.clear();
    bool refused = false;
    try {
      refused = !c.run(*this);
    } catch (const TBatchStepError&) {
      refused = true;
    }
    refused = refused || !ui.Messages.empty();
    ASSERT_TRUE(SlotInUse(Work));
    if (refused) {
      EXPECT_EQ(PlaneValues(Work, 1), before);
    }
    const TImageSlot& im = Store.Image[Work];
    size_t bad = 0;
    for (int p = 1; p <= im.PlaneCount; ++p)
      for (float v : PlaneValues(Work, p)) bad += !std::isfinite(v);
    EXPECT_EQ(bad, 0u) << "of " << im.PixelCount() * size_t(im.PlaneCount) << " values";
    for (int s = 2; s < 49; ++s)
      if (SlotInUse(s)) FreeSlot(s);
  }
  ColorCorrection = matrix;
  DistortionSettings = distortion;
  MosaicSettings = mosaic;
}

}  // namespace
}  // namespace astrelon::test
