#include "numpy_oracle.h"

#include <cstdlib>
#include <cstring>

namespace astrelon::test {

bool HaveNumpy() {
  static const bool have = std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") == 0;
  return have;
}

void NumpyOracle::Put(const std::string& name, const std::vector<double>& values) {
  std::vector<unsigned char> bytes(values.size() * sizeof(double));
  if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
  WriteAll(dir_.file(name + ".f64"), bytes);
}

bool NumpyOracle::Run(const std::string& script) {
  const std::string file = dir_.file("oracle.py");
  WriteText(file, "import numpy as np\nd = '" + dir_.path().string() + "/'\n" + script + "\n");
  return std::system(("/usr/bin/python3 " + file).c_str()) == 0;
}

std::vector<double> NumpyOracle::Get(const std::string& name) {
  const std::vector<unsigned char> bytes = ReadAll(dir_.file(name + ".f64"));
  std::vector<double> values(bytes.size() / sizeof(double));
  if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
  return values;
}

}  // namespace astrelon::test
