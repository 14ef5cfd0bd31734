#include "filters/enlargement/upscale_x2_triangulation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <system_error>
#include <thread>

#include "filters/enlargement/enlargement_memory.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/big_buffers.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// The midpoint of two pixels: their mean, the valid one of them, or blank.
inline float Mid(float a, float b) {
  const bool va = IsValidPixel(a), vb = IsValidPixel(b);
  if (va && vb) return (a + b) * 0.5f;
  return va ? a : (vb ? b : BlankPixel);
}

// The mean of the valid ones of four pixels, added in a fixed order with a
// blank adding 0, or blank.
inline float MeanOfFour(float a, float b, float c, float d) {
  const float v[4] = {a, b, c, d};
  float sum = 0, count = 0;
  for (float x : v) {
    const bool valid = IsValidPixel(x);
    sum += valid ? x : 0.0f;
    count += valid ? 1.0f : 0.0f;
  }
  return count > 0 ? sum / count : BlankPixel;
}

inline float Centre(uint8_t code, float a, float b, float c, float d) {
  if (code == CellOtherDiagonal) return Mid(b, c);
  if (code == CellMainDiagonal) return Mid(a, d);
  return MeanOfFour(a, b, c, d);
}

void RawCodesScalar(const float* r0, const float* r1, uint8_t* out, int32_t from, int32_t cw, float t) {
  for (int32_t x = from; x < cw; ++x) {
    const float d1 = std::fabs(r0[x] - r1[x + 1]), d2 = std::fabs(r0[x + 1] - r1[x]);
    out[x] = uint8_t(int(d1 >= d2 - t) + int(d1 > d2 + t));
  }
}

void SmoothCellsScalar(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out, int32_t from,
                       int32_t to) {
  for (int32_t x = from; x < to; ++x) {
    const uint8_t n[8] = {up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x + 1], down[x - 1], down[x], down[x + 1]};
    int k0 = 0, k2 = 0;
    for (uint8_t c : n) {
      k0 += c == CellMainDiagonal;
      k2 += c == CellOtherDiagonal;
    }
    const int k1 = 8 - k0 - k2;
    out[x] = k2 > k0 + 3   ? uint8_t(CellOtherDiagonal)
             : k0 > k2 + 3 ? uint8_t(CellMainDiagonal)
             : k1 > 5      ? uint8_t(CellMeanOfFour)
                           : mid[x];
  }
}

void EvenRowScalar(const float* r0, int32_t w, int32_t from, float* out0) {
  for (int32_t x = from; x < w; ++x) {
    const float a = r0[x];
    out0[2 * x] = a;
    out0[2 * x + 1] = Mid(a, r0[std::min(x + 1, w - 1)]);
  }
}

void OddRowScalar(const float* r0, const float* r1, const uint8_t* codes, int32_t codeCount, int32_t w, int32_t from,
                  float* out1) {
  for (int32_t x = from; x < w; ++x) {
    const int32_t xn = std::min(x + 1, w - 1);
    const float a = r0[x], b = r0[xn], c = r1[x], d = r1[xn];
    const uint8_t code = codeCount > 0 ? codes[std::min(x, codeCount - 1)] : uint8_t(CellMainDiagonal);
    out1[2 * x] = Mid(a, c);
    out1[2 * x + 1] = Centre(code, a, b, c, d);
  }
}

#if ASTRELON_HAVE_AVX2
// Thirty-two cells at a time; returns the first cell left.
ASTRELON_AVX2 int32_t RawCodesAvx2(const float* r0, const float* r1, uint8_t* out, int32_t cw, float t) {
  const __m256 sign = _mm256_set1_ps(-0.0f), tv = _mm256_set1_ps(t);
  const __m256i one = _mm256_set1_epi32(1), order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int32_t x = 0;
  for (; x + 32 <= cw; x += 32) {
    __m256i c[4];
    for (int j = 0; j < 4; ++j) {
      const int32_t k = x + 8 * j;
      const __m256 d1 = _mm256_andnot_ps(sign, _mm256_sub_ps(_mm256_loadu_ps(r0 + k), _mm256_loadu_ps(r1 + k + 1)));
      const __m256 d2 = _mm256_andnot_ps(sign, _mm256_sub_ps(_mm256_loadu_ps(r0 + k + 1), _mm256_loadu_ps(r1 + k)));
      const __m256i ge = _mm256_castps_si256(_mm256_cmp_ps(d1, _mm256_sub_ps(d2, tv), _CMP_GE_OQ));
      const __m256i gt = _mm256_castps_si256(_mm256_cmp_ps(d1, _mm256_add_ps(d2, tv), _CMP_GT_OQ));
      c[j] = _mm256_add_epi32(_mm256_and_si256(ge, one), _mm256_and_si256(gt, one));
    }
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(c[0], c[1]), _mm256_packs_epi32(c[2], c[3]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_permutevar8x32_epi32(bytes, order));
  }
  return x;
}

// Thirty-two cells at a time; the counts as bytes (a matching byte is -1).
ASTRELON_AVX2 int32_t SmoothCellsAvx2(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out,
                                      int32_t from, int32_t to) {
  const __m256i zero = _mm256_setzero_si256(), two = _mm256_set1_epi8(2), one = _mm256_set1_epi8(1);
  const __m256i three = _mm256_set1_epi8(3), five = _mm256_set1_epi8(5), eight = _mm256_set1_epi8(8);
  int32_t x = from;
  for (; x + 32 <= to; x += 32) {
    const __m256i n[8] = {
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(up + x - 1)),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(up + x)),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(up + x + 1)),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mid + x - 1)),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mid + x + 1)),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(down + x - 1)),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(down + x)),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(down + x + 1)),
    };
    __m256i k0 = zero, k2 = zero;
    for (const __m256i& c : n) {
      k0 = _mm256_sub_epi8(k0, _mm256_cmpeq_epi8(c, zero));
      k2 = _mm256_sub_epi8(k2, _mm256_cmpeq_epi8(c, two));
    }
    const __m256i k1 = _mm256_sub_epi8(_mm256_sub_epi8(eight, k0), k2);
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mid + x));
    const __m256i takeTwo = _mm256_cmpgt_epi8(k2, _mm256_add_epi8(k0, three));
    const __m256i takeZero = _mm256_cmpgt_epi8(k0, _mm256_add_epi8(k2, three));
    const __m256i takeOne = _mm256_cmpgt_epi8(k1, five);
    __m256i r = _mm256_blendv_epi8(raw, one, takeOne);
    r = _mm256_blendv_epi8(r, zero, takeZero);
    r = _mm256_blendv_epi8(r, two, takeTwo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), r);
  }
  return x;
}

ASTRELON_AVX2 inline __m256 Mid8(__m256 a, __m256 b, __m256 va, __m256 vb, __m256 blank) {
  const __m256 mean = _mm256_mul_ps(_mm256_add_ps(a, b), _mm256_set1_ps(0.5f));
  const __m256 one = _mm256_blendv_ps(_mm256_blendv_ps(blank, b, vb), a, va);
  return _mm256_blendv_ps(one, mean, _mm256_and_ps(va, vb));
}

// Two vectors interleaved into sixteen values: p0 q0 p1 q1 ...
ASTRELON_AVX2 inline void StoreInterleaved(float* out, __m256 p, __m256 q) {
  const __m256 lo = _mm256_unpacklo_ps(p, q), hi = _mm256_unpackhi_ps(p, q);
  _mm256_storeu_ps(out, _mm256_permute2f128_ps(lo, hi, 0x20));
  _mm256_storeu_ps(out + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
}

// Eight source pixels at a time while their right neighbours lie inside the
// row; returns the first column left for the scalar loop.
ASTRELON_AVX2 int32_t EvenRowAvx2(const float* r0, int32_t w, float* out0) {
  const __m256 limit = _mm256_set1_ps(BlankLimit), blank = _mm256_set1_ps(BlankPixel);
  int32_t x = 0;
  for (; x + 8 <= w - 1; x += 8) {
    const __m256 a = _mm256_loadu_ps(r0 + x), b = _mm256_loadu_ps(r0 + x + 1);
    const __m256 va = _mm256_cmp_ps(a, limit, _CMP_GT_OQ), vb = _mm256_cmp_ps(b, limit, _CMP_GT_OQ);
    StoreInterleaved(out0 + 2 * x, a, Mid8(a, b, va, vb, blank));
  }
  return x;
}

// The same while the cells x .. x + 7 exist (and with them the right neighbours).
ASTRELON_AVX2 int32_t OddRowAvx2(const float* r0, const float* r1, const uint8_t* codes, int32_t codeCount,
                                 float* out1) {
  const __m256 limit = _mm256_set1_ps(BlankLimit), blank = _mm256_set1_ps(BlankPixel);
  const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
  int32_t x = 0;
  for (; x + 8 <= codeCount; x += 8) {
    const __m256 a = _mm256_loadu_ps(r0 + x), b = _mm256_loadu_ps(r0 + x + 1);
    const __m256 c = _mm256_loadu_ps(r1 + x), d = _mm256_loadu_ps(r1 + x + 1);
    const __m256 va = _mm256_cmp_ps(a, limit, _CMP_GT_OQ), vb = _mm256_cmp_ps(b, limit, _CMP_GT_OQ);
    const __m256 vc = _mm256_cmp_ps(c, limit, _CMP_GT_OQ), vd = _mm256_cmp_ps(d, limit, _CMP_GT_OQ);
    const __m256 ac = Mid8(a, c, va, vc, blank);
    const __m256 ad = Mid8(a, d, va, vd, blank), bc = Mid8(b, c, vb, vc, blank);
    __m256 sum = _mm256_add_ps(zero, _mm256_and_ps(va, a));
    sum = _mm256_add_ps(sum, _mm256_and_ps(vb, b));
    sum = _mm256_add_ps(sum, _mm256_and_ps(vc, c));
    sum = _mm256_add_ps(sum, _mm256_and_ps(vd, d));
    __m256 count = _mm256_add_ps(zero, _mm256_and_ps(va, one));
    count = _mm256_add_ps(count, _mm256_and_ps(vb, one));
    count = _mm256_add_ps(count, _mm256_and_ps(vc, one));
    count = _mm256_add_ps(count, _mm256_and_ps(vd, one));
    const __m256 mean =
        _mm256_blendv_ps(blank, _mm256_div_ps(sum, count), _mm256_cmp_ps(count, zero, _CMP_GT_OQ));
    const __m256i code = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(codes + x)));
    const __m256 isMain = _mm256_castsi256_ps(_mm256_cmpeq_epi32(code, _mm256_setzero_si256()));
    const __m256 isOther = _mm256_castsi256_ps(_mm256_cmpeq_epi32(code, _mm256_set1_epi32(CellOtherDiagonal)));
    StoreInterleaved(out1 + 2 * x, ac, _mm256_blendv_ps(_mm256_blendv_ps(mean, ad, isMain), bc, isOther));
  }
  return x;
}
#endif

// Runs `estimate` on a thread of its own while the caller goes on (when more
// than one thread is wanted and one can be had), else at once; the thread is
// joined at the latest when the object goes, and its exception is rethrown by
// Wait.
class TBeside {
public:
  TBeside(std::function<void()> estimate, bool apart) : work_(std::move(estimate)) {
    if (apart) {
      try {
        thread_ = StartBandThread([this] { Run(); });
        return;
      } catch (const std::system_error&) {
        // No thread to be had: it runs here.
      }
    }
    Run();
  }
  ~TBeside() {
    if (thread_.joinable()) thread_.join();
  }
  TBeside(const TBeside&) = delete;
  TBeside& operator=(const TBeside&) = delete;
  void Wait() {
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(error_);
  }

private:
  void Run() {
    try {
      work_();
    } catch (...) {
      error_ = std::current_exception();
    }
  }
  std::function<void()> work_;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace

void RawCellCodeRow(const float* row0, const float* row1, int32_t w, float threshold, uint8_t* out, bool vector) {
  int32_t x = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) x = RawCodesAvx2(row0, row1, out, w - 1, threshold);
#else
  (void)vector;
#endif
  RawCodesScalar(row0, row1, out, x, w - 1, threshold);
}

std::vector<uint8_t> RawCellCodes(std::span<const float> grey, int32_t w, int32_t h, float threshold,
                                  bool vector) {
  if (w < 2 || h < 2 || grey.size() < size_t(w) * size_t(h)) return {};
  const size_t cw = size_t(w - 1);
  std::vector<uint8_t> codes(cw * size_t(h - 1));
  for (int32_t y = 0; y < h - 1; ++y) {
    const float* r0 = grey.data() + size_t(y) * size_t(w);
    RawCellCodeRow(r0, r0 + w, w, threshold, codes.data() + size_t(y) * cw, vector);
  }
  return codes;
}

void SmoothCellCodeRow(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int32_t w, bool inner,
                       uint8_t* row, bool vector) {
  const int32_t cw = w - 1;
  if (cw < 1) return;
  std::copy(mid, mid + cw, row);
  if (!inner || w < 4) return;
  const int32_t to = w - 2;
  int32_t x = 1;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) x = SmoothCellsAvx2(up, mid, down, row, 1, to);
#else
  (void)vector;
#endif
  SmoothCellsScalar(up, mid, down, row, x, to);
}

void TriangulateEvenRow(const float* row0, int32_t w, float* out0, bool vector) {
  int32_t x = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) x = EvenRowAvx2(row0, w, out0);
#else
  (void)vector;
#endif
  EvenRowScalar(row0, w, x, out0);
}

void TriangulateOddRow(const float* row0, const float* row1, std::span<const uint8_t> codes, int32_t w, float* out1,
                       bool vector) {
  const int32_t codeCount = int32_t(codes.size());
  int32_t x = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector) && codeCount > 0) x = OddRowAvx2(row0, row1, codes.data(), codeCount, out1);
#else
  (void)vector;
#endif
  OddRowScalar(row0, row1, codes.data(), codeCount, w, x, out1);
}

bool UpscaleX2Triangulation(int source, int destination, const TEnlargementPoll& poll) {
  AbortRequested = 0;
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  const int32_t w = s.Width, h = s.Height, planes = s.PlaneCount;
  const size_t n = s.PixelCount();
  if (w < 1 || h < 1 || planes < 1 || planes > 3) return false;
  for (int p = 1; p <= planes; ++p)
    if (s.Planes[size_t(p)].size() < n) return false;
  const bool colour = s.IsColor && planes >= 3;
  // The result and the grey copy of a colour source.
  RequireX2EnlargementMemory(source, colour ? 1 : 0);
  const bool vector = Sse2Enabled;
  const int64_t rowPixels = 2 * int64_t(w) * planes;  // per pass and source row

  // The noise (for the threshold) and the grey image of a colour source are
  // made beside the even rows, which need neither.
  float noise = 0;
  TPlane grey;
  TBeside beside(
      [&] {
        noise = EstimatePlaneNoise(source, colour ? 2 : 1);
        if (colour) grey = GreyPlaneOf(source);
      },
      FilterThreads(rowPixels * h) > 1);

  // The destination's planes take the result where their storage already
  // holds it (a repeated run); otherwise new planes are made before the
  // destination changes, so that a lack of memory leaves it as it was.
  TImageSlot& d = Store.Image[size_t(destination)];
  bool inPlace = destination != source;
  for (int p = 1; p <= planes; ++p) inPlace = inPlace && d.Planes[size_t(p)].capacity() >= 4 * n;
  std::array<TPlane, 4> out;
  for (int p = 1; p <= planes; ++p) {
    if (inPlace) {
      out[size_t(p)].swap(d.Planes[size_t(p)]);
      out[size_t(p)].resize(4 * n);
      continue;
    }
    out[size_t(p)].resize(4 * n);
    AdviseHugePages(out[size_t(p)].data(), out[size_t(p)].size() * sizeof(float));
  }
  const size_t w2 = 2 * size_t(w);
  auto input = [&](int p, int64_t y) { return s.Planes[size_t(p)].data() + size_t(y) * size_t(w); };
  auto output = [&](int p, int64_t y) { return out[size_t(p)].data() + size_t(y) * w2; };

  bool finished = ForEachChunk(
      0, h, rowPixels,
      [&](int64_t first, int64_t last) {
        for (int64_t y = first; y < last; ++y)
          for (int p = 1; p <= planes; ++p) TriangulateEvenRow(input(p, y), w, output(p, 2 * y), vector);
      },
      [&](int64_t last) { return ContinueEnlarging(poll, int(50 * (last + 1) / h)); });
  beside.Wait();
  const float threshold = 3.0f * noise;
  const std::span<const float> codePlane = colour ? std::span<const float>(grey) : s.Plane(1);

  if (finished)
    finished = ForEachChunk(
        0, h, rowPixels,
        [&](int64_t first, int64_t last) {
          // The raw codes of cell rows y - 1, y and y + 1 in a ring of three.
          const int32_t cw = std::max(w - 1, 0), cells = h - 1;
          std::vector<uint8_t> ring(size_t(3) * size_t(cw));
          std::vector<uint8_t> codes(static_cast<size_t>(cw));
          auto raw = [&](int64_t k) { return ring.data() + size_t((k + 3) % 3) * size_t(cw); };
          auto make = [&](int64_t k) {
            if (k >= 0 && k < cells) {
              const float* r0 = codePlane.data() + size_t(k) * size_t(w);
              RawCellCodeRow(r0, r0 + w, w, threshold, raw(k), vector);
            }
          };
          if (cw > 0)
            for (int64_t k = first - 1; k <= first; ++k) make(k);
          for (int64_t y = first; y < last; ++y) {
            const bool hasCells = y < cells && cw > 0;
            if (hasCells) {
              make(y + 1);
              SmoothCellCodeRow(raw(y - 1), raw(y), raw(y + 1), w, y >= 1 && y <= h - 3, codes.data(), vector);
            }
            const int64_t below = std::min<int64_t>(y + 1, h - 1);
            for (int p = 1; p <= planes; ++p)
              TriangulateOddRow(input(p, y), input(p, below),
                                hasCells ? std::span<const uint8_t>(codes) : std::span<const uint8_t>(), w,
                                output(p, 2 * y + 1), vector);
          }
        },
        [&](int64_t last) { return ContinueEnlarging(poll, int(50 + 50 * (last + 1) / h)); });

  std::array<TPlane, 4> old;
  for (int p = 1; p <= planes; ++p) {
    old[size_t(p)] = std::move(d.Planes[size_t(p)]);
    d.Planes[size_t(p)] = std::move(out[size_t(p)]);
  }
  ReleaseInBackground(std::move(old), n * sizeof(float) * size_t(planes));
  d.Width = 2 * w;
  d.Height = 2 * h;
  d.PlaneCount = planes;
  return finished;
}

}  // namespace astrelon
