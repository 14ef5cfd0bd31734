// libFuzzer target for the settings file: every input is read; what the
// program then writes must read back to the same settings (writing it again
// gives the same text, apart from "Hbreite", which is written 56 less than the
// width read). Built by fuzz/build.sh (clang).
#include <cstdint>
#include <string>

#include "core/funktion_defs.h"
#include "core/settings_file.h"
#include "fuzz_input.h"

namespace {

std::string WithoutHistogramWidth(const std::string& text) {
  const size_t at = text.find("\nHbreite: ");
  if (at == std::string::npos) return text;
  return text.substr(0, at) + text.substr(text.find('\n', at + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".ini"), written = fuzz::TempName("-out.ini");
  if (!fuzz::WriteInput(input, data, size)) return 0;
  ResetSettings();
  FunktionDefTable = DefaultFunktionDefTable();
  ReadSettingsFile(input);
  const std::string first = WithoutHistogramWidth(SettingsFileText());
  fuzz::Check(WriteSettingsFile(written), "settings written");
  ResetSettings();
  FunktionDefTable = DefaultFunktionDefTable();
  fuzz::Check(ReadSettingsFile(written), "settings read back");
  fuzz::Check(WithoutHistogramWidth(SettingsFileText()) == first, "settings survive writing and reading");
  return 0;
}
