// The print thread on the real PDF queue (tools/cups-setup.sh): each run
// here becomes one PDF whose pages check-printed-pages.sh counts, in the
// order of the runs, and compares with the page images saved here.
#include "DialogUser.h"
#include "GdiSurface.h"
#include "PageCallRecorder.h"
#include "PrintJob.h"
#include "PrintProgressDialog.h"
#include "TestRecords.h"
#include "resource.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// Where a run's page images go for check-printed-pages.sh: name-1.bmp, ...
std::string PageImagePrefix(const char* name)
{
    CreateDirectoryA(PAGE_IMAGE_DIR, nullptr);
    return std::string(PAGE_IMAGE_DIR) + "\\" + name;
}

void WriteBmp(const std::string& path, const BITMAPINFO& info, const unsigned char* bits, size_t size)
{
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + size);
    FILE* out = fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr) << path;
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
    fwrite(bits, size, 1, out);
    fclose(out);
}

class GdiPageImage : public PageImage {
public:
    GdiPageImage(std::unique_ptr<GdiSurface> surface, int width, int height)
        : surface_(std::move(surface)), width_(width), height_(height)
    {}
    Surface& Drawing() override { return *surface_; }
    bool ReadBits(BITMAPINFO& info, unsigned char* bits) override
    {
        if (onPage)
            onPage();
        const bool read = surface_->ReadBits(width_, height_, info, bits);
        if (read && !pagePathPrefix.empty()) {
            const size_t size = static_cast<size_t>(height_) * PAGE_IMAGE_WIDTH * 3;
            WriteBmp(pagePathPrefix + "-" + std::to_string(++pagesSaved_) + ".bmp", info, bits, size);
            if (pagesSaved_ == 1)
                firstPageBits->assign(bits, bits + size);
        }
        return read;
    }
    std::function<void()> onPage;                         // as each page goes to paper
    std::string pagePathPrefix;                           // where the page images are saved, if anywhere
    std::vector<unsigned char>* firstPageBits = nullptr;  // the first one also kept

private:
    std::unique_ptr<GdiSurface> surface_;
    int width_;
    int height_;
    int pagesSaved_ = 0;
};

class PrintThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* queue = getenv("VANTREL_PRINT_QUEUE");
        ASSERT_NE(queue, nullptr) << "the print queue fixture sets VANTREL_PRINT_QUEUE";
        ASSERT_TRUE(pageCalls_.Installed());
        job_.printer = queue;
        screen_ = GdiSurface::Create();
        ASSERT_NE(screen_, nullptr);
        view_ = std::make_unique<MonitorView>(store_, *screen_, MonitorColors{});
        source_.view = view_.get();
        source_.portName = "COM1";
        source_.lineSettings = "9600,N,8,1";
        source_.makePageImage = [this](int width, int height) -> std::unique_ptr<PageImage> {
            auto surface = GdiSurface::Create(width, height);
            if (surface == nullptr)
                return nullptr;
            auto image = std::make_unique<GdiPageImage>(std::move(surface), width, height);
            image->onPage = onPage_;
            image->pagePathPrefix = pagePathPrefix_;
            image->firstPageBits = &firstPageBits_;
            pageImageHeight_ = height;
            return image;
        };
    }

    // 0 (and a failure) when the queue is unknown to Wine.
    uint32_t LinesPerPageOf(bool softLayout)
    {
        auto metrics = QueryPrinterMetrics(job_);
        auto geometry = metrics ? ComputePageGeometry(*metrics, job_.margins, softLayout) : std::nullopt;
        EXPECT_TRUE(geometry) << "printer " << job_.printer;
        return geometry ? LinesPerPage(geometry->imageHeight) : 0;
    }

    // Sixteen sent bytes a line, each line's bytes its own number.
    void FillLines(uint32_t lines)
    {
        while (view_->LineCount() < lines) {
            const auto line = static_cast<uint8_t>(view_->LineCount());
            TestRecord record = MakeDataRecord(RecordKind_Write, std::vector<uint8_t>(16, line), 0);
            store_.Add(record.record, record.size);
        }
    }

    // `pageCalls`: StartPage "S", EndPage "E", EndDoc "D" in their order.
    void Print(bool softLayout, const char* pageCalls)
    {
        job_.softLayout = softLayout;
        run_.Begin();
        PrintThread(&task_);
        EXPECT_FALSE(run_.Running());
        EXPECT_EQ(pageCalls, pageCalls_.Take());
    }

    PageCallRecorder pageCalls_;
    std::function<void()> onPage_;
    std::string pagePathPrefix_;
    std::vector<unsigned char> firstPageBits_;
    int pageImageHeight_ = 0;
    PrintJob job_;
    PrintSource source_;
    PrintRun run_;
    PrintTask task_{&job_, &source_, &run_};
    RecordStore store_{100000, 1};
    std::unique_ptr<GdiSurface> screen_;
    std::unique_ptr<MonitorView> view_;
};

// The order of the runs in this file is the order of the documents the
// check expects. Here: 3 pages, 2 sheets, 1 page, and 1 sheet of a run
// cancelled on its first page.
TEST_F(PrintThreadTest, PagesAndSheetsOfFourRuns)
{
    const uint32_t perPage = LinesPerPageOf(false);
    ASSERT_GT(perPage, 0u);
    FillLines(2 * perPage + 1);
    pagePathPrefix_ = PageImagePrefix("all");
    // The run spans more than a second: a header time taken per page would
    // differ between its pages.
    int pagesDrawn = 0;
    onPage_ = [&pagesDrawn] {
        if (++pagesDrawn == 2)
            Sleep(1100);
    };
    Print(false, "SESESED");
    pagePathPrefix_.clear();
    onPage_ = nullptr;

    store_.Reset();
    FillLines(2 * LinesPerPageOf(true) + 1);
    Print(true, "SESED");

    store_.Reset();
    Print(false, "SED");

    // The sheet of a left half alone is ended before the document.
    FillLines(2 * LinesPerPageOf(true) + 1);
    onPage_ = [this] { run_.Cancel(); };
    Print(true, "SED");

    // Cancelled before its first page: no sheet to end, and no document.
    run_.Begin();
    run_.Cancel();
    PrintThread(&task_);
    EXPECT_EQ("", pageCalls_.Take());
}

// 1 page: three lines chosen across the first page break of all lines.
TEST_F(PrintThreadTest, ASelectionPrintsOnlyItsLines)
{
    const uint32_t perPage = LinesPerPageOf(false);
    ASSERT_GT(perPage, 1u);
    FillLines(2 * perPage + 1);
    view_->SelectLine(perPage - 1, false);
    view_->SelectLine(perPage + 1, true);
    source_.selection = view_->SelectionRange();
    job_.range = PrintRange::Selection;
    pagePathPrefix_ = PageImagePrefix("selection");
    Print(false, "SED");

    // Below the header texts the page is the layout pass's drawing of the
    // selected lines alone (bottom-up rows: the first ones of the image).
    auto alone = GdiSurface::Create(PAGE_IMAGE_WIDTH, pageImageHeight_);
    ASSERT_NE(alone, nullptr);
    alone->FillRect(Rect{0, 0, PAGE_IMAGE_WIDTH, pageImageHeight_}, 0xFFFFFF);
    PaintRequest request;
    request.y0 = PAGE_HEADER_HEIGHT;
    request.height = pageImageHeight_ - PAGE_HEADER_HEIGHT;
    request.firstLine = perPage - 1;
    request.lineLimit = 3;
    request.printColours = true;
    view_->PaintLines(*alone, request);
    std::vector<unsigned char> expected(firstPageBits_.size());
    BITMAPINFO info = {};
    ASSERT_TRUE(alone->ReadBits(PAGE_IMAGE_WIDTH, pageImageHeight_, info, expected.data()));
    const int headerTextsBottom = PAGE_HEADER_HEIGHT + 20;
    const auto linesBytes = static_cast<ptrdiff_t>(pageImageHeight_ - headerTextsBottom) * PAGE_IMAGE_WIDTH * 3;
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + linesBytes, firstPageBits_.begin()));
}

// 2 pages of four: the progress box shows activity, ignores Enter and Esc,
// and its cancel, pressed while page 2 is drawn, ends the run after that
// page; the box closes once the thread has ended.
TEST_F(PrintThreadTest, CancelInTheProgressBoxEndsTheRunAfterThePageBeingDrawn)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    FillLines(3 * LinesPerPageOf(false) + 1);
    HANDLE pageTwoDrawn = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE cancelPressed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    int pagesDrawn = 0;
    onPage_ = [&] {
        if (++pagesDrawn == 2) {
            SetEvent(pageTwoDrawn);
            WaitForSingleObject(cancelPressed, 10000);
        }
    };
    run_.Begin();
    HANDLE thread = CreateThread(nullptr, 0, PrintThread, &task_, 0, nullptr);
    ASSERT_NE(nullptr, thread);

    LRESULT firstPosition = -1, laterPosition = -1;
    bool openAfterEnterAndEsc = false, cancelDisabled = false;
    PrintProgressDialog progress(run_);
    ModalRun shown = RunModalAsUser(progress, DialogWithControl(IDC_PRINT_CANCEL), [&](HWND box) {
        firstPosition = SendDlgItemMessageW(box, IDC_PRINT_PROGRESS, PBM_GETPOS, 0, 0);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        Sleep(1200);  // two ticks of the bar, one at least under load
        laterPosition = SendDlgItemMessageW(box, IDC_PRINT_PROGRESS, PBM_GETPOS, 0, 0);
        openAfterEnterAndEsc = IsWindowVisible(box) && run_.ShouldContinue();
        WaitForSingleObject(pageTwoDrawn, 10000);
        PostMessageW(GetDlgItem(box, IDC_PRINT_CANCEL), BM_CLICK, 0, 0);
        for (int tries = 0; tries < 100 && !cancelDisabled; ++tries, Sleep(10))
            cancelDisabled = !IsWindowEnabled(GetDlgItem(box, IDC_PRINT_CANCEL));
        SetEvent(cancelPressed);
        WaitUntilGone(box);
    });
    SetEvent(cancelPressed);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(pageTwoDrawn);
    CloseHandle(cancelPressed);

    EXPECT_TRUE(shown.shown);
    EXPECT_EQ(0, firstPosition);
    EXPECT_GT(laterPosition, firstPosition);
    EXPECT_TRUE(openAfterEnterAndEsc);
    EXPECT_TRUE(cancelDisabled);
    EXPECT_EQ(2, pagesDrawn);
    EXPECT_FALSE(run_.Running());
    EXPECT_EQ("SESED", pageCalls_.Take());
}

}  // namespace
