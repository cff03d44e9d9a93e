// The main frame with its bars and panes, in the test process with a
// settings file of its own: placement and splitter kept across runs, the
// toolbar, the status bar clock and prompts, and the activity log.
#include "DialogUser.h"
#include "ListViewText.h"
#include "MainFrame.h"
#include "MessagePump.h"
#include "Settings.h"
#include "SettingsDirectory.h"
#include "ServiceHandle.h"
#include "resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// A service name of the test's own, so the filter's service is never
// stopped. Its registration shares the filter's display name, which the
// service manager keeps unique, so whether it gets registered depends on the
// prefix; TearDown removes it when it was.
const char kTestService[] = "VantrelFltFrameTest";
const char kAbsent[] = "(absent)";
const UINT kViewToolBar = 59392;
const UINT kViewStatusBar = 59393;

std::string SystemValue(const char* key)
{
    return ReadString(SETTINGS_SYSTEM, key, kAbsent);
}

RECT WindowRect(HWND hwnd)
{
    RECT rect;
    GetWindowRect(hwnd, &rect);
    return rect;
}

// '9' in the pattern stands for any digit.
bool MatchesDigitPattern(const std::wstring& text, const std::wstring& pattern)
{
    if (text.size() != pattern.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        bool digitWanted = pattern[i] == L'9';
        if (digitWanted ? !iswdigit(text[i]) : text[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

std::wstring ListBoxLine(HWND listBox, int index)
{
    int length = static_cast<int>(SendMessageW(listBox, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0));
    if (length < 0) {
        return L"(no line)";
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(listBox, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(length));
    return text;
}

// The log line without its timestamp; the stamp itself must have its form.
std::wstring LogMessageAt(HWND listBox, int index)
{
    const std::wstring stamp = L"9999/99/99 99:99:99 >";
    std::wstring line = ListBoxLine(listBox, index);
    EXPECT_TRUE(MatchesDigitPattern(line.substr(0, stamp.size()), stamp)) << index;
    return line.size() >= stamp.size() ? line.substr(stamp.size()) : L"";
}

int LineCount(HWND listBox)
{
    return static_cast<int>(SendMessageW(listBox, LB_GETCOUNT, 0, 0));
}

std::wstring StatusText(HWND statusBar, int pane)
{
    wchar_t text[256] = {};
    SendMessageW(statusBar, SB_GETTEXTW, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(text));
    return text;
}

bool IsChecked(HWND frame, UINT id)
{
    HMENU bar = GetMenu(frame);
    for (int i = 0; i < GetMenuItemCount(bar); ++i) {
        SendMessageW(frame, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(bar, i)), MAKELPARAM(i, 0));
    }
    return (GetMenuState(bar, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

std::wstring Tooltip(HWND frame, HWND toolBar, UINT id)
{
    NMTTDISPINFOW info = {};
    info.hdr.hwndFrom = reinterpret_cast<HWND>(SendMessageW(toolBar, TB_GETTOOLTIPS, 0, 0));
    info.hdr.idFrom = id;
    info.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(frame, WM_NOTIFY, id, reinterpret_cast<LPARAM>(&info));
    return info.lpszText != nullptr ? info.lpszText : L"(none)";
}

class MainFrameWindow : public SettingsDirectory {
protected:
    void TearDown() override
    {
        if (ServiceHandle service = OpenNamedService(kTestService, DELETE)) {
            DeleteService(service.get());
        }
        SettingsDirectory::TearDown();
    }

    // Destroys the frame as closing would, which saves its settings.
    static void DestroyFrame(CMainFrame& frame)
    {
        DestroyWindow(frame.Handle());
        PumpMessagesFor(10);  // takes the quit request the frame posts
    }
};

}  // namespace

TEST_F(MainFrameWindow, FirstStartTakesTheSystemPlacementAndA400PixelItemsPane)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    RECT placed = WindowRect(frame.Handle());

    // What the system chooses for a window of the same style on its own.
    HWND reference = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    RECT systemChoice = WindowRect(reference);
    DestroyWindow(reference);

    EXPECT_EQ(systemChoice.right - systemChoice.left, placed.right - placed.left);
    EXPECT_EQ(systemChoice.bottom - systemChoice.top, placed.bottom - placed.top);
    EXPECT_EQ(400, frame.Panes()->TopHeight());
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, NormalWindowSavesItsPlacementAndSplitterOnDestroy)
{
    WriteFileText("[System]\r\nWinPosX=120\r\nWinPosY=80\r\nWinSizeX=640\r\nWinSizeY=480\r\nSplit1Row=150\r\n");
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    RECT placed = WindowRect(frame.Handle());
    EXPECT_EQ(120, placed.left);
    EXPECT_EQ(80, placed.top);
    EXPECT_EQ(640, placed.right - placed.left);
    EXPECT_EQ(480, placed.bottom - placed.top);
    EXPECT_EQ(150, frame.Panes()->TopHeight());

    MoveWindow(frame.Handle(), 150, 90, 700, 500, TRUE);
    int columnWidth = frame.Panes()->ColumnWidth();
    DestroyFrame(frame);

    EXPECT_EQ("0", SystemValue("WinType"));
    EXPECT_EQ("150", SystemValue("WinPosX"));
    EXPECT_EQ("90", SystemValue("WinPosY"));
    EXPECT_EQ("700", SystemValue("WinSizeX"));
    EXPECT_EQ("500", SystemValue("WinSizeY"));
    EXPECT_EQ("150", SystemValue("Split1Row"));
    EXPECT_EQ(std::to_string(columnWidth), SystemValue("Split1Col"));
    EXPECT_GT(columnWidth, 600);
}

TEST_F(MainFrameWindow, MaximisedSavesOnlyWinTypeAndMinimisedKeepsTheOldPlacement)
{
    {
        SCOPED_TRACE("maximised");
        CMainFrame frame(kTestService);
        ASSERT_TRUE(frame.Create());
        ShowWindow(frame.Handle(), SW_MAXIMIZE);
        ASSERT_TRUE(IsZoomed(frame.Handle()));
        DestroyFrame(frame);
        EXPECT_EQ("1", SystemValue("WinType"));
        EXPECT_EQ(kAbsent, SystemValue("WinPosX"));
        EXPECT_EQ(kAbsent, SystemValue("WinSizeX"));
    }
    {
        SCOPED_TRACE("minimised");
        WriteFileText("[System]\r\nWinType=1\r\nWinPosX=33\r\nWinPosY=44\r\nWinSizeX=555\r\nWinSizeY=644\r\n");
        CMainFrame frame(kTestService);
        ASSERT_TRUE(frame.Create());
        ShowWindow(frame.Handle(), SW_MINIMIZE);
        ASSERT_TRUE(IsIconic(frame.Handle()));
        DestroyFrame(frame);
        EXPECT_EQ("1", SystemValue("WinType"));
        EXPECT_EQ("33", SystemValue("WinPosX"));
        EXPECT_EQ("644", SystemValue("WinSizeY"));
        // The splitter is saved in every case; a minimised frame keeps its rows.
        EXPECT_EQ("400", SystemValue("Split1Row"));
    }
}

TEST_F(MainFrameWindow, StoredZeroCoordinateTakesTheSystemDefaultForThatCoordinateOnly)
{
    CMainFrame unplaced(kTestService);
    ASSERT_TRUE(unplaced.Create());
    RECT systemChoice = WindowRect(unplaced.Handle());
    DestroyWindow(unplaced.Handle());
    PumpMessagesFor(10);

    WriteFileText("[System]\r\nWinPosX=0\r\nWinPosY=150\r\nWinSizeX=500\r\nWinSizeY=0\r\n");
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    RECT placed = WindowRect(frame.Handle());
    EXPECT_EQ(150, placed.top);
    EXPECT_EQ(500, placed.right - placed.left);
    EXPECT_EQ(systemChoice.bottom - systemChoice.top, placed.bottom - placed.top);
    EXPECT_EQ(systemChoice.left, placed.left);
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, DraggingTheBarResizesTheRowsAndTheNewHeightIsSaved)
{
    WriteFileText("[System]\r\nWinSizeX=700\r\nWinSizeY=700\r\n");
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    HWND splitter = frame.Panes()->Handle();
    int barMiddle = frame.Panes()->TopHeight() + Splitter::BarHeight() / 2;
    SendMessageW(splitter, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, barMiddle));
    SendMessageW(splitter, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(20, barMiddle - 150));
    SendMessageW(splitter, WM_LBUTTONUP, 0, MAKELPARAM(20, barMiddle - 150));
    EXPECT_EQ(250, frame.Panes()->TopHeight());
    RECT items;
    GetClientRect(frame.ItemsView()->Handle(), &items);
    EXPECT_EQ(250, items.bottom);

    // A move after the button is up drags nothing.
    SendMessageW(splitter, WM_MOUSEMOVE, 0, MAKELPARAM(20, 100));
    EXPECT_EQ(250, frame.Panes()->TopHeight());
    DestroyFrame(frame);
    EXPECT_EQ("250", SystemValue("Split1Row"));
}

TEST_F(MainFrameWindow, AStoredZeroRowHeightIsKept)
{
    WriteFileText("[System]\r\nSplit1Row=0\r\n");
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    EXPECT_EQ(0, frame.Panes()->TopHeight());
    DestroyFrame(frame);
    EXPECT_EQ("0", SystemValue("Split1Row"));
}

TEST_F(MainFrameWindow, SessionEndIsAllowedAsByDefault)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    EXPECT_TRUE(SendMessageW(frame.Handle(), WM_QUERYENDSESSION, 0, 0));
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, WindowCannotBeTrackedBeyondItsLimits)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    MINMAXINFO limits = {};
    SendMessageW(frame.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(300, limits.ptMinTrackSize.x);
    EXPECT_EQ(200, limits.ptMinTrackSize.y);
    EXPECT_EQ(1600, limits.ptMaxTrackSize.x);
    EXPECT_EQ(1200, limits.ptMaxTrackSize.y);

    MoveWindow(frame.Handle(), 10, 10, 100, 50, TRUE);
    RECT small = WindowRect(frame.Handle());
    EXPECT_EQ(300, small.right - small.left);
    EXPECT_EQ(200, small.bottom - small.top);
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, ToolBarHoldsTheCommandButtonsWithTooltipsAndFollowsTheEnableRules)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    HWND toolBar = frame.ToolBarWindow();
    const int expected[] = {26000, 26001, 0, 26002, 26006, 26005, 0, 57664};
    ASSERT_EQ(8, SendMessageW(toolBar, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < 8; ++i) {
        TBBUTTON button = {};
        ASSERT_TRUE(SendMessageW(toolBar, TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&button)));
        EXPECT_EQ(expected[i] == 0, (button.fsStyle & BTNS_SEP) != 0) << i;
        if (expected[i] != 0) {
            EXPECT_EQ(expected[i], button.idCommand) << i;
        }
    }
    EXPECT_EQ(L"キャプチャ開始", Tooltip(frame.Handle(), toolBar, 26000));
    EXPECT_EQ(L"設定削除", Tooltip(frame.Handle(), toolBar, 26005));
    EXPECT_EQ(L"バージョン情報", Tooltip(frame.Handle(), toolBar, 57664));

    EXPECT_TRUE(SendMessageW(toolBar, TB_ISBUTTONENABLED, 26000, 0));
    EXPECT_FALSE(SendMessageW(toolBar, TB_ISBUTTONENABLED, 26001, 0));
    frame.SetCapturing(true);
    EXPECT_FALSE(SendMessageW(toolBar, TB_ISBUTTONENABLED, 26000, 0));
    EXPECT_FALSE(SendMessageW(toolBar, TB_ISBUTTONENABLED, 26002, 0));
    EXPECT_TRUE(SendMessageW(toolBar, TB_ISBUTTONENABLED, 26001, 0));
    EXPECT_TRUE(SendMessageW(toolBar, TB_ISBUTTONENABLED, 57664, 0));
    frame.SetCapturing(false);
    EXPECT_TRUE(SendMessageW(toolBar, TB_ISBUTTONENABLED, 26006, 0));
    EXPECT_FALSE(SendMessageW(toolBar, TB_ISBUTTONENABLED, 26001, 0));
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, StatusBarShowsTheClockAndMenuPrompts)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    frame.MainFrameStartup();
    HWND statusBar = frame.StatusBarWindow();

    ASSERT_EQ(2, SendMessageW(statusBar, SB_GETPARTS, 0, 0));
    EXPECT_TRUE(MatchesDigitPattern(StatusText(statusBar, 1), L"9999/99/99 99:99")) << StatusText(statusBar, 1);

    SendMessageW(frame.Handle(), WM_MENUSELECT, MAKEWPARAM(26000, MF_STRING), 0);
    EXPECT_EQ(L"COMポートのキャプチャを開始", StatusText(statusBar, 0));
    SendMessageW(frame.Handle(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ(L"", StatusText(statusBar, 0));
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, StartupTitlesLogsAndStartsTheClock)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    frame.MainFrameStartup();

    wchar_t title[64] = {};
    GetWindowTextW(frame.Handle(), title, 64);
    EXPECT_STREQ(L"Vantrel", title);
    HWND log = frame.ActivityLog()->ListBox();
    ASSERT_EQ(1, LineCount(log));
    EXPECT_EQ(L"Program Start (Ver 1.35)", LogMessageAt(log, 0));
    // The clock runs on timer 2: killing it succeeds only while it exists.
    EXPECT_TRUE(KillTimer(frame.Handle(), 2));
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, ToolBarAndStatusBarCommandsToggleVisibilityAndCheckMarks)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    HWND hwnd = frame.Handle();
    EXPECT_TRUE(IsChecked(hwnd, kViewToolBar));
    EXPECT_TRUE(IsChecked(hwnd, kViewStatusBar));
    POINT panesTop = {0, 0};
    MapWindowPoints(frame.Panes()->Handle(), hwnd, &panesTop, 1);
    EXPECT_GT(panesTop.y, 0);

    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kViewToolBar, 0), 0);
    EXPECT_FALSE(HasVisibleStyle(frame.ToolBarWindow()));
    EXPECT_FALSE(IsChecked(hwnd, kViewToolBar));
    EXPECT_TRUE(IsChecked(hwnd, kViewStatusBar));
    POINT movedUp = {0, 0};
    MapWindowPoints(frame.Panes()->Handle(), hwnd, &movedUp, 1);
    EXPECT_EQ(0, movedUp.y);

    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kViewStatusBar, 0), 0);
    EXPECT_FALSE(HasVisibleStyle(frame.StatusBarWindow()));
    EXPECT_FALSE(IsChecked(hwnd, kViewStatusBar));

    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kViewToolBar, 0), 0);
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kViewStatusBar, 0), 0);
    EXPECT_TRUE(HasVisibleStyle(frame.ToolBarWindow()));
    EXPECT_TRUE(IsChecked(hwnd, kViewToolBar));
    EXPECT_TRUE(IsChecked(hwnd, kViewStatusBar));
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, LogKeepsTheNewest1000LinesOnTopWithBreaksBlanked)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    HWND log = frame.ActivityLog()->ListBox();
    EXPECT_EQ(291, GetDlgCtrlID(log));
    EXPECT_EQ(0, GetWindowLongW(log, GWL_STYLE) & LBS_SORT);

    frame.AddLogLine("first %d", 1);
    frame.ActivityLog()->AddLogLine("キャプチャ起動に失敗しました。\n既にポートが開かれています。");
    ASSERT_EQ(2, LineCount(log));
    EXPECT_EQ(L"キャプチャ起動に失敗しました。 既にポートが開かれています。", LogMessageAt(log, 0));
    EXPECT_EQ(L"first 1", LogMessageAt(log, 1));

    for (int i = 2; i <= 1001; ++i) {
        frame.AddLogLine("line %d", i);
    }
    EXPECT_EQ(1000, LineCount(log));
    EXPECT_EQ(L"line 1001", LogMessageAt(log, 0));
    EXPECT_EQ(L"line 2", LogMessageAt(log, 999));
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, LinesPostedFromAnotherThreadArriveOnTopBeforeThePostReturns)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    HWND hwnd = frame.Handle();
    HWND log = frame.ActivityLog()->ListBox();
    frame.AddLogLine("before");

    std::vector<int> linesSeenAfterPost;
    std::atomic<bool> done{false};
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i) {
            PostLogLine(hwnd, "設定されたCOMポートが見つかりませんでした(%s) %d", "COM9", i);
            linesSeenAfterPost.push_back(LineCount(log));
        }
        done = true;
    });
    // The poster asks the log window too, so this thread pumps until it ends.
    PumpResult pumped = PumpMessagesUntil([&] { return done.load(); }, 10000);
    ASSERT_TRUE(pumped.conditionMet);
    poster.join();
    EXPECT_EQ((std::vector<int>{2, 3, 4}), linesSeenAfterPost);
    EXPECT_EQ(L"設定されたCOMポートが見つかりませんでした(COM9) 2", LogMessageAt(log, 0));
    EXPECT_EQ(L"before", LogMessageAt(log, 3));

    // Copy-data with another tag is not a log line.
    char other[] = "other";
    COPYDATASTRUCT data = {7, sizeof other, other};
    EXPECT_FALSE(SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));
    // An unterminated payload takes only the bytes sent.
    char unterminated[] = {'a', 'b', 'c'};
    COPYDATASTRUCT cut = {0, 2, unterminated};
    EXPECT_TRUE(SendMessageW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cut)));
    EXPECT_EQ(5, LineCount(log));
    EXPECT_EQ(L"ab", LogMessageAt(log, 0));
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, SettingsDialogsLogTheirLinesAfterOkOnly)
{
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    HWND log = frame.ActivityLog()->ListBox();
    const struct {
        UINT command;
        int control;
        const wchar_t* line;
    } dialogs[] = {
        {ID_SETTINGS_COLOR, IDC_COLOR_SELECTION, L"色設定を変更しました"},
        {ID_SETTINGS_SYSTEM, IDC_TIME_LIMIT_SPIN, L"システム設定を変更しました"},
    };
    for (const auto& dialog : dialogs) {
        for (WPARAM button : {IDCANCEL, IDOK}) {
            DialogUser user(GetCurrentThreadId(), DialogWithControl(dialog.control),
                            [button](HWND shown) { PostMessageW(shown, WM_COMMAND, button, 0); });
            SendMessageW(frame.Handle(), WM_COMMAND, dialog.command, 0);
            user.Join();
            EXPECT_TRUE(user.Found()) << dialog.command;
        }
        EXPECT_EQ(dialog.line, LogMessageAt(log, 0));
    }
    EXPECT_EQ(2, LineCount(log)) << "a cancelled dialog logs nothing";
    DestroyFrame(frame);
}

TEST_F(MainFrameWindow, ItemsPaneListsTheStoredItemsAndSavesThemBack)
{
    WriteFileText("[System]\r\nDataCount=2\r\n[Data0]\r\nCOM=COM4\r\nType=0\r\nSize=1000\r\n"
                  "[Data1]\r\nCOM=COM5\r\nPort=COM7\r\nType=1\r\nSize=2048\r\n[Tab0]\r\nColumn0=120\r\n");
    CMainFrame frame(kTestService);
    ASSERT_TRUE(frame.Create());
    HWND list = frame.ItemsView()->List();
    EXPECT_TRUE(GetWindowLongW(list, GWL_STYLE) & LVS_SINGLESEL);
    ASSERT_EQ(2, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    auto cell = [&](int row, int column) { return ListViewCell(list, row, column); };
    EXPECT_EQ(L"COM4", cell(0, 0));
    EXPECT_EQ(L"標準のキャプチャモニタ", cell(0, 1));
    EXPECT_EQ(L"1000", cell(0, 2));
    EXPECT_EQ(L"COM5", cell(1, 0));
    EXPECT_EQ(L"COM7ポートへ出力(Format)", cell(1, 1));
    EXPECT_EQ(L"2048", cell(1, 2));

    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const wchar_t* titles[] = {L"キャプチャポート", L"出力形式", L"キャプチャバッファサイズ"};
    for (int column = 0; column < 3; ++column) {
        wchar_t text[64] = {};
        HDITEMW item = {};
        item.mask = HDI_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(titles[column], text);
    }
    EXPECT_EQ(120, SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
    EXPECT_EQ(100, SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0));

    SendMessageW(list, LVM_SETCOLUMNWIDTH, 2, 150);
    DestroyFrame(frame);
    EXPECT_EQ("150", ReadString("Tab0", "Column2", kAbsent));
    EXPECT_EQ("2", SystemValue("DataCount"));
    EXPECT_EQ("COM7", ReadString("Data1", "Port", kAbsent));
}
