#include "common/paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

namespace astrelon {
namespace {

constexpr std::string_view kInstalledDataFolder = "/usr/local/share/astrelon";

size_t LastComponentStart(std::string_view name) {
  size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}

// Index of the "." that starts the extension, or npos.
size_t ExtensionStart(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot < LastComponentStart(name))
    return std::string_view::npos;
  return dot;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home)
    return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
    return pw->pw_dir;
  return "/tmp";
}

}  // namespace

std::string ProgramFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    return std::filesystem::current_path(ec).string();
  return exe.parent_path().string();
}

std::vector<std::string> ProgramDataFolders() {
  std::vector<std::string> folders{ProgramFolder()};
  if (folders[0] != kInstalledDataFolder)
    folders.emplace_back(kInstalledDataFolder);
  return folders;
}

std::string FindFileInFolders(const std::vector<std::string>& folders, std::string_view name) {
  if (name.empty()) return {};
  for (const std::string& folder : folders) {
    std::string candidate = folder + "/" + std::string(name);
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return {};
}

std::string SettingsFolder() {
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is ignored.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base = xdg && xdg[0] == '/' ? std::string(xdg) : HomeFolder() + "/.config";
  while (base.size() > 1 && base.back() == '/')
    base.pop_back();
  return base + "/astrelon";
}

bool EnsureSettingsFolder() {
  std::error_code ec;
  const std::string folder = SettingsFolder();
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec);
}

std::string ExtractFileExt(std::string_view name) {
  size_t dot = ExtensionStart(name);
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string ChangeFileExt(std::string_view name, std::string_view ext) {
  size_t dot = ExtensionStart(name);
  std::string result(dot == std::string_view::npos ? name : name.substr(0, dot));
  result += ext;
  return result;
}

std::string ExtractFileName(std::string_view name) { return std::string(name.substr(LastComponentStart(name))); }

std::string ExtractFilePath(std::string_view name) { return std::string(name.substr(0, LastComponentStart(name))); }

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    c = AsciiUpper(c);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    c = AsciiLower(c);
  return r;
}

bool ContainsText(std::string_view haystack, std::string_view needle) {
  return !needle.empty() && UpperCase(haystack).find(UpperCase(needle)) != std::string::npos;
}

bool ContainsStr(std::string_view haystack, std::string_view needle) {
  return !needle.empty() && haystack.find(needle) != std::string_view::npos;
}

int Pos(std::string_view needle, std::string_view haystack) {
  if (needle.empty())
    return 0;
  size_t at = haystack.find(needle);
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

}  // namespace astrelon
