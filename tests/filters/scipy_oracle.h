#pragma once
// Planes computed by scipy for comparison: the plane goes to Python as `a`
// (float64, h x w, NaN where blank), the script leaves its answer in `out`.
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "test_support.h"

namespace astrelon::test {

inline bool HaveScipy() {
  static const bool have = std::system("/usr/bin/python3 -c 'import scipy.ndimage, numpy' >/dev/null 2>&1") == 0;
  return have;
}

// Values handed to the script beside the plane: a flat float64 array of that name.
struct TScipyArray {
  std::string Name;
  std::vector<float> Values;
};

// Runs `body` (Python lines that set `out` from `a` and the `extra` arrays) and
// returns `out`; empty when the script failed.
inline std::vector<float> ScipyPlane(std::span<const float> plane, int w, int h, const std::string& body,
                                     const std::vector<TScipyArray>& extra = {}) {
  TempDir dir;
  const std::string in = dir.file("in.f32"), out = dir.file("out.f32");
  WriteFloats(in, std::vector<float>(plane.begin(), plane.end()));
  std::string load;
  for (const TScipyArray& e : extra) {
    const std::string file = dir.file(e.Name + ".f32");
    WriteFloats(file, e.Values);
    load += e.Name + " = np.fromfile('" + file + "', dtype='<f4').astype(np.float64)\n";
  }
  const std::string script = "import numpy as np\nfrom scipy import ndimage\n"
                             "a = np.fromfile('" + in + "', dtype='<f4').astype(np.float64).reshape(" +
                             std::to_string(h) + ", " + std::to_string(w) + ")\n"
                             "a[~(a > -1e9)] = np.nan\n" + load + body +
                             "\nnp.asarray(out, dtype='<f4').tofile('" + out + "')\n";
  if (!RunPython(script)) return {};
  return ReadFloats(out);
}

}  // namespace astrelon::test
