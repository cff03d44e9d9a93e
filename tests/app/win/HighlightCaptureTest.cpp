// Highlight conditions on a monitor of a real capture: the test port and the
// filter as kernel services under Wine, the monitor's command opening the
// conditions dialog, and the colours counted on the screen.
#include "CaptureCommandsFixture.h"
#include "HighlightDialogs.h"
#include "MessageBoxAnswerer.h"
#include "MessagePump.h"
#include "MonitorWindows.h"
#include "WindowPicture.h"

#include "resource.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

constexpr COLORREF HIGHLIGHT = RGB(255, 0, 255);
// The view's geometry: a 14 px header, lines of 40 px of 16 cells, the
// hexadecimal cells 23 px wide from x 70, the text cells 10 px from x 450.
constexpr int FIRST_LINE_TOP = 14;
constexpr int LINE_HEIGHT = 40;
constexpr int CELLS_PER_LINE = 16;

std::wstring PaneText(const MonitorFrame& monitor, int pane)
{
    wchar_t text[100] = {};
    SendMessageW(GetDlgItem(monitor.Handle(), IDC_MONITOR_STATUS_BAR), SB_GETTEXTW, pane,
                 reinterpret_cast<LPARAM>(text));
    return text;
}

// COM11 sends "OK" and receives "NOK!" from its peer COM12.
void RunTerminalSession()
{
    HANDLE peer = OpenPort("\\\\.\\COM12");
    HANDLE port = OpenPort("\\\\.\\COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(port, "OK", 2, &count, nullptr));
    EXPECT_TRUE(WriteFile(peer, "NOK!", 4, &count, nullptr));
    char received[4] = {};
    for (DWORD got = 0; got < 4 && ReadFile(port, received + got, 4 - got, &count, nullptr) && count > 0;)
        got += count;
    CloseHandle(port);
    CloseHandle(peer);
}

// The colours of one cell of the first display line, hexadecimal and text
// columns together, as the screen shows them.
struct Cell {
    int received = 0;  // pixels in Color1
    int sent = 0;      // pixels in Color2
    int highlight = 0;
};

struct Screen {
    WindowPicture picture;
    std::vector<Cell> cells;
    int highlightInView = 0;
};

// The monitor is a window of this thread: its repaint needs the messages pumped.
Screen ReadScreen(MonitorFrame& monitor)
{
    PumpMessagesFor(300);
    Screen screen;
    screen.picture = TakeWindowPicture(monitor.Handle());
    const POINT view = ClientOriginInWindow(monitor.ViewWindow(), monitor.Handle());
    const MonitorColors& colors = monitor.View()->Colors();
    const int top = view.y + FIRST_LINE_TOP + 2;  // below the separator line
    const int bottom = view.y + FIRST_LINE_TOP + LINE_HEIGHT;
    for (int j = 0; j < CELLS_PER_LINE; ++j) {
        const RECT hex = {view.x + 70 + 23 * j, top, view.x + 70 + 23 * (j + 1), bottom};
        const RECT text = {view.x + 450 + 10 * j, top, view.x + 450 + 10 * (j + 1), bottom};
        Cell cell;
        for (const RECT& area : {hex, text}) {
            cell.received += screen.picture.CountColor(area, colors.Color1);
            cell.sent += screen.picture.CountColor(area, colors.Color2);
            cell.highlight += screen.picture.CountColor(area, HIGHLIGHT);
        }
        screen.cells.push_back(cell);
    }
    RECT client = {};
    GetClientRect(monitor.ViewWindow(), &client);
    screen.highlightInView =
        screen.picture.CountColor({view.x, view.y, view.x + client.right, view.y + client.bottom}, HIGHLIGHT);
    return screen;
}

class HighlightCaptureTest : public CaptureCommandsFixture {
protected:
    // Runs the monitor's highlight command while `act` plays the user of
    // the conditions dialog; false when the dialog did not show.
    bool EditConditions(const MonitorFrame& monitor, std::function<void(HWND)> act)
    {
        DialogUser user(GetCurrentThreadId(), DialogWithControl(IDC_CONDITION_LIST), std::move(act));
        SendMessageW(monitor.Handle(), WM_COMMAND, ID_MONITOR_HIGHLIGHT, 0);
        user.Stop();
        user.Join();
        return user.Found();
    }
};

TEST_F(HighlightCaptureTest, AConditionOnReceivedOkColoursExactlyThoseCellsUntilTheNextStart)
{
    items.InsertOrUpdateRow(NewItem("COM11", StandardMonitor), -1);
    capturing = commands.OnStartCapture(nullptr);
    ASSERT_TRUE(capturing);
    ASSERT_EQ(1u, monitors.Windows().size());
    MonitorFrame& monitor = *monitors.Windows()[0];
    SetWindowPos(monitor.Handle(), HWND_TOP, 320, 300, 640, 400, 0);

    RunTerminalSession();
    ASSERT_TRUE(PumpMessagesUntil(
                    [&] { return PaneText(monitor, 1) == L"送信:2(2)" && PaneText(monitor, 2) == L"受信:4(4)"; }, 10000)
                    .conditionMet);
    SendMessageW(monitor.Handle(), WM_COMMAND, ID_MONITOR_PAUSE, 0);
    ASSERT_FALSE(monitor.Running());
    const Screen before = ReadScreen(monitor);

    ASSERT_TRUE(EditConditions(monitor, [](HWND conditions) {
        EXPECT_TRUE(AddCondition(conditions, {2, true, L"OK", HIGHLIGHT}));
        PostMessageW(GetDlgItem(conditions, IDCANCEL), BM_CLICK, 0, 0);
    }));
    const Screen after = ReadScreen(monitor);

    // The cells that held received bytes, in order: N, O, K and !.
    std::vector<int> receivedCells;
    std::vector<int> sentCells;
    for (int j = 0; j < CELLS_PER_LINE; ++j) {
        if (before.cells[j].received > 0)
            receivedCells.push_back(j);
        if (before.cells[j].sent > 0)
            sentCells.push_back(j);
    }
    ASSERT_EQ(4u, receivedCells.size());
    ASSERT_EQ(2u, sentCells.size());
    EXPECT_EQ(0, before.highlightInView);
    int highlightInCells = 0;
    for (int j : {receivedCells[1], receivedCells[2]}) {
        SCOPED_TRACE("received O or K in cell " + std::to_string(j));
        EXPECT_GT(after.cells[j].highlight, 20);
        EXPECT_EQ(0, after.cells[j].received);
        highlightInCells += after.cells[j].highlight;
    }
    for (int j : {receivedCells[0], receivedCells[3]}) {
        SCOPED_TRACE("received N or ! in cell " + std::to_string(j));
        EXPECT_EQ(0, after.cells[j].highlight);
        EXPECT_EQ(before.cells[j].received, after.cells[j].received);
    }
    for (int j : sentCells) {
        SCOPED_TRACE("sent O or K in cell " + std::to_string(j));
        EXPECT_EQ(0, after.cells[j].highlight);
        EXPECT_EQ(before.cells[j].sent, after.cells[j].sent);
    }
    EXPECT_EQ(highlightInCells, after.highlightInView) << "no other pixel of the view turns the colour";

    // Both dialogs over the highlighted monitor, for the documentation.
    WindowPicture screen;
    EXPECT_TRUE(EditConditions(monitor, [&](HWND conditions) {
        HWND editor = OpenEditorOrClose(conditions);
        ASSERT_NE(nullptr, editor);
        FillEditor(editor, {0, false, L"0d0a", RGB(0, 160, 0)});
        SetWindowPos(conditions, HWND_TOP, 420, 470, 0, 0, SWP_NOSIZE);
        SetWindowPos(editor, HWND_TOP, 700, 600, 0, 0, SWP_NOSIZE);
        Settle(editor);
        screen = TakeWindowsPicture({monitor.Handle(), conditions, editor});
        PostMessageW(editor, WM_COMMAND, IDCANCEL, 0);
        WaitUntilGone(editor);
        PostMessageW(conditions, WM_COMMAND, IDCANCEL, 0);
    }));
    EXPECT_TRUE(WriteBmp(screen, PICTURE_PATH)) << PICTURE_PATH;

    {
        MessageBoxAnswerer answerer(GetCurrentThreadId());
        capturing = !commands.OnStopCapture(nullptr);
    }
    ASSERT_FALSE(capturing);
    capturing = commands.OnStartCapture(nullptr);
    ASSERT_TRUE(capturing);
    ASSERT_EQ(1u, monitors.Windows().size());
    MonitorFrame& next = *monitors.Windows()[0];
    EXPECT_FALSE(next.View()->Conditions().Get(0).has_value()) << "a new monitor starts without conditions";
    SendMessageW(next.Handle(), WM_COMMAND, ID_MONITOR_PAUSE, 0);
    std::vector<std::wstring> rows = {L"not read"};
    EXPECT_TRUE(EditConditions(next, [&](HWND conditions) {
        rows = ConditionRows(conditions);
        PostMessageW(conditions, WM_COMMAND, IDCANCEL, 0);
    }));
    EXPECT_TRUE(rows.empty());
}

}  // namespace
