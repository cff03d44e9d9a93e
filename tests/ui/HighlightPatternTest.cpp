// Pattern texts as the condition editor reads them, and the row texts of
// stored conditions.
#include "HighlightPattern.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const HighlightCondition& condition)
{
    return std::vector<uint8_t>(condition.pattern, condition.pattern + condition.length);
}

TEST(HighlightPatternTest, BinaryTextsBecomeBytesAsTyped)
{
    const PatternEntry odd = ReadPattern("ABC", HighlightKind_Binary);
    ASSERT_EQ(PatternRefusal::None, odd.refusal);
    EXPECT_EQ((std::vector<uint8_t>{0xAB, 0xC0}), Bytes(odd.condition));
    EXPECT_EQ("ABC0", odd.displayText);

    const PatternEntry lower = ReadPattern("0d0a", HighlightKind_Binary);
    EXPECT_EQ((std::vector<uint8_t>{0x0D, 0x0A}), Bytes(lower.condition));
    EXPECT_EQ(HighlightKind_Binary, lower.condition.kind);
    EXPECT_EQ("0d0a", lower.displayText) << "the new row shows the text as typed";
    EXPECT_EQ("0D0A", ConditionText(lower.condition)) << "a stored condition shows upper-case pairs";
}

TEST(HighlightPatternTest, BinaryTextsWithOtherCharactersAreRefused)
{
    EXPECT_EQ(PatternRefusal::NotHexadecimal, ReadPattern("0D 0A", HighlightKind_Binary).refusal);
    EXPECT_EQ(PatternRefusal::NotHexadecimal, ReadPattern("0G", HighlightKind_Binary).refusal);
    EXPECT_EQ(PatternRefusal::NotHexadecimal, ReadPattern("\x82\x4F", HighlightKind_Binary).refusal)
        << "a full-width digit";
    EXPECT_EQ(PatternRefusal::Empty, ReadPattern("", HighlightKind_Binary).refusal);
    EXPECT_EQ(PatternRefusal::Empty, ReadPattern("", HighlightKind_Ascii).refusal);
}

TEST(HighlightPatternTest, AsciiTextsAreTheirCodePageBytes)
{
    const PatternEntry ok = ReadPattern("OK", HighlightKind_Ascii);
    EXPECT_EQ((std::vector<uint8_t>{0x4F, 0x4B}), Bytes(ok.condition));
    EXPECT_EQ(HighlightKind_Ascii, ok.condition.kind);
    EXPECT_EQ("OK", ConditionText(ok.condition));

    const PatternEntry kana = ReadPattern("\x82\xA0"
                                          "A",
                                          HighlightKind_Ascii);  // "あA"
    EXPECT_EQ((std::vector<uint8_t>{0x82, 0xA0, 0x41}), Bytes(kana.condition));
    EXPECT_EQ("\x82\xA0"
              "A",
              kana.displayText);
}

// The pattern holds 260 bytes: a text of 258 bytes fits; a longer one is cut
// there, and a two-byte character that would cross the limit goes whole.
TEST(HighlightPatternTest, TextsAreCutAtTheLimitOnWholeCharacters)
{
    const std::string digits(PATTERN_TEXT_LIMIT, 'f');
    EXPECT_EQ(PATTERN_TEXT_LIMIT, PatternTextFit(digits));
    EXPECT_EQ(PATTERN_TEXT_LIMIT, PatternTextFit(digits + "00"));
    const PatternEntry longest = ReadPattern(digits + "00", HighlightKind_Binary);
    EXPECT_EQ(129u, longest.condition.length);
    EXPECT_EQ(0xFF, longest.condition.pattern[128]);

    std::string kanji;
    for (int i = 0; i < 200; ++i)
        kanji += "\x88\x9F";  // 亜: 400 bytes
    EXPECT_EQ(PATTERN_TEXT_LIMIT, PatternTextFit(kanji));
    EXPECT_EQ(PATTERN_TEXT_LIMIT, ReadPattern(kanji, HighlightKind_Ascii).condition.length);
    const std::string shifted = "A" + kanji;
    EXPECT_EQ(PATTERN_TEXT_LIMIT - 1, PatternTextFit(shifted)) << "the 129th character would end at byte 259";
}

}  // namespace
