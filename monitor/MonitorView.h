// The capture monitor's view logic: lays the store's cells out in display
// lines of 16 cells (received and sent rows, counters, hexadecimal and text
// columns, time counters, line error codes, highlights, selection) and draws
// them on a surface. No window code: the window layer owns the off-screen
// surface and calls in here.
#pragma once

#include "HighlightConditionList.h"
#include "MonitorColors.h"
#include "RecordStore.h"
#include "Surface.h"

#include <cstdint>
#include <optional>
#include <string_view>

// Size of the off-screen surface the screen passes draw on.
constexpr int OFFSCREEN_WIDTH = 1600;
constexpr int OFFSCREEN_HEIGHT = 1200;

// Entry table of one pass: 199 lines of 16 cells plus the end mark.
constexpr uint32_t ENTRY_TABLE_SIZE = 3200;
constexpr uint32_t MAX_LINES_PER_PASS = (ENTRY_TABLE_SIZE - 1) / CellsPerLine;

// One cell of a layout pass.
struct CellEntry {
    uint8_t kind;  // CellKind_Time or the record kind
    Color color;
    uint32_t value;  // time counter in ms, or the byte / error code
};

struct PaintRequest {
    int y0 = 0;  // origin: 0 on screen, below the page header when printing
    int height = 0;
    uint32_t firstLine = 0;
    std::optional<uint32_t> lineLimit;  // most lines to draw
    bool showSelection = false;
    bool printColours = false;  // white page background
};

struct PaintResult {
    uint32_t linesDrawn;
    uint32_t cellsLaidOut;  // position of the idle cell relative to the page
    uint32_t nextLine;      // first line + lines drawn: where the next page starts
};

// The text a line error code shows in the hexadecimal column (cp932).
std::string_view LineErrorText(uint32_t code);

// Lines selected for printing: [first, end).
struct LineRange {
    uint32_t first;
    uint32_t end;
};

class MonitorView {
public:
    // Fills the off-screen surface, draws the column header, measures the
    // glyph centring and reserves the store's idle cell. The store and the
    // surface must outlive the view.
    MonitorView(RecordStore& store, Surface& offscreen, const MonitorColors& colors);
    ~MonitorView();
    MonitorView(const MonitorView&) = delete;
    MonitorView& operator=(const MonitorView&) = delete;

    // One layout pass on any surface; touches no view state, so another
    // thread may run it while the screen is repainted.
    PaintResult PaintLines(Surface& surface, const PaintRequest& request) const;
    // The screen pass: off-screen surface, origin 0, the view height, the
    // current first line, with selection and screen colours.
    void PaintScreen();
    void DrawIdleCounter(uint32_t ms);

    // Client height of the view window.
    void SetViewHeight(int height) { viewHeight_ = height; }
    uint32_t LineCount() const { return store_.LineCount(); }
    const RecordStore& Store() const { return store_; }
    uint32_t LargestFirstVisibleLine() const;
    uint32_t FirstVisibleLine() const { return firstVisibleLine_; }
    void SetFirstVisibleLine(uint32_t line);
    std::optional<uint32_t> LineFromY(int y) const;

    // Returns whether the anchor, first or last line changed.
    bool SelectLine(std::optional<uint32_t> line, bool extend);
    std::optional<LineRange> SelectionRange() const;
    std::optional<uint32_t> Caret() const;

    bool DoubleByteDisplay() const { return doubleByteDisplay_; }
    void SetDoubleByteDisplay(bool on) { doubleByteDisplay_ = on; }

    // The highlight conditions, matched in list order.
    HighlightConditionList& Conditions() { return conditions_; }

    const MonitorColors& Colors() const { return colors_; }
    uint32_t VisibleLines() const { return visibleLines_; }
    uint32_t CellsOfLastPass() const { return cellsOfLastPass_; }
    uint32_t IdleTime() const { return idleTime_; }

private:
    class Pass;

    bool HasSelection() const { return selectionAnchor_ >= 0; }
    void ClearSelection() { selectionAnchor_ = -1; }

    RecordStore& store_;
    Surface& offscreen_;
    MonitorColors colors_;
    HighlightConditionList conditions_;
    int glyphOffsetX_ = 0;
    int viewHeight_ = 0;

    uint32_t firstVisibleLine_ = 0;
    uint32_t visibleLines_ = 0;
    uint32_t cellsOfLastPass_ = 0;
    uint32_t idleTime_ = 0;
    int32_t selectionAnchor_ = -1;
    uint32_t selectionFirst_ = 0;
    uint32_t selectionLast_ = 0;
    uint32_t caretLine_ = 0;
    bool doubleByteDisplay_ = true;
};
