// The real Vantrel.exe capturing the test port under Wine, driven as a user
// would: capture start from the main frame, a terminal session on COM11, the
// monitor window drawing it and a terminal reading the text on COM21, then
// capture stop and exit.
#include "FileBytes.h"
#include "FilterServiceFixture.h"
#include "MessageBoxAnswerer.h"
#include "VantrelProcess.h"
#include "WindowPicture.h"

#include <direct.h>

#include <string>
#include <tuple>

namespace {

constexpr UINT kStartCapture = 26000;
constexpr UINT kStopCapture = 26001;
constexpr UINT kPrint = 25002;
constexpr UINT kHighlight = 25004;
constexpr DWORD kWaitMs = 20000;
// Colours of the user's own, as the colour dialog stores them: the monitor
// must draw with what the settings file holds, not with the defaults.
constexpr uint32_t kSentColor = 0x2080C0;
constexpr uint32_t kReceivedColor = 0x00A040;

// The hexadecimal cells of the monitor's first display line, in the
// picture of its whole window.
RECT FirstLineCells(HWND monitor)
{
    POINT client = {0, 0};
    ClientToScreen(monitor, &client);
    RECT frame = {};
    GetWindowRect(monitor, &frame);
    const int x0 = client.x - frame.left;
    const int y0 = client.y - frame.top;
    return RECT{x0 + 70, y0 + 14, x0 + 70 + 23 * 16, y0 + 60};
}

// With interval MAXDWORD and no total timeout each read returns at once.
std::string PollUntilContains(HANDLE port, const std::string& wanted)
{
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    EXPECT_TRUE(SetCommTimeouts(port, &timeouts)) << GetLastError();
    std::string text;
    for (DWORD waited = 0; waited < kWaitMs && text.find(wanted) == std::string::npos; waited += 20) {
        char part[256];
        DWORD done = 0;
        if (!ReadFile(port, part, sizeof part, &done, nullptr))
            break;
        text.append(part, done);
        if (done == 0)
            Sleep(20);
    }
    return text;
}

// Opens COM11 and sets 9600 8N1, writes "abc"; the peer on COM12 reads it
// and answers "xy", which COM11 reads.
void RunTerminalSession()
{
    HANDLE peer = OpenPort("\\\\.\\COM12");
    HANDLE terminal = OpenPort("\\\\.\\COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    ASSERT_NE(INVALID_HANDLE_VALUE, terminal) << GetLastError();
    DCB line = {};
    line.DCBlength = sizeof line;
    ASSERT_TRUE(GetCommState(terminal, &line));
    line.BaudRate = 9600;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    EXPECT_TRUE(SetCommState(terminal, &line)) << GetLastError();
    DWORD done = 0;
    char got[3] = {};
    EXPECT_TRUE(WriteFile(terminal, "abc", 3, &done, nullptr));
    EXPECT_TRUE(ReadFile(peer, got, 3, &done, nullptr));
    EXPECT_TRUE(WriteFile(peer, "xy", 2, &done, nullptr));
    EXPECT_TRUE(ReadFile(terminal, got, 2, &done, nullptr));
    CloseHandle(terminal);
    CloseHandle(peer);
}

class VantrelCaptureTest : public FilterServiceTest {
protected:
    // Vantrel.exe keeps its settings in its current directory, which it
    // inherits from the test: a fresh one with a monitor item and a text
    // output item on COM11.
    void SetUp() override
    {
        FilterServiceTest::SetUp();
        ASSERT_NE(nullptr, _getcwd(original_, sizeof original_));
        _mkdir("capture-exe-run");
        ASSERT_EQ(0, _chdir("capture-exe-run"));
        DeleteFileA("Vantrel.ini");
        WritePrivateProfileStringA("System", "DataCount", "2", ".\\Vantrel.ini");
        WritePrivateProfileStringA("System", "Color1", std::to_string(kReceivedColor).c_str(), ".\\Vantrel.ini");
        WritePrivateProfileStringA("System", "Color2", std::to_string(kSentColor).c_str(), ".\\Vantrel.ini");
        WriteItem("Data0", "0", "");
        WriteItem("Data1", "1", "COM21");
    }
    void TearDown() override
    {
        EXPECT_EQ(0, _chdir(original_));
        FilterServiceTest::TearDown();
    }

    static void WriteItem(const char* section, const char* form, const char* outputPort)
    {
        WritePrivateProfileStringA(section, "COM", "COM11", ".\\Vantrel.ini");
        WritePrivateProfileStringA(section, "Size", "100000", ".\\Vantrel.ini");
        WritePrivateProfileStringA(section, "Type", form, ".\\Vantrel.ini");
        WritePrivateProfileStringA(section, "Port", outputPort, ".\\Vantrel.ini");
    }

    VantrelProcess vantrel;

private:
    char original_[MAX_PATH] = {};
};

TEST_F(VantrelCaptureTest, ATerminalSessionShowsInTheMonitorAndOnTheOutputPort)
{
    ASSERT_TRUE(vantrel.Start());
    HWND mainFrame = vantrel.WaitForMainFrame();
    ASSERT_NE(nullptr, mainFrame);
#ifdef WOW64_IMAGE_RELATIVE_PATH
    char system[MAX_PATH] = {};
    ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    const std::string installed = std::string(system) + "\\drivers\\ZrVtrlFlt.sys";
    EXPECT_TRUE(ReadFileBytes(std::wstring(installed.begin(), installed.end())) ==
                ReadFileBytes(BuildOutputPath(WOW64_IMAGE_RELATIVE_PATH)))
        << "the 32-bit program did not write its 64-bit image into the real driver folder";
#endif
    PostMessageW(mainFrame, WM_COMMAND, kStartCapture, 0);
    HWND monitor = vantrel.WaitForWindowTitled(L"キャプチャモニタ - COM11");
    ASSERT_NE(nullptr, monitor) << "no monitor window after capture start";

    HANDLE output = OpenPort("\\\\.\\COM21");
    ASSERT_NE(INVALID_HANDLE_VALUE, output) << GetLastError();
    RunTerminalSession();
    std::string text = PollUntilContains(output, "COM11  ReadFile               2byte");
    CloseHandle(output);
    size_t write = text.find("COM11  WriteFile              3byte");
    size_t read = text.find("COM11  ReadFile               2byte");
    ASSERT_NE(std::string::npos, write) << text;
    ASSERT_NE(std::string::npos, read) << text;
    EXPECT_LT(write, read);
    EXPECT_EQ("00000000 61 62 63", text.substr(write + 80, 17)) << "the written bytes follow their line";

    // The monitor polls every 100 ms and draws the bytes on its first line.
    // The picture comes from the screen, where Wine stacks the windows of
    // different processes in mapping order: the monitor goes on top.
    SetWindowPos(monitor, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    int sent = 0;
    int received = 0;
    for (DWORD waited = 0; waited < kWaitMs && (sent <= 20 || received <= 20); waited += 200) {
        Sleep(200);
        const WindowPicture picture = TakeWindowPicture(monitor);
        const RECT firstLine = FirstLineCells(monitor);
        sent = picture.CountColor(firstLine, kSentColor);
        received = picture.CountColor(firstLine, kReceivedColor);
    }
    EXPECT_GT(sent, 20) << "sent bytes";
    EXPECT_GT(received, 20) << "received bytes";

    PostMessageW(mainFrame, WM_COMMAND, kStopCapture, 0);
    EXPECT_NE(nullptr, vantrel.WaitForWindowTitled(L"キャプチャモニタ - COM11(停止中)"));
    ASSERT_TRUE(WaitForStartEnabled(mainFrame, kWaitMs)) << "the stop did not finish";
    DWORD exitCode = 1;
    EXPECT_TRUE(vantrel.Close(&exitCode));
    EXPECT_EQ(0u, exitCode);
}

// A dialog of a stopped monitor runs its own message loop with the monitor's
// code below it: capture start, which deletes the monitors, and exit wait.
TEST_F(VantrelCaptureTest, CaptureStartAndExitWaitForADialogOfAMonitor)
{
    ASSERT_TRUE(vantrel.Start());
    HWND mainFrame = vantrel.WaitForMainFrame();
    PostMessageW(mainFrame, WM_COMMAND, kStartCapture, 0);
    HWND monitor = vantrel.WaitForWindowTitled(L"キャプチャモニタ - COM11");
    ASSERT_NE(nullptr, monitor);
    PostMessageW(mainFrame, WM_COMMAND, kStopCapture, 0);
    ASSERT_TRUE(WaitForStartEnabled(mainFrame, kWaitMs)) << "the stop did not finish";
    const std::tuple<UINT, const wchar_t*, UINT, WPARAM> cases[] = {{kHighlight, L"強調設定", WM_COMMAND, kStartCapture},
                                                                  {kHighlight, L"強調設定", WM_CLOSE, 0},
                                                                  {kPrint, L"印刷", WM_COMMAND, kStartCapture},
                                                                  {kPrint, L"印刷", WM_CLOSE, 0}};
    for (const auto& [command, title, message, wParam] : cases) {
        SCOPED_TRACE(std::to_string(command) + " then " + std::to_string(message));
        PostMessageW(monitor, WM_COMMAND, command, 0);
        HWND dialog = vantrel.WaitForWindowTitled(title);
        ASSERT_NE(nullptr, dialog);
        {
            MessageBoxAnswerer answerer(GetWindowThreadProcessId(mainFrame, nullptr));
            PostMessageW(mainFrame, message, wParam, 0);
            for (DWORD waited = 0; waited < kWaitMs && answerer.Seen().empty(); waited += 50)
                Sleep(50);
            ASSERT_EQ(1u, answerer.Seen().size());
            EXPECT_EQ(L"キャプチャモニタのダイアログが開いています。閉じてから操作してください。", answerer.Seen()[0].text);
        }
        ASSERT_TRUE(IsWindow(monitor));
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        for (DWORD waited = 0; waited < kWaitMs && IsWindow(dialog); waited += 50)
            Sleep(50);
    }
    DWORD exitCode = 1;
    EXPECT_TRUE(vantrel.Close(&exitCode));
}

}  // namespace
