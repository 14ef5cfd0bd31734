#include "registration/stacking/master_file_names.h"

#include "core/language.h"
#include "core/settings.h"

namespace astrelon {

std::array<std::string, 4> MasterFileNames;

void BuildMasterFileNames() {
  const std::string& ext = Settings.FitsExtension;
  constexpr int KeyDark = LangKey(12, 4), KeyFlat = LangKey(12, 5);
  MasterFileNames = {LangTextOr(KeyDark, "Masterdark") + ext, LangTextOr(KeyFlat, "Masterflat") + ext, "",
                     "Multifokus" + ext};
}

}  // namespace astrelon
