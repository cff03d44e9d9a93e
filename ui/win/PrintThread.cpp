#include "PrintJob.h"

#include <stdio.h>

#include <algorithm>
#include <new>
#include <string>

namespace {

constexpr Color kBlack = 0x000000;
constexpr Color kWhite = 0xFFFFFF;
constexpr int kPageRowBytes = PAGE_IMAGE_WIDTH * 3;
constexpr DWORD kPagePauseMs = 100;
// "Vantrelログ" in cp932.
constexpr const char* kHeaderTitle = "Vantrel\x83\x8D\x83\x4F";

const DEVMODEA* DeviceModeOf(const PrintJob& job)
{
    return job.deviceMode.empty() ? nullptr : reinterpret_cast<const DEVMODEA*>(job.deviceMode.data());
}

PrinterMetrics MetricsOf(HDC printer)
{
    return PrinterMetrics{GetDeviceCaps(printer, HORZRES), GetDeviceCaps(printer, VERTRES),
                          GetDeviceCaps(printer, HORZSIZE), GetDeviceCaps(printer, VERTSIZE)};
}

// Local time at the start of the run, the same on every page.
std::string RunTimeText()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
    return text;
}

std::string PageNumberText(uint32_t pageNumber)
{
    char text[24];
    snprintf(text, sizeof text, "Page %u", pageNumber);
    return text;
}

void DrawPageHeader(Surface& image, const PrintSource& source, const std::string& runTime, uint32_t pageNumber)
{
    image.DrawText(0, 0, Font::Data, kBlack, kWhite, kHeaderTitle);
    image.DrawText(300, 0, Font::Small, kBlack, kWhite, PageNumberText(pageNumber));
    image.DrawText(465, 0, Font::Small, kBlack, kWhite, runTime);
    image.DrawText(0, 20, Font::Small, kBlack, kWhite, "Port:" + source.portName);
    image.DrawText(80, 20, Font::Small, kBlack, kWhite, source.lineSettings);
    image.DrawText(2, 35, Font::Small, kBlack, kWhite, "Counter");
    image.DrawText(70, 35, Font::Small, kBlack, kWhite, "Binary Data");
    image.DrawText(450, 35, Font::Small, kBlack, kWhite, "Ascii Data");
}

// One printer document: the pages of the job's lines, or fewer when cancelled.
class PageRun {
public:
    PageRun(HDC printer, const PageGeometry& geometry, const PrintTask& task, PageImage& image, unsigned char* bits)
        : printer_(printer), geometry_(geometry), task_(task), image_(image), bits_(bits)
    {}

    void PrintAll()
    {
        const PrintSource& source = *task_.source;
        uint32_t first = 0, end = source.view->LineCount();
        if (task_.job->range == PrintRange::Selection && source.selection) {
            first = source.selection->first;
            end = source.selection->end;
        }
        const std::string runTime = RunTimeText();
        image_.Drawing().FillRect(Rect{0, 0, PAGE_IMAGE_WIDTH, geometry_.imageHeight}, kWhite);
        uint32_t page = 0;
        while (task_.run->ShouldContinue()) {
            DrawPageHeader(image_.Drawing(), source, runTime, page + 1);
            PaintRequest request;
            request.y0 = PAGE_HEADER_HEIGHT;
            request.height = geometry_.imageHeight - PAGE_HEADER_HEIGHT;
            request.firstLine = first;
            request.lineLimit = std::min<uint32_t>(end - first, MAX_LINES_PER_PASS);
            request.printColours = true;
            const uint32_t next = source.view->PaintLines(image_.Drawing(), request).nextLine;
            PutOnPaper(page);
            Sleep(kPagePauseMs);
            lastPage_ = page;
            if (next >= end || next == first)
                break;
            first = next;
            ++page;
        }
        if (sheetStarted_ && SheetLeftOpen(lastPage_, task_.job->softLayout))
            EndPage(printer_);
    }

    bool SheetStarted() const { return sheetStarted_; }

private:
    void PutOnPaper(uint32_t page)
    {
        const PagePlacement place = PlacePage(geometry_, page, task_.job->softLayout);
        if (place.startsSheet) {
            StartPage(printer_);
            sheetStarted_ = true;
        }
        BITMAPINFO info = {};
        if (image_.ReadBits(info, bits_)) {
            StretchDIBits(printer_, place.x, geometry_.top, geometry_.width, geometry_.height, 0, 0, PAGE_IMAGE_WIDTH,
                          geometry_.imageHeight, bits_, &info, DIB_RGB_COLORS, SRCCOPY);
        }
        if (place.endsSheet)
            EndPage(printer_);
    }

    HDC printer_;
    PageGeometry geometry_;
    const PrintTask& task_;
    PageImage& image_;
    unsigned char* bits_;  // the page image's rows, as ReadBits copies them out
    uint32_t lastPage_ = 0;
    bool sheetStarted_ = false;
};

void PrintDocument(HDC printer, const PrintTask& task)
{
    const auto geometry = ComputePageGeometry(MetricsOf(printer), task.job->margins, task.job->softLayout);
    if (!geometry)
        return;
    std::unique_ptr<PageImage> image = task.source->makePageImage(PAGE_IMAGE_WIDTH, geometry->imageHeight);
    // Memory that is short ends the run, not the program.
    std::unique_ptr<unsigned char[]> bits(
        new (std::nothrow) unsigned char[static_cast<size_t>(geometry->imageHeight) * kPageRowBytes]);
    if (!image || !bits)
        return;
    DOCINFOA document = {sizeof document, "Vantrel", nullptr, nullptr, 0};
    if (StartDocA(printer, &document) <= 0)
        return;
    PageRun run(printer, *geometry, task, *image, bits.get());
    run.PrintAll();
    // A run cancelled before its first page prints nothing, not an empty document.
    if (run.SheetStarted())
        EndDoc(printer);
    else
        AbortDoc(printer);
}

}  // namespace

std::optional<PrinterMetrics> QueryPrinterMetrics(const PrintJob& job)
{
    HDC info = CreateICA("WINSPOOL", job.printer.c_str(), nullptr, DeviceModeOf(job));
    if (info == nullptr)
        return std::nullopt;
    const PrinterMetrics metrics = MetricsOf(info);
    DeleteDC(info);
    return metrics;
}

DWORD WINAPI PrintThread(void* parameter)
{
    const PrintTask& task = *static_cast<const PrintTask*>(parameter);
    HDC printer = CreateDCA("WINSPOOL", task.job->printer.c_str(), nullptr, DeviceModeOf(*task.job));
    if (printer != nullptr) {
        PrintDocument(printer, task);
        DeleteDC(printer);
    }
    task.run->End();
    return 0;
}
