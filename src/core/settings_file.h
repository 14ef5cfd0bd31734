#pragma once
// The settings file "astrelon.ini": one line per setting, the key, ": " and the
// value, in the fixed order of the key table. Booleans are "Ja" and "Nein".
// Reading: the first key that is a prefix of a line takes it, a value equal to
// the key's default (ignoring case) changes nothing, a value that does not
// convert leaves its variable as it was, and lines of no key are kept and
// written back after the keys.
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace astrelon {

struct TSettingsKey {
  const char* Key;
  const char* Default;
};
constexpr int SettingsKeyCount = 71;
// The 71 keys in reading and writing order, with their default texts.
extern const std::array<TSettingsKey, SettingsKeyCount> SettingsKeys;

constexpr const char* SettingsFileName = "astrelon.ini";

// Sets the option record and the settings variables to their start values.
void ResetSettings();

// Applies the lines of a settings file to Options and Settings (steps of
// reading, including the decoding of the packed parameter string and the
// filter rows into the filter-function table).
void ApplySettingsLines(const std::vector<std::string>& lines);
// Reads the file at `path`; false when it cannot be read (nothing changes then).
bool ReadSettingsFile(const std::string& path);
// Reads "astrelon.ini" from the settings folder, else from the program folder;
// false when neither can be read.
bool ReadSettings();

// The file's contents for the current Options and Settings (encodes the packed
// parameter string and the filter rows first).
std::string SettingsFileText();
// Writes the file at `path` atomically; false (old file intact) on failure.
bool WriteSettingsFile(const std::string& path);
// Writes "astrelon.ini" into the settings folder (created when missing). A
// failure is reported: as a message while a user interface is installed, else
// on standard error.
bool WriteSettings();
// Full name of the settings file that WriteSettings writes.
std::string SettingsFilePath();

// Zoom list entry (0 "Autozoom", 1 "400%" .. 10 "17%") of a stored zoom number
// -3..8; -1 for any other number.
int ZoomEntryFromNumber(int number);
// Stored zoom number of a zoom list entry; 6 for the automatic zoom.
int ZoomNumberFromEntry(int entry);

}  // namespace astrelon
