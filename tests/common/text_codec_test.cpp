#include <gtest/gtest.h>

#include "common/text_codec.h"
#include "test_support.h"

using namespace astrelon;

TEST(TextCodec, Utf8WithAndWithoutByteOrderMark) {
  TTextEncoding enc = TTextEncoding::Windows1252;
  EXPECT_EQ(DecodeText("Gr\xC3\xBCn", &enc), "Gr\xC3\xBCn");
  EXPECT_EQ(enc, TTextEncoding::Utf8);
  EXPECT_EQ(DecodeText("\xEF\xBB\xBFGr\xC3\xBCn"), "Gr\xC3\xBCn");
  EXPECT_EQ(DecodeText("\xEF\xBB\xBF"), "");
  EXPECT_EQ(DecodeText(""), "");
  // A file that declares UTF-8 keeps it; a stray byte becomes U+FFFD.
  EXPECT_EQ(DecodeText("\xEF\xBB\xBF" "a\xFC" "b", &enc), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(enc, TTextEncoding::Utf8);
}

TEST(TextCodec, InvalidUtf8IsReadAsWindows1252) {
  TTextEncoding enc = TTextEncoding::Utf8;
  // "Grün" and "€ 5 – ok" as written by a Windows program.
  EXPECT_EQ(DecodeText("Gr\xFCn", &enc), "Gr\xC3\xBCn");
  EXPECT_EQ(enc, TTextEncoding::Windows1252);
  EXPECT_EQ(DecodeText("\x80 5 \x96 ok"), "\xE2\x82\xAC 5 \xE2\x80\x93 ok");
  EXPECT_EQ(Windows1252ToUtf8("\x9F\xFF"), "\xC5\xB8\xC3\xBF");  // Ÿ ÿ
  // Undefined codes keep their Latin-1 control meaning.
  EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
}

TEST(TextCodec, EveryWindows1252ByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b)
    all += char(b);
  const std::string utf8 = Windows1252ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8Length(utf8), 255u);
  EXPECT_EQ(Utf8ToWindows1252(utf8), all);
}

TEST(TextCodec, UnmappableCharactersBecomeQuestionMarks) {
  // Greek alpha, a CJK character, an emoji and a lone continuation byte.
  EXPECT_EQ(Utf8ToWindows1252("a\xCE\xB1 \xE6\x97\xA5 \xF0\x9F\x98\x80 \x80"), "a? ? ? ?");
  EXPECT_EQ(Utf8ToWindows1252("\xE2\x80\x9E" "Zitat" "\xE2\x80\x9C"), "\x84Zitat\x93");
}

TEST(TextCodec, StrictUtf8Validation) {
  EXPECT_TRUE(IsValidUtf8("plain ASCII"));
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));      // U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));             // overlong '/'
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));         // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));         // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));     // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xC3"));                 // truncated
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));             // truncated
  EXPECT_FALSE(IsValidUtf8("\xBF"));                 // lone continuation
}

TEST(TextCodec, ColumnsCountCharacters) {
  const std::string text = "\xC3\x84nderung \xE2\x82\xAC";  // "Änderung €"
  EXPECT_EQ(Utf8Length(text), 10u);
  EXPECT_EQ(Utf8Substr(text, 0, 1), "\xC3\x84");
  EXPECT_EQ(Utf8Substr(text, 1, 7), "nderung");
  EXPECT_EQ(Utf8Substr(text, 9), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8Substr(text, 9, 100), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8Substr(text, 20, 3), "");
  // Malformed bytes count one character each and are never split off a neighbour.
  EXPECT_EQ(Utf8Length("a\xFF\xE2\x82\xAC"), 3u);
  EXPECT_EQ(Utf8Substr("a\xFF\xE2\x82\xAC", 2, 1), "\xE2\x82\xAC");
}

TEST(TextCodec, SplitLinesOnEveryLineBreak) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n\nb\n"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitLines("a\r\r\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitLines(""), V{});
  EXPECT_EQ(SplitLines("\n"), V{""});
  EXPECT_EQ(SplitLines("no break"), V{"no break"});
}

TEST(TextCodec, ReadTextFile) {
  test::TempDir dir;
  test::WriteText(dir.file("latin.txt"), "[Section]\r\nKey=Gr\xFC\xDF\x65\r\n");
  auto text = ReadTextFile(dir.file("latin.txt"));
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "[Section]\r\nKey=Gr\xC3\xBC\xC3\x9F" "e\r\n");

  test::WriteText(dir.file("bom.txt"), "\xEF\xBB\xBFx=1");
  EXPECT_EQ(ReadTextFile(dir.file("bom.txt")), "x=1");
  test::WriteText(dir.file("empty.txt"), "");
  EXPECT_EQ(ReadTextFile(dir.file("empty.txt")), "");

  EXPECT_FALSE(ReadTextFile(dir.file("missing.txt")));
  EXPECT_FALSE(ReadTextFile(dir.path().string()));  // a folder
  EXPECT_FALSE(ReadTextFile(dir.file("latin.txt"), 10));  // larger than allowed
}
