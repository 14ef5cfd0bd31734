#pragma once
// The point-spread function as the deconvolution uses it: a copy of the PSF
// image taken before any work starts, then fitted to the transform and turned
// into the spectra of its rows.
#include <array>
#include <cstdint>
#include <vector>

namespace astrelon {

// The PSF image's planes, each less its black level (PsfBlackLevel), blank
// pixels 0. No planes when the slot is not in use or holds no pixels.
struct TPsfCopy {
  int32_t Width = 0, Height = 0;
  int PlaneCount = 0;
  bool Colour = false;
  std::array<std::vector<float>, 4> Planes;  // index 1..PlaneCount, row-major
  int32_t CentreX() const { return (Width - 1) / 2; }
  int32_t CentreY() const { return (Height - 1) / 2; }
};
TPsfCopy CopyPsfImage(int slot);

// The row spectra of the PSF for an Nx × Ny transform. The PSF is fitted to
// rows of width Nx + 2: a narrower one padded with zeros on the right, a wider
// one cropped symmetrically (its centre column moving with the crop); a PSF of
// more than Ny rows keeps the Ny rows around its centre row. Each kept row
// gives Nx values from its centre column on, wrapping around at Nx, and their
// real transform: bin k (0 .. Nx/2) as real part / Nx at k and imaginary part
// / Nx at Nx/2 + 1 + k.
struct TPsfRowSpectra {
  int32_t Nx = 0;
  int32_t Rows = 0;       // kept rows, at most Ny
  int32_t CentreRow = 0;  // the PSF's centre row among them
  int PlaneCount = 0;
  bool Colour = false;
  std::array<std::vector<float>, 4> Planes;  // Rows × (Nx + 2) values each
  int32_t Width() const { return Nx + 2; }
};
// std::bad_alloc when it does not fit in memory.
TPsfRowSpectra PsfRowSpectra(const TPsfCopy& psf, int32_t Nx, int32_t Ny);

}  // namespace astrelon
