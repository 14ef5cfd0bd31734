#pragma once
// Translation files "QZlang_<name>.txt": sections of numbered entries that replace
// the built-in German texts, and the folding of non-ASCII characters.
#include <string>

namespace astrelon {

// Text of a packed key (section and tag) from the loaded translation file; empty
// when no file is loaded or the key is missing.
std::string LangText(int key);
// Replaces every character outside 32..126 by its ASCII spelling (from the
// translation file's section 8, else the built-in umlaut table) or removes it.
// Texts are UTF-8.
std::string FoldToAscii(const std::string& text);

}  // namespace astrelon
