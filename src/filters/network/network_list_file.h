#pragma once
// Network list files: a text file that names one filter network per colour
// plane. Its first four bytes are "RGB:" or "rgb:"; lines 2, 3 and 4 name the
// networks of planes 1, 2 and 3, relative to the list file's folder.
#include <array>
#include <optional>
#include <string>

namespace astrelon {

// Whether the file begins with "RGB:" or "rgb:".
bool IsNetworkListFile(const std::string& fileName);

// The three network files of a list file, each the list's folder + its line
// (a line break of CR LF or CR counts as one, "\" separates folders as "/"
// does). nullopt when the file cannot be read or names fewer than three files.
std::optional<std::array<std::string, 3>> ReadNetworkListFile(const std::string& fileName);

}  // namespace astrelon
