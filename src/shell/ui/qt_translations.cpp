#include "shell/ui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "core/language.h"

namespace astrelon {

bool InstallQtTranslations() {
  static QTranslator* installed = nullptr;
  if (installed) return true;
  // A translation file of the program chooses its own language; Qt stays as it is.
  if (LanguageFileLoaded || !QCoreApplication::instance()) return false;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load("qtbase_de", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  installed = translator;
  return true;
}

}  // namespace astrelon
