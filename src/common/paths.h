#pragma once
// Where the program's files live, file-name pieces, and the small string
// helpers that keep the classic behaviour: an empty search text is never found,
// and an extension is taken from the last path component only.
#include <string>
#include <string_view>
#include <vector>

namespace astrelon {

// Folder of the running executable (no trailing "/").
std::string ProgramFolder();
// Folders searched for read-only data shipped with the program, in order:
// the executable's folder, then the installation's share folder.
std::vector<std::string> ProgramDataFolders();
// File name of the short guide shipped in the program's data folders.
inline constexpr const char* HelpPageName = "anleitung.html";
// The first `folder + "/" + name` among the folders that is a file; empty when none is.
std::string FindFileInFolders(const std::vector<std::string>& folders, std::string_view name);
// $XDG_CONFIG_HOME/astrelon, by default ~/.config/astrelon (no trailing "/").
std::string SettingsFolder();
// Creates the settings folder when missing; false when it cannot be created.
bool EnsureSettingsFolder();

// "/a/b.fit" -> ".fit"; "" when the last component has no "." ("/a.b/c" -> "").
std::string ExtractFileExt(std::string_view name);
// Replaces (or adds, or with "" removes) the extension of the last component.
std::string ChangeFileExt(std::string_view name, std::string_view ext);
// "/a/b.fit" -> "b.fit".
std::string ExtractFileName(std::string_view name);
// "/a/b.fit" -> "/a/" (with the trailing "/"); "" for a bare name.
std::string ExtractFilePath(std::string_view name);

// ASCII case changes; other bytes stay as they are.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);

// Whether `needle` occurs in `haystack`, ignoring ASCII case; false for an
// empty needle.
bool ContainsText(std::string_view haystack, std::string_view needle);
// As ContainsText, with case.
bool ContainsStr(std::string_view haystack, std::string_view needle);
// 1-based position of the first `needle` in `haystack`; 0 when absent or when
// the needle is empty.
int Pos(std::string_view needle, std::string_view haystack);

}  // namespace astrelon
