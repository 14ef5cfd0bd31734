// Translation files: finding, loading, looking up entries, folding to ASCII.
#include "core/language.h"

#include "test_support.h"

namespace astrelon {
namespace {

class LanguageTest : public ::testing::Test {
protected:
  void SetUp() override { UnloadLanguageFile(); }
  void TearDown() override { UnloadLanguageFile(); }

  // Loads a file given as text, lines separated by "\n".
  static void Load(const std::string& text) {
    test::TempDir dir;
    const std::string path = dir.file("QZlang_Test.txt");
    test::WriteText(path, text);
    ASSERT_TRUE(LoadLanguageFileFrom(path));
  }
};

const std::string kSmallFile =
    "[0_Version\r\n"
    "[1]3.1\r\n"
    "[1.1]Neue Sprachdatei!\r\n"
    "[1_Menu\r\n"
    "[1]&File\r\n"
    "[1.1]&Open\r\n"
    "\r\n"
    "[3.6.6]Input\r\n"
    "[2_Toolbar\r\n"
    "[9.2]Zoom level\r\n"
    "[5]First line\r\n"
    "second line\r\n"
    "third line\r\n"
    "[6]Next\r\n";

TEST_F(LanguageTest, PackedKeysNameSectionAndTag) {
  EXPECT_EQ(TagOfKey(256), "[1]");
  EXPECT_EQ(TagOfKey(65792), "[1.1]");
  EXPECT_EQ(TagOfKey(133378), "[9.2]");
  EXPECT_EQ(TagOfKey(101057281), "[3.6.6]");
  EXPECT_EQ(TagOfKey(LangKey(1, 1, 0, 1)), "[1.0.1]");
  EXPECT_EQ(LangKey(2, 9, 2), 133378);
  EXPECT_EQ(LangKey(1, 3, 6, 6), 101057281);
}

TEST_F(LanguageTest, NoFileLoadedGivesEmptyTexts) {
  EXPECT_FALSE(LanguageFileLoaded);
  EXPECT_EQ(LangText(256), "");
  EXPECT_EQ(LangTextOr(256, "Datei"), "Datei");
}

TEST_F(LanguageTest, EntriesAreFoundInTheirSection) {
  Load(kSmallFile);
  ASSERT_TRUE(LanguageFileLoaded);
  EXPECT_FLOAT_EQ(LanguageFile.Version, 3.1f);
  EXPECT_EQ(LangText(LangKey(0, 1, 1)), "Neue Sprachdatei!");
  EXPECT_EQ(LangText(LangKey(1, 1)), "&File");  // [1] does not match [1.1]
  EXPECT_EQ(LangText(LangKey(1, 1, 1)), "&Open");
  EXPECT_EQ(LangText(101057281), "Input");
  EXPECT_EQ(LangText(133378), "Zoom level");
  EXPECT_EQ(LangText(0), "");
  EXPECT_EQ(LangText(LangKey(2, 7)), "");  // missing key
  EXPECT_EQ(LangTextOr(LangKey(2, 7), "Bild"), "Bild");
  EXPECT_EQ(LangText(LangKey(5, 1)), "");  // missing section
}

TEST_F(LanguageTest, ContinuationLinesAreJoinedWithCrLf) {
  Load(kSmallFile);
  EXPECT_EQ(LangText(LangKey(2, 5)), "First line\r\nsecond line\r\nthird line");
  EXPECT_EQ(LangText(LangKey(2, 6)), "Next");
}

TEST_F(LanguageTest, ByteOrderMarkMeansUtf8AndIsDropped) {
  Load("\xEF\xBB\xBF[0_x\n[1_Menu\n[1]Gr\xC3\xB6\xC3\x9F" "e\n");
  EXPECT_TRUE(LanguageFile.Utf8);
  EXPECT_EQ(LanguageFile.Lines[0], "[0_x");
  EXPECT_EQ(LangText(LangKey(1, 1)), "Größe");
}

TEST_F(LanguageTest, FileWithoutMarkInWindows1252IsDecoded) {
  Load("[0_x\n[1_Menu\n[1]Gr\xF6\xDF" "e\n[2]\x80 5\n");
  EXPECT_FALSE(LanguageFile.Utf8);
  EXPECT_EQ(LangText(LangKey(1, 1)), "Größe");
  EXPECT_EQ(LangText(LangKey(1, 2)), "€ 5");
  // The same text saved as UTF-8 without a mark stays as it is.
  Load("[0_x\n[1_Menu\n[1]Gr\xC3\xB6\xC3\x9F" "e\n");
  EXPECT_FALSE(LanguageFile.Utf8);
  EXPECT_EQ(LangText(LangKey(1, 1)), "Größe");
}

TEST_F(LanguageTest, MissingSectionMakesLaterSectionsUnreachable) {
  Load("[0_x\n[1_a\n[1]eins\n[2_b\n[1]zwei\n[4_d\n[1]vier\n");
  EXPECT_EQ(LangText(LangKey(1, 1)), "eins");
  EXPECT_EQ(LangText(LangKey(2, 1)), "zwei");
  EXPECT_EQ(LangText(LangKey(3, 1)), "");
  EXPECT_EQ(LangText(LangKey(4, 1)), "");
}

TEST_F(LanguageTest, LookupStopsAtTheEndOfItsSection) {
  // Section 99 lacks [7]; the scan must not run on into section 100, whose
  // three-digit header does not look like a header to the line test.
  std::string text = "[0_x\n";
  for (int s = 1; s <= 100; ++s) text += "[" + std::to_string(s) + "_s\n[1]s" + std::to_string(s) + "\n";
  text += "[7]aus Abschnitt 100\n";
  Load(text);
  EXPECT_EQ(LangText(LangKey(100, 1)), "s100");
  EXPECT_EQ(LangText(LangKey(100, 7)), "aus Abschnitt 100");
  EXPECT_EQ(LangText(LangKey(99, 7)), "");
  EXPECT_EQ(LangText(LangKey(99, 1)), "s99");
}

TEST_F(LanguageTest, SectionZeroIsTheTextBeforeSectionOne) {
  Load("[1]4.5\n[1_a\n[1]eins\n");
  EXPECT_EQ(LangText(LangKey(0, 1)), "4.5");
  EXPECT_FLOAT_EQ(LanguageFile.Version, 4.5f);
}

TEST_F(LanguageTest, FindsTheFirstTranslationFileInAFolder) {
  test::TempDir dir;
  EXPECT_EQ(ListLanguageFiles(dir.path().string()), "");
  test::WriteText(dir.file("qzlang_klein.txt"), "x");
  test::WriteText(dir.file("QZlang_English.doc"), "x");
  std::filesystem::create_directory(dir.path() / "QZlang_Ordner.txt");
  EXPECT_EQ(ListLanguageFiles(dir.path().string()), "");
  test::WriteText(dir.file("QZlang_English.txt"), "x");
  test::WriteText(dir.file("QZlang_Francais.txt"), "x");
  EXPECT_EQ(ListLanguageFiles(dir.path().string()), dir.file("QZlang_English.txt"));
  EXPECT_EQ(ListLanguageFiles(dir.file("nicht_da")), "");
}

TEST_F(LanguageTest, FoldToAsciiWithoutFile) {
  EXPECT_EQ(FoldToAscii("Größe"), "Groesse");
  EXPECT_EQ(FoldToAscii("ÄÖÜäöüß"), "AeOeUeaeoeuess");
  EXPECT_EQ(FoldToAscii("20°C"), "20C");
  // Two characters without spelling in a row, and one right after a spelled one.
  EXPECT_EQ(FoldToAscii("a°°b"), "ab");
  EXPECT_EQ(FoldToAscii("ß°é"), "ss");
  EXPECT_EQ(FoldToAscii("Tab\there"), "Tabhere");
  EXPECT_EQ(FoldToAscii("Gr\xF6\xDF" "e"), "Groesse");  // stray Latin-1 bytes
  EXPECT_EQ(FoldToAsciiShort("Größe", 4), "Groe");
}

TEST_F(LanguageTest, FoldToAsciiUsesTheSpellingsOfSectionEight) {
  std::string text = "[0_x\n";
  for (int s = 1; s <= 7; ++s) text += "[" + std::to_string(s) + "_s\n";
  text += "[8_Zeichen\n[1]é=e\n[2]°=deg\n[3]ö=o\n[4]ñ=nñ\n";
  Load(text);
  EXPECT_EQ(FoldToAscii("Café 20°ö"), "Cafe 20dego");
  EXPECT_EQ(FoldToAscii("ü"), "");      // no spelling in the file
  EXPECT_EQ(FoldToAscii("ñ"), "n");     // only ASCII of a spelling is kept
}

TEST_F(LanguageTest, FirstWordOfButtonTexts) {
  EXPECT_EQ(FirstWord("Yes, sure"), "Yes");
  EXPECT_EQ(FirstWord("  Oui"), "Oui");
  EXPECT_EQ(FirstWord("Abbrechen"), "Abbrechen");
  EXPECT_EQ(FirstWord("Übernehmen (alle)"), "Übernehmen");
  EXPECT_EQ(FirstWord(""), "");
}

TEST_F(LanguageTest, VersionNoteForOlderFiles) {
  EXPECT_DOUBLE_EQ(ProgramVersion(), 4.2);
  EXPECT_EQ(LanguageVersionNote(0.0), "");  // no file
  Load("[0_x\n[1]4.2\n[1_a\n");
  EXPECT_EQ(LanguageVersionNote(0.0), "");
  Load("[0_x\n[1]3.1\n[1.1]Neue Datei da\n[1_a\n");
  EXPECT_EQ(LanguageVersionNote(0.99), "     Neue Datei da");
  Load("[0_x\n[1]4.0\n[1_a\n");
  EXPECT_EQ(LanguageVersionNote(0.1), "     (A newer Language Textfile is available)");
  EXPECT_EQ(LanguageVersionNote(0.5), "");
}

}  // namespace
}  // namespace astrelon
