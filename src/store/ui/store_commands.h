#pragma once
// The menu commands of the image store: opening, closing and saving files and
// the editor of the own RAW layouts.

namespace astrelon {

void RegisterStoreCommands();

}  // namespace astrelon
