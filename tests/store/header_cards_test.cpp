// Header cards: exact texts to the column, history joining and splitting, axis cards.
#include "store/header_cards.h"

#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class HeaderCardsTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    Store.Image[1].Width = 640;
    Store.Image[1].Height = 480;
    MakeDefaultHeader(1);
  }
  const std::string& Card(int i) { return Store.Header[1][size_t(i)]; }
};

TEST_F(HeaderCardsTest, DefaultHeaderHasTheFixedCards) {
  EXPECT_EQ(Card(0), PadCard("SIMPLE  =                    T"));
  EXPECT_EQ(Card(1), PadCard("BITPIX  =                   16"));
  EXPECT_EQ(Card(2), PadCard("NAXIS   =                    2"));
  EXPECT_EQ(Card(3), PadCard("NAXIS1  =                  640"));
  EXPECT_EQ(Card(4), PadCard("NAXIS2  =                  480"));
  EXPECT_EQ(Card(5), PadCard("END"));
  EXPECT_EQ(Card(3).size(), 80u);
  EXPECT_EQ(FindHeaderEnd(1), 5);
  EXPECT_EQ(Store.NewHistoryCard[1], 1);
}

TEST_F(HeaderCardsTest, ColourDefaultHeaderHasThreeAxes) {
  Store.Image[2] = Store.Image[1];
  Store.Image[2].IsColor = 1;
  Store.Image[2].ColorModel = CmYuv;
  MakeDefaultHeader(2);
  EXPECT_EQ(Store.Header[2][2], PadCard("NAXIS   =                    3"));
  EXPECT_EQ(Store.Header[2][5], PadCard("NAXIS3  =                    3"));
  EXPECT_EQ(Store.Header[2][6], PadCard("CTYPE3  = 'YUV     '"));
  EXPECT_EQ(Store.Header[2][7], PadCard("END"));
}

TEST_F(HeaderCardsTest, FloatValueIsWrittenInExponentFormToColumn30) {
  SetHeaderKeyword(1, "BSCALE", "", 2.0, true, false, false);
  EXPECT_EQ(Card(5), PadCard("BSCALE  =  2.0000000000000E+00"));
  EXPECT_EQ(Card(6), PadCard("END"));
  SetHeaderKeyword(1, "BSCALE", "", -2.0, true, false, false);
  EXPECT_EQ(Card(5), PadCard("BSCALE  = -2.0000000000000E+00"));
  EXPECT_EQ(FindHeaderEnd(1), 6);
}

TEST_F(HeaderCardsTest, IntegerValueEndsInColumn30) {
  SetHeaderKeyword(1, "BLANK", "", -32768, true, true, false);
  EXPECT_EQ(Card(5), PadCard("BLANK   =               -32768"));
  EXPECT_EQ(Card(5)[29], '8');
  SetHeaderKeyword(1, "BLANK", "", 7.5, true, true, false);  // rounded halves to even
  EXPECT_EQ(Card(5), PadCard("BLANK   =                    8"));
}

TEST_F(HeaderCardsTest, StringAndRawValues) {
  SetHeaderKeyword(1, "OBJECT", "M42", 0, false, false, false);
  EXPECT_EQ(Card(5), PadCard("OBJECT  = 'M42'"));
  SetHeaderKeyword(1, "COMMENT BLANK ", "-1.00E+11", 0, false, false, true);
  EXPECT_EQ(Card(6), PadCard("COMMENT BLANK -1.00E+11"));
  SetHeaderKeyword(1, "OBJECT", "T", 0, false, false, true);
  EXPECT_EQ(Card(5), PadCard("OBJECT  = T"));
}

TEST_F(HeaderCardsTest, StringValueDoublesQuotesAndKeepsTheClosingQuote) {
  SetHeaderString(1, "OBSERVER", "O'Brien");
  EXPECT_EQ(Card(5), PadCard("OBSERVER= 'O''Brien'"));
  SetHeaderString(1, "INSTRUME", std::string(100, 'x'));
  EXPECT_EQ(Card(6).size(), 80u);
  EXPECT_EQ(Card(6)[79], '\'');
  EXPECT_EQ(Card(6).substr(0, 12), "INSTRUME= 'x");
  // A doubled quote is never split at the end.
  SetHeaderString(1, "NOTE", std::string(67, 'y') + "'z");
  EXPECT_EQ(Card(7), PadCard("NOTE    = '" + std::string(67, 'y') + "'"));
}

TEST(QuotedCards, FoldDoubleAndKeepTheClosingQuote) {
  EXPECT_EQ(QuotedCard("AUTHOR  = ", "Jürgen O'Neil"), "AUTHOR  = 'Juergen O''Neil'");
  const std::string card = QuotedCard("INSTRUME= ", std::string(90, 'm'));
  EXPECT_EQ(card.size(), 80u);
  EXPECT_EQ(card.back(), '\'');
}

TEST_F(HeaderCardsTest, HistoryTextsJoinWhileTheyFit) {
  const std::string a(30, 'a'), b(30, 'b'), c(30, 'c');
  AddHistoryCard(1, a, 0);  // flag 1 after the default header: a new card before END
  EXPECT_EQ(Card(5), PadCard("HISTORY " + a));
  AddHistoryCard(1, b, 0);
  EXPECT_EQ(Card(5), PadCard("HISTORY " + a + ", " + b));
  EXPECT_EQ(Card(6), PadCard("END"));
  AddHistoryCard(1, c, 0);  // 70 + 30 > 78: new card right after
  EXPECT_EQ(Card(5), PadCard("HISTORY " + a + ", " + b));
  EXPECT_EQ(Card(6), PadCard("HISTORY " + c));
  EXPECT_EQ(Card(7), PadCard("END"));
}

TEST_F(HeaderCardsTest, NewHistoryFlagAlwaysOpensACardBeforeEnd) {
  AddHistoryCard(1, "one", 1);
  SetHeaderKeyword(1, "OBJECT", "M42", 0, false, false, false);
  EXPECT_EQ(Store.NewHistoryCard[1], 1);
  AddHistoryCard(1, "two", 0);
  EXPECT_EQ(Card(5), PadCard("HISTORY one"));
  EXPECT_EQ(Card(6), PadCard("OBJECT  = 'M42'"));
  EXPECT_EQ(Card(7), PadCard("HISTORY two"));
  AddHistoryCard(1, "three", 0);  // flag 0 now: joins the last HISTORY card
  EXPECT_EQ(Card(7), PadCard("HISTORY two, three"));
}

TEST_F(HeaderCardsTest, HistoryTextIsCutTo72AndFoldedToAscii) {
  AddHistoryCard(1, std::string(73, 'h'), 1);
  EXPECT_EQ(Card(5), PadCard("HISTORY " + std::string(72, 'h')));
  AddHistoryCard(1, "Größe °", 1);
  EXPECT_EQ(Card(6), PadCard("HISTORY Groesse "));
}

TEST_F(HeaderCardsTest, ManyInsertionsGrowTheArray) {
  for (int i = 0; i < 100; ++i) AddHistoryCard(1, "step " + std::to_string(i), 1);
  EXPECT_EQ(FindHeaderEnd(1), 105);
  EXPECT_EQ(Card(104), PadCard("HISTORY step 99"));
  EXPECT_GE(Store.Header[1].size(), 107u);
}

TEST_F(HeaderCardsTest, OnlyTheKeywordEndEndsTheHeader) {
  SetHeaderKeyword(1, "ENDTIME", "03:04:05", 0, false, false, false);
  SetHeaderKeyword(1, "OBJECT", "M42", 0, false, false, false);
  EXPECT_EQ(FindHeaderEnd(1), 7);
  EXPECT_EQ(FindHeaderKeyword(1, "OBJECT"), 6);
  EXPECT_EQ(GetHeaderValue(1, "ENDTIME", false), "03:04:05");
}

TEST_F(HeaderCardsTest, ListWithoutEndGetsOne) {
  Store.Header[2] = THeaderCardList{};
  AddHistoryCard(2, "text", 1);
  SetHeaderKeyword(2, "OBJECT", "M1", 0, false, false, false);
  EXPECT_EQ(Store.Header[2][1], PadCard("HISTORY text"));
  EXPECT_EQ(Store.Header[2][2], PadCard("OBJECT  = 'M1'"));
  EXPECT_EQ(FindHeaderEnd(2), 3);
}

TEST_F(HeaderCardsTest, KeywordSearchSkipsCardZeroAndStopsAtEnd) {
  EXPECT_EQ(FindHeaderKeyword(1, "SIMPLE"), -1);
  EXPECT_EQ(FindHeaderKeyword(1, "NAXIS2"), 4);
  Store.Header[1][6] = PadCard("AFTEREND= 1");
  EXPECT_EQ(FindHeaderKeyword(1, "AFTEREND"), -1);
  EXPECT_EQ(FindHeaderKeyword(1, "NAXIS"), 2);
  EXPECT_EQ(FindHeaderKeyword(1, ""), -1);
}

TEST_F(HeaderCardsTest, AxisSwitchesBetweenGreyAndColour) {
  Store.Image[1].IsColor = 1;
  SetHeader3Axis(1);
  EXPECT_EQ(Card(2), PadCard("NAXIS   =                    3"));
  EXPECT_EQ(Card(5), PadCard("NAXIS3  =                    3"));
  EXPECT_EQ(Card(6), PadCard("CTYPE3  = 'RGB     '"));
  const auto before = Store.Header[1].Cards;
  SetHeader3Axis(1);
  EXPECT_EQ(Store.Header[1].Cards, before);
  Store.Image[1].ColorModel = CmYuv;
  SetCtype3Card(1);
  EXPECT_EQ(Card(6), PadCard("CTYPE3  = 'YUV     '"));
  SetHeader2Axis(1);
  EXPECT_EQ(Card(2), PadCard("NAXIS   =                    2"));
  EXPECT_EQ(Card(5), PadCard("END"));
}

TEST_F(HeaderCardsTest, NaxisCardsFollowTheImageSize) {
  Store.Image[1].Width = 123456;
  Store.Header[1][4] = "NAXIS2";  // short card is rebuilt
  SetNaxisCards(1);
  EXPECT_EQ(Card(3), PadCard("NAXIS1  =               123456"));
  EXPECT_EQ(Card(4), PadCard("NAXIS2  =                  480"));
}

TEST_F(HeaderCardsTest, AppendAndDeleteCards) {
  AppendHeaderCard(1, "COMMENT hello");
  EXPECT_EQ(Card(5), PadCard("COMMENT hello"));
  EXPECT_EQ(Card(6), PadCard("END"));
  DeleteHeaderCard(1, 5);
  EXPECT_EQ(Card(5), PadCard("END"));
}

TEST_F(HeaderCardsTest, HeaderValueFieldsAreTrimmed) {
  SetHeaderKeyword(1, "EXPTIME", "", 30, true, false, false);
  SetHeaderKeyword(1, "DATE-OBS", "2024-01-02T03:04:05", 0, false, false, false);
  SetHeaderString(1, "OBSERVER", "O'Brien");  // written with a doubled quote
  EXPECT_EQ(GetHeaderValue(1, "EXPTIME", true), "3.0000000000000E+01");
  EXPECT_EQ(GetHeaderValue(1, "DATE-OBS", false), "2024-01-02T03:04:05");
  EXPECT_EQ(GetHeaderValue(1, "OBSERVER", false), "O'Brien");
  EXPECT_EQ(GetHeaderValue(1, "MISSING", false), "");
}

TEST_F(HeaderCardsTest, HeaderValuesOfHandWrittenCards) {
  struct Case {
    const char* card;
    const char* key;
    bool raw;
    const char* value;
  };
  for (const Case& c : {
           Case{"OBJECT  = 'M 42'", "OBJECT", false, "M 42"},
           Case{"OBJECT  = 'M 42'  / target", "OBJECT", false, "M 42"},
           Case{"OBJECT  = '  M 42    '", "OBJECT", false, "M 42"},
           Case{"EXPTIME =  30.5", "EXPTIME", false, "30.5"},
           Case{"CCD-TEMP=                -12.5 / degrees C", "CCD-TEMP", false, "-12.5"},
           Case{"CCD-TEMP=                -12.5 / degrees C", "CCD-TEMP", true, "-12.5"},
           Case{"DATE-OBS= '2021-03-04T05:06:07'", "DATE-OBS", true, "'2021-03-04T05:06:07"},
           Case{"DATE-OBS= '2021-03-04T05:06:07'", "DATE-OBS", false, "2021-03-04T05:06:07"},
           Case{"OBSERVER= 'O''Brien' / a doubled quote", "OBSERVER", false, "O'Brien"},
           Case{"OBSERVER= 'no closing quote", "OBSERVER", false, "no closing quote"},
           Case{"RADESYS = 'FK5     '", "RA   ", false, ""},
           Case{"RA      = '05 35 17'", "RA   ", false, "05 35 17"},
           Case{"RA      = '05 35 17'", "RA", false, "05 35 17"},
           Case{"TELESC", "TELESC", false, ""},
           Case{"TELESC", "TELESC", true, ""},
       }) {
    MakeDefaultHeader(1);
    AppendHeaderCard(1, "");
    Store.Header[1][size_t(FindHeaderEnd(1) - 1)] = c.card;  // as stored, unpadded
    EXPECT_EQ(GetHeaderValue(1, c.key, c.raw), c.value) << c.card << " raw " << c.raw;
  }
  // The first matching card counts; cards after END do not.
  MakeDefaultHeader(1);
  AppendHeaderCard(1, "FILTER  = 'R'");
  AppendHeaderCard(1, "FILTER  = 'G'");
  EXPECT_EQ(GetHeaderValue(1, "FILTER", false), "R");
  Store.Header[1][FindHeaderEnd(1) + 1] = PadCard("AFTEREND= 'x'");
  EXPECT_EQ(GetHeaderValue(1, "AFTEREND", false), "");
  EXPECT_EQ(GetHeaderValue(60, "FILTER", false), "");
}

}  // namespace
}  // namespace astrelon
