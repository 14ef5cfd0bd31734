#pragma once
// Rows of a network evaluation spread over threads. Every row is computed the
// same way whichever thread takes it, so results do not depend on the number
// of threads; each thread evaluates through a record of its own.
#include <cstdint>
#include <functional>

#include "kernels/network/network_weights.h"

namespace astrelon {

// How a network routine reports from the calling thread: `rowsDone` rows of
// plane `plane` are finished. Returns false when the routine is to stop (the
// abort flag, a closed window).
using TNetworkRowPoll = std::function<bool(int plane, int64_t rowsDone)>;

// Threads for `rows` rows of `columns` network evaluations each: several only
// with the "Multicores" option and enough work.
int NetworkRowThreads(int64_t rows, int64_t columns);

// Runs row(r, pass) for r = 0 .. count - 1 on `threads` threads, handing the
// rows out in order as threads become free. The calling thread takes rows too
// and, after each of its rows, calls poll(rowsDone); once poll returns false
// or `stop` reads non-zero, no further row starts. False when the rows were
// stopped before all were done.
bool RunNetworkRows(int64_t count, int threads, const std::function<void(int64_t r, TNetworkPass& pass)>& row,
                    const std::function<bool(int64_t rowsDone)>& poll);

}  // namespace astrelon
