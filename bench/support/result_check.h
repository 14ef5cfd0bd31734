#pragma once
// Checks of a benchmark's result after its timed runs, so that a routine that
// returns at once or computes the wrong thing fast cannot meet its figure. A
// check calls Fail (peer_measure.h) with what differs; Verified runs it and ends
// the benchmark with that message, and marks a run whose result was checked
// ("checked" = 1, which the summary requires of every run).
//  - ExpectTwin: the result against the routine's scalar twin run on the same
//    input after the timed runs, value by value (equal where the twin is
//    bit-identical), so that one wrong pixel or vector tail fails.
//  - ExpectNear: the result against a peer's output or a reference computed
//    another way, value by value, with a stated tolerance (blank against blank).
//  - ExpectFingerprint: only where neither a twin nor a peer does the same
//    work, a summary of the values against the one recorded from a run whose
//    result was judged right; a mismatch names the figures that differ, never
//    the new summary (a changed result is judged, not pasted in).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace astrelon::bench {

// A summary of a result's values: how many and how many blank, the range, mean
// and spread of the valid ones, two projections on fixed pseudo-random weights
// (which move when values move to other places) and the mean step between
// neighbouring valid values (which moves when a result is smoothed or
// sharpened differently).
struct TFingerprint {
  int64_t Count = 0, Blanks = 0;
  double Min = 0, Max = 0, Mean = 0, Rms = 0, ProjectionA = 0, ProjectionB = 0, Variation = 0;
};

TFingerprint Fingerprint(std::initializer_list<std::span<const float>> parts);
// All planes of a slot.
TFingerprint SlotFingerprint(int slot);

// Fails unless the counts agree and every other figure lies within
// `tolerance` × (|mean| + spread), or × itself where it is larger, of the
// wanted one.
void ExpectFingerprint(const TFingerprint& got, const TFingerprint& want, const std::string& what,
                       double tolerance = 1e-6);

// |got − want| over the places where both are valid (`WorstAt` the largest);
// `BlankMismatch` counts the places valid in one and blank in the other.
struct TDifference {
  int64_t Count = 0, BlankMismatch = 0, FirstMismatch = -1, WorstAt = -1;
  double Max = 0, P99 = 0, Median = 0;
};
TDifference Difference(std::span<const float> got, std::span<const float> want);

// Fails when the sizes differ, a place is blank in one only, or the largest
// difference exceeds `tolerance` (or, with `p99`, its 99th percentile does).
void ExpectNear(std::span<const float> got, std::span<const float> want, double tolerance, const std::string& what,
                bool p99 = false);

// The same for w × h planes without their outer `margin` rows and columns
// (where a peer treats the border another way).
void ExpectNearInside(std::span<const float> got, std::span<const float> want, int32_t w, int32_t h, int32_t margin,
                      double tolerance, const std::string& what, bool p99 = false);

// Runs `run` on the scalar paths (every SIMD switch off), then restores the switches.
void OnScalarPaths(const std::function<void()>& run);

// Copies of a slot's planes 1 .. PlaneCount (each Width x Height values).
std::vector<std::vector<float>> SlotPlanes(int slot);

// The routine's result as it is now against its scalar twin's: `result` takes
// the values, `prepare` puts the input back as the timed runs had it, `twin`
// runs on the scalar paths, and `result` is taken again. Each part (plane)
// compares as ExpectNear with `tolerance` (0 for a bit-identical twin).
void ExpectTwin(const std::function<std::vector<std::vector<float>>()>& result, const std::function<void()>& prepare,
                const std::function<void()>& twin, double tolerance, const std::string& what);

// Fails unless `condition` holds.
void Expect(bool condition, const std::string& what);

// Fails unless |got − want| ≤ tolerance · |want| (a single figure recorded from
// a checked run, or one known from the input); the message gives the relative
// difference, not `got`.
void ExpectValue(double got, double want, double tolerance, const std::string& what);

// Runs `check`; on a failure ends the benchmark with its message and returns
// false, else sets "checked" and returns true.
bool Verified(benchmark::State& state, const std::function<void()>& check);

}  // namespace astrelon::bench
