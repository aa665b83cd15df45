// Fixed-width integers in the byte orders the file formats use.
#include "data/Coding.h"

#include <gtest/gtest.h>

namespace coding = xbase::coding;

TEST(Coding, LittleAndBigEndianRoundTrip) {
    unsigned char b[8];
    coding::putLe16(b, 0xBEEF);
    EXPECT_EQ(b[0], 0xEF);
    EXPECT_EQ(coding::getLe16(b), 0xBEEF);
    coding::putLe32(b, 0x89ABCDEFu);
    EXPECT_EQ(b[0], 0xEF);
    EXPECT_EQ(b[3], 0x89);
    EXPECT_EQ(coding::getLe32(b), 0x89ABCDEFu);
    coding::putLe64(b, 0x0123456789ABCDEFull);
    EXPECT_EQ(b[7], 0x01);
    EXPECT_EQ(coding::getLe64(b), 0x0123456789ABCDEFull);
    coding::putBe32(b, 0x89ABCDEFu);
    EXPECT_EQ(b[0], 0x89);
    EXPECT_EQ(coding::getBe32(b), 0x89ABCDEFu);
    char c[2];
    coding::putLe16(c, 0xFF80);
    EXPECT_EQ(coding::getLe16(c), 0xFF80); // signed char storage reads back unsigned
}
