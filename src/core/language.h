#pragma once
// Translation files "QZlang_<name>.txt": sections of numbered entries that replace
// the built-in German texts, and the folding of non-ASCII characters.
//
// A file is a list of lines. Section s starts after its header line "[s_name";
// sections 1..255 follow each other in increasing order, section 0 is the text
// before the header of section 1. An entry starts with a tag "[n]", "[n.m]" or
// "[n.m.k]" and continues on the following lines up to the next line that
// starts with "[". Texts inside the program are UTF-8.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon {

// The loaded translation file.
struct TLanguageFile {
  std::vector<std::string> Lines;           // without empty lines, decoded to UTF-8
  std::array<int32_t, 257> SectionStart{};  // first line of each section; [256] = end marker
  bool Utf8 = false;                        // the file carried a mark before its first "["
  float Version = 0.0f;                     // section 0 entry [1]; 0 when none
};

extern TLanguageFile LanguageFile;
// Set once a translation file is loaded; cleared means every text stays German.
extern bool LanguageFileLoaded;

// Full name of the first file "QZlang_*.txt" (exact case) in the folder; empty
// when there is none. Hidden files and folders are skipped; among several files
// the one with the smallest name is taken, so the choice does not depend on the
// order in which the file system lists them.
std::string ListLanguageFiles(const std::string& folder);

// Builds the section table for lines just read from a translation file (raw
// bytes, one string per line). The first line loses any characters before its
// first "[" (a byte-order mark); such a file is UTF-8, otherwise the lines are
// UTF-8 when the whole file is valid UTF-8 and Windows-1252 when it is not.
// Sets LanguageFileLoaded and the file's version.
void LoadLanguageFile(std::vector<std::string> rawLines);
// Reads the file and loads it; false (and nothing loaded) when it cannot be read.
bool LoadLanguageFileFrom(const std::string& path);
// Forgets the loaded file (the program is German again). Used by tests.
void UnloadLanguageFile();

// The tag text of a packed key: byte 0 is the section, byte 1 the first number
// of the tag, bytes 2 and 3 the further numbers as long as a higher byte is set.
// TagOfKey(133378) = "[9.2]" (section 2).
std::string TagOfKey(uint32_t key);
// Packs a section and up to three tag numbers: LangKey(2, 9, 2) = 133378.
constexpr int LangKey(int section, int n1, int n2 = 0, int n3 = 0) {
  return int(uint32_t(section & 255) | uint32_t(n1 & 255) << 8 | uint32_t(n2 & 255) << 16 |
             uint32_t(n3 & 255) << 24);
}

// Text of a packed key (section and tag) from the loaded translation file; empty
// when no file is loaded, the key is 0 or the entry is missing. Continuation
// lines are joined with CR LF. The search stays inside the key's section.
std::string LangText(int key);
// LangText(key), or `german` when that is empty.
std::string LangTextOr(int key, const std::string& german);
// The first word of a text: leading blanks skipped, then the characters up to
// (not including) the first one whose code is below 65 ("A").
std::string FirstWord(const std::string& text);

// Replaces every character outside 32..126 by its ASCII spelling (from the
// translation file's section 8, else the built-in umlaut table) or removes it.
// The result is plain ASCII. Texts are UTF-8; a byte that is not part of a
// well-formed sequence counts as the Latin-1 character of that code.
std::string FoldToAscii(const std::string& text);
// FoldToAscii, cut to at most maxLength characters.
std::string FoldToAsciiShort(const std::string& text, size_t maxLength);

// The program's version text and its version number for the language-file note:
// the first three characters read as a number ("4.28" gives 4.2); 4.0 when that fails.
extern const char* const ProgramVersionText;
double ProgramVersion();
// The note appended to the status-bar hint when the loaded translation file is
// older than the program: five blanks and section 0 entry [1.1] (or an English
// default). `random01` is a uniformly distributed number in [0, 1): the note is
// shown when the version difference exceeds it, so a file older by a whole
// version or more always gets the note.
std::string LanguageVersionNote(double random01);

}  // namespace astrelon
