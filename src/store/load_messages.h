#pragma once
// Messages and questions of loading and saving image files, translated when a
// translation file provides them.
#include <string>

namespace astrelon {

std::string HeaderNotRecognisedText();            // "Der Header konnte nicht erkannt werden!"
std::string HalfSizeQuestionText();               // "Die Datei ist sehr groß, ..."
std::string TooManyImagesText();                  // "Es sind zu viele Bilder geöffnet"
std::string FileOpenErrorText(const std::string& fileName);  // "Fehler beim öffnen der Datei" + name
std::string OutOfMemoryText(const std::string& fileName);
std::string ReplaceFileQuestionText(const std::string& fileName);  // name + " ist bereits vorhanden. ..."
std::string SaveFailedText(const std::string& fileName);

}  // namespace astrelon
