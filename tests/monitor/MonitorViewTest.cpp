#include "MonitorView.h"

#include "RecordingSurface.h"
#include "RecordStore.h"
#include "SerialIoctl.h"
#include "TestRecords.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <string>
#include <vector>

namespace {

// Distinct colours, so that every assertion names the one colour it expects.
MonitorColors TestColors()
{
    MonitorColors colors;
    colors.Color1 = 0x000011;
    colors.Color2 = 0x000022;
    colors.Color3 = 0x000033;
    colors.Color4 = 0x000044;
    colors.Color5 = 0x000055;
    colors.Color6 = 0x000066;
    colors.Color7 = 0x000077;
    colors.Color8 = 0x000088;
    return colors;
}

constexpr Color HIGHLIGHT_A = 0x00AA00;
constexpr Color HIGHLIGHT_B = 0x00BB00;

// Top of display line L of a screen pass.
int LineTop(int line, int y0 = 0)
{
    return y0 + 14 + 40 * line;
}

int HeightFor(int lines)
{
    return 20 + 40 * lines;
}

std::string Hex2(uint8_t byte)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

HighlightCondition MakeCondition(uint32_t target, const std::vector<uint8_t>& pattern, Color color)
{
    HighlightCondition condition{};
    std::copy(pattern.begin(), pattern.end(), condition.pattern);
    condition.length = static_cast<uint32_t>(pattern.size());
    condition.target = target;
    condition.kind = HighlightKind_Binary;
    condition.color = color;
    return condition;
}

class MonitorViewTest : public ::testing::Test {
protected:
    explicit MonitorViewTest(uint32_t capacity = 10000) : store_(capacity, 1)
    {
        view_ = std::make_unique<MonitorView>(store_, screen_, colors_);
    }

    void AddReceived(const std::vector<uint8_t>& bytes, uint32_t timeCounter = 0)
    {
        Add(MakeDataRecord(RecordKind_Read, bytes, timeCounter));
    }

    void AddSent(const std::vector<uint8_t>& bytes, uint32_t timeCounter = 0)
    {
        Add(MakeDataRecord(RecordKind_Write, bytes, timeCounter));
    }

    void AddLineErrors(const std::vector<uint8_t>& codes)
    {
        Add(MakeControlRecord(IOCTL_SERIAL_GET_COMMSTATUS, 0, static_cast<uint32_t>(codes.size()), codes));
    }

    void Add(const TestRecord& record) { store_.Add(record.record, record.size); }

    // A screen pass of the given number of lines, from a clean recording.
    void PaintScreen(int lines, uint32_t firstLine = 0)
    {
        view_->SetViewHeight(HeightFor(lines));
        view_->SetFirstVisibleLine(firstLine);
        screen_.ops.clear();
        view_->PaintScreen();
    }

    // The one text drawn at (x, y); fails the test unless exactly one was.
    SurfaceOp TextAt(int x, int y) const { return OnlyTextAt(screen_, x, y); }

    static SurfaceOp OnlyTextAt(const RecordingSurface& surface, int x, int y)
    {
        const std::vector<SurfaceOp> texts = surface.TextsAt(x, y);
        EXPECT_EQ(texts.size(), 1u) << "texts at " << x << "," << y;
        return texts.empty() ? SurfaceOp{} : texts.front();
    }

    MonitorColors colors_ = TestColors();
    RecordStore store_;
    RecordingSurface screen_;
    std::unique_ptr<MonitorView> view_;
};

// --- creation and the empty store -------------------------------------------

TEST_F(MonitorViewTest, CreationFillsTheSurfaceDrawsTheHeaderAndReservesTheIdleCell)
{
    RecordStore store(10000, 1);
    RecordingSurface surface;
    MonitorView view(store, surface, colors_);

    ASSERT_EQ(surface.ops.size(), 4u);
    EXPECT_EQ(surface.ops[0].kind, SurfaceOpKind::Fill);
    EXPECT_EQ(surface.ops[0].rect.width, 1600);
    EXPECT_EQ(surface.ops[0].rect.height, 1200);
    EXPECT_EQ(surface.ops[0].color, colors_.Color7);
    const std::vector<std::pair<int, std::string>> header = {{2, "Counter"}, {70, "Binary Data"}, {450, "Ascii Data"}};
    for (const auto& [x, text] : header) {
        const SurfaceOp op = OnlyTextAt(surface, x, 0);
        EXPECT_EQ(op.text, text);
        EXPECT_EQ(op.font, Font::Small);
        EXPECT_EQ(op.color, COLOR_BLACK);
        EXPECT_EQ(op.background, colors_.Color7);
    }
    EXPECT_EQ(store.TotalCells(), 1u);
    EXPECT_EQ(view.LineCount(), 1u);
}

TEST_F(MonitorViewTest, EmptyStoreShowsOneLineWithZeroCountersAndTheIdleTimeInItsFirstCell)
{
    PaintScreen(10);
    const int t = LineTop(0);

    const std::vector<SurfaceOp> fills = screen_.OfKind(SurfaceOpKind::Fill);
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].rect.x, 0);
    EXPECT_EQ(fills[0].rect.y, 14);
    EXPECT_EQ(fills[0].rect.width, 640);
    EXPECT_EQ(fills[0].rect.height, HeightFor(10));
    EXPECT_EQ(fills[0].color, colors_.Color7);

    EXPECT_EQ(TextAt(2, t + 6).text, "00000000");
    EXPECT_EQ(TextAt(2, t + 6).color, colors_.Color1);
    EXPECT_EQ(TextAt(2, t + 20).text, "00000000");
    EXPECT_EQ(TextAt(2, t + 20).color, colors_.Color2);
    EXPECT_EQ(screen_.OfKind(SurfaceOpKind::Text).size(), 4u);  // labels and counters only
    EXPECT_EQ(view_->CellsOfLastPass(), 0u);

    screen_.ops.clear();
    view_->DrawIdleCounter(12345);
    const SurfaceOp seconds = TextAt(70, 22);
    const SurfaceOp milliseconds = TextAt(70, 33);
    EXPECT_EQ(seconds.text, "012");
    EXPECT_EQ(milliseconds.text, "345");
    EXPECT_EQ(seconds.font, Font::Small);
    EXPECT_EQ(seconds.color, colors_.Color3);
    EXPECT_EQ(milliseconds.color, colors_.Color3);
    EXPECT_EQ(view_->IdleTime(), 12345u);
}

// --- line frame: labels, counters, separator --------------------------------

TEST_F(MonitorViewTest, EachLineHasLabelsCountersAndASeparator)
{
    AddReceived(std::vector<uint8_t>(20, 0x41));
    AddSent(std::vector<uint8_t>(3, 0x42));
    PaintScreen(10);

    ASSERT_EQ(screen_.OfKind(SurfaceOpKind::Line).size(), 2u);
    for (int line = 0; line < 2; ++line) {
        const int t = LineTop(line);
        const SurfaceOp r = TextAt(60, t + 6);
        const SurfaceOp s = TextAt(60, t + 20);
        EXPECT_EQ(r.text, "R");
        EXPECT_EQ(s.text, "S");
        EXPECT_EQ(r.font, Font::Small);
        EXPECT_EQ(r.color, colors_.Color6);
        EXPECT_EQ(r.background, 0xFFFF88u);  // Color7 0x000077 inverted
        EXPECT_EQ(s.background, 0xFFFF88u);
        const SurfaceOp separator = screen_.OfKind(SurfaceOpKind::Line)[line];
        EXPECT_EQ(separator.x, 2);
        EXPECT_EQ(separator.y, t);
        EXPECT_EQ(separator.x2, 610);
        EXPECT_EQ(separator.y2, t);
        EXPECT_EQ(separator.penWidth, 2);
        EXPECT_EQ(separator.color, colors_.Color4);
    }
    // Counters count the data bytes before each line.
    EXPECT_EQ(TextAt(2, LineTop(1) + 6).text, "00000010");
    EXPECT_EQ(TextAt(2, LineTop(1) + 20).text, "00000000");
    EXPECT_EQ(TextAt(2, LineTop(1) + 6).background, colors_.Color7);
}

TEST_F(MonitorViewTest, CountersStartFromTheBytesBeforeThePageAndTheEvictedBytes)
{
    AddSent(std::vector<uint8_t>(0x25, 0x30));
    AddReceived(std::vector<uint8_t>(0x31, 0x31));
    PaintScreen(2, 3);
    // Line 3 starts at cell 48: 0x25 sent and 11 received bytes before it.
    EXPECT_EQ(TextAt(2, LineTop(0) + 6).text, "0000000B");
    EXPECT_EQ(TextAt(2, LineTop(0) + 20).text, "00000025");
    EXPECT_EQ(TextAt(2, LineTop(1) + 6).text, "0000001B");
}

class SmallStoreTest : public MonitorViewTest {
protected:
    SmallStoreTest() : MonitorViewTest(32) {}
};

TEST_F(SmallStoreTest, CountersIncludeEvictedBytes)
{
    AddReceived(std::vector<uint8_t>(16, 0x41));
    AddReceived(std::vector<uint8_t>(16, 0x42));
    ASSERT_EQ(store_.ReceivedBase(), 16u);  // the first record left the display
    AddSent(std::vector<uint8_t>(5, 0x43));
    PaintScreen(5);
    EXPECT_EQ(TextAt(2, LineTop(0) + 6).text, "00000010");
    EXPECT_EQ(TextAt(450, LineTop(0) + 6).text, "B");
    EXPECT_EQ(TextAt(2, LineTop(1) + 6).text, "00000020");
    EXPECT_EQ(TextAt(2, LineTop(1) + 20).text, "00000000");
}

// --- cells -------------------------------------------------------------------

TEST_F(MonitorViewTest, ReceivedAndSentBytesGoToTheirRowsAndColumns)
{
    std::vector<uint8_t> received(18);
    for (size_t i = 0; i < received.size(); ++i)
        received[i] = static_cast<uint8_t>(0x40 + i);
    AddReceived(received);
    AddSent({0xAB});
    PaintScreen(10);

    for (int k = 0; k < 16; ++k) {
        const SurfaceOp hex = TextAt(70 + 23 * k, LineTop(0) + 6);
        EXPECT_EQ(hex.text, Hex2(received[k]));
        EXPECT_EQ(hex.font, Font::Data);
        EXPECT_EQ(hex.color, colors_.Color1);
        EXPECT_EQ(hex.background, colors_.Color7);
        const SurfaceOp character = TextAt(450 + 10 * k, LineTop(0) + 6);
        EXPECT_EQ(character.text, std::string(1, static_cast<char>(received[k])));
        EXPECT_EQ(character.color, colors_.Color1);
    }
    EXPECT_EQ(TextAt(70 + 23, LineTop(1) + 6).text, "51");
    // The sent byte is cell 2 of line 1, on the sent row.
    const SurfaceOp sent = TextAt(70 + 46, LineTop(1) + 16);
    EXPECT_EQ(sent.text, "AB");
    EXPECT_EQ(sent.color, colors_.Color2);
    EXPECT_EQ(TextAt(450 + 20, LineTop(1) + 16).text, "\xAB");
    EXPECT_EQ(view_->CellsOfLastPass(), 19u);
}

TEST_F(MonitorViewTest, TextColumnShowsPrintableBytesAndDotsForTheRest)
{
    const std::vector<uint8_t> bytes = {0x1F, 0x20, 0x7E, 0x7F, 0xA0, 0xA1, 0xDF, 0xE0, 0x00, 0xFF};
    const std::vector<std::string> shown = {".", " ", "~", ".", ".", "\xA1", "\xDF", ".", ".", "."};
    view_->SetDoubleByteDisplay(false);
    AddReceived(bytes);
    PaintScreen(3);
    for (size_t k = 0; k < bytes.size(); ++k)
        EXPECT_EQ(TextAt(450 + 10 * static_cast<int>(k), LineTop(0) + 6).text, shown[k]) << k;
}

TEST_F(MonitorViewTest, TimeCounterShowsSecondsAboveMilliseconds)
{
    AddReceived({0x41}, 12345);
    AddSent({0x42}, 999999);
    PaintScreen(3);
    const SurfaceOp seconds = TextAt(70, LineTop(0) + 8);
    const SurfaceOp milliseconds = TextAt(70, LineTop(0) + 19);
    EXPECT_EQ(seconds.text, "012");
    EXPECT_EQ(milliseconds.text, "345");
    EXPECT_EQ(seconds.font, Font::Small);
    EXPECT_EQ(seconds.color, colors_.Color3);
    EXPECT_EQ(milliseconds.color, colors_.Color3);
    EXPECT_TRUE(screen_.TextsAt(450, LineTop(0) + 8).empty());  // nothing in the text column
    EXPECT_EQ(TextAt(93, LineTop(0) + 6).text, "41");
    EXPECT_EQ(TextAt(116, LineTop(0) + 8).text, "999");
    EXPECT_EQ(TextAt(116, LineTop(0) + 19).text, "999");
    EXPECT_EQ(TextAt(139, LineTop(0) + 16).text, "42");
}

TEST_F(MonitorViewTest, LineErrorCodesShowTheirTextsAndAnEMark)
{
    AddLineErrors({1, 9});
    AddLineErrors({3, 7, 10, 0, 42});
    PaintScreen(3);
    const std::vector<std::string> texts = {"BRK", "RXO", "FRM", "OVR", "RXP", "BUF", "BUF"};
    for (size_t k = 0; k < texts.size(); ++k) {
        const int i = static_cast<int>(k);
        const SurfaceOp code = TextAt(70 + 23 * i, LineTop(0) + 13);
        EXPECT_EQ(code.text, texts[k]);
        EXPECT_EQ(code.font, Font::Small);
        EXPECT_EQ(code.color, colors_.Color5);
        const SurfaceOp mark = TextAt(450 + 10 * i, LineTop(0) + 13);
        EXPECT_EQ(mark.text, "E");
        EXPECT_EQ(mark.font, Font::Data);
        EXPECT_EQ(mark.color, colors_.Color5);
    }
}

// --- two-byte characters ---------------------------------------------------------

TEST_F(MonitorViewTest, TwoBytePairSpansBothTextCells)
{
    AddReceived({0x41, 0x82, 0xA0});
    PaintScreen(3);
    const int row = LineTop(0) + 6;

    const std::vector<SurfaceOp> boxFills = screen_.OfKind(SurfaceOpKind::GlyphFill);
    const std::vector<SurfaceOp> boxTexts = screen_.OfKind(SurfaceOpKind::GlyphText);
    const std::vector<SurfaceOp> copies = screen_.OfKind(SurfaceOpKind::GlyphCopy);
    ASSERT_EQ(boxFills.size(), 1u);
    ASSERT_EQ(boxTexts.size(), 1u);
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(boxFills[0].color, colors_.Color7);
    EXPECT_EQ(boxTexts[0].text, "\x82\xA0");
    EXPECT_EQ(boxTexts[0].x, (20 - 2 * RecordingSurface::DATA_BYTE_WIDTH) / 2);
    EXPECT_EQ(boxTexts[0].y, 0);
    EXPECT_EQ(boxTexts[0].color, colors_.Color1);
    EXPECT_EQ(copies[0].rect.x, 0);
    EXPECT_EQ(copies[0].rect.width, 10);
    EXPECT_EQ(copies[0].rect.height, 20);
    EXPECT_EQ(copies[0].x, 460);
    EXPECT_EQ(copies[0].y, row);
    EXPECT_EQ(copies[1].rect.x, 10);
    EXPECT_EQ(copies[1].rect.width, 10);
    EXPECT_EQ(copies[1].x, 470);
    EXPECT_EQ(copies[1].y, row);
    // The lead drew its dot before the pair was known; the trail draws none.
    EXPECT_EQ(TextAt(460, row).text, ".");
    EXPECT_TRUE(screen_.TextsAt(470, row).empty());
    EXPECT_EQ(TextAt(93 + 23, row).text, "A0");
}

TEST_F(MonitorViewTest, OnlyClassifiedPairsWithTheDisplayOnAreJoined)
{
    AddReceived({0x41, 0x42});  // one-byte letters never pair
    AddSent({0x82, 0xA0});
    view_->SetDoubleByteDisplay(false);
    EXPECT_FALSE(view_->DoubleByteDisplay());
    PaintScreen(3);
    EXPECT_TRUE(screen_.OfKind(SurfaceOpKind::GlyphCopy).empty());
    EXPECT_EQ(TextAt(450, LineTop(0) + 6).text, "A");
    EXPECT_EQ(TextAt(460, LineTop(0) + 6).text, "B");
    EXPECT_EQ(TextAt(470, LineTop(0) + 16).text, ".");
    EXPECT_EQ(TextAt(480, LineTop(0) + 16).text, ".");

    view_->SetDoubleByteDisplay(true);
    PaintScreen(3);
    EXPECT_EQ(screen_.OfKind(SurfaceOpKind::GlyphCopy).size(), 2u);
    EXPECT_EQ(TextAt(460, LineTop(0) + 6).text, "B");
}

TEST_F(MonitorViewTest, TrailOfAPairDoesNotLeadTheNextByte)
{
    AddSent({0x88, 0x9F, 0x9F, 0x3F});  // 亜, then 0x9F alone (0x9F9F would be a kanji)
    PaintScreen(3);
    ASSERT_EQ(screen_.OfKind(SurfaceOpKind::GlyphCopy).size(), 2u);
    EXPECT_EQ(TextAt(470, LineTop(0) + 16).text, ".");
    EXPECT_EQ(TextAt(480, LineTop(0) + 16).text, "?");
}

TEST_F(MonitorViewTest, PairsAreFormedPerDirectionAcrossInterleavedBytesAndLines)
{
    AddReceived(std::vector<uint8_t>(14, 0x30));
    AddReceived({0x82});  // cell 14
    AddSent({0x83});      // cell 15: a lead of its own direction, never completed
    AddReceived({0xA0});  // cell 0 of line 1
    PaintScreen(3);
    const std::vector<SurfaceOp> copies = screen_.OfKind(SurfaceOpKind::GlyphCopy);
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0].x, 450 + 140);
    EXPECT_EQ(copies[0].y, LineTop(0) + 6);
    EXPECT_EQ(copies[1].x, 450);
    EXPECT_EQ(copies[1].y, LineTop(1) + 6);
    EXPECT_EQ(TextAt(450 + 150, LineTop(0) + 16).text, ".");
}

TEST_F(MonitorViewTest, PairDrawsInTheLeadColourOnTheBandBackground)
{
    view_->Conditions().Append(MakeCondition(HighlightTarget_Received, {0x82}, HIGHLIGHT_A));
    AddReceived({0x82, 0xA0});
    view_->SelectLine(0, false);
    PaintScreen(3);
    const std::vector<SurfaceOp> boxTexts = screen_.OfKind(SurfaceOpKind::GlyphText);
    ASSERT_EQ(boxTexts.size(), 1u);
    EXPECT_EQ(boxTexts[0].color, HIGHLIGHT_A);
    EXPECT_EQ(boxTexts[0].background, colors_.Color8);
    EXPECT_EQ(screen_.OfKind(SurfaceOpKind::GlyphFill)[0].color, colors_.Color8);
}

TEST_F(MonitorViewTest, PageStartsWithoutAPendingLead)
{
    AddReceived(std::vector<uint8_t>(15, 0x30));
    AddReceived({0x82, 0xA0});  // lead at the end of line 0, trail at the start of line 1
    PaintScreen(2, 1);
    EXPECT_TRUE(screen_.OfKind(SurfaceOpKind::GlyphCopy).empty());
    EXPECT_EQ(TextAt(450, LineTop(0) + 6).text, ".");
}

// --- highlight conditions ---------------------------------------------------------

TEST_F(MonitorViewTest, ReceivedPatternMatchesAcrossAnInterleavedSentByte)
{
    view_->Conditions().Append(MakeCondition(HighlightTarget_Received, {0x0D, 0x0A}, HIGHLIGHT_A));
    AddReceived({0x0D});
    AddSent({0x0D});
    AddReceived({0x0A});
    AddReceived({0x0A});
    PaintScreen(3);
    const int t = LineTop(0);
    EXPECT_EQ(TextAt(70, t + 6).color, HIGHLIGHT_A);
    EXPECT_EQ(TextAt(450, t + 6).color, HIGHLIGHT_A);
    EXPECT_EQ(TextAt(93, t + 16).color, colors_.Color2);
    EXPECT_EQ(TextAt(116, t + 6).color, HIGHLIGHT_A);
    EXPECT_EQ(TextAt(470, t + 6).color, HIGHLIGHT_A);
    EXPECT_EQ(TextAt(460, t + 16).color, colors_.Color2);
    EXPECT_EQ(TextAt(139, t + 6).color, colors_.Color1);  // a second 0x0A alone does not match
}

TEST_F(MonitorViewTest, ConditionTargetsSelectTheDirection)
{
    view_->Conditions().Append(MakeCondition(HighlightTarget_Sent, {0x41}, HIGHLIGHT_A));
    AddReceived({0x41});
    AddSent({0x41});
    PaintScreen(3);
    EXPECT_EQ(TextAt(70, LineTop(0) + 6).color, colors_.Color1);
    EXPECT_EQ(TextAt(93, LineTop(0) + 16).color, HIGHLIGHT_A);

    view_->Conditions().Clear();
    view_->Conditions().Append(MakeCondition(HighlightTarget_Both, {0x41}, HIGHLIGHT_B));
    PaintScreen(3);
    EXPECT_EQ(TextAt(70, LineTop(0) + 6).color, HIGHLIGHT_B);
    EXPECT_EQ(TextAt(93, LineTop(0) + 16).color, HIGHLIGHT_B);
}

TEST_F(MonitorViewTest, LaterConditionsAndLaterMatchesWin)
{
    view_->Conditions().Append(MakeCondition(HighlightTarget_Received, {0x31, 0x32}, HIGHLIGHT_A));
    view_->Conditions().Append(MakeCondition(HighlightTarget_Received, {0x32}, HIGHLIGHT_B));
    view_->Conditions().Append(MakeCondition(HighlightTarget_Received, {0x32, 0x33}, HIGHLIGHT_A));
    AddReceived({0x31, 0x32, 0x33, 0x31, 0x32});
    PaintScreen(3);
    const int row = LineTop(0) + 6;
    EXPECT_EQ(TextAt(70, row).color, HIGHLIGHT_A);
    EXPECT_EQ(TextAt(93, row).color, HIGHLIGHT_A);  // 32 33 matched after 32
    EXPECT_EQ(TextAt(116, row).color, HIGHLIGHT_A);
    EXPECT_EQ(TextAt(139, row).color, HIGHLIGHT_A);
    EXPECT_EQ(TextAt(162, row).color, HIGHLIGHT_B);  // the single 32 comes after 31 32
}

TEST_F(MonitorViewTest, PatternBeginningAboveThePageIsNotFound)
{
    view_->Conditions().Append(MakeCondition(HighlightTarget_Received, {0x0D, 0x0A}, HIGHLIGHT_A));
    AddReceived(std::vector<uint8_t>(15, 0x30));
    AddReceived({0x0D, 0x0A});
    PaintScreen(2, 1);
    EXPECT_EQ(TextAt(70, LineTop(0) + 6).color, colors_.Color1);
    PaintScreen(2, 0);
    EXPECT_EQ(TextAt(70, LineTop(1) + 6).color, HIGHLIGHT_A);
    EXPECT_EQ(TextAt(70 + 23 * 15, LineTop(0) + 6).color, HIGHLIGHT_A);
}

TEST_F(MonitorViewTest, ConditionListReadsAppendsAndClears)
{
    EXPECT_FALSE(view_->Conditions().Get(0).has_value());
    HighlightCondition ascii = MakeCondition(HighlightTarget_Both, {'O', 'K'}, HIGHLIGHT_A);
    ascii.kind = HighlightKind_Ascii;
    ASSERT_TRUE(view_->Conditions().Append(MakeCondition(HighlightTarget_Sent, {0x0D, 0x0A}, HIGHLIGHT_B)));
    ASSERT_TRUE(view_->Conditions().Append(ascii));

    const std::optional<HighlightCondition> second = view_->Conditions().Get(1);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->length, 2u);
    EXPECT_EQ(second->pattern[0], 'O');
    EXPECT_EQ(second->pattern[1], 'K');
    EXPECT_EQ(second->target, static_cast<uint32_t>(HighlightTarget_Both));
    EXPECT_EQ(second->kind, static_cast<uint32_t>(HighlightKind_Ascii));
    EXPECT_EQ(second->color, HIGHLIGHT_A);
    EXPECT_EQ(view_->Conditions().Get(0)->color, HIGHLIGHT_B);
    EXPECT_FALSE(view_->Conditions().Get(2).has_value());

    view_->Conditions().Clear();
    EXPECT_FALSE(view_->Conditions().Get(0).has_value());
}

TEST_F(MonitorViewTest, ConditionsWithImpossibleLengthsMatchNothing)
{
    HighlightCondition empty = MakeCondition(HighlightTarget_Both, {}, HIGHLIGHT_A);
    HighlightCondition oversized = MakeCondition(HighlightTarget_Both, {0x41}, HIGHLIGHT_B);
    oversized.length = 100000;
    view_->Conditions().Append(empty);
    view_->Conditions().Append(oversized);
    AddReceived({0x41});
    PaintScreen(3);
    EXPECT_EQ(TextAt(70, LineTop(0) + 6).color, colors_.Color1);
}

// --- selection ---------------------------------------------------------------------

TEST_F(MonitorViewTest, SelectedLinesAreDrawnOnTheSelectionBand)
{
    AddReceived(std::vector<uint8_t>(40, 0x41));
    view_->SelectLine(1, false);
    PaintScreen(5);
    const int t = LineTop(1);
    const std::vector<SurfaceOp> fills = screen_.OfKind(SurfaceOpKind::Fill);
    ASSERT_EQ(fills.size(), 2u);
    EXPECT_EQ(fills[1].rect.x, 0);
    EXPECT_EQ(fills[1].rect.y, t);
    EXPECT_EQ(fills[1].rect.width, 598);
    EXPECT_EQ(fills[1].rect.height, 40);
    EXPECT_EQ(fills[1].color, colors_.Color8);
    EXPECT_EQ(TextAt(60, t + 6).background, 0xFFFF77u);  // Color8 inverted
    EXPECT_EQ(TextAt(2, t + 6).background, colors_.Color8);
    EXPECT_EQ(TextAt(70, t + 6).background, colors_.Color8);
    EXPECT_EQ(TextAt(450, t + 6).background, colors_.Color8);
    EXPECT_EQ(TextAt(70, LineTop(0) + 6).background, colors_.Color7);
    EXPECT_EQ(TextAt(70, LineTop(2) + 6).background, colors_.Color7);
}

TEST_F(MonitorViewTest, SelectionStartingAboveThePageIsDrawnFromTheFirstLine)
{
    AddReceived(std::vector<uint8_t>(80, 0x41));
    view_->SelectLine(0, false);
    view_->SelectLine(2, true);
    PaintScreen(3, 1);
    const std::vector<SurfaceOp> fills = screen_.OfKind(SurfaceOpKind::Fill);
    ASSERT_EQ(fills.size(), 3u);
    EXPECT_EQ(fills[1].rect.y, LineTop(0));
    EXPECT_EQ(fills[2].rect.y, LineTop(1));
    EXPECT_EQ(TextAt(70, LineTop(2) + 6).background, colors_.Color7);

    PaintScreen(3, 3);  // the selection ends above the page
    EXPECT_EQ(screen_.OfKind(SurfaceOpKind::Fill).size(), 1u);
}

TEST_F(MonitorViewTest, PrintPassUsesAWhitePageAndNoSelection)
{
    AddReceived(std::vector<uint8_t>(20, 0x41));
    view_->SelectLine(0, false);
    RecordingSurface page;
    PaintRequest request;
    request.y0 = 35;
    request.height = HeightFor(5);
    request.printColours = true;
    const PaintResult result = view_->PaintLines(page, request);

    const std::vector<SurfaceOp> fills = page.OfKind(SurfaceOpKind::Fill);
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].rect.y, 35 + 14);
    EXPECT_EQ(fills[0].color, COLOR_WHITE);
    const int t = LineTop(0, 35);
    EXPECT_EQ(page.OfKind(SurfaceOpKind::Line)[0].y, t);
    EXPECT_EQ(OnlyTextAt(page, 60, t + 6).background, COLOR_BLACK);
    EXPECT_EQ(OnlyTextAt(page, 70, t + 6).background, COLOR_WHITE);
    EXPECT_EQ(OnlyTextAt(page, 70, LineTop(1, 35) + 6).text, "41");
    EXPECT_EQ(result.linesDrawn, 2u);
    EXPECT_EQ(result.nextLine, 2u);
}

TEST_F(MonitorViewTest, SelectLineReportsChangesAndClampsToTheLastLine)
{
    AddReceived(std::vector<uint8_t>(40, 0x41));  // lines 0..2
    EXPECT_FALSE(view_->Caret().has_value());
    EXPECT_FALSE(view_->SelectLine(std::nullopt, false));

    EXPECT_TRUE(view_->SelectLine(7, false));
    EXPECT_EQ(view_->Caret(), 2u);
    EXPECT_EQ(view_->SelectionRange()->first, 2u);
    EXPECT_EQ(view_->SelectionRange()->end, 3u);
    EXPECT_FALSE(view_->SelectLine(2, false));

    EXPECT_TRUE(view_->SelectLine(0, true));  // the anchor stays at 2
    EXPECT_EQ(view_->Caret(), 0u);
    EXPECT_EQ(view_->SelectionRange()->first, 0u);
    EXPECT_EQ(view_->SelectionRange()->end, 3u);
    EXPECT_TRUE(view_->SelectLine(1, true));
    EXPECT_EQ(view_->SelectionRange()->first, 1u);
    EXPECT_EQ(view_->SelectionRange()->end, 3u);
    EXPECT_FALSE(view_->SelectLine(1, true));

    EXPECT_FALSE(view_->SelectLine(std::nullopt, true));
    EXPECT_TRUE(view_->SelectionRange().has_value());
    EXPECT_TRUE(view_->SelectLine(std::nullopt, false));
    EXPECT_FALSE(view_->SelectionRange().has_value());
    EXPECT_FALSE(view_->Caret().has_value());
}

TEST_F(MonitorViewTest, ExtendingWithoutASelectionStartsOne)
{
    AddReceived(std::vector<uint8_t>(40, 0x41));
    EXPECT_TRUE(view_->SelectLine(1, true));
    EXPECT_EQ(view_->SelectionRange()->first, 1u);
    EXPECT_EQ(view_->SelectionRange()->end, 2u);
    EXPECT_TRUE(view_->SelectLine(2, true));
    EXPECT_EQ(view_->SelectionRange()->first, 1u);
    EXPECT_EQ(view_->SelectionRange()->end, 3u);
}

TEST_F(MonitorViewTest, NewCellsClearTheSelection)
{
    AddReceived({0x41});
    view_->SelectLine(0, false);
    AddReceived({0x42});
    EXPECT_FALSE(view_->SelectionRange().has_value());
}

// --- scrolling ---------------------------------------------------------------------

TEST_F(MonitorViewTest, ScrollRangeAndFirstVisibleLine)
{
    AddReceived(std::vector<uint8_t>(150, 0x41));  // 151 cells: 10 lines
    ASSERT_EQ(view_->LineCount(), 10u);
    view_->SetViewHeight(HeightFor(4) + 39);
    EXPECT_EQ(view_->LargestFirstVisibleLine(), 6u);
    view_->SetViewHeight(HeightFor(10));
    EXPECT_EQ(view_->LargestFirstVisibleLine(), 0u);
    view_->SetViewHeight(19);
    EXPECT_EQ(view_->LargestFirstVisibleLine(), 0u);

    view_->SetFirstVisibleLine(4);
    EXPECT_EQ(view_->FirstVisibleLine(), 4u);
    view_->SetFirstVisibleLine(500);
    EXPECT_EQ(view_->FirstVisibleLine(), 10u);
}

TEST_F(MonitorViewTest, LineFromYCountsFromTheFirstVisibleLine)
{
    AddReceived(std::vector<uint8_t>(150, 0x41));  // 10 lines
    view_->SetFirstVisibleLine(3);
    EXPECT_FALSE(view_->LineFromY(13).has_value());
    EXPECT_FALSE(view_->LineFromY(-5).has_value());
    EXPECT_EQ(view_->LineFromY(14), 3u);
    EXPECT_EQ(view_->LineFromY(53), 3u);
    EXPECT_EQ(view_->LineFromY(54), 4u);
    EXPECT_EQ(view_->LineFromY(14 + 40 * 6), 9u);
    EXPECT_FALSE(view_->LineFromY(14 + 40 * 7).has_value());
}

// --- pass limits --------------------------------------------------------------------

TEST_F(MonitorViewTest, PassOnHeightZeroLaysOutNothing)
{
    AddReceived(std::vector<uint8_t>(40, 0x41));
    view_->SetViewHeight(0);
    screen_.ops.clear();
    view_->PaintScreen();
    EXPECT_TRUE(screen_.ops.empty());
    EXPECT_EQ(view_->VisibleLines(), 0u);
    EXPECT_EQ(view_->CellsOfLastPass(), 0u);
}

TEST_F(MonitorViewTest, LineLimitStopsThePassAndTellsWhereToContinue)
{
    AddReceived(std::vector<uint8_t>(100, 0x41));  // 7 lines
    RecordingSurface page;
    PaintRequest request;
    request.height = HeightFor(50);
    request.firstLine = 2;
    request.lineLimit = 3;
    const PaintResult limited = view_->PaintLines(page, request);
    EXPECT_EQ(limited.linesDrawn, 3u);
    EXPECT_EQ(limited.nextLine, 5u);
    EXPECT_EQ(page.OfKind(SurfaceOpKind::Line).size(), 3u);
    EXPECT_EQ(OnlyTextAt(page, 2, LineTop(0) + 6).text, "00000020");

    request.firstLine = 5;
    request.lineLimit = 199;
    const PaintResult last = view_->PaintLines(page, request);
    EXPECT_EQ(last.linesDrawn, 2u);  // line 6 holds the idle cell
    EXPECT_EQ(last.nextLine, 7u);
    EXPECT_EQ(last.cellsLaidOut, 20u);
}

TEST_F(MonitorViewTest, PassAskedForMoreThan199LinesStopsAt199)
{
    AddReceived(std::vector<uint8_t>(16 * 250, 0x41));
    RecordingSurface page;
    PaintRequest request;
    request.height = HeightFor(250);
    request.lineLimit = 250;
    const PaintResult result = view_->PaintLines(page, request);
    EXPECT_EQ(result.linesDrawn, 199u);
    EXPECT_EQ(result.nextLine, 199u);
    EXPECT_EQ(result.cellsLaidOut, 199u * 16);
    EXPECT_EQ(page.OfKind(SurfaceOpKind::Line).size(), 199u);
}

TEST_F(MonitorViewTest, PrintPassLeavesTheScreenStateAlone)
{
    AddReceived(std::vector<uint8_t>(20, 0x41));
    PaintScreen(5);
    const uint32_t cells = view_->CellsOfLastPass();
    RecordingSurface page;
    PaintRequest request;
    request.height = HeightFor(1);
    request.printColours = true;
    view_->PaintLines(page, request);
    EXPECT_EQ(view_->CellsOfLastPass(), cells);
    EXPECT_EQ(view_->VisibleLines(), 5u);
}

// --- idle counter ---------------------------------------------------------------------

TEST_F(MonitorViewTest, IdleCounterGoesToTheCellAfterTheLastRecord)
{
    AddReceived(std::vector<uint8_t>(17, 0x41));
    PaintScreen(5);
    screen_.ops.clear();
    view_->DrawIdleCounter(0);
    EXPECT_EQ(view_->IdleTime(), 1u);
    EXPECT_EQ(TextAt(70 + 23, 62).text, "000");
    EXPECT_EQ(TextAt(70 + 23, 73).text, "001");
    EXPECT_EQ(TextAt(70 + 23, 73).background, colors_.Color7);

    screen_.ops.clear();
    view_->DrawIdleCounter(1000000);
    EXPECT_EQ(TextAt(70 + 23, 62).text, "999");
    EXPECT_EQ(TextAt(70 + 23, 73).text, "999");
}

TEST_F(MonitorViewTest, IdleCounterIsNotDrawnWhileTheLastLineIsOffScreen)
{
    AddReceived(std::vector<uint8_t>(150, 0x41));  // 10 lines
    PaintScreen(4, 5);
    screen_.ops.clear();
    view_->DrawIdleCounter(500);
    EXPECT_TRUE(screen_.ops.empty());
    EXPECT_EQ(view_->IdleTime(), 500u);

    PaintScreen(4, 6);
    screen_.ops.clear();
    view_->DrawIdleCounter(500);
    EXPECT_EQ(TextAt(70 + 23 * 6, 20 + 40 * 3 + 13).text, "500");
}

// --- passes on another thread ----------------------------------------------------------

TEST_F(MonitorViewTest, PrintPassesRunBesideScreenPassesAndSelection)
{
    AddReceived(std::vector<uint8_t>(300, 0x82));
    AddSent(std::vector<uint8_t>(300, 0xA0));
    view_->Conditions().Append(MakeCondition(HighlightTarget_Both, {0x82, 0x82}, HIGHLIGHT_A));
    PaintRequest request;
    request.y0 = 35;
    request.height = HeightFor(30);
    request.printColours = true;
    RecordingSurface reference;
    view_->PaintLines(reference, request);

    RecordingSurface page;
    std::thread printer([&] {
        for (int i = 0; i < 20; ++i) {
            page.ops.clear();
            view_->PaintLines(page, request);
        }
    });
    for (uint32_t i = 0; i < 20; ++i) {
        view_->SelectLine(i % 5, i % 2 == 0);
        PaintScreen(29, i);
    }
    printer.join();
    ASSERT_EQ(page.ops.size(), reference.ops.size());
    for (size_t i = 0; i < page.ops.size(); ++i) {
        EXPECT_EQ(page.ops[i].text, reference.ops[i].text) << i;
        EXPECT_EQ(page.ops[i].color, reference.ops[i].color) << i;
        EXPECT_EQ(page.ops[i].background, reference.ops[i].background) << i;
    }
}

}  // namespace
