#include "store/load_messages.h"

#include "shell/language.h"
#include "store/file_extension.h"

namespace astrelon {

namespace {
constexpr int Key(int section, int tag) { return section | tag << 8; }

std::string Text(int key, const char* german) {
  std::string t = LangText(key);
  return t.empty() ? std::string(german) : t;
}
}  // namespace

std::string HeaderNotRecognisedText() { return Text(Key(9, 53), "Der Header konnte nicht erkannt werden!"); }

std::string HalfSizeQuestionText() {
  return Text(Key(9, 54), "Die Datei ist sehr groß, soll sie in halber Größe geladen werden?");
}

std::string TooManyImagesText() { return Text(Key(9, 35), "Es sind zu viele Bilder geöffnet"); }

std::string FileOpenErrorText(const std::string& fileName) {
  const std::string a = LangText(Key(9, 65)), b = LangText(Key(9, 66));
  const std::string head = a.empty() && b.empty() ? std::string("Fehler beim öffnen der Datei") : a + b;
  return head + "\n" + FileNamePart(fileName);
}

std::string OutOfMemoryText(const std::string& fileName) {
  return "Nicht genügend Speicher für das Bild\n" + FileNamePart(fileName);
}

std::string ReplaceFileQuestionText(const std::string& fileName) {
  return fileName + "\n" + Text(Key(9, 55), " ist bereits vorhanden. Vorhandene Datei ersetzen?");
}

std::string SaveFailedText(const std::string& fileName) {
  return "Die Datei konnte nicht gespeichert werden:\n" + fileName;
}

}  // namespace astrelon
