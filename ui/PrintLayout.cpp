#include "PrintLayout.h"

#include "Settings.h"

#include <algorithm>

namespace {

constexpr const char* kMarginKeys[] = {"PrintTop", "PrintBottom", "PrintLeft", "PrintRight"};
// Header, then the bottom 20 pixels the layout pass leaves; 40 per line.
constexpr int kLayoutReserve = PAGE_HEADER_HEIGHT + 20;
constexpr int kLineHeight = 40;
constexpr uint32_t kMaxLinesPerPage = 199;
constexpr int kEnumerationAttempts = 4;

// In the order of kMarginKeys.
uint32_t PrintMargins::*const kMarginFields[] = {&PrintMargins::top, &PrintMargins::bottom, &PrintMargins::left,
                                                 &PrintMargins::right};

int Scaled(uint32_t millimetres, int pixels, int size)
{
    return static_cast<int>(static_cast<int64_t>(millimetres) * pixels / size);
}

// The printer's whole area less the margins, with the image height that keeps
// its aspect; the sizes must not be 0.
PageGeometry MarginedPage(const PrinterMetrics& printer, const PrintMargins& margins, bool softLayout,
                          int64_t* imageHeight)
{
    PageGeometry page{};
    page.left = Scaled(margins.left, printer.horzRes, printer.horzSize);
    page.top = Scaled(margins.top, printer.vertRes, printer.vertSize);
    int right = Scaled(margins.right, printer.horzRes, printer.horzSize);
    int bottom = Scaled(margins.bottom, printer.vertRes, printer.vertSize);
    page.width = printer.horzRes - right - page.left;
    page.height = printer.vertRes - bottom - page.top;
    if (softLayout)
        page.width /= 2;
    *imageHeight = page.width > 0 ? static_cast<int64_t>(page.height) * PAGE_IMAGE_WIDTH / page.width : 0;
    return page;
}

}  // namespace

PrintMargins ReadMarginsForDialog()
{
    PrintMargins margins{};
    for (int i = 0; i < 4; ++i)
        margins.*kMarginFields[i] = MARGIN_RANGE.ValueOr(ReadInt(SETTINGS_SYSTEM, kMarginKeys[i], 0), 0);
    return margins;
}

bool WriteMargins(const PrintMargins& margins)
{
    return ChangeSettingsAsOne([&](const char* file) {
        for (int i = 0; i < 4; ++i) {
            if (!WriteInt(SETTINGS_SYSTEM, kMarginKeys[i], static_cast<int32_t>(margins.*kMarginFields[i]), file))
                return false;
        }
        return true;
    });
}

std::string MarginRefusal(RangeCheck check)
{
    return RefusalMessage(check, MARGIN_RANGE, "整数を入力してください。");
}

PageRefusal CheckPageLayout(const PrinterMetrics& printer, const PrintMargins& margins, bool softLayout)
{
    if (printer.horzSize <= 0 || printer.vertSize <= 0)
        return PageRefusal::NoPrinterSize;
    int64_t imageHeight = 0;
    const PageGeometry page = MarginedPage(printer, margins, softLayout, &imageHeight);
    if (page.width <= 0 || page.width < Scaled(MIN_PAGE_WIDTH_MM, printer.horzRes, printer.horzSize))
        return PageRefusal::TooNarrow;
    if (page.height <= 0 || imageHeight < MIN_PAGE_IMAGE_HEIGHT)
        return PageRefusal::NoLine;
    return PageRefusal::None;
}

int MaxSideMargins(const PrinterMetrics& printer, bool softLayout)
{
    return printer.horzSize - MIN_PAGE_WIDTH_MM * (softLayout ? 2 : 1);
}

std::optional<PageGeometry> ComputePageGeometry(const PrinterMetrics& printer, const PrintMargins& margins,
                                                bool softLayout)
{
    if (CheckPageLayout(printer, margins, softLayout) != PageRefusal::None)
        return std::nullopt;
    int64_t imageHeight = 0;
    PageGeometry page = MarginedPage(printer, margins, softLayout, &imageHeight);
    if (imageHeight > MAX_PAGE_IMAGE_HEIGHT) {
        imageHeight = MAX_PAGE_IMAGE_HEIGHT;
        page.height = static_cast<int>(static_cast<int64_t>(MAX_PAGE_IMAGE_HEIGHT) * page.width / PAGE_IMAGE_WIDTH);
    }
    page.imageHeight = static_cast<int>(imageHeight);
    return page;
}

uint32_t LinesPerPage(int imageHeight)
{
    if (imageHeight < kLayoutReserve)
        return 0;
    return std::min<uint32_t>((imageHeight - kLayoutReserve) / kLineHeight, kMaxLinesPerPage);
}

PagePlacement PlacePage(const PageGeometry& geometry, uint32_t pageIndex, bool softLayout)
{
    if (!softLayout)
        return PagePlacement{true, true, geometry.left};
    bool leftHalf = pageIndex % 2 == 0;
    return PagePlacement{leftHalf, !leftHalf, leftHalf ? geometry.left : geometry.left + geometry.width};
}

bool SheetLeftOpen(uint32_t lastPageIndex, bool softLayout)
{
    return softLayout && lastPageIndex % 2 == 0;
}

std::optional<std::vector<unsigned char>>
EnumerateWithGrowingBuffer(const std::function<bool(unsigned char* buffer, uint32_t size, uint32_t* needed)>& call,
                           uint32_t firstSize)
{
    std::vector<unsigned char> buffer(std::max<uint32_t>(firstSize, 1));
    for (int attempt = 0; attempt < kEnumerationAttempts; ++attempt) {
        uint32_t needed = 0;
        if (call(buffer.data(), static_cast<uint32_t>(buffer.size()), &needed))
            return buffer;
        if (needed <= buffer.size())
            return std::nullopt;
        buffer.resize(needed);
    }
    return std::nullopt;
}
