#include "registration/stacking/master_file_names.h"

#include "core/settings.h"

namespace astrelon {

std::array<std::string, 4> MasterFileNames;

void BuildMasterFileNames() {
  const std::string& ext = Settings.FitsExtension;
  MasterFileNames = {"Masterdark" + ext, "Masterflat" + ext, "", "Multifokus" + ext};
}

}  // namespace astrelon
