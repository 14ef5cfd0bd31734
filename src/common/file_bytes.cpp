#include "common/file_bytes.h"

#include <cstdio>
#include <memory>

namespace astrelon {

bool ReadFileBytes(const std::string& fileName, std::vector<uint8_t>& bytes) {
  bytes.clear();
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(fileName.c_str(), "rb"), &std::fclose);
  if (!f) return false;
  if (std::fseek(f.get(), 0, SEEK_END) != 0) return false;
  const long size = std::ftell(f.get());
  if (size < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) return false;
  bytes.resize(size_t(size));
  return std::fread(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
}

}  // namespace astrelon
