#pragma once
// Reading a whole file into memory.
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon {

// False when the file cannot be opened or read completely.
bool ReadFileBytes(const std::string& fileName, std::vector<uint8_t>& bytes);

}  // namespace astrelon
