// libFuzzer target for translation files: every input is loaded and the texts
// of every section and of many tags are looked up and folded to ASCII. Built by
// fuzz/build.sh (clang).
#include <cstdint>
#include <string>

#include "core/language.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".txt");
  if (!fuzz::WriteInput(input, data, size)) return 0;
  UnloadLanguageFile();
  if (!LoadLanguageFileFrom(input)) return 0;
  for (int section = 0; section <= 12; ++section)
    for (int n1 = 0; n1 <= 12; ++n1)
      for (int n2 = 0; n2 <= 3; ++n2) {
        const std::string text = LangText(LangKey(section, n1, n2));
        const std::string ascii = FoldToAsciiShort(text, 80);
        fuzz::Check(ascii.size() <= 80, "folded text length");
        FirstWord(text);
      }
  ProgramVersion();
  UnloadLanguageFile();
  return 0;
}
