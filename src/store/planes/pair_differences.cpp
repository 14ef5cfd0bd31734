#include "store/planes/pair_differences.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/simd_support.h"
#include "store/image_slot.h"

// The rounds of the iteration need sums over the pairs whose square lies below a
// limit that shrinks from round to round. Instead of reading the whole run for
// every round, the first round sorts the pairs by a split point a below the
// limits expected at the end (predicted from a sample of the run): squares below
// a go into the lane sums, squares from a up to the round's limit into a buffer.
// A later round with a limit between a and that first limit is then the lane sum
// plus the buffered squares below its limit. Every path (scalar, SSE2, AVX2)
// makes the same decisions and adds in the same order, so the figures agree.

namespace astrelon {

namespace {

// The round's limit 4.5 x previous as the smallest float at or above it, so that
// a float square lies below the float limit exactly when it lies below the real
// one (a limit rounded down would drop squares equal to the rounded value).
float ClipLimit(double previous) {
  const double limit = 4.5 * previous;
  if (!(limit <= double(std::numeric_limits<float>::max()))) return std::numeric_limits<float>::infinity();
  float f = float(limit);
  if (double(f) < limit) f = std::nextafter(f, std::numeric_limits<float>::infinity());
  return f;
}

// Runs with fewer pairs take plain passes; buffering pays off on large runs.
constexpr int64_t BufferedMinPairs = int64_t(1) << 17;

struct TPassResult {
  TSumLanes Lanes{};
  int64_t Count = 0;
  double Sum() const { return ReduceSumLanes(Lanes); }
};

// Squares from the split point up to the limit, in pair order. Size counts every
// such pair, stored or not; more than Capacity means the buffer overflowed.
struct TSplitBuffer {
  std::unique_ptr<float[]> Data;
  int64_t Allocated = 0;
  int64_t Capacity = 0;
  int64_t Size = 0;
  bool Overflowed() const { return Size > Capacity; }
  // Room for one eight-wide store past the capacity.
  void Reserve(int64_t capacity) {
    if (!Data || capacity > Allocated) {
      Data = std::make_unique_for_overwrite<float[]>(size_t(capacity) + 8);
      Allocated = capacity;
    }
    Capacity = capacity;
    Size = 0;
  }
};

// Which valid pairs a pass takes (Clip: only squares below the limit) and whether
// squares from the split point on go into the buffer instead of the lanes.
struct TPassKind {
  bool Clip;
  bool Split;
};
constexpr TPassKind PassAll{false, false};
constexpr TPassKind PassBelow{true, false};
constexpr TPassKind PassSplit{true, true};
constexpr TPassKind PassAllSplit{false, true};

// Number of pairs from 0 that blocks of 16 cover without reading past the run.
int64_t BlockedPairs(size_t size, int64_t pairs, int gap) {
  int64_t k = (pairs / 16) * 16;
  const int64_t extra = gap == 2 ? 2 : 1;
  while (k > 0 && uint64_t((k - 16) * gap + 16 * gap + extra) > size) k -= 16;
  return k;
}

template <int Gap, TPassKind Kind>
void ScalarPairs(const float* v, int64_t first, int64_t pairs, float limit, float split, TPassResult& r,
                 TSplitBuffer* buf) {
  for (int64_t k = first; k < pairs; ++k) {
    const float a = v[k * Gap];
    const float b = v[k * Gap + Gap];
    const float d = a - b;
    const float q = d * d;
    bool ok = IsValidPixel(a) && IsValidPixel(b);
    if constexpr (Kind.Clip) ok = ok && q < limit;
    bool low = ok;
    if constexpr (Kind.Split) {
      low = ok && q < split;
      if (ok && !(q < split)) {
        if (buf->Size < buf->Capacity) buf->Data[size_t(buf->Size)] = q;
        ++buf->Size;
      }
    }
    r.Lanes[size_t(k % SumLaneCount)] += low ? double(q) : 0.0;
    r.Count += low;
  }
}

#if ASTRELON_HAVE_SSE2
// Sixteen pairs per step as four vectors; vector j holds lanes 4j..4j+3, kept in
// s[2j] and s[2j+1].
template <int Gap, TPassKind Kind>
int64_t Sse2Pairs(const float* v, int64_t done, float limit, float split, TPassResult& r, TSplitBuffer* buf) {
  const __m128 blank = _mm_set1_ps(BlankLimit);
  const __m128 lim = _mm_set1_ps(limit);
  const __m128 spl = _mm_set1_ps(split);
  __m128d s[8];
  for (int j = 0; j < 8; ++j) s[j] = _mm_loadu_pd(&r.Lanes[size_t(2 * j)]);
  int64_t k = 0;
  while (k < done) {
    // Lane counters are flushed before they could overflow.
    const int64_t chunkEnd = std::min(done, k + (int64_t(1) << 28));
    __m128i cnt = _mm_setzero_si128();
    for (; k < chunkEnd; k += 16)
      for (int j = 0; j < 4; ++j) {
        const float* p = v + (k + 4 * j) * Gap;
        __m128 a, b;
        if constexpr (Gap == 1) {
          a = _mm_loadu_ps(p);
          b = _mm_loadu_ps(p + 1);
        } else {
          constexpr int even = _MM_SHUFFLE(2, 0, 2, 0);
          a = _mm_shuffle_ps(_mm_loadu_ps(p), _mm_loadu_ps(p + 4), even);
          b = _mm_shuffle_ps(_mm_loadu_ps(p + 2), _mm_loadu_ps(p + 6), even);
        }
        const __m128 d = _mm_sub_ps(a, b);
        const __m128 q = _mm_mul_ps(d, d);
        __m128 ok = _mm_and_ps(_mm_cmpgt_ps(a, blank), _mm_cmpgt_ps(b, blank));
        if constexpr (Kind.Clip) ok = _mm_and_ps(ok, _mm_cmplt_ps(q, lim));
        __m128 low = ok;
        if constexpr (Kind.Split) {
          const __m128 lt = _mm_cmplt_ps(q, spl);
          low = _mm_and_ps(ok, lt);
          const int m = _mm_movemask_ps(_mm_andnot_ps(lt, ok));
          if (m != 0) {
            alignas(16) float t[4];
            _mm_store_ps(t, q);
            for (int l = 0; l < 4; ++l)
              if (m & (1 << l)) {
                if (buf->Size < buf->Capacity) buf->Data[size_t(buf->Size)] = t[l];
                ++buf->Size;
              }
          }
        }
        const __m128 qm = _mm_and_ps(low, q);
        s[2 * j] = _mm_add_pd(s[2 * j], _mm_cvtps_pd(qm));
        s[2 * j + 1] = _mm_add_pd(s[2 * j + 1], _mm_cvtps_pd(_mm_movehl_ps(qm, qm)));
        cnt = _mm_sub_epi32(cnt, _mm_castps_si128(low));
      }
    alignas(16) int32_t c[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), cnt);
    r.Count += int64_t(c[0]) + c[1] + c[2] + c[3];
  }
  for (int j = 0; j < 8; ++j) _mm_storeu_pd(&r.Lanes[size_t(2 * j)], s[j]);
  return done;
}
#endif

#if ASTRELON_HAVE_AVX2
// Sixteen pairs per step as two vectors of eight; lanes 4j..4j+3 in s[j]. The
// buffered squares are packed with a permutation, without branches.
template <int Gap, TPassKind Kind>
ASTRELON_AVX2 int64_t Avx2Pairs(const float* v, int64_t done, float limit, float split, TPassResult& r,
                                TSplitBuffer* buf) {
  const __m256 blank = _mm256_set1_ps(BlankLimit);
  const __m256 lim = _mm256_set1_ps(limit);
  const __m256 spl = _mm256_set1_ps(split);
  __m256d s0 = _mm256_loadu_pd(&r.Lanes[0]), s1 = _mm256_loadu_pd(&r.Lanes[4]);
  __m256d s2 = _mm256_loadu_pd(&r.Lanes[8]), s3 = _mm256_loadu_pd(&r.Lanes[12]);
  int64_t k = 0;
  while (k < done) {
    const int64_t chunkEnd = std::min(done, k + (int64_t(1) << 28));
    __m256i cnt = _mm256_setzero_si256();
    for (; k < chunkEnd; k += 16) {
      __m256 q[2], low[2];
      for (int j = 0; j < 2; ++j) {
        const float* p = v + (k + 8 * j) * Gap;
        __m256 a, b;
        if constexpr (Gap == 1) {
          a = _mm256_loadu_ps(p);
          b = _mm256_loadu_ps(p + 1);
        } else {
          a = _mm256_castpd_ps(_mm256_permute4x64_pd(
              _mm256_castps_pd(_mm256_shuffle_ps(_mm256_loadu_ps(p), _mm256_loadu_ps(p + 8), 0x88)), 0xD8));
          b = _mm256_castpd_ps(_mm256_permute4x64_pd(
              _mm256_castps_pd(_mm256_shuffle_ps(_mm256_loadu_ps(p + 2), _mm256_loadu_ps(p + 10), 0x88)), 0xD8));
        }
        const __m256 d = _mm256_sub_ps(a, b);
        q[j] = _mm256_mul_ps(d, d);
        __m256 ok = _mm256_and_ps(_mm256_cmp_ps(a, blank, _CMP_GT_OQ), _mm256_cmp_ps(b, blank, _CMP_GT_OQ));
        if constexpr (Kind.Clip) ok = _mm256_and_ps(ok, _mm256_cmp_ps(q[j], lim, _CMP_LT_OQ));
        low[j] = ok;
        if constexpr (Kind.Split) {
          const __m256 lt = _mm256_cmp_ps(q[j], spl, _CMP_LT_OQ);
          low[j] = _mm256_and_ps(ok, lt);
          const int m = _mm256_movemask_ps(_mm256_andnot_ps(lt, ok));
          if (buf->Size <= buf->Capacity) {
            const __m256i idx = _mm256_load_si256(reinterpret_cast<const __m256i*>(CompactTable.Index[size_t(m)].data()));
            _mm256_storeu_ps(buf->Data.get() + buf->Size, _mm256_permutevar8x32_ps(q[j], idx));
          }
          buf->Size += _mm_popcnt_u32(unsigned(m));
        }
        cnt = _mm256_sub_epi32(cnt, _mm256_castps_si256(low[j]));
      }
      const __m256 q0 = _mm256_and_ps(low[0], q[0]);
      const __m256 q1 = _mm256_and_ps(low[1], q[1]);
      s0 = _mm256_add_pd(s0, _mm256_cvtps_pd(_mm256_castps256_ps128(q0)));
      s1 = _mm256_add_pd(s1, _mm256_cvtps_pd(_mm256_extractf128_ps(q0, 1)));
      s2 = _mm256_add_pd(s2, _mm256_cvtps_pd(_mm256_castps256_ps128(q1)));
      s3 = _mm256_add_pd(s3, _mm256_cvtps_pd(_mm256_extractf128_ps(q1, 1)));
    }
    alignas(32) int32_t c[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(c), cnt);
    for (int32_t x : c) r.Count += x;
  }
  _mm256_storeu_pd(&r.Lanes[0], s0);
  _mm256_storeu_pd(&r.Lanes[4], s1);
  _mm256_storeu_pd(&r.Lanes[8], s2);
  _mm256_storeu_pd(&r.Lanes[12], s3);
  return done;
}
#endif

template <int Gap, TPassKind Kind>
TPassResult PassOf(std::span<const float> v, int64_t pairs, float limit, float split, TSplitBuffer* buf,
                   bool vector) {
  TPassResult r;
  int64_t first = 0;
  bool done = false;
  const int64_t blocked = BlockedPairs(v.size(), pairs, Gap);
#if ASTRELON_HAVE_AVX2
  if (!done && UseAvx2(vector)) {
    first = Avx2Pairs<Gap, Kind>(v.data(), blocked, limit, split, r, buf);
    done = true;
  }
#endif
#if ASTRELON_HAVE_SSE2
  if (!done && vector) first = Sse2Pairs<Gap, Kind>(v.data(), blocked, limit, split, r, buf);
#endif
  ScalarPairs<Gap, Kind>(v.data(), first, pairs, limit, split, r, buf);
  return r;
}

template <TPassKind Kind>
TPassResult Pass(std::span<const float> v, int64_t pairs, int gap, float limit, float split, TSplitBuffer* buf,
                 bool vector) {
  return gap == 1 ? PassOf<1, Kind>(v, pairs, limit, split, buf, vector)
                  : PassOf<2, Kind>(v, pairs, limit, split, buf, vector);
}

#if ASTRELON_HAVE_AVX2
// Buffered squares below the limit, sixteen at a time; returns how many were taken.
template <bool All>
ASTRELON_AVX2 int64_t BufferedBelowAvx2(const float* x, int64_t n, float limit, TPassResult& r) {
  const __m256 lim = _mm256_set1_ps(limit);
  __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
  __m256i cnt = _mm256_setzero_si256();
  int64_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256 a = _mm256_loadu_ps(x + i), b = _mm256_loadu_ps(x + i + 8);
    const __m256 la = All ? _mm256_castsi256_ps(_mm256_set1_epi32(-1)) : _mm256_cmp_ps(a, lim, _CMP_LT_OQ);
    const __m256 lb = All ? _mm256_castsi256_ps(_mm256_set1_epi32(-1)) : _mm256_cmp_ps(b, lim, _CMP_LT_OQ);
    const __m256 am = _mm256_and_ps(la, a), bm = _mm256_and_ps(lb, b);
    s0 = _mm256_add_pd(s0, _mm256_cvtps_pd(_mm256_castps256_ps128(am)));
    s1 = _mm256_add_pd(s1, _mm256_cvtps_pd(_mm256_extractf128_ps(am, 1)));
    s2 = _mm256_add_pd(s2, _mm256_cvtps_pd(_mm256_castps256_ps128(bm)));
    s3 = _mm256_add_pd(s3, _mm256_cvtps_pd(_mm256_extractf128_ps(bm, 1)));
    cnt = _mm256_sub_epi32(cnt, _mm256_castps_si256(la));
    cnt = _mm256_sub_epi32(cnt, _mm256_castps_si256(lb));
  }
  _mm256_storeu_pd(&r.Lanes[0], s0);
  _mm256_storeu_pd(&r.Lanes[4], s1);
  _mm256_storeu_pd(&r.Lanes[8], s2);
  _mm256_storeu_pd(&r.Lanes[12], s3);
  alignas(32) int32_t c[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(c), cnt);
  for (int32_t v : c) r.Count += v;
  return i;
}
#endif

#if ASTRELON_HAVE_SSE2
template <bool All>
int64_t BufferedBelowSse2(const float* x, int64_t n, float limit, TPassResult& r) {
  const __m128 lim = _mm_set1_ps(limit);
  __m128d s[8];
  for (__m128d& v : s) v = _mm_setzero_pd();
  __m128i cnt = _mm_setzero_si128();
  int64_t i = 0;
  for (; i + 16 <= n; i += 16)
    for (int j = 0; j < 4; ++j) {
      const __m128 a = _mm_loadu_ps(x + i + 4 * j);
      const __m128 la = All ? _mm_castsi128_ps(_mm_set1_epi32(-1)) : _mm_cmplt_ps(a, lim);
      const __m128 am = _mm_and_ps(la, a);
      s[2 * j] = _mm_add_pd(s[2 * j], _mm_cvtps_pd(am));
      s[2 * j + 1] = _mm_add_pd(s[2 * j + 1], _mm_cvtps_pd(_mm_movehl_ps(am, am)));
      cnt = _mm_sub_epi32(cnt, _mm_castps_si128(la));
    }
  for (int j = 0; j < 8; ++j) _mm_storeu_pd(&r.Lanes[size_t(2 * j)], s[j]);
  alignas(16) int32_t c[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(c), cnt);
  r.Count += int64_t(c[0]) + c[1] + c[2] + c[3];
  return i;
}
#endif

// Sum and number of the buffered squares below the limit (of all of them with
// All), in lanes by buffer index.
template <bool All>
TPassResult BufferedBelow(const TSplitBuffer& buf, float limit, bool vector) {
  TPassResult r;
  const float* x = buf.Data.get();
  const int64_t n = buf.Size;
  int64_t i = 0;
  bool done = false;
#if ASTRELON_HAVE_AVX2
  if (!done && UseAvx2(vector)) {
    i = BufferedBelowAvx2<All>(x, n, limit, r);
    done = true;
  }
#endif
#if ASTRELON_HAVE_SSE2
  if (!done && vector) i = BufferedBelowSse2<All>(x, n, limit, r);
#endif
  for (; i < n; ++i) {
    const bool below = All || x[i] < limit;
    r.Lanes[size_t(i % SumLaneCount)] += below ? double(x[i]) : 0.0;
    r.Count += below;
  }
  return r;
}

// The limit the last round is expected to use, from the same iteration over a
// sample of 32 stretches of 1024 pairs; 0 when the sample has no valid pair.
float PredictLastLimit(std::span<const float> v, int64_t pairs, int gap, TClipRule rule) {
  constexpr int64_t stretches = 32, length = 1024;
  std::vector<float> q;
  q.reserve(size_t(stretches * length));
  for (int64_t c = 0; c < stretches; ++c) {
    const int64_t start = c * (pairs - length) / (stretches - 1);
    for (int64_t k = start; k < start + length; ++k) {
      const float a = v[size_t(k * gap)], b = v[size_t(k * gap + gap)];
      if (IsValidPixel(a) && IsValidPixel(b)) q.push_back((a - b) * (a - b));
    }
  }
  if (q.empty()) return 0.0f;
  double sum = 0;
  for (float x : q) sum += x;
  double current = sum / double(q.size()), previous;
  float limit = 0.0f;
  for (int round = 0; round < 10; ++round) {
    previous = current;
    limit = ClipLimit(previous);
    sum = 0;
    int64_t n = 0;
    for (float x : q)
      if (x < limit) {
        sum += x;
        ++n;
      }
    current = n > 0 ? sum / double(n) : (rule.KeepPreviousWhenEmpty ? previous : 0.0);
    if (rule.FloorEachRound && current < rule.Floor) current = rule.Floor;
    if (previous / std::max(current, rule.Floor) < 1.1) break;
  }
  return limit;
}

// The buffer of this thread, kept for the next call on a plane of similar size
// (fresh memory would cost a page fault per 4 KiB on every call).
constexpr int64_t KeptBufferLimit = int64_t(16) << 20;  // floats
TSplitBuffer& ThreadBuffer() {
  thread_local TSplitBuffer buffer;
  return buffer;
}

}  // namespace

TClipResult ClippedMeanSquare(std::span<const float> v, int64_t pairs, int gap, TClipRule rule, bool vector) {
  if (gap != 1 && gap != 2) throw std::invalid_argument("pair gap must be 1 or 2");
  if (pairs < 0 || (pairs > 0 && uint64_t(pairs) * uint64_t(gap) >= v.size()))
    throw std::invalid_argument("pairs reach beyond the run");

  // With a predicted split point, the first pass already sorts every valid pair:
  // squares below the split into the lanes, the others into the buffer.
  bool buffering = pairs >= BufferedMinPairs;
  const float predicted = buffering ? 0.7f * PredictLastLimit(v, pairs, gap, rule) : 0.0f;
  buffering = buffering && predicted > 0.0f;
  TSplitBuffer local;
  TSplitBuffer& buf = pairs / 4 + 1024 <= KeptBufferLimit ? ThreadBuffer() : local;
  bool haveBuffer = false;
  float bufferFrom = 0, bufferTo = 0;  // squares in [from, to) are buffered
  TPassResult belowSplit;

  double current = 0;
  if (buffering) {
    buf.Reserve(pairs / 4 + 1024);
    belowSplit = Pass<PassAllSplit>(v, pairs, gap, 0.0f, predicted, &buf, vector);
    haveBuffer = !buf.Overflowed();
    buffering = haveBuffer;
    bufferFrom = predicted;
    bufferTo = std::numeric_limits<float>::infinity();
  }
  if (haveBuffer) {
    const TPassResult b = BufferedBelow<true>(buf, 0.0f, vector);
    const int64_t count = belowSplit.Count + b.Count;
    current = count > 0 ? (belowSplit.Sum() + b.Sum()) / double(count) : 0.0;
  } else {
    const TPassResult all = Pass<PassAll>(v, pairs, gap, 0.0f, 0.0f, nullptr, vector);
    current = all.Count > 0 ? all.Sum() / double(all.Count) : 0.0;
  }
  double previous = current;

  for (int round = 0; round < 10; ++round) {
    previous = current;
    const float limit = ClipLimit(previous);
    double sum;
    int64_t count;
    if (haveBuffer && limit >= bufferFrom && limit <= bufferTo) {
      const TPassResult b = BufferedBelow<false>(buf, limit, vector);
      sum = belowSplit.Sum() + b.Sum();
      count = belowSplit.Count + b.Count;
    } else if (buffering) {
      // The limits fell below the split point: split anew below this limit.
      const float split = 0.7f * limit;
      buf.Reserve(pairs / 4 + 1024);
      belowSplit = Pass<PassSplit>(v, pairs, gap, limit, split, &buf, vector);
      haveBuffer = buffering = !buf.Overflowed();
      if (haveBuffer) {
        bufferFrom = split;
        bufferTo = limit;
        const TPassResult b = BufferedBelow<false>(buf, limit, vector);
        sum = belowSplit.Sum() + b.Sum();
        count = belowSplit.Count + b.Count;
      } else {
        const TPassResult r = Pass<PassBelow>(v, pairs, gap, limit, 0.0f, nullptr, vector);
        sum = r.Sum();
        count = r.Count;
      }
    } else {
      const TPassResult r = Pass<PassBelow>(v, pairs, gap, limit, 0.0f, nullptr, vector);
      sum = r.Sum();
      count = r.Count;
    }
    current = count > 0 ? sum / double(count) : (rule.KeepPreviousWhenEmpty ? previous : 0.0);
    if (rule.FloorEachRound && current < rule.Floor) current = rule.Floor;
    if (previous / std::max(current, rule.Floor) < 1.1) break;
  }
  if (buf.Allocated > KeptBufferLimit) buf = TSplitBuffer{};
  return TClipResult{previous, current};
}

}  // namespace astrelon
