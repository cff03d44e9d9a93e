#include "MonitorView.h"

#include "Cp932.h"
#include "MonitorGeometry.h"
#include "RecordDecoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using namespace MonitorGeometry;

constexpr int GLYPH_HALF_WIDTH = GLYPH_BOX_SIZE / 2;
constexpr uint32_t MAX_TIME_COUNTER = 999999;

// "あ": the glyph box centres two-byte characters by its width.
constexpr char WIDE_REFERENCE_CHARACTER[] = "\x82\xA0";

int HexX(uint32_t entryIndex)
{
    return HEX_COLUMN_X + HEX_CELL_WIDTH * static_cast<int>(entryIndex % CellsPerLine);
}

int TextX(uint32_t entryIndex)
{
    return TEXT_COLUMN_X + TEXT_CELL_WIDTH * static_cast<int>(entryIndex % CellsPerLine);
}

uint32_t VisibleLinesFor(int height)
{
    return height < 20 ? 0 : static_cast<uint32_t>((height - 20) / LINE_HEIGHT);
}

Color Inverted(Color color)
{
    return ~color & 0x00FFFFFF;
}

// Fixed-width upper-case hexadecimal or zero-padded decimal, as "%0NX" / "%0Nd".
class NumberText {
public:
    static NumberText Hex(uint32_t value, int digits) { return NumberText(value, digits, 16); }
    static NumberText Decimal(uint32_t value, int digits) { return NumberText(value, digits, 10); }
    std::string_view View() const { return std::string_view(bytes_ + sizeof bytes_ - length_, length_); }

private:
    NumberText(uint32_t value, int digits, uint32_t base)
    {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        while (length_ < static_cast<size_t>(digits) || value != 0) {
            ++length_;
            bytes_[sizeof bytes_ - length_] = kDigits[value % base];
            value /= base;
        }
    }

    char bytes_[12] = {};
    size_t length_ = 0;
};

}  // namespace

std::string_view LineErrorText(uint32_t code)
{
    switch (code) {
    case 1: return "BRK";
    case 3: return "FRM";
    case 7: return "OVR";
    case 9: return "RXO";
    case 10: return "RXP";
    case LineErrorCode_PortRemoved: return "\x83\x7C\x81\x5B\x83\x67\x8E\xE6\x82\xE8\x8A\x4F\x82\xB5";  // ポート取り外し
    case LineErrorCode_PortReturned: return "\x83\x7C\x81\x5B\x83\x67\x95\x9C\x8B\x41";  // ポート復帰
    default: return "BUF";
    }
}

namespace {

// Printable one-byte characters, the one-byte katakana included.
bool IsPrintableByte(uint8_t byte)
{
    return (byte >= 0x20 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xDF);
}

}  // namespace

// One layout pass: collect the cells of the page, colour the highlights, draw.
class MonitorView::Pass {
public:
    Pass(const MonitorView& view, Surface& surface, const PaintRequest& request)
        : view_(view), surface_(surface), request_(request), colors_(view.colors_),
          pageBackground_(request.printColours ? COLOR_WHITE : view.colors_.Color7)
    {}

    PaintResult Run()
    {
        if (request_.height > 0)
            surface_.FillRect({0, request_.y0 + HEADER_HEIGHT, PAGE_WIDTH, request_.height}, pageBackground_);
        const uint32_t lines = LinesToDraw();
        const CellPosition start = view_.store_.Locate(StartCell());
        SetPageSelection();
        Collect(start.cursor, lines * CellsPerLine);
        Highlight();
        const uint32_t linesDrawn = Draw(lines, start);
        return PaintResult{linesDrawn, static_cast<uint32_t>(entries_.size()), request_.firstLine + linesDrawn};
    }

private:
    // Per direction: the last entry of that direction on the page and the
    // byte that may lead a two-byte character.
    struct Direction {
        int rowOffset;
        uint32_t count;
        uint8_t pending = 0;
        std::optional<uint32_t> lastEntry;
    };

    uint32_t LinesToDraw() const
    {
        uint32_t lines = std::min(VisibleLinesFor(request_.height), MAX_LINES_PER_PASS);
        if (request_.lineLimit)
            lines = std::min(lines, *request_.lineLimit);
        return lines;
    }

    uint32_t StartCell() const
    {
        const uint64_t cell = uint64_t{request_.firstLine} * CellsPerLine;
        return static_cast<uint32_t>(std::min<uint64_t>(cell, view_.store_.DisplayedCells()));
    }

    void SetPageSelection()
    {
        if (!request_.showSelection || !view_.HasSelection() || view_.selectionLast_ < request_.firstLine)
            return;
        pageSelectionFirst_ =
            view_.selectionFirst_ > request_.firstLine ? view_.selectionFirst_ - request_.firstLine : 0;
        pageSelectionLast_ = view_.selectionLast_ - request_.firstLine;
    }

    bool IsSelectedLine(uint32_t line) const
    {
        return pageSelectionFirst_ && line >= *pageSelectionFirst_ && line <= pageSelectionLast_;
    }

    Color DefaultColor(uint8_t kind) const
    {
        switch (kind) {
        case CellKind_Time: return colors_.Color3;
        case RecordKind_Read: return colors_.Color1;
        case RecordKind_Write: return colors_.Color2;
        default: return colors_.Color5;
        }
    }

    void Collect(CellCursor cursor, uint32_t maxEntries)
    {
        entries_.reserve(maxEntries);
        Cell cell;
        while (entries_.size() < maxEntries && view_.store_.NextCell(cursor, cell)) {
            if (cell.kind == RecordKind_Read)
                receivedEntries_.push_back(static_cast<uint32_t>(entries_.size()));
            else if (cell.kind == RecordKind_Write)
                sentEntries_.push_back(static_cast<uint32_t>(entries_.size()));
            entries_.push_back(CellEntry{cell.kind, DefaultColor(cell.kind), cell.value});
        }
    }

    // Matches the pattern against the entries of one direction ending at
    // position last of that direction, and recolours them.
    void ApplyCondition(const HighlightCondition& condition, const std::vector<uint32_t>& direction, size_t last)
    {
        const size_t length = condition.length;
        if (length > last + 1)
            return;
        for (size_t k = 0; k < length; ++k) {
            if (entries_[direction[last - k]].value != condition.pattern[length - 1 - k])
                return;
        }
        for (size_t k = 0; k < length; ++k)
            entries_[direction[last - k]].color = condition.color;
    }

    // A match needs a new entry of its direction, so testing only at the
    // entries of the condition's direction gives the same colours as testing
    // at every entry; later conditions and later matches win.
    void Highlight()
    {
        const std::vector<HighlightCondition> conditions = view_.conditions_.Matchable();
        if (conditions.empty())
            return;
        size_t received = 0;
        size_t sent = 0;
        for (const CellEntry& entry : entries_) {
            if (entry.kind == RecordKind_Read)
                ApplyAll(conditions, HighlightTarget_Received, receivedEntries_, received++);
            else if (entry.kind == RecordKind_Write)
                ApplyAll(conditions, HighlightTarget_Sent, sentEntries_, sent++);
        }
    }

    void ApplyAll(const std::vector<HighlightCondition>& conditions, uint32_t targetBit,
                  const std::vector<uint32_t>& direction, size_t last)
    {
        for (const HighlightCondition& condition : conditions) {
            if (condition.target & targetBit)
                ApplyCondition(condition, direction, last);
        }
    }

    int LineTop(uint32_t line) const { return request_.y0 + HEADER_HEIGHT + LINE_HEIGHT * static_cast<int>(line); }

    uint32_t Draw(uint32_t lines, const CellPosition& start)
    {
        Direction received{RECEIVED_ROW, start.receivedCount, 0, std::nullopt};
        Direction sent{SENT_ROW, start.sentCount, 0, std::nullopt};
        uint32_t linesStarted = 0;
        for (uint32_t j = 0;; ++j) {
            if (j % CellsPerLine == 0) {
                if (linesStarted == lines)
                    break;
                StartLine(linesStarted++, received.count, sent.count);
            }
            if (j == entries_.size())
                break;
            DrawEntry(j, received, sent);
        }
        return linesStarted;
    }

    void StartLine(uint32_t line, uint32_t receivedCount, uint32_t sentCount)
    {
        lineTop_ = LineTop(line);
        band_ = pageBackground_;
        if (IsSelectedLine(line)) {
            band_ = colors_.Color8;
            surface_.FillRect({0, lineTop_, BAND_WIDTH, LINE_HEIGHT}, band_);
        }
        surface_.DrawText(LABEL_X, lineTop_ + RECEIVED_ROW, Font::Small, colors_.Color6, Inverted(band_), "R");
        surface_.DrawText(LABEL_X, lineTop_ + SENT_COUNTER_ROW, Font::Small, colors_.Color6, Inverted(band_), "S");
        surface_.DrawText(COUNTER_X, lineTop_ + RECEIVED_ROW, Font::Small, colors_.Color1, band_,
                          NumberText::Hex(receivedCount, 8).View());
        surface_.DrawText(COUNTER_X, lineTop_ + SENT_COUNTER_ROW, Font::Small, colors_.Color2, band_,
                          NumberText::Hex(sentCount, 8).View());
        surface_.DrawLine(2, lineTop_, 610, lineTop_, 2, colors_.Color4);
    }

    void DrawEntry(uint32_t j, Direction& received, Direction& sent)
    {
        const CellEntry& entry = entries_[j];
        switch (entry.kind) {
        case RecordKind_Read: DrawByte(j, received); break;
        case RecordKind_Write: DrawByte(j, sent); break;
        case CellKind_Time: DrawTimeCounter(j); break;
        default: DrawLineError(j); break;
        }
    }

    void DrawByte(uint32_t j, Direction& direction)
    {
        const CellEntry& entry = entries_[j];
        surface_.DrawText(HexX(j), lineTop_ + direction.rowOffset, Font::Data, entry.color, band_,
                          NumberText::Hex(entry.value & 0xFF, 2).View());
        DrawCharacter(j, direction);
        direction.lastEntry = j;
        ++direction.count;
    }

    // The text column, with two-byte characters spread over two cells.
    void DrawCharacter(uint32_t j, Direction& direction)
    {
        const CellEntry& entry = entries_[j];
        const uint8_t byte = static_cast<uint8_t>(entry.value);
        if (view_.doubleByteDisplay_ && direction.pending != 0 && direction.lastEntry &&
            Cp932IsDisplayablePair(direction.pending, byte)) {
            DrawPair(*direction.lastEntry, j, direction);
            direction.pending = 0;
            return;
        }
        const char character = IsPrintableByte(byte) ? static_cast<char>(byte) : '.';
        surface_.DrawText(TextX(j), lineTop_ + direction.rowOffset, Font::Data, entry.color, band_,
                          std::string_view(&character, 1));
        direction.pending = byte;
    }

    void DrawPair(uint32_t lead, uint32_t j, const Direction& direction)
    {
        const char pair[2] = {static_cast<char>(direction.pending), static_cast<char>(entries_[j].value)};
        surface_.FillGlyphBox(band_);
        surface_.DrawGlyphBoxText(view_.glyphOffsetX_, 0, entries_[lead].color, band_, std::string_view(pair, 2));
        surface_.CopyFromGlyphBox({0, 0, GLYPH_HALF_WIDTH, GLYPH_BOX_SIZE}, TextX(lead),
                                  LineTop(lead / CellsPerLine) + direction.rowOffset);
        surface_.CopyFromGlyphBox({GLYPH_HALF_WIDTH, 0, GLYPH_HALF_WIDTH, GLYPH_BOX_SIZE}, TextX(j),
                                  lineTop_ + direction.rowOffset);
    }

    void DrawLineError(uint32_t j)
    {
        const CellEntry& entry = entries_[j];
        surface_.DrawText(HexX(j), lineTop_ + LINE_ERROR_ROW, Font::Small, entry.color, band_,
                          LineErrorText(entry.value));
        surface_.DrawText(TextX(j), lineTop_ + LINE_ERROR_ROW, Font::Data, entry.color, band_, "E");
    }

    void DrawTimeCounter(uint32_t j)
    {
        const CellEntry& entry = entries_[j];
        const uint32_t ms = std::min(entry.value, MAX_TIME_COUNTER);
        surface_.DrawText(HexX(j), lineTop_ + SECONDS_ROW, Font::Small, entry.color, band_,
                          NumberText::Decimal(ms / 1000, 3).View());
        surface_.DrawText(HexX(j), lineTop_ + MILLISECONDS_ROW, Font::Small, entry.color, band_,
                          NumberText::Decimal(ms % 1000, 3).View());
    }

    const MonitorView& view_;
    Surface& surface_;
    const PaintRequest& request_;
    const MonitorColors& colors_;
    const Color pageBackground_;
    std::optional<uint32_t> pageSelectionFirst_;
    uint32_t pageSelectionLast_ = 0;
    std::vector<CellEntry> entries_;
    std::vector<uint32_t> receivedEntries_;
    std::vector<uint32_t> sentEntries_;
    int lineTop_ = 0;
    Color band_ = 0;
};

MonitorView::MonitorView(RecordStore& store, Surface& offscreen, const MonitorColors& colors)
    : store_(store), offscreen_(offscreen), colors_(colors)
{
    offscreen_.FillRect({0, 0, OFFSCREEN_WIDTH, OFFSCREEN_HEIGHT}, colors_.Color7);
    offscreen_.DrawText(2, 0, Font::Small, COLOR_BLACK, colors_.Color7, "Counter");
    offscreen_.DrawText(HEX_COLUMN_X, 0, Font::Small, COLOR_BLACK, colors_.Color7, "Binary Data");
    offscreen_.DrawText(TEXT_COLUMN_X, 0, Font::Small, COLOR_BLACK, colors_.Color7, "Ascii Data");
    glyphOffsetX_ = (GLYPH_BOX_SIZE - offscreen_.TextWidth(Font::Data, WIDE_REFERENCE_CHARACTER)) / 2;
    store_.SetGrowListener([this] { ClearSelection(); });
    store_.Grow(1);  // the idle cell
}

MonitorView::~MonitorView()
{
    store_.SetGrowListener(nullptr);
}

PaintResult MonitorView::PaintLines(Surface& surface, const PaintRequest& request) const
{
    return Pass(*this, surface, request).Run();
}

void MonitorView::PaintScreen()
{
    PaintRequest request;
    request.height = viewHeight_;
    request.firstLine = firstVisibleLine_;
    request.showSelection = true;
    const PaintResult result = PaintLines(offscreen_, request);
    visibleLines_ = VisibleLinesFor(viewHeight_);
    cellsOfLastPass_ = result.cellsLaidOut;
}

void MonitorView::DrawIdleCounter(uint32_t ms)
{
    idleTime_ = ms == 0 ? 1 : ms;
    const uint32_t lineCount = LineCount();
    if (lineCount >= visibleLines_ && firstVisibleLine_ < lineCount - visibleLines_)
        return;  // the last line is not on screen
    const uint32_t cell = cellsOfLastPass_;
    const int x = HexX(cell);
    const int y = 20 + LINE_HEIGHT * static_cast<int>(cell / CellsPerLine);
    const uint32_t shown = std::min(idleTime_, MAX_TIME_COUNTER);
    offscreen_.DrawText(x, y + 2, Font::Small, colors_.Color3, colors_.Color7,
                        NumberText::Decimal(shown / 1000, 3).View());
    offscreen_.DrawText(x, y + 13, Font::Small, colors_.Color3, colors_.Color7,
                        NumberText::Decimal(shown % 1000, 3).View());
}

uint32_t MonitorView::LargestFirstVisibleLine() const
{
    const uint32_t visible = VisibleLinesFor(viewHeight_);
    const uint32_t lineCount = LineCount();
    return visible != 0 && lineCount > visible ? lineCount - visible : 0;
}

void MonitorView::SetFirstVisibleLine(uint32_t line)
{
    firstVisibleLine_ = std::min(line, LineCount());
}

std::optional<uint32_t> MonitorView::LineFromY(int y) const
{
    if (y < HEADER_HEIGHT)
        return std::nullopt;
    const uint64_t line = uint64_t{firstVisibleLine_} + static_cast<uint64_t>((y - HEADER_HEIGHT) / LINE_HEIGHT);
    if (line >= LineCount())
        return std::nullopt;
    return static_cast<uint32_t>(line);
}

bool MonitorView::SelectLine(std::optional<uint32_t> line, bool extend)
{
    const uint32_t lineCount = LineCount();
    if (!line || lineCount == 0) {
        if (extend || !HasSelection())
            return false;
        ClearSelection();
        return true;
    }
    const uint32_t target = std::min(*line, lineCount - 1);
    caretLine_ = target;
    // Extending needs an anchor; without a selection the click starts one.
    const uint32_t anchor = extend && HasSelection() ? static_cast<uint32_t>(selectionAnchor_) : target;
    const uint32_t first = std::min(anchor, target);
    const uint32_t last = std::max(anchor, target);
    const bool changed = !HasSelection() || static_cast<uint32_t>(selectionAnchor_) != anchor ||
                         selectionFirst_ != first || selectionLast_ != last;
    selectionAnchor_ = static_cast<int32_t>(anchor);
    selectionFirst_ = first;
    selectionLast_ = last;
    return changed;
}

std::optional<LineRange> MonitorView::SelectionRange() const
{
    if (!HasSelection())
        return std::nullopt;
    return LineRange{selectionFirst_, selectionLast_ + 1};
}

std::optional<uint32_t> MonitorView::Caret() const
{
    return HasSelection() ? std::optional<uint32_t>(caretLine_) : std::nullopt;
}
