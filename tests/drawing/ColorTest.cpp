// The shades of a colour button's bevel and its caption colour.
#include "Color.h"

#include <gtest/gtest.h>

TEST(Color, LightenRaisesByAQuarterOfTheLargestComponentAtLeastOne)
{
    EXPECT_EQ(0x010101u, Lighten(0x000000));
    EXPECT_EQ(0x3F3FFFu, Lighten(0x0000FF));  // red stays at 255
    EXPECT_EQ(0x020204u, Lighten(0x010103));
    EXPECT_EQ(0x0A0A0Cu, Lighten(0x08080A));
}

TEST(Color, DarkShadeHalvesEveryComponent)
{
    EXPECT_EQ(0x7F6060u, DarkShade(0xFFC0C0));
    EXPECT_EQ(0x000000u, DarkShade(0x010101));
}

TEST(Color, CaptionIsWhiteUpToASumOf500AndNearBlackAbove)
{
    EXPECT_EQ(0xFFFFFFu, ContrastCaption(0x004080));  // sum 192
    EXPECT_EQ(0xFFFFFFu, ContrastCaption(0x00FAFA));  // sum 500
    EXPECT_EQ(0x010101u, ContrastCaption(0x00FBFA));  // sum 501
    EXPECT_EQ(0x010101u, ContrastCaption(0xFFC0C0));  // sum 639
}
