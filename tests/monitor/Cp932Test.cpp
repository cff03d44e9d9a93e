#include "Cp932.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

Cp932Class ClassOf(uint16_t code)
{
    return Cp932Classify(static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code & 0xFF));
}

// Every code point of [first, last] with a valid trail byte has the class.
void ExpectRangeClass(uint16_t first, uint16_t last, Cp932Class expected)
{
    for (uint32_t code = first; code <= last; ++code) {
        if (!Cp932IsTrailByte(static_cast<uint8_t>(code & 0xFF)))
            continue;
        ASSERT_EQ(ClassOf(static_cast<uint16_t>(code)), expected) << std::hex << code;
    }
}

TEST(Cp932Bytes, LeadBytesAreTheTwoDocumentedRanges)
{
    for (int b = 0; b < 256; ++b) {
        const bool expected = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        EXPECT_EQ(Cp932IsLeadByte(static_cast<uint8_t>(b)), expected) << b;
    }
}

TEST(Cp932Bytes, TrailBytesExclude0x7FAndTheEnds)
{
    for (int b = 0; b < 256; ++b) {
        const bool expected = (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
        EXPECT_EQ(Cp932IsTrailByte(static_cast<uint8_t>(b)), expected) << b;
    }
}

TEST(Cp932Classify, LettersPassAsLetters)
{
    ExpectRangeClass(0x8260, 0x8279, Cp932Class::Letter);  // Ａ..Ｚ
    ExpectRangeClass(0x8281, 0x829A, Cp932Class::Letter);  // ａ..ｚ
    ExpectRangeClass(0x829F, 0x82F1, Cp932Class::Letter);  // ぁ..ん
    ExpectRangeClass(0x8340, 0x8396, Cp932Class::Letter);  // ァ..ヶ
    ExpectRangeClass(0x839F, 0x83B6, Cp932Class::Letter);  // Α..Ω
    ExpectRangeClass(0x83BF, 0x83D6, Cp932Class::Letter);  // α..ω
    ExpectRangeClass(0x8440, 0x8460, Cp932Class::Letter);  // А..Я
    ExpectRangeClass(0x8470, 0x8491, Cp932Class::Letter);  // а..я
    ExpectRangeClass(0x8152, 0x8155, Cp932Class::Letter);  // ヽヾゝゞ
    ExpectRangeClass(0x8157, 0x815B, Cp932Class::Letter);  // 仝々〆〇ー
}

TEST(Cp932Classify, KanjiPassAsLetters)
{
    EXPECT_EQ(ClassOf(0x889F), Cp932Class::Letter);  // 亜, first of level 1
    EXPECT_EQ(ClassOf(0x9872), Cp932Class::Letter);  // last of level 1
    EXPECT_EQ(ClassOf(0x989F), Cp932Class::Letter);  // first of level 2
    EXPECT_EQ(ClassOf(0x9FFC), Cp932Class::Letter);
    EXPECT_EQ(ClassOf(0xE040), Cp932Class::Letter);
    EXPECT_EQ(ClassOf(0xEAA4), Cp932Class::Letter);  // last of level 2
    EXPECT_EQ(ClassOf(0x8ABF), Cp932Class::Letter);  // 漢
    ExpectRangeClass(0xED40, 0xEEEC, Cp932Class::Letter);
    ExpectRangeClass(0xFA5C, 0xFC4B, Cp932Class::Letter);
}

TEST(Cp932Classify, FullWidthSymbolsPassAsSymbols)
{
    ExpectRangeClass(0x8141, 0x8151, Cp932Class::Symbol);  // 、。，．・：；？！゛゜´｀¨＾￣＿
    EXPECT_EQ(ClassOf(0x8156), Cp932Class::Symbol);        // 〃
    ExpectRangeClass(0x815C, 0x81AC, Cp932Class::Symbol);
    ExpectRangeClass(0x81B8, 0x81BF, Cp932Class::Symbol);
    ExpectRangeClass(0x81C8, 0x81CE, Cp932Class::Symbol);
    ExpectRangeClass(0x81DA, 0x81E8, Cp932Class::Symbol);
    ExpectRangeClass(0x81F0, 0x81F7, Cp932Class::Symbol);
    EXPECT_EQ(ClassOf(0x81FC), Cp932Class::Symbol);        // ◯
    ExpectRangeClass(0x849F, 0x84BE, Cp932Class::Symbol);  // box drawing
    ExpectRangeClass(0x8740, 0x875D, Cp932Class::Symbol);  // ①.., Ⅰ..
    ExpectRangeClass(0x875F, 0x8775, Cp932Class::Symbol);
    EXPECT_EQ(ClassOf(0x877E), Cp932Class::Symbol);
    ExpectRangeClass(0x8780, 0x879C, Cp932Class::Symbol);
    ExpectRangeClass(0xEEEF, 0xEEFC, Cp932Class::Symbol);
    ExpectRangeClass(0xFA40, 0xFA5B, Cp932Class::Symbol);
}

TEST(Cp932Classify, DigitsAndTheIdeographicSpaceDoNotPass)
{
    ExpectRangeClass(0x824F, 0x8258, Cp932Class::None);  // ０..９
    EXPECT_EQ(ClassOf(0x8140), Cp932Class::None);
}

TEST(Cp932Classify, UnassignedCodePointsDoNotPass)
{
    ExpectRangeClass(0x81AD, 0x81B7, Cp932Class::None);
    ExpectRangeClass(0x81F8, 0x81FB, Cp932Class::None);
    ExpectRangeClass(0x8240, 0x824E, Cp932Class::None);
    ExpectRangeClass(0x82F2, 0x82FC, Cp932Class::None);
    ExpectRangeClass(0x8397, 0x839E, Cp932Class::None);
    ExpectRangeClass(0x83D7, 0x83FC, Cp932Class::None);
    ExpectRangeClass(0x8461, 0x846F, Cp932Class::None);
    ExpectRangeClass(0x84BF, 0x86FC, Cp932Class::None);
    EXPECT_EQ(ClassOf(0x875E), Cp932Class::None);
    ExpectRangeClass(0x879D, 0x889E, Cp932Class::None);
    ExpectRangeClass(0x9873, 0x989E, Cp932Class::None);
    ExpectRangeClass(0xEAA5, 0xED3F, Cp932Class::None);
    ExpectRangeClass(0xEEED, 0xEEEE, Cp932Class::None);
    ExpectRangeClass(0xEF40, 0xF9FC, Cp932Class::None);  // user-defined rows
    ExpectRangeClass(0xFC4C, 0xFCFC, Cp932Class::None);
}

TEST(Cp932Classify, InvalidLeadOrTrailBytesDoNotPass)
{
    EXPECT_EQ(ClassOf(0x889F), Cp932Class::Letter);
    EXPECT_EQ(Cp932Classify(0x88, 0x7F), Cp932Class::None);
    EXPECT_EQ(Cp932Classify(0x88, 0xFD), Cp932Class::None);
    EXPECT_EQ(Cp932Classify(0x88, 0x3F), Cp932Class::None);
    EXPECT_EQ(Cp932Classify(0x95, 0x20), Cp932Class::None);
    for (int lead = 0; lead < 256; ++lead) {
        if (Cp932IsLeadByte(static_cast<uint8_t>(lead)))
            continue;
        for (int trail = 0; trail < 256; ++trail)
            ASSERT_EQ(Cp932Classify(static_cast<uint8_t>(lead), static_cast<uint8_t>(trail)), Cp932Class::None)
                << lead << " " << trail;
    }
}

TEST(Cp932Classify, DisplayablePairsAreTheClassifiedOnes)
{
    EXPECT_TRUE(Cp932IsDisplayablePair(0x82, 0xA0));  // あ
    EXPECT_TRUE(Cp932IsDisplayablePair(0x81, 0x40 + 1));
    EXPECT_FALSE(Cp932IsDisplayablePair(0x41, 0x42));  // one-byte letters
    EXPECT_FALSE(Cp932IsDisplayablePair(0xB1, 0xB2));  // one-byte katakana
    EXPECT_FALSE(Cp932IsDisplayablePair(0x82, 0x50));  // ０
    EXPECT_FALSE(Cp932IsDisplayablePair(0xF0, 0x40));  // user-defined
}

}  // namespace
