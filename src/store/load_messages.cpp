#include "store/load_messages.h"

#include "common/file_extension.h"
#include "core/language.h"

namespace astrelon {

namespace {
std::string Text(int key, const char* german) { return LangTextOr(key, german); }
}  // namespace

std::string HeaderNotRecognisedText() { return Text(LangKey(9, 53), "Der Header konnte nicht erkannt werden!"); }

std::string HalfSizeQuestionText() {
  return Text(LangKey(9, 54), "Die Datei ist sehr groß, soll sie in halber Größe geladen werden?");
}

std::string TooManyImagesText() { return Text(LangKey(9, 35), "Es sind zu viele Bilder geöffnet"); }

std::string FileOpenErrorText(const std::string& fileName) {
  const std::string a = LangText(LangKey(9, 65)), b = LangText(LangKey(9, 66));
  const std::string head = a.empty() && b.empty() ? std::string("Fehler beim öffnen der Datei") : a + b;
  return head + "\n" + FileNamePart(fileName);
}

std::string OutOfMemoryText(const std::string& fileName) {
  return "Nicht genügend Speicher für das Bild\n" + FileNamePart(fileName);
}

std::string ReplaceFileQuestionText(const std::string& fileName) {
  return fileName + "\n" + Text(LangKey(9, 55), " ist bereits vorhanden. Vorhandene Datei ersetzen?");
}

std::string SaveFailedText(const std::string& fileName) {
  return "Die Datei konnte nicht gespeichert werden:\n" + fileName;
}

}  // namespace astrelon
