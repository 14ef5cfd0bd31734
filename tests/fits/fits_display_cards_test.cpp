// The display parameter cards: exact texts to the column and reading them back.
#include "store/fits/fits_display_cards.h"

#include <gtest/gtest.h>

namespace astrelon {
namespace {

TDisplayRecord Record(float black, float white, float gamma) {
  TDisplayRecord d;
  d.Black = black;
  d.White = white;
  d.Gamma = gamma;
  d.CurveMode = 1;
  d.DisplayType = DtGrey;
  return d;
}

TEST(FitsDisplayCards, HistParCardColumns) {
  const std::string card = HistParCardText(Record(100.4f, 5000.6f, 1.0f));
  EXPECT_EQ(card, "COMMENT QZHistPar Min      100 Max     5001 Gam 1.00 Typ 1");
  EXPECT_EQ(card.substr(22, 8), "     100");  // columns 23..30
  EXPECT_EQ(card.substr(35, 8), "    5001");  // columns 36..43
  EXPECT_EQ(card.substr(48, 4), "1.00");      // columns 49..52
  EXPECT_EQ(card[57], '1');                   // column 58
  // A gamma of 0.1 or less is written as 1.00 with type 0; too wide numbers become nines.
  EXPECT_EQ(HistParCardText(Record(-123456789.0f, 2.0f, 0.05f)),
            "COMMENT QZHistPar Min 99999999 Max        2 Gam 1.00 Typ 0");
  EXPECT_EQ(HistParCardText(Record(0, 1, 2.345f)).substr(48, 4), "2.35");
}

TEST(FitsDisplayCards, Hp3CardColumns) {
  TDisplayRecord d = Record(0.0f, 1.0f, 1.0f);
  d.SqrtHistogram = 1;
  // k 1, flags 1 + 4, type "B" (grey), Black and White bits, gamma 1 on 0.2..5.0.
  EXPECT_EQ(Hp3CardText(d), "COMMENT QZHP3 15B000000003F8000002AAA");
  d = Record(-2.5f, 65535.0f, -0.5f);
  d.DisplayType = DtColorRgb;
  EXPECT_EQ(Hp3CardText(d), "COMMENT QZHP3 21JC0200000477FFF008000");
  d = Record(0.0f, 600.0f, CurveModeGamma);
  for (int i = 1; i <= 5; ++i) d.CurvePoints[size_t(i)] = {float(i) * 100.0f, float(i) / 6.0f};
  const std::string curve = Hp3CardText(d);
  EXPECT_EQ(curve.substr(14, 1), "3");
  EXPECT_EQ(curve.substr(33), "2AAA2AAB5555555580008000AAAAAAAAD554D554");
  EXPECT_EQ(curve.size(), 73u);
}

TEST(FitsDisplayCards, FormattingRoutines) {
  EXPECT_EQ(FormatIntField(42, 8), "      42");
  EXPECT_EQ(FormatIntField(123456789, 8), "99999999");
  EXPECT_EQ(FloatToHexBits(-1e11f), "D1BA43B7");
  EXPECT_EQ(ScaledToHex(-1, 0, 1), "0000");
  EXPECT_EQ(ScaledToHex(2, 0, 1), "FFFF");
  EXPECT_EQ(ScaledToHex(0.5, 0, 1), "8000");  // 32767.5 rounds to even
  EXPECT_EQ(HexBitsToFloat("D1BA43B7"), -1e11f);
  EXPECT_EQ(HexToScaled("FFFF", 0.2, 5.0), 5.0);
  EXPECT_FALSE(HexBitsToFloat("D1BA43").has_value());
  EXPECT_FALSE(HexToScaled("12G4", 0, 1).has_value());
}

TEST(FitsDisplayCards, CardsReadBack) {
  TDisplayRecord d = Record(12.5f, 3000.25f, 1.7f);
  d.LumaOnly = 1;
  d.SpanBlackWhite = 1;
  d.DisplayType = DtIsophotes;
  TDisplayRecord r;
  ASSERT_TRUE(ApplyHp3Card(Hp3CardText(d), r));
  EXPECT_EQ(r.Black, 12.5f);
  EXPECT_EQ(r.White, 3000.25f);
  EXPECT_NEAR(r.Gamma, 1.7f, 4.8 / 65535);
  EXPECT_EQ(r.DisplayType, DtIsophotes);
  EXPECT_EQ(r.CurveMode + 2 * r.LumaOnly + 4 * r.SqrtHistogram + 8 * r.SpanBlackWhite, 1 + 2 + 8);

  d.Gamma = CurveModeGamma;
  for (int i = 1; i <= 5; ++i) d.CurvePoints[size_t(i)] = {12.5f + float(i) * 400.0f, float(i) * 0.15f};
  ASSERT_TRUE(ApplyHp3Card(Hp3CardText(d), r));
  EXPECT_EQ(r.Gamma, CurveModeGamma);
  EXPECT_EQ(r.CurvePoints[0].X, 12.5f);
  EXPECT_EQ(r.CurvePoints[6].Y, 1.0f);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_NEAR(r.CurvePoints[size_t(i)].X, d.CurvePoints[size_t(i)].X, 2988.0 / 65535);
    EXPECT_NEAR(r.CurvePoints[size_t(i)].Y, d.CurvePoints[size_t(i)].Y, 1.0 / 65535);
  }

  const auto hp = ParseHistParCard(HistParCardText(Record(-7.0f, 900.0f, 0.8f)));
  ASSERT_TRUE(hp.has_value());
  EXPECT_EQ(hp->Min, -7);
  EXPECT_EQ(hp->Max, 900);
  EXPECT_DOUBLE_EQ(hp->Gamma, 0.8);
  EXPECT_EQ(hp->Typ, 1);
}

TEST(FitsDisplayCards, DamagedCardsStopWhereTheyFail) {
  TDisplayRecord r;
  r.Black = 5;
  // A display code outside the known ones stops the reading after the flags.
  EXPECT_FALSE(ApplyHp3Card("COMMENT QZHP3 17z000000003F8000002AAA", r));
  EXPECT_EQ(r.CurveMode, 1);
  EXPECT_EQ(r.LumaOnly, 1);
  EXPECT_EQ(r.Black, 5.0f);
  // Non-finite black or white levels are refused.
  EXPECT_FALSE(ApplyHp3Card("COMMENT QZHP3 11B7FC000003F8000002AAA", r));
  EXPECT_EQ(r.Black, 5.0f);
  EXPECT_FALSE(ParseHistParCard("COMMENT QZHistPar Min      abc Max     5001 Gam 1.00 Typ 1").has_value());
}

}  // namespace
}  // namespace astrelon
