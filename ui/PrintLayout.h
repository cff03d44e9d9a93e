// Printing a capture monitor without window code: the margins as the print
// dialog shows, checks and stores them, the page geometry on the printer,
// the lines a page holds, the placing of pages on sheets, and the state a
// print run shares between the user interface and the print thread.
#pragma once

#include "SettingRange.h"

#include <stdint.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Margins in millimetres.
constexpr SettingRange MARGIN_RANGE = {0, 100};

struct PrintMargins {
    uint32_t top;
    uint32_t bottom;
    uint32_t left;
    uint32_t right;
};

// A stored margin outside its range shows as 0.
PrintMargins ReadMarginsForDialog();
// All four in one step; false, with the file as it was, when it could not be
// written.
bool WriteMargins(const PrintMargins& margins);
// The message (UTF-8) for a refused margin text; empty when accepted.
std::string MarginRefusal(RangeCheck check);

// The page image: 640 pixels wide, the page header above the data lines.
constexpr int PAGE_IMAGE_WIDTH = 640;
constexpr int PAGE_HEADER_HEIGHT = 35;
// Below this height a page image holds no display line.
constexpr int MIN_PAGE_IMAGE_HEIGHT = 95;
// The most that one page shows: the header and 199 lines of 40 pixels, and
// the 20 pixels the layout pass leaves below them.
constexpr int MAX_PAGE_IMAGE_HEIGHT = PAGE_HEADER_HEIGHT + 199 * 40 + 20;
// A logical page narrower than this prints the 640-pixel image too small to
// read.
constexpr int MIN_PAGE_WIDTH_MM = 50;

// GetDeviceCaps of the printer: HORZRES, VERTRES in pixels, HORZSIZE,
// VERTSIZE in millimetres.
struct PrinterMetrics {
    int horzRes;
    int vertRes;
    int horzSize;
    int vertSize;
};

// Where one logical page goes on the sheet, in printer pixels, and the
// height of its page image.
struct PageGeometry {
    int left;
    int top;
    int width;
    int height;
    int imageHeight;
};

enum class PageRefusal { None, NoPrinterSize, TooNarrow, NoLine };

// Why the layout cannot print, or None when ComputePageGeometry accepts it.
PageRefusal CheckPageLayout(const PrinterMetrics& printer, const PrintMargins& margins, bool softLayout);
// The most millimetres the left and right margins may take together; below
// 0 when the paper itself is too narrow.
int MaxSideMargins(const PrinterMetrics& printer, bool softLayout);

// None when CheckPageLayout refuses the layout. A page taller than
// MAX_PAGE_IMAGE_HEIGHT allows is printed on its upper part, so that the
// image stays within that height.
std::optional<PageGeometry> ComputePageGeometry(const PrinterMetrics& printer, const PrintMargins& margins,
                                                bool softLayout);
// Display lines on a page image of this height (at least one for a
// geometry that ComputePageGeometry accepts).
uint32_t LinesPerPage(int imageHeight);

// How page `pageIndex` (from 0) goes on paper.
struct PagePlacement {
    bool startsSheet;
    bool endsSheet;
    int x;  // printer pixels
};
PagePlacement PlacePage(const PageGeometry& geometry, uint32_t pageIndex, bool softLayout);
// Whether the sheet of the last page drawn is still open after the run
// (a soft-layout sheet holding only its left half).
bool SheetLeftOpen(uint32_t lastPageIndex, bool softLayout);

// Asks an enumeration with a growing buffer: `call(buffer, size, needed)`
// returns whether it succeeded and, when not, the size it needs. Gives up
// after a few attempts or when the call does not ask for more.
std::optional<std::vector<unsigned char>>
EnumerateWithGrowingBuffer(const std::function<bool(unsigned char* buffer, uint32_t size, uint32_t* needed)>& call,
                           uint32_t firstSize);

// What one print run shares between the user interface and its thread.
class PrintRun {
public:
    // Before the thread starts.
    void Begin()
    {
        continuePrinting_ = true;
        running_ = true;
    }
    // The cancel button: the thread stops after the page it is drawing.
    void Cancel() { continuePrinting_ = false; }
    bool ShouldContinue() const { return continuePrinting_; }
    // The thread's last step, or the start that failed.
    void End() { running_ = false; }
    bool Running() const { return running_; }

private:
    std::atomic<bool> continuePrinting_{false};
    std::atomic<bool> running_{false};
};
