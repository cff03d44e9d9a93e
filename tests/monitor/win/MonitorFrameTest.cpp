// The capture monitor window without a device: its menu and status bar, the
// command rules, the held width and the saved height, the stop notification,
// scrolling and line selection while paused.
#include "MonitorFrame.h"
#include "MenuReader.h"
#include "MessagePump.h"
#include "Settings.h"
#include "SettingsDirectory.h"
#include "SystemSettings.h"
#include "TestRecords.h"
#include "WideText.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr UINT kClear = 25000;
constexpr UINT kPrint = 25002;
constexpr UINT kHighlight = 25004;
constexpr UINT kPause = 25007;
constexpr UINT kDoubleByte = 25008;
constexpr UINT kCopy = 25011;

int WindowWidth(HWND hwnd)
{
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    return rect.right - rect.left;
}

int WindowHeight(HWND hwnd)
{
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    return rect.bottom - rect.top;
}

std::wstring PaneText(HWND frame, int pane)
{
    HWND bar = GetDlgItem(frame, 501);
    wchar_t text[128] = {};
    SendMessageW(bar, SB_GETTEXTW, pane, reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring Title(HWND hwnd)
{
    wchar_t text[256] = {};
    GetWindowTextW(hwnd, text, 256);
    return text;
}

// What the user sees when the frame's pop-ups open.
void OpenEveryPopup(HWND hwnd)
{
    HMENU bar = GetMenu(hwnd);
    for (int i = 0; i < GetMenuItemCount(bar); ++i)
        SendMessageW(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(bar, i)), MAKELPARAM(i, 0));
}

UINT MenuState(HWND hwnd, UINT id)
{
    OpenEveryPopup(hwnd);
    return GetMenuState(GetMenu(hwnd), id, MF_BYCOMMAND);
}

bool Enabled(HWND hwnd, UINT id)
{
    return (MenuState(hwnd, id) & MF_GRAYED) == 0;
}
bool Checked(HWND hwnd, UINT id)
{
    return (MenuState(hwnd, id) & MF_CHECKED) != 0;
}

bool WindowMenuCloseEnabled(HWND hwnd)
{
    return (GetMenuState(GetSystemMenu(hwnd, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED) == 0;
}

void Command(HWND hwnd, UINT id)
{
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void SendStopNotification(HWND hwnd)
{
    COPYDATASTRUCT data = {};
    data.dwData = 1;
    SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

// Sent bytes of `lines` full display lines in one record, no time cell.
void AddLines(MonitorFrame& frame, uint32_t lines)
{
    TestRecord record = MakeDataRecord(RecordKind_Write, std::vector<uint8_t>(lines * 16, 0x41), 0);
    frame.Store().Add(record.record, record.size);
}

// The two-byte command twice: a repaint with the scroll update, nothing else changed.
void RefreshThroughCommands(HWND hwnd)
{
    Command(hwnd, kDoubleByte);
    Command(hwnd, kDoubleByte);
}

class MonitorFrameTest : public SettingsDirectory {
protected:
    std::unique_ptr<MonitorFrame> NewFrame()
    {
        auto frame = std::make_unique<MonitorFrame>();
        EXPECT_TRUE(frame->Create());
        return frame;
    }

    static void Scroll(MonitorFrame& frame, WORD code)
    {
        HWND bar = GetDlgItem(frame.Handle(), 257);
        SendMessageW(frame.Handle(), WM_VSCROLL, MAKEWPARAM(code, 0), reinterpret_cast<LPARAM>(bar));
    }

    static int ScrollPosition(MonitorFrame& frame) { return GetScrollPos(GetDlgItem(frame.Handle(), 257), SB_CTL); }
    static int ScrollMaximum(MonitorFrame& frame)
    {
        int minimum = 0, maximum = 0;
        GetScrollRange(GetDlgItem(frame.Handle(), 257), SB_CTL, &minimum, &maximum);
        return maximum;
    }

    static void Click(MonitorFrame& frame, int y)
    {
        SendMessageW(frame.ViewWindow(), WM_LBUTTONDOWN, 0, MAKELPARAM(5, y));
    }

    static void ShiftClick(MonitorFrame& frame, int y)
    {
        SetShift(true);
        Click(frame, y);
        SetShift(false);
    }

    static void SetShift(bool down)
    {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = VK_SHIFT;
        input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        ASSERT_EQ(1u, SendInput(1, &input, sizeof input));
        PumpMessagesUntil([down] { return (GetAsyncKeyState(VK_SHIFT) < 0) == down; }, 2000);
        ASSERT_EQ(down, GetAsyncKeyState(VK_SHIFT) < 0);
    }
};

TEST_F(MonitorFrameTest, ShowsTheMonitorMenuAndZeroTotals)
{
    auto frame = NewFrame();
    HWND hwnd = frame->Handle();
    std::vector<MenuEntry> menu = ReadMenu(GetMenu(hwnd));
    ASSERT_EQ(2u, menu.size());
    EXPECT_EQ(L"管理 (&C)", menu[0].text);
    ASSERT_EQ(5u, menu[0].items.size());
    EXPECT_EQ(L"クリア (&C)", menu[0].items[0].text);
    EXPECT_EQ(kClear, menu[0].items[0].id);
    EXPECT_EQ(L"一時停止 (&P)", menu[0].items[1].text);
    EXPECT_EQ(kPause, menu[0].items[1].id);
    EXPECT_EQ(L"印刷 (&T)", menu[0].items[2].text);
    EXPECT_EQ(kPrint, menu[0].items[2].id);
    EXPECT_EQ(L"名前を付けて保存 (&S)...", menu[0].items[3].text);
    EXPECT_EQ(L"コピー (&O)", menu[0].items[4].text);
    EXPECT_EQ(L"表示 (&V)", menu[1].text);
    ASSERT_EQ(2u, menu[1].items.size());
    EXPECT_EQ(L"\uFF12バイト文字 (&2)", menu[1].items[0].text);
    EXPECT_EQ(kDoubleByte, menu[1].items[0].id);
    EXPECT_EQ(L"強調設定 (&P)", menu[1].items[1].text);
    EXPECT_EQ(kHighlight, menu[1].items[1].id);

    EXPECT_EQ(L"", PaneText(hwnd, 0));
    EXPECT_EQ(L"送信:0(0)", PaneText(hwnd, 1));
    EXPECT_EQ(L"受信:0(0)", PaneText(hwnd, 2));
    EXPECT_EQ(L"異常:0", PaneText(hwnd, 3));

    RECT client = {};
    GetClientRect(hwnd, &client);
    const int w = client.right;
    int edges[4] = {};
    ASSERT_EQ(4, SendMessageW(GetDlgItem(hwnd, 501), SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)));
    EXPECT_EQ(w / 3, edges[0]);
    EXPECT_EQ(2 * (w / 3) - 60, edges[1]);
    EXPECT_EQ(w - 120, edges[2]);
    EXPECT_EQ(-1, edges[3]);
    EXPECT_NE(nullptr, reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0)));
}

TEST_F(MonitorFrameTest, CommandsFollowThePauseState)
{
    auto frame = NewFrame();
    HWND hwnd = frame->Handle();
    EXPECT_FALSE(Checked(hwnd, kPause));
    EXPECT_FALSE(Enabled(hwnd, kPrint));
    EXPECT_FALSE(Enabled(hwnd, kHighlight));
    EXPECT_TRUE(Enabled(hwnd, kClear));
    EXPECT_TRUE(Checked(hwnd, kDoubleByte));

    // Without a device the pause command can only pause.
    for (int i = 0; i < 2; ++i) {
        Command(hwnd, kPause);
        EXPECT_TRUE(Checked(hwnd, kPause));
        EXPECT_TRUE(Enabled(hwnd, kPrint));
        EXPECT_TRUE(Enabled(hwnd, kHighlight));
    }

    Command(hwnd, kDoubleByte);
    EXPECT_FALSE(Checked(hwnd, kDoubleByte));
    EXPECT_FALSE(frame->View()->DoubleByteDisplay());
    Command(hwnd, kDoubleByte);
    EXPECT_TRUE(Checked(hwnd, kDoubleByte));
}

TEST_F(MonitorFrameTest, ClearEmptiesTheDisplayAtTheNextTick)
{
    auto frame = NewFrame();
    AddLines(*frame, 40);
    Command(frame->Handle(), kPause);
    RefreshThroughCommands(frame->Handle());
    ASSERT_EQ(41u, frame->View()->LineCount());  // forty full lines and the idle cell's line
    ASSERT_GT(frame->View()->FirstVisibleLine(), 0u);
    Command(frame->Handle(), kClear);
    EXPECT_EQ(41u, frame->View()->LineCount()) << "not before the tick";
    EXPECT_TRUE(PumpMessagesUntil([&] { return frame->View()->LineCount() == 1; }, 5000).conditionMet)
        << "cleared while paused too";
    EXPECT_EQ(0u, frame->View()->FirstVisibleLine());
    EXPECT_EQ(1u, frame->Store().DisplayedCells()) << "only the idle cell is left";
}

// The refresh timer's ticks that reach the frame in `durationMs`.
int RefreshTicksIn(HWND frame, DWORD durationMs)
{
    int ticks = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < durationMs) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TIMER && msg.hwnd == frame && msg.wParam == MONITOR_REFRESH_TIMER)
                ++ticks;
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
    return ticks;
}

// As the colour and system settings dialogs store them; a colour with a top
// byte is drawn as its red, green and blue.
TEST_F(MonitorFrameTest, TheNextMonitorTakesTheStoredColoursAndPeriod)
{
    ASSERT_TRUE(WriteColor(1, 0x123456));
    ASSERT_TRUE(WriteColor(8, 0xFFFFFFFF));
    ASSERT_TRUE(WriteTimer(250));
    auto frame = NewFrame();
    EXPECT_EQ(0x123456u, frame->View()->Colors().Color1);
    EXPECT_EQ(0xFFFFFFu, frame->View()->Colors().Color8);
    EXPECT_EQ(DefaultColor(2), frame->View()->Colors().Color2);
    // Five ticks in 1250 ms at 250 ms; twelve or more at the default 100 ms.
    const int ticks = RefreshTicksIn(frame->Handle(), 1250);
    EXPECT_GE(ticks, 2);
    EXPECT_LE(ticks, 6);
}

TEST_F(MonitorFrameTest, CopyNeedsASelectedLine)
{
    auto frame = NewFrame();
    AddLines(*frame, 3);
    Command(frame->Handle(), kPause);
    EXPECT_FALSE(Enabled(frame->Handle(), kCopy));
    frame->View()->SelectLine(1, false);
    EXPECT_TRUE(Enabled(frame->Handle(), kCopy));
}

// Stands in for the print command: a print "runs" while `printing` is set.
struct PrintCommandStandIn : MonitorPrintCommand {
    void Print(MonitorFrame&) override { ++prints; }
    bool Printing(const MonitorFrame&) const override { return printing; }
    void RunInBackground(MonitorFrame&, UINT, const MonitorBackgroundWork& work) override
    {
        work([] { return true; });
    }
    int prints = 0;
    bool printing = false;
};

// A key pressed in the view, through the message loop that translates the
// frame's keys; Ctrl held in the thread's key state.
void PressKey(const MonitorFrame& frame, WPARAM key, BYTE control)
{
    BYTE keys[256] = {};
    keys[VK_CONTROL] = control;
    SetKeyboardState(keys);
    PostMessageW(frame.ViewWindow(), WM_KEYDOWN, key, 1);
    PostQuitMessage(0);
    RunMessageLoop();
}

// Ctrl+P prints only while paused; without a device Space only pauses.
TEST_F(MonitorFrameTest, SpacePausesAndCtrlPPrints)
{
    auto frame = NewFrame();
    PrintCommandStandIn print;
    frame->SetPrintCommand(&print);
    PressKey(*frame, 'P', 0x80);
    PressKey(*frame, VK_SPACE, 0);
    EXPECT_FALSE(frame->Running());
    EXPECT_EQ(0, print.prints);
    PressKey(*frame, 'P', 0x80);
    PressKey(*frame, VK_SPACE, 0);  // Ctrl goes up
    EXPECT_EQ(1, print.prints);
}

TEST_F(MonitorFrameTest, WhileAPrintRunsTheStoreStaysAndTheWindowToo)
{
    auto frame = NewFrame();
    HWND hwnd = frame->Handle();
    PrintCommandStandIn print;
    frame->SetPrintCommand(&print);
    AddLines(*frame, 40);
    Command(hwnd, kPause);
    Command(hwnd, kPrint);
    EXPECT_EQ(1, print.prints);

    Command(hwnd, kClear);  // asked for just before the print started
    print.printing = true;
    EXPECT_FALSE(Enabled(hwnd, kPrint));
    EXPECT_FALSE(Enabled(hwnd, kPause));
    EXPECT_FALSE(Enabled(hwnd, kClear));
    Command(hwnd, kPause);
    Command(hwnd, kPrint);
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    PumpMessagesFor(500);  // ticks that would carry out the clear
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_TRUE(Checked(hwnd, kPause));
    EXPECT_EQ(1, print.prints);
    EXPECT_EQ(41u, frame->View()->LineCount()) << "the clear waits for the print";

    print.printing = false;
    EXPECT_TRUE(PumpMessagesUntil([&] { return frame->View()->LineCount() == 1; }, 5000).conditionMet);
}

TEST_F(MonitorFrameTest, WidthStaysAt640)
{
    auto frame = NewFrame();
    HWND hwnd = frame->Handle();
    EXPECT_EQ(640, WindowWidth(hwnd));
    SetWindowPos(hwnd, nullptr, 0, 0, 900, 400, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(640, WindowWidth(hwnd));
    EXPECT_EQ(400, WindowHeight(hwnd));
    SetWindowPos(hwnd, nullptr, 0, 0, 300, 100, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(640, WindowWidth(hwnd));
    EXPECT_EQ(240, WindowHeight(hwnd));
}

TEST_F(MonitorFrameTest, HeightIsSavedOnDestroyAndUsedByTheNextMonitor)
{
    {
        auto frame = NewFrame();
        SetWindowPos(frame->Handle(), nullptr, 0, 0, 640, 437, SWP_NOMOVE | SWP_NOZORDER);
    }  // the monitor goes with its window
    EXPECT_EQ(640u, ReadInt("System", "CapWinSizeX", 0));
    EXPECT_EQ(437u, ReadInt("System", "CapWinSizeY", 0));
    auto frame = NewFrame();
    EXPECT_EQ(437, WindowHeight(frame->Handle()));
    EXPECT_EQ(640, WindowWidth(frame->Handle()));
}

TEST_F(MonitorFrameTest, AMinimizedMonitorKeepsTheSavedSize)
{
    WriteFileText("[System]\r\nCapWinSizeY=333\r\n");
    auto frame = NewFrame();
    EXPECT_EQ(333, WindowHeight(frame->Handle()));
    ShowWindow(frame->Handle(), SW_MINIMIZE);
    DestroyWindow(frame->Handle());
    EXPECT_EQ(333u, ReadInt("System", "CapWinSizeY", 0));
    EXPECT_EQ(0u, ReadInt("System", "CapWinSizeX", 0));
}

TEST_F(MonitorFrameTest, StopNotificationMakesTheMonitorClosable)
{
    auto frame = NewFrame();
    HWND hwnd = frame->Handle();
    SetWindowTextW(hwnd, L"キャプチャモニタ - COM11");
    EXPECT_FALSE(WindowMenuCloseEnabled(hwnd));
    PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpMessagesFor(200);
    ASSERT_TRUE(IsWindow(hwnd)) << "a posted close before the stop is discarded";

    COPYDATASTRUCT other = {};
    other.dwData = 0;
    SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&other));
    EXPECT_FALSE(WindowMenuCloseEnabled(hwnd)) << "only tag 1 stops the monitor";

    SendStopNotification(hwnd);
    SendStopNotification(hwnd);  // a failed stop tried again
    EXPECT_EQ(L"キャプチャモニタ - COM11(停止中)", Title(hwnd));
    EXPECT_TRUE(Checked(hwnd, kPause));
    EXPECT_TRUE(Enabled(hwnd, kPrint));
    EXPECT_TRUE(Enabled(hwnd, kHighlight));
    EXPECT_TRUE(WindowMenuCloseEnabled(hwnd));
    Command(hwnd, kPause);
    EXPECT_TRUE(Checked(hwnd, kPause)) << "a stopped monitor cannot resume";

    PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(PumpMessagesUntil([&] { return !IsWindow(hwnd); }, 2000).conditionMet);
}

TEST_F(MonitorFrameTest, ScrollBarFollowsNewLinesOnlyAtItsEnd)
{
    auto frame = NewFrame();
    HWND hwnd = frame->Handle();
    SetWindowPos(hwnd, nullptr, 0, 0, 640, 400, SWP_NOMOVE | SWP_NOZORDER);
    MonitorView& view = *frame->View();
    AddLines(*frame, 40);
    RefreshThroughCommands(hwnd);
    const uint32_t visible = view.VisibleLines();
    ASSERT_GT(visible, 0u);
    const int end = static_cast<int>(41 - visible);
    EXPECT_EQ(end, ScrollMaximum(*frame));
    EXPECT_EQ(end, ScrollPosition(*frame));
    EXPECT_EQ(static_cast<uint32_t>(end), view.FirstVisibleLine());

    Scroll(*frame, SB_LINEUP);
    EXPECT_EQ(static_cast<uint32_t>(end - 1), view.FirstVisibleLine());
    AddLines(*frame, 5);
    RefreshThroughCommands(hwnd);
    EXPECT_EQ(end + 5, ScrollMaximum(*frame));
    EXPECT_EQ(static_cast<uint32_t>(end - 1), view.FirstVisibleLine()) << "away from the end the view stays";

    Scroll(*frame, SB_PAGEDOWN);
    EXPECT_EQ(static_cast<uint32_t>(end + 5), view.FirstVisibleLine()) << "clamped to the range";
    AddLines(*frame, 2);
    RefreshThroughCommands(hwnd);
    EXPECT_EQ(static_cast<uint32_t>(end + 7), view.FirstVisibleLine()) << "at the end the view follows";

    Scroll(*frame, SB_PAGEUP);
    EXPECT_EQ(static_cast<uint32_t>(end - 3), view.FirstVisibleLine());
    for (int i = 0; i < 6; ++i)
        Scroll(*frame, SB_PAGEUP);
    EXPECT_EQ(0u, view.FirstVisibleLine());
    Scroll(*frame, SB_LINEUP);
    EXPECT_EQ(0, ScrollPosition(*frame));
}

TEST_F(MonitorFrameTest, MouseAndKeysSelectLinesOnlyWhilePaused)
{
    auto frame = NewFrame();
    HWND hwnd = frame->Handle();
    MonitorView& view = *frame->View();
    AddLines(*frame, 3);
    RefreshThroughCommands(hwnd);
    const int line1 = 14 + 40 + 5;
    const int belowLast = 14 + 40 * 5;

    Click(*frame, line1);
    EXPECT_FALSE(view.SelectionRange()) << "no selection while running";

    Command(hwnd, kPause);
    Click(*frame, line1);
    ASSERT_TRUE(view.SelectionRange());
    EXPECT_EQ(1u, view.SelectionRange()->first);
    EXPECT_EQ(2u, view.SelectionRange()->end);

    ShiftClick(*frame, belowLast);
    ASSERT_TRUE(view.SelectionRange()) << "shift-click below the last line changes nothing";
    EXPECT_EQ(1u, view.SelectionRange()->first);
    EXPECT_EQ(2u, view.SelectionRange()->end);

    SendMessageW(frame->ViewWindow(), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(2u, *view.Caret());
    EXPECT_EQ(2u, view.SelectionRange()->first);
    SetShift(true);
    SendMessageW(frame->ViewWindow(), WM_KEYDOWN, VK_UP, 0);
    SendMessageW(frame->ViewWindow(), WM_KEYDOWN, VK_UP, 0);
    SendMessageW(frame->ViewWindow(), WM_KEYDOWN, VK_UP, 0);
    SetShift(false);
    EXPECT_EQ(0u, *view.Caret());
    EXPECT_EQ(0u, view.SelectionRange()->first);
    EXPECT_EQ(3u, view.SelectionRange()->end);

    Click(*frame, belowLast);
    EXPECT_FALSE(view.SelectionRange()) << "a plain click below the last line clears the selection";
    EXPECT_FALSE(view.Caret());
}

}  // namespace

namespace {

// The monitor's fonts must fit the cell geometry of the layout, whichever
// face the system realises; captured bytes read as cp932.
TEST(GdiSurfaceTest, FontsFitTheCellsAndTextIsCp932)
{
    std::unique_ptr<GdiSurface> surface = GdiSurface::Create();
    ASSERT_NE(nullptr, surface);
    EXPECT_LE(surface->TextWidth(Font::Small, "00000000"), 58) << "the counter ends before the row label at x 60";
    EXPECT_LE(surface->TextWidth(Font::Small, "999"), 23) << "a time counter fits its hexadecimal cell";
    EXPECT_LE(surface->TextWidth(Font::Data, "FF"), 23);
    EXPECT_LE(surface->TextWidth(Font::Data, "W"), 10) << "one text cell";
    EXPECT_GT(surface->TextWidth(Font::Data, "W"), 4);

    EXPECT_EQ(L"\u3042", Cp932ToWide("\x82\xA0"));
    EXPECT_EQ(L"\uFF71", Cp932ToWide("\xB1")) << "one-byte katakana";
    EXPECT_EQ(2 * surface->TextWidth(Font::Data, "A"), surface->TextWidth(Font::Data, "AB"));
}

}  // namespace
