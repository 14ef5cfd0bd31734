#include "frequency/deconvolution/deconvolution_psf.h"

#include <algorithm>
#include <stdexcept>

#include "frequency/deconvolution/psf_images.h"
#include "kernels/fft/fft_plan.h"
#include "kernels/fft/fft_workspace.h"
#include "kernels/fft/spectrum_slots.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

TPsfCopy CopyPsfImage(int slot) {
  TPsfCopy c;
  if (!SlotInUse(slot)) return c;
  const TImageSlot& im = Store.Image[slot];
  const int planes = std::clamp(im.PlaneCount, 0, 3);
  if (im.Width < 1 || im.Height < 1) return c;
  for (int p = 1; p <= planes; ++p)
    if (im.Planes[p].size() < im.PixelCount()) return c;
  c.Width = im.Width;
  c.Height = im.Height;
  c.Colour = im.IsColor != 0 && planes == 3;
  for (int p = 1; p <= planes; ++p) {
    const float black = float(PsfBlackLevel(slot, p));
    std::vector<float>& out = c.Planes[size_t(p)];
    out.resize(im.PixelCount());
    std::transform(im.Planes[p].begin(), im.Planes[p].begin() + ptrdiff_t(im.PixelCount()), out.begin(),
                   [black](float v) { return IsValidPixel(v) ? v - black : 0.0f; });
  }
  c.PlaneCount = planes;
  return c;
}

TPsfRowSpectra PsfRowSpectra(const TPsfCopy& psf, int32_t Nx, int32_t Ny) {
  TPsfRowSpectra s;
  if (psf.PlaneCount < 1 || Nx < 2 || Ny < 1) return s;
  const auto plan = FftPlanFor(Nx);
  if (!plan) throw std::logic_error("Interner Fehler: Für diese Transformationslänge gibt es keinen Plan.");
  // Columns: a PSF wider than the row is cropped symmetrically to Nx + 2.
  const int32_t x1 = psf.Width > Nx + 2 ? (psf.Width - (Nx + 2)) / 2 : 0;
  const int32_t cx = psf.CentreX() - x1;
  // Rows: at most Ny, around the centre row.
  const int32_t y1 = psf.Height > Ny ? (psf.Height - Ny) / 2 : 0;
  s.Nx = Nx;
  s.Rows = std::min(psf.Height, Ny);
  s.CentreRow = psf.CentreY() - y1;
  s.PlaneCount = psf.PlaneCount;
  s.Colour = psf.Colour;
  const int64_t W = s.Width(), half = Nx / 2 + 1;
  const double scale = 1.0 / Nx;
  for (int p = 1; p <= psf.PlaneCount; ++p) {
    std::vector<float>& out = s.Planes[size_t(p)];
    out.assign(size_t(s.Rows) * size_t(W), 0.0f);
    const std::vector<float>& in = psf.Planes[size_t(p)];
    ForEachBand(s.Rows, SpectrumThreads(s.Rows, Nx), [&](int64_t r0, int64_t r1) {
      const size_t n = size_t(Nx);
      std::vector<double> line(n), re(n), im(n);
      for (int64_t r = r0; r < r1; ++r) {
        const float* row = in.data() + (r + y1) * int64_t(psf.Width);
        for (int32_t j = 0; j < Nx; ++j) {
          const int64_t x = x1 + (int64_t(cx) + j) % Nx;
          line[size_t(j)] = x < psf.Width ? double(row[x]) : 0.0;
        }
        MixedRadixRealFft(*plan, line, re, im);
        float* o = out.data() + r * W;
        for (int64_t k = 0; k < half; ++k) {
          o[k] = float(re[size_t(k)] * scale);
          o[half + k] = float(im[size_t(k)] * scale);
        }
      }
    });
  }
  return s;
}

}  // namespace astrelon
