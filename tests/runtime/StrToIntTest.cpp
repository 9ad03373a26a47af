#include "runtime/Exception.h"
#include "runtime/StrToInt.h"

#include <gtest/gtest.h>

TEST(StrToInt, AcceptsDecimalWithSignAndBlanks) {
  EXPECT_EQ(StrToInt("240"), 240);
  EXPECT_EQ(StrToInt(" 7 "), 7);
  EXPECT_EQ(StrToInt("-12"), -12);
  EXPECT_EQ(StrToInt("+3"), 3);
  EXPECT_EQ(StrToInt("007"), 7);
}

TEST(StrToInt, AcceptsHexadecimalPrefixes) {
  EXPECT_EQ(StrToInt("$ff"), 255);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1) << "hexadecimal text may use all 32 bits";
}

TEST(StrToInt, ThirtyTwoBitLimits) {
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  int v = 5;
  EXPECT_FALSE(TryStrToInt("2147483648", v));
  EXPECT_FALSE(TryStrToInt("-2147483649", v));
  EXPECT_FALSE(TryStrToInt("99999999999999999999999", v));
  EXPECT_EQ(v, 5) << "a failed conversion leaves the value alone";
}

TEST(StrToInt, RejectsEverythingElseWithTheConversionError) {
  for (const char *bad : {"", " ", "abc", "12a", "1 2", "-", "$", "0x", "1.5", "--1"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EConvertError &e) {
      EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
    }
  }
}

TEST(StrToInt, MessageQuotesTheTextOnce) {
  try {
    StrToInt("abc");
    FAIL();
  } catch (const EConvertError &e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
}
