#pragma once
// Qt's own texts (standard buttons, file dialogs) in German.
namespace astrelon {

// Installs Qt's German translation (qtbase_de.qm from Qt's translations folder)
// when no translation file of the program is loaded; once per run. True when
// Qt's texts are German afterwards.
bool InstallQtTranslations();

}  // namespace astrelon
