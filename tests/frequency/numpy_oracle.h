#pragma once
// numpy as the reference for transforms: arrays go to and come from raw
// float64 files in a temporary folder, a short script computes the reference.
#include <string>
#include <vector>

#include "test_support.h"

namespace astrelon::test {

// Whether /usr/bin/python3 imports numpy.
bool HaveNumpy();

class NumpyOracle {
public:
  // Writes values as "<name>.f64" in the folder.
  void Put(const std::string& name, const std::vector<double>& values);
  // Runs the script with `d` (the folder, ending in "/") and `np` defined; false on failure.
  bool Run(const std::string& script);
  std::vector<double> Get(const std::string& name);

private:
  TempDir dir_;
};

}  // namespace astrelon::test
