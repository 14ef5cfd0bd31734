#include "kernels/gauss/noise_blocks.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "kernels/gauss/box_muller.h"
#include "kernels/gauss/gauss_table.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

// The vector helpers are always inlined, so the calling convention of
// eight-wide vectors outside AVX code never applies. The AVX code gives them
// vectors only by reference and takes none back by value: clang checks the
// convention of a call before it inlines it and refuses a vector of 32 or 64
// bytes passed to or from a helper without the AVX target.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

constexpr int Lanes = 8;
constexpr int32_t TableRounds = GaussTableSize / (2 * Lanes);  // 125 rounds of eight pairs
static_assert(TableRounds * 2 * Lanes == GaussTableSize);
constexpr double UniformScale = 3.46410162;  // √12: unit standard deviation
constexpr uint32_t IndexRange = GaussTableSize - 1;  // indices 0 .. 1998

typedef uint32_t TVec8u __attribute__((vector_size(32)));
typedef double TVec8d __attribute__((vector_size(64)));

// The state of xoshiro128+ in each lane of a block, from the block's seed.
struct TLaneSeeds {
  alignas(32) std::array<std::array<uint32_t, Lanes>, 4> S;
};

TLaneSeeds SeedLanes(uint64_t seed, int64_t block) {
  TLaneSeeds seeds;
  const uint64_t base = MixSeed(seed ^ uint64_t(block));
  for (int l = 0; l < Lanes; ++l) {
    const uint64_t a = MixSeed(base + uint64_t(l)), b = MixSeed(a);
    seeds.S[0][size_t(l)] = uint32_t(a);
    seeds.S[1][size_t(l)] = uint32_t(a >> 32);
    seeds.S[2][size_t(l)] = uint32_t(b);
    seeds.S[3][size_t(l)] = uint32_t(b >> 32);
    if ((a | b) == 0) seeds.S[0][size_t(l)] = 1;  // the generator must not start at all zeros
  }
  return seeds;
}

// xoshiro128+ on one lane (uint32_t) or eight (TVec8u).
template <class U>
struct TLaneRandom {
  U s0, s1, s2, s3;
  [[gnu::always_inline]] U Next() {
    const U result = s0 + s3;
    const U t = s1 << 9;
    s2 ^= s0;
    s3 ^= s1;
    s1 ^= s2;
    s0 ^= s3;
    s2 ^= t;
    s3 = (s3 << 11) | (s3 >> 21);
    return result;
  }
  // The same for AVX code (see above).
  [[gnu::always_inline]] void Next(U& result) { result = Next(); }
};

// A table index 0 .. 1998 from the top 21 bits.
[[gnu::always_inline]] inline uint32_t TableIndex(uint32_t x) { return ((x >> 11) * IndexRange) >> 21; }

void DrawBlockScalar(const TLaneSeeds& seeds, bool gauss, double amount, int32_t count, float* out) {
  std::array<TLaneRandom<uint32_t>, Lanes> lane;
  for (int l = 0; l < Lanes; ++l)
    lane[size_t(l)] = {seeds.S[0][size_t(l)], seeds.S[1][size_t(l)], seeds.S[2][size_t(l)], seeds.S[3][size_t(l)]};
  const int32_t groups = (count + Lanes - 1) / Lanes;
  if (gauss) {
    TGaussTable table;
    for (int32_t t = 0; t < TableRounds; ++t)
      for (int l = 0; l < Lanes; ++l) {
        const uint32_t x1 = lane[size_t(l)].Next(), x2 = lane[size_t(l)].Next();
        float z0, z1;
        boxmuller::BoxMuller(boxmuller::FirstUniform(x1), boxmuller::SecondUniform(x2), z0, z1);
        table[size_t(2 * Lanes * t + l)] = z0;
        table[size_t(2 * Lanes * t + Lanes + l)] = z1;
      }
    // Every value is a table value times the amount: the table is scaled once.
    for (float& v : table) v = float(double(v) * amount);
    for (int32_t g = 0; g < groups; ++g)
      for (int l = 0; l < Lanes; ++l) {
        const float v = table[TableIndex(lane[size_t(l)].Next())];
        if (Lanes * g + l < count) out[Lanes * g + l] = v;
      }
  } else {
    for (int32_t g = 0; g < groups; ++g)
      for (int l = 0; l < Lanes; ++l) {
        const double u = double(lane[size_t(l)].Next()) * 0x1p-32;
        const float v = float((u - 0.5) * amount * UniformScale);
        if (Lanes * g + l < count) out[Lanes * g + l] = v;
      }
  }
}

#if ASTRELON_HAVE_AVX2
// −2 ln u and cos 2πu, sin 2πu of Box–Muller in each lane, for AVX code.
template <class V>
[[gnu::always_inline]] inline void MinusTwoLog(const V& u, V& result) {
  result = simd::Splat<V>(-2.0f) * boxmuller::Log(u);
}
template <class V>
[[gnu::always_inline]] inline void CosSinTurnLanes(const V& u, V& c, V& s) {
  boxmuller::CosSinTurn(u, c, s);
}

// Group g of a block's values (the part of it below count).
[[gnu::always_inline]] inline void StoreGroup(float* out, int32_t count, int32_t g, const simd::TVec8f& v) {
  if (Lanes * (g + 1) <= count) {
    simd::StoreLanes(out + Lanes * g, v);
    return;
  }
  alignas(32) std::array<float, Lanes> part;
  simd::StoreLanes(part.data(), v);
  std::copy_n(part.data(), count - Lanes * g, out + Lanes * g);
}

// float(double(z) · amount) in each lane, to out.
[[gnu::always_inline]] inline void StoreScaled(float* out, const simd::TVec8f& z, const TVec8d& amounts) {
  simd::StoreLanes(out, __builtin_convertvector(__builtin_convertvector(z, TVec8d) * amounts, simd::TVec8f));
}

ASTRELON_AVX2 void DrawBlockAvx2(const TLaneSeeds& seeds, bool gauss, double amount, int32_t count, float* out) {
  using simd::TVec8f;
  using boxmuller::TVec8i;
  TLaneRandom<TVec8u> lane;
  std::memcpy(&lane.s0, seeds.S[0].data(), sizeof lane.s0);
  std::memcpy(&lane.s1, seeds.S[1].data(), sizeof lane.s1);
  std::memcpy(&lane.s2, seeds.S[2].data(), sizeof lane.s2);
  std::memcpy(&lane.s3, seeds.S[3].data(), sizeof lane.s3);
  const int32_t groups = (count + Lanes - 1) / Lanes;
  const TVec8d amounts = TVec8d{} + amount;
  if (gauss) {
    // The uniform pairs first (the generator is a chain), then the rounds of
    // Box–Muller, which do not depend on each other.
    alignas(32) TGaussTable table;
    alignas(32) std::array<TVec8f, 2 * TableRounds> uniform;
    for (int32_t t = 0; t < TableRounds; ++t) {
      TVec8u x1, x2;
      lane.Next(x1);
      lane.Next(x2);
      uniform[size_t(2 * t)] = __builtin_convertvector(TVec8i(x1 >> 8) + 1, TVec8f) * 0x1p-24f;
      uniform[size_t(2 * t + 1)] = __builtin_convertvector(TVec8i(x2 >> 8), TVec8f) * 0x1p-24f;
    }
    for (int32_t t = 0; t < TableRounds; ++t) {
      // boxmuller::BoxMuller on eight lanes.
      TVec8f m, c, s;
      MinusTwoLog(uniform[size_t(2 * t)], m);
      const TVec8f r = TVec8f(_mm256_sqrt_ps(__m256(m)));
      CosSinTurnLanes(uniform[size_t(2 * t + 1)], c, s);
      const TVec8f z0 = r * c, z1 = r * s;
      // Scaled by the amount at once, as in the scalar path.
      StoreScaled(table.data() + 2 * Lanes * t, z0, amounts);
      StoreScaled(table.data() + 2 * Lanes * t + Lanes, z1, amounts);
    }
    // The look-ups one by one: a gather is slower on some processors.
    alignas(32) std::array<uint32_t, Lanes> index;
    const int32_t whole = count / Lanes;
    for (int32_t g = 0; g < groups; ++g) {
      TVec8u bits;
      lane.Next(bits);
      bits = ((bits >> 11) * IndexRange) >> 21;
      std::memcpy(index.data(), &bits, sizeof bits);
      float* o = out + Lanes * g;
      if (g < whole) {
        for (int l = 0; l < Lanes; ++l) o[l] = table[index[size_t(l)]];
      } else {
        for (int l = 0; l < count - Lanes * g; ++l) o[l] = table[index[size_t(l)]];
      }
    }
  } else {
    const TVec8d half = TVec8d{} + 0.5, scale = TVec8d{} + UniformScale;
    for (int32_t g = 0; g < groups; ++g) {
      // Unsigned to double through the signed conversion, exactly.
      TVec8u bits;
      lane.Next(bits);
      const TVec8i flipped = TVec8i(bits ^ 0x80000000u);
      const TVec8d x = __builtin_convertvector(flipped, TVec8d) + 2147483648.0;
      StoreGroup(out, count, g, __builtin_convertvector((x * 0x1p-32 - half) * amounts * scale, TVec8f));
    }
  }
}

// Two blocks at once where the processor has AVX-512: lanes 0 .. 7 of each
// sixteen-lane vector belong to the first block, lanes 8 .. 15 to the second,
// so that every lane sees the same operations as in the eight-lane path.
// The products and sums stay separate operations as in the other paths: no
// fused multiply-add, which AVX-512 code could otherwise get.
// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

typedef float TVec16f __attribute__((vector_size(64)));
typedef uint32_t TVec16u __attribute__((vector_size(64)));
typedef double TVec16d __attribute__((vector_size(128)));

// The tables of a pair (first block, then second) and the rounds' inputs:
// −2 ln u1 and u2. Kept by the caller: GCC 12 can give the stack of a local
// table that only gathers read to other values.
struct TPairScratch {
  alignas(64) std::array<float, 2 * GaussTableSize> Table;
  alignas(64) std::array<TVec16f, 2 * TableRounds> Round;
};

// The two halves of a sixteen-lane vector to two places.
template <class V>
[[gnu::always_inline]] inline void StoreHalves(float* first, float* second, const V& v) {
  std::memcpy(first, &v, 32);
  std::memcpy(second, reinterpret_cast<const char*>(&v) + 32, 32);
}

ASTRELON_AVX512 void DrawBlockPairAvx512(const TLaneSeeds& a, const TLaneSeeds& b, double amount, float* outA,
                                         float* outB, TPairScratch& scratch) {
  using boxmuller::Int;
  TLaneRandom<TVec16u> lane;
  TVec16u* state[4] = {&lane.s0, &lane.s1, &lane.s2, &lane.s3};
  for (size_t k = 0; k < 4; ++k) {
    std::memcpy(state[k], a.S[k].data(), 32);
    std::memcpy(reinterpret_cast<char*>(state[k]) + 32, b.S[k].data(), 32);
  }
  for (int32_t t = 0; t < TableRounds; ++t) {
    TVec16u x1, x2;
    lane.Next(x1);
    lane.Next(x2);
    const TVec16f u1 = __builtin_convertvector(Int<TVec16f>(x1 >> 8) + 1, TVec16f) * 0x1p-24f;
    MinusTwoLog(u1, scratch.Round[size_t(2 * t)]);
    scratch.Round[size_t(2 * t + 1)] = __builtin_convertvector(Int<TVec16f>(x2 >> 8), TVec16f) * 0x1p-24f;
  }
  const TVec16d amounts = TVec16d{} + amount;
  float* tableA = scratch.Table.data();
  float* tableB = tableA + GaussTableSize;
  for (int32_t t = 0; t < TableRounds; ++t) {
    const TVec16f r = TVec16f(_mm512_sqrt_ps(__m512(scratch.Round[size_t(2 * t)])));
    TVec16f c, s;
    CosSinTurnLanes(scratch.Round[size_t(2 * t + 1)], c, s);
    const TVec16f z0 = __builtin_convertvector(__builtin_convertvector(r * c, TVec16d) * amounts, TVec16f);
    const TVec16f z1 = __builtin_convertvector(__builtin_convertvector(r * s, TVec16d) * amounts, TVec16f);
    StoreHalves(tableA + 2 * Lanes * t, tableB + 2 * Lanes * t, z0);
    StoreHalves(tableA + 2 * Lanes * t + Lanes, tableB + 2 * Lanes * t + Lanes, z1);
  }
  // Two eight-lane gathers run beside each other faster than one of sixteen.
  for (int32_t g = 0; g < int32_t(NoiseBlockValues) / Lanes; ++g) {
    TVec16u bits;
    lane.Next(bits);
    const __m512i index = __m512i(((bits >> 11) * IndexRange) >> 21);
    _mm256_storeu_ps(outA + Lanes * g, _mm256_i32gather_ps(tableA, _mm512_castsi512_si256(index), 4));
    _mm256_storeu_ps(outB + Lanes * g, _mm256_i32gather_ps(tableB, _mm512_extracti64x4_epi64(index, 1), 4));
  }
}
#pragma GCC diagnostic pop
#endif

void DrawBlock(uint64_t seed, int64_t block, bool gauss, double amount, int32_t count, float* out, bool vector) {
  const TLaneSeeds seeds = SeedLanes(seed, block);
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) {
    DrawBlockAvx2(seeds, gauss, amount, count, out);
    return;
  }
#endif
  DrawBlockScalar(seeds, gauss, amount, count, out);
}

}  // namespace

void DrawNoise(uint64_t seed, bool gauss, double amount, int64_t first, std::span<float> out, bool vector) {
  const int64_t last = first + int64_t(out.size());
  std::array<float, NoiseBlockValues> scratch;
#if ASTRELON_HAVE_AVX2
  const bool pairs = gauss && UseAvx2(vector) && CpuRunsAvx512();
  TPairScratch pairScratch;
#endif
  for (int64_t k = first / NoiseBlockValues; k * NoiseBlockValues < last; ++k) {
    const int64_t begin = k * NoiseBlockValues, from = std::max(begin, first);
    const int64_t to = std::min(begin + NoiseBlockValues, last);
    if (from == begin && to - begin == NoiseBlockValues) {
      float* o = out.data() + (begin - first);
#if ASTRELON_HAVE_AVX2
      if (pairs && begin + 2 * NoiseBlockValues <= last) {
        DrawBlockPairAvx512(SeedLanes(seed, k), SeedLanes(seed, k + 1), amount, o, o + NoiseBlockValues, pairScratch);
        ++k;
        continue;
      }
#endif
      DrawBlock(seed, k, gauss, amount, int32_t(NoiseBlockValues), o, vector);
      continue;
    }
    // A block cut by the stretch: drawn up to its last value wanted.
    DrawBlock(seed, k, gauss, amount, int32_t(to - begin), scratch.data(), vector);
    std::copy(scratch.begin() + (from - begin), scratch.begin() + (to - begin), out.begin() + (from - first));
  }
}

}  // namespace astrelon
