#pragma once
// GCC vector types for the vector loops, with their loads, stores and
// broadcasts. The same templates take a plain float or double as a vector of
// one lane, so that one loop body serves the vector path and its scalar twin.
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

// Always inlined, so the calling convention of 32-byte vectors outside AVX
// functions never applies.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon::simd {

typedef float TVec4f __attribute__((vector_size(16)));
typedef float TVec8f __attribute__((vector_size(32)));
typedef double TVec4d __attribute__((vector_size(32)));
typedef int32_t TVec4i __attribute__((vector_size(16)));

// The element type of a vector (the type itself for a plain number).
template <class V>
struct TLane {
  using Type = std::remove_cvref_t<decltype(std::declval<V>()[0])>;
};
template <class V>
  requires std::is_arithmetic_v<V>
struct TLane<V> {
  using Type = V;
};
template <class V>
using Lane = typename TLane<V>::Type;

template <class V>
constexpr int LaneCount = int(sizeof(V) / sizeof(Lane<V>));

template <class V>
[[gnu::always_inline]] inline V Splat(Lane<V> value) {
  if constexpr (LaneCount<V> == 1)
    return value;
  else
    return V{} + value;
}
template <class V, class T>
[[gnu::always_inline]] inline V LoadLanes(const T* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class V, class T>
[[gnu::always_inline]] inline void StoreLanes(T* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

// Four floats widened to the lanes of a TVec4d (one float to a double).
template <class V>
[[gnu::always_inline]] inline V LoadWidened(const float* p) {
  if constexpr (LaneCount<V> == 1) {
    return double(*p);
  } else {
    TVec4f f;
    std::memcpy(&f, p, sizeof f);
    return __builtin_convertvector(f, V);
  }
}

// Lane-wise smaller and larger value; with equal values (or a NaN) the second
// operand, the same pick as the processor's min and max instructions.
template <class V>
[[gnu::always_inline]] inline V LaneMin(V a, V b) {
  return a < b ? a : b;
}
template <class V>
[[gnu::always_inline]] inline V LaneMax(V a, V b) {
  return a > b ? a : b;
}

}  // namespace astrelon::simd

#pragma GCC diagnostic pop
