// The cell text of the owner-drawn list: alignment of texts that fit, cuts
// with "..." at whole characters, and cells too narrow for "...".
#include "CellLayout.h"

#include <gtest/gtest.h>

namespace {

// Half-width characters (ASCII, and each unit of a surrogate pair) 5 px,
// every other character 10 px; "..." is 15 px.
int FixedWidth(std::u16string_view text)
{
    int width = 0;
    for (char16_t unit : text) {
        const bool half = unit < 0x80 || (unit >= 0xD800 && unit <= 0xDFFF);
        width += half ? 5 : 10;
    }
    return width;
}

CellText LayOut(int cellWidth, std::u16string_view text, CellAlign align = CellAlign::Left)
{
    return LayOutCell(cellWidth, align, text, FixedWidth);
}

}  // namespace

TEST(CellLayout, FittingTextIsPlacedByTheColumnFormat)
{
    // "abc" is 15 px wide in a 100 px cell.
    EXPECT_EQ(2, LayOut(100, u"abc", CellAlign::Left).x);
    EXPECT_EQ(100 - 2 - 15, LayOut(100, u"abc", CellAlign::Right).x);  // ends 2 px before the edge
    EXPECT_EQ((100 - 15 - 4) / 2 + 2, LayOut(100, u"abc", CellAlign::Centre).x);
    EXPECT_EQ(u"abc", LayOut(100, u"abc", CellAlign::Right).text);
    EXPECT_EQ(u"abcdefgh", LayOut(45, u"abcdefgh").text);  // 40 + 4 < 45
}

TEST(CellLayout, TextThatDoesNotFitIsCutAtACharacterAndLeftAligned)
{
    // The part and "..." must stay below the cell less 4 px.
    const CellText japanese = LayOut(50, u"日本語テキスト", CellAlign::Right);
    EXPECT_EQ(u"日本語...", japanese.text);
    EXPECT_EQ(2, japanese.x);
    EXPECT_EQ(u"abcd...", LayOut(44, u"abcdefgh").text);  // 40 + 4 is not narrower than 44
    // 16 px of room: "ab" and the first half of the pair would fit.
    EXPECT_EQ(u"ab...", LayOut(35, u"ab\U0001F600cdefgh").text);
}

TEST(CellLayout, CutKeepsOneWholeCharacterAtLeast)
{
    EXPECT_EQ(u"a...", LayOut(19, u"abc").text);
    EXPECT_EQ(u"日...", LayOut(15, u"日本語").text);
    EXPECT_EQ(u"\U0001F600...", LayOut(15, u"\U0001F600\U0001F600\U0001F600").text);
}

TEST(CellLayout, CellNarrowerThanTheEllipsisKeepsTheText)
{
    const CellText narrow = LayOut(14, u"日本語", CellAlign::Right);
    EXPECT_EQ(u"日本語", narrow.text);
    EXPECT_EQ(2, narrow.x);
    EXPECT_EQ(u"", LayOut(3, u"").text);
}
