// The monitor window on a capture device of the real filter driver under
// Wine: a terminal session on the captured test port shows in its status bar
// and as coloured hexadecimal cells in its view.
#include "MonitorFrame.h"

#include "FilterServiceFixture.h"
#include "MessagePump.h"
#include "WindowPicture.h"

#include <commctrl.h>

#include <string>

namespace {

std::wstring PaneText(HWND frame, int pane)
{
    wchar_t text[128] = {};
    SendMessageW(GetDlgItem(frame, 501), SB_GETTEXTW, pane, reinterpret_cast<LPARAM>(text));
    return text;
}

// COM11 writes "abc"; its peer COM12 sends "xy", which COM11 reads.
void RunTerminalSession()
{
    HANDLE peer = OpenPort("\\\\.\\COM12");
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    HANDLE port = OpenPort("\\\\.\\COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(port, "abc", 3, &count, nullptr)) << GetLastError();
    EXPECT_TRUE(WriteFile(peer, "xy", 2, &count, nullptr)) << GetLastError();
    char received[2] = {};
    EXPECT_TRUE(ReadFile(port, received, 2, &count, nullptr)) << GetLastError();
    CloseHandle(port);
    CloseHandle(peer);
}

using MonitorFrameCaptureTest = FilterServiceTest;

TEST_F(MonitorFrameCaptureTest, ATerminalSessionShowsInTheMonitorWindow)
{
    items.InsertOrUpdateRow(NewItem("COM11", StandardMonitor), -1);
    StartFilter();
    MonitorFrame frame("\\\\.\\ZrVlObj1", "COM11", 1000000, nullptr);
    ASSERT_TRUE(frame.Create());
    ASSERT_EQ("COM11", frame.PortName()) << "the device opened";
    SetWindowTextW(frame.Handle(), L"キャプチャモニタ - COM11");
    SetWindowPos(frame.Handle(), HWND_TOP, 20, 20, 640, 300, SWP_SHOWWINDOW);

    RunTerminalSession();
    const bool shown =
        PumpMessagesUntil(
            [&] { return PaneText(frame.Handle(), 1) == L"送信:3(3)" && PaneText(frame.Handle(), 2) == L"受信:2(2)"; },
            10000)
            .conditionMet;
    EXPECT_TRUE(shown) << "panes: " << testing::PrintToString(PaneText(frame.Handle(), 1)) << " "
                       << testing::PrintToString(PaneText(frame.Handle(), 2));
    EXPECT_EQ(L"異常:0", PaneText(frame.Handle(), 3));
    PumpMessagesFor(300);  // the view's repaint

    const WindowPicture picture = TakeWindowPicture(frame.Handle());
    EXPECT_TRUE(WriteBmp(picture, PICTURE_PATH)) << PICTURE_PATH;
    const POINT view = ClientOriginInWindow(frame.ViewWindow(), frame.Handle());
    // The hexadecimal column of the first display line.
    const RECT hexCells = {view.x + 70, view.y + 14, view.x + 70 + 23 * 16, view.y + 54};
    const MonitorColors& colors = frame.View()->Colors();
    EXPECT_GT(picture.CountColor(hexCells, colors.Color2), 20) << "sent bytes in Color2";
    EXPECT_GT(picture.CountColor(hexCells, colors.Color1), 20) << "received bytes in Color1";

    COPYDATASTRUCT stop = {};
    stop.dwData = 1;
    SendMessageW(frame.Handle(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&stop));
    EXPECT_FALSE(frame.Running());
    DestroyWindow(frame.Handle());
}

}  // namespace
