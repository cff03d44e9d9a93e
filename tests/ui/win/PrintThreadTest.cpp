// The print thread on the real PDF queue (tools/cups-setup.sh): each run
// here becomes one PDF whose pages check-printed-pages.sh counts, in the
// order of the runs.
#include "GdiSurface.h"
#include "PrintJob.h"
#include "TestRecords.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <memory>
#include <string>

namespace {

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
        if (read && !firstPagePath.empty()) {
            WriteBmp(firstPagePath, info, bits, static_cast<size_t>(height_) * PAGE_IMAGE_WIDTH * 3);
            firstPagePath.clear();
        }
        return read;
    }
    std::function<void()> onPage;  // as each page goes to paper
    std::string firstPagePath;     // where the first page image is saved, if anywhere

private:
    std::unique_ptr<GdiSurface> surface_;
    int width_;
    int height_;
};

class PrintThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* queue = getenv("VANTREL_PRINT_QUEUE");
        ASSERT_NE(queue, nullptr) << "the print queue fixture sets VANTREL_PRINT_QUEUE";
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
            image->firstPagePath = firstPagePath_;
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

    // Sixteen sent bytes a line.
    void FillLines(uint32_t lines)
    {
        while (view_->LineCount() < lines) {
            TestRecord record = MakeDataRecord(RecordKind_Write, std::vector<uint8_t>(16, 'a'), 0);
            store_.Add(record.record, record.size);
        }
    }

    void Print(bool softLayout)
    {
        job_.softLayout = softLayout;
        PrintTask task{&job_, &source_, &run_};
        run_.Begin();
        PrintThread(&task);
        EXPECT_FALSE(run_.Running());
    }

    std::function<void()> onPage_;
    std::string firstPagePath_;
    PrintJob job_;
    PrintSource source_;
    PrintRun run_;
    RecordStore store_{100000, 1};
    std::unique_ptr<GdiSurface> screen_;
    std::unique_ptr<MonitorView> view_;
};

// The order of these runs is the order of the documents the check expects:
// 3 pages, 2 sheets, 1 page, and 1 sheet of a run cancelled on its first page.
TEST_F(PrintThreadTest, PagesAndSheetsOfFourRuns)
{
    const uint32_t perPage = LinesPerPageOf(false);
    ASSERT_GT(perPage, 0u);
    FillLines(2 * perPage + 1);
    firstPagePath_ = PAGE_IMAGE_PATH;
    Print(false);
    firstPagePath_.clear();

    store_.Reset();
    FillLines(2 * LinesPerPageOf(true) + 1);
    Print(true);

    store_.Reset();
    Print(false);

    FillLines(2 * LinesPerPageOf(true) + 1);
    onPage_ = [this] { run_.Cancel(); };
    Print(true);
}

}  // namespace
