// The real Vantrel.exe printing a stopped monitor of a capture of the test
// port to the real PDF queue, while the user asks for capture start and exit:
// both are refused until the print has ended, the monitor stays, and the
// document (checked by check-printed-pages.sh) has every page.
#include "FilterServiceFixture.h"
#include "PrintJob.h"
#include "VantrelProcess.h"

#include <direct.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr UINT kStartCapture = 26000;
constexpr UINT kStopCapture = 26001;
constexpr UINT kPrint = 25002;
constexpr int kPrinterList = 1021;
constexpr int kProgressCancel = 1020;
constexpr int kMessageText = 0xFFFF;
// A long print: each page waits 100 ms after going to paper.
constexpr uint32_t kPages = 20;
constexpr DWORD kPrintEndMs = 60000;

bool IsVisibleDialogWith(HWND hwnd, int control)
{
    wchar_t className[16] = {};
    GetClassNameW(hwnd, className, 16);
    return std::wstring(className) == L"#32770" && IsWindowVisible(hwnd) && GetDlgItem(hwnd, control) != nullptr;
}

std::wstring TextOf(HWND hwnd)
{
    wchar_t text[256] = {};
    GetWindowTextW(hwnd, text, 256);
    return text;
}

// Writes `bytes` on COM11; the peer on COM12 reads them.
void SendOnTerminal(size_t bytes)
{
    HANDLE peer = OpenPort("\\\\.\\COM12");
    HANDLE terminal = OpenPort("\\\\.\\COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    ASSERT_NE(INVALID_HANDLE_VALUE, terminal) << GetLastError();
    std::vector<char> chunk(256, 'p');
    for (size_t sent = 0; sent < bytes; sent += chunk.size()) {
        const DWORD part = static_cast<DWORD>(std::min(chunk.size(), bytes - sent));
        DWORD done = 0;
        EXPECT_TRUE(WriteFile(terminal, chunk.data(), part, &done, nullptr));
        EXPECT_TRUE(ReadFile(peer, chunk.data(), part, &done, nullptr));
    }
    CloseHandle(terminal);
    CloseHandle(peer);
}

struct BoxSeen {
    std::wstring caption;
    std::wstring text;
};

// Answers the next message box of the process with OK.
BoxSeen AnswerMessageBox(const VantrelProcess& vantrel)
{
    HWND box = vantrel.WaitForWindow([](HWND hwnd) { return IsVisibleDialogWith(hwnd, kMessageText); });
    if (box == nullptr)
        return {};
    wchar_t text[256] = {};
    GetDlgItemTextW(box, kMessageText, text, 256);
    BoxSeen seen = {TextOf(box), text};
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (int tries = 0; tries < 500 && IsWindow(box); ++tries)
        Sleep(10);
    return seen;
}

class PrintCaptureTest : public FilterServiceTest {
protected:
    // A fresh settings folder with one monitor item on COM11; no time cells,
    // so that every 16 bytes make one display line.
    void SetUp() override
    {
        FilterServiceTest::SetUp();
        queue_ = getenv("VANTREL_PRINT_QUEUE");
        ASSERT_NE(nullptr, queue_) << "the print queue fixture sets VANTREL_PRINT_QUEUE";
        ASSERT_NE(nullptr, _getcwd(original_, sizeof original_));
        _mkdir("print-exe-run");
        ASSERT_EQ(0, _chdir("print-exe-run"));
        DeleteFileA("Vantrel.ini");
        WritePrivateProfileStringA("System", "DataCount", "1", ".\\Vantrel.ini");
        WritePrivateProfileStringA("System", "Limit", "1000000", ".\\Vantrel.ini");
        WritePrivateProfileStringA("Data0", "COM", "COM11", ".\\Vantrel.ini");
        WritePrivateProfileStringA("Data0", "Size", "100000", ".\\Vantrel.ini");
        WritePrivateProfileStringA("Data0", "Type", "0", ".\\Vantrel.ini");
    }
    void TearDown() override
    {
        EXPECT_EQ(0, _chdir(original_));
        FilterServiceTest::TearDown();
    }

    uint32_t PageLines() const
    {
        PrintJob job;
        job.printer = queue_;
        const auto metrics = QueryPrinterMetrics(job);
        const auto geometry = metrics ? ComputePageGeometry(*metrics, PrintMargins{}, false) : std::nullopt;
        return geometry ? LinesPerPage(geometry->imageHeight) : 0;
    }

    // Chooses the queue in the print dialog and presses 印刷.
    bool PrintOn(HWND dialog) const
    {
        if (SendDlgItemMessageA(dialog, kPrinterList, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                reinterpret_cast<LPARAM>(queue_)) == CB_ERR)
            return false;
        PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        return true;
    }

    const char* queue_ = nullptr;
    VantrelProcess vantrel;

private:
    char original_[MAX_PATH] = {};
};

TEST_F(PrintCaptureTest, CaptureStartAndExitWaitForALongPrintThatKeepsEveryPage)
{
    const uint32_t perPage = PageLines();
    ASSERT_GT(perPage, 0u) << "printer " << queue_;
    ASSERT_TRUE(vantrel.Start());
    HWND mainFrame = vantrel.WaitForMainFrame();
    ASSERT_NE(nullptr, mainFrame);
    PostMessageW(mainFrame, WM_COMMAND, kStartCapture, 0);
    ASSERT_NE(nullptr, vantrel.WaitForWindowTitled(L"キャプチャモニタ - COM11"));
    // The idle cell ends the last line: kPages pages exactly.
    SendOnTerminal(16 * perPage * kPages - 1);
    Sleep(2000);  // the monitor's polls fetch the last records
    PostMessageW(mainFrame, WM_COMMAND, kStopCapture, 0);
    HWND monitor = vantrel.WaitForWindowTitled(L"キャプチャモニタ - COM11(停止中)");
    ASSERT_NE(nullptr, monitor);
    ASSERT_TRUE(WaitForStartEnabled(mainFrame, kPrintEndMs)) << "the stop did not finish";

    PostMessageW(monitor, WM_COMMAND, kPrint, 0);
    HWND dialog = vantrel.WaitForWindowTitled(L"印刷");
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(PrintOn(dialog)) << "the print dialog does not list " << queue_;
    HWND progress = vantrel.WaitForWindow([](HWND hwnd) { return IsVisibleDialogWith(hwnd, kProgressCancel); });
    ASSERT_NE(nullptr, progress);

    PostMessageW(mainFrame, WM_COMMAND, kStartCapture, 0);
    const BoxSeen start = AnswerMessageBox(vantrel);
    PostMessageW(mainFrame, WM_CLOSE, 0, 0);
    const BoxSeen exit = AnswerMessageBox(vantrel);
    const bool printingMeanwhile = IsWindow(progress) != FALSE;
    for (DWORD waited = 0; waited < kPrintEndMs && IsWindow(progress); waited += 50)
        Sleep(50);

    EXPECT_EQ(L"確認", start.caption);
    EXPECT_EQ(L"印刷中です。印刷が終わってから操作してください。", start.text);
    EXPECT_EQ(L"印刷中です。印刷が終わってから操作してください。", exit.text);
    EXPECT_TRUE(printingMeanwhile) << "the print ended before the test asked: make it longer";
    EXPECT_FALSE(IsWindow(progress)) << "the print did not end";
    EXPECT_TRUE(IsWindow(monitor)) << "the printed monitor was closed";
    DWORD exitCode = 1;
    EXPECT_TRUE(vantrel.Close(&exitCode));
    EXPECT_EQ(0u, exitCode);
}

}  // namespace
