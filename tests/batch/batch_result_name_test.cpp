// The names batch results are saved under, by the target's naming rule.
#include <gtest/gtest.h>

#include "batch/run/batch_input_load.h"
#include "batch/run/batch_result_save.h"

namespace astrelon::test {
namespace {

TResultNaming Naming(const std::string& target) {
  TResultNaming n;
  n.TargetName = target;
  std::string ext;
  if (const size_t dot = target.rfind('.'); dot != std::string::npos) ext = target.substr(dot);
  for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
  n.TargetExt = ext.substr(0, 4);
  n.TargetFolder = "/out/";
  n.FitsExtension = ".fit";
  return n;
}

TEST(BatchResultName, FollowsTheTargetsNamingRule) {
  struct Case {
    const char* target;
    const char* input;
    int count;
    bool frame;
    const char* expected;
  };
  const Case cases[] = {
      {"res.tif", "/in/img0001.fit", 1, false, "/out/res_0001.TIF"},
      {"res.tif", "/in/img0002.fit", 2, false, "/out/res_0002.TIF"},
      {"res.tiff", "/in/a.fit", 12, false, "/out/res_0012.TIF"},
      {"res.tif", "/in/a.fit", 12345, false, "/out/res_12345.TIF"},
      // A base ending in '*' or no base at all: "QZ_" and the input's name.
      {"res*", "/in/img0003.fit", 3, false, "/out/QZ_img0003.fit"},
      {"res*.png", "/in/img0003.fit", 3, false, "/out/QZ_img0003.PNG"},
      {"", "/in/img0003.tif", 3, false, "/out/QZ_img0003.fit"},
      // Two characters of extension: the FITS extension.
      {"res.f", "/in/a.fit", 1, false, "/out/res_0001.fit"},
      {"res", "/in/a.fit", 1, false, "/out/res_0001.fit"},
      // Four characters: ".jpeg" becomes ".JPE".
      {"res.jpeg", "/in/a.fit", 1, false, "/out/res_0001.JPE"},
      // A video frame keeps its name.
      {"*", "Frame0007", 8, true, "/out/Frame0007.fit"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ResultFileName(Naming(c.target), c.input, c.count, c.frame), c.expected) << c.target << " " << c.input;
}

TEST(BatchResultName, LongInputNamesShowTheirLast30Characters) {
  EXPECT_EQ(ShortInputName("/a/b.fit"), "/a/b.fit");
  const std::string name30(30, 'x');
  EXPECT_EQ(ShortInputName(name30), name30);
  EXPECT_EQ(ShortInputName("/very/long/folder/" + name30), "..." + name30);
  // Characters, not bytes: 28 "ü" and "ö.fit" after "/ä/" keep 25 "ü".
  std::string umlauts;
  for (int i = 0; i < 28; ++i) umlauts += "ü";
  EXPECT_EQ(ShortInputName("/ä/" + umlauts + "ö.fit"), "..." + umlauts.substr(6) + "ö.fit");
}

}  // namespace
}  // namespace astrelon::test
