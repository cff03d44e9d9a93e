// The capture items pane inside a real main frame: the add, change and
// delete commands through the frame, the dialog and boxes answered by a
// thread of the test, and the lines they leave in the activity log.
#include "ListViewText.h"
#include "MainFrame.h"
#include "HelpPage.h"

#include "DialogUser.h"
#include "DosDeviceTable.h"
#include "FileBytes.h"
#include "MessageBoxAnswerer.h"
#include "MessagePump.h"
#include "Settings.h"
#include "SettingsDirectory.h"
#include "WindowPicture.h"
#include "resource.h"

#include <commctrl.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <direct.h>

#include <algorithm>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

const char kTestService[] = "VantrelFltItemsTest";

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// The port the dialog shows for a stored one: itself when the system lists
// it, else its first port.
std::string ShownPort(const std::string& stored)
{
    DosDeviceTable table(DOS_DEVICE_LISTING_SIZE);
    std::vector<std::string> ports = ListCapturePorts(table);
    if (std::find(ports.begin(), ports.end(), stored) != ports.end()) {
        return stored;
    }
    return ports.empty() ? std::string() : ports[0];
}

int RowCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

void SelectRow(HWND list, int row)
{
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// A settings file holding `count` monitor items on COM4, COM5, ...
std::string ItemsFile(int count)
{
    std::string text = "[System]\r\nDataCount=" + std::to_string(count) + "\r\n";
    for (int i = 0; i < count; ++i) {
        text += "[Data" + std::to_string(i) + "]\r\nCOM=COM" + std::to_string(i + 4) + "\r\nType=0\r\nSize=10000\r\n";
    }
    return text;
}

void PressOk(HWND dialog)
{
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

class ItemEdit : public SettingsDirectory {
protected:
    void SetUp() override
    {
        SettingsDirectory::SetUp();
        thread_ = GetCurrentThreadId();
    }

    bool CreateFrame()
    {
        frame_ = std::make_unique<CMainFrame>(kTestService);
        return frame_->Create();
    }
    void TearDown() override
    {
        if (frame_ != nullptr) {
            DestroyWindow(frame_->Handle());
            PumpMessagesFor(10);  // takes the quit request the frame posts
            frame_.reset();
        }
        SettingsDirectory::TearDown();
    }

    // Destroying the frame saves the items.
    void CloseFrame()
    {
        DestroyWindow(frame_->Handle());
        PumpMessagesFor(10);
        frame_.reset();
    }

    // Down and up on the header item, as the mouse would.
    void ClickHeader(int column) const
    {
        HWND header = reinterpret_cast<HWND>(SendMessageW(List(), LVM_GETHEADER, 0, 0));
        RECT rect = {};
        SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rect));
        const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(header, WM_LBUTTONUP, 0, at);
    }

    std::vector<std::wstring> Column(int column) const
    {
        std::vector<std::wstring> texts;
        for (int row = 0; row < RowCount(List()); ++row) {
            texts.push_back(ListViewCell(List(), row, column));
        }
        return texts;
    }

    HWND List() const { return frame_->ItemsView()->List(); }
    HWND Log() const { return frame_->ActivityLog()->ListBox(); }
    void Command(UINT id) { SendMessageW(frame_->Handle(), WM_COMMAND, id, 0); }

    int LogCount() const { return static_cast<int>(SendMessageW(Log(), LB_GETCOUNT, 0, 0)); }
    // The newest log line without its timestamp.
    std::wstring NewestLogMessage() const
    {
        if (LogCount() == 0) {
            return L"(no line)";
        }
        wchar_t text[256] = {};
        SendMessageW(Log(), LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
        std::wstring line = text;
        size_t stamp = line.find(L'>');
        return stamp == std::wstring::npos ? line : line.substr(stamp + 1);
    }

    // Whether the input to the list, through the frame's own message loop
    // that translates its keys, opens the window; it is cancelled.
    bool InputOpens(UINT message, WPARAM wParam, LPARAM lParam, const WindowMatch& opens)
    {
        HWND shown = nullptr;
        std::thread user([&] {
            if ((shown = WaitForThreadWindow(thread_, opens)) != nullptr) {
                PostMessageW(shown, WM_COMMAND, IDCANCEL, 0);
                WaitUntilGone(shown);
            }
            PostThreadMessageW(thread_, WM_QUIT, 0, 0);
        });
        PostMessageW(List(), message, wParam, lParam);
        RunMessageLoop();
        user.join();
        return shown != nullptr;
    }

    DWORD thread_ = 0;
    std::unique_ptr<CMainFrame> frame_;
};

TEST_F(ItemEdit, AddThroughTheCommandAppendsTheRowAndLogsIt)
{
    ASSERT_TRUE(CreateFrame());
    std::wstring titleSeen;
    DialogUser user(thread_, DialogWithControl(IDC_CAPTURE_PORT), [&](HWND dialog) {
        titleSeen = WindowText(dialog);
        PressOk(dialog);
    });
    Command(ID_ITEM_ADD);
    user.Join();
    ASSERT_TRUE(user.Found());
    EXPECT_EQ(L"キャプチャ設定", titleSeen);

    std::wstring port = Wide(ShownPort(""));
    ASSERT_EQ(1, RowCount(List()));
    EXPECT_EQ(port, ListViewCell(List(), 0, 0));
    EXPECT_EQ(L"標準のキャプチャモニタ", ListViewCell(List(), 0, 1));
    EXPECT_EQ(L"10000", ListViewCell(List(), 0, 2));
    EXPECT_EQ(L"キャプチャアイテム作成 " + port + L" 標準のキャプチャモニタ バッファ:10000Byte", NewestLogMessage());
    const CaptureItem* item = frame_->ItemsView()->Rows().Item(0);
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(0, item->form);
    EXPECT_EQ(10000u, item->bufferSize);
}

TEST_F(ItemEdit, CancelledAddChangesNothing)
{
    ASSERT_TRUE(CreateFrame());
    int lines = LogCount();
    DialogUser user(thread_, DialogWithControl(IDC_CAPTURE_PORT),
                    [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_FALSE(frame_->ItemsView()->EditItem(-1));
    user.Join();
    ASSERT_TRUE(user.Found());
    EXPECT_EQ(0, RowCount(List()));
    EXPECT_EQ(0, frame_->ItemsView()->Rows().ItemCount());
    EXPECT_EQ(lines, LogCount());
}

TEST_F(ItemEdit, ChangingAPortItemToTheMonitorKeepsItsOutputPortInTheRecord)
{
    WriteFileText("[System]\r\nDataCount=1\r\n[Data0]\r\nCOM=COM4\r\nPort=COM77\r\nType=3\r\nSize=20000\r\n");
    ASSERT_TRUE(CreateFrame());
    frame_->ItemsView()->Rows().Item(0)->active = 1;
    SelectRow(List(), 0);
    int formShown = -1;
    std::wstring outputShown;
    DialogUser user(thread_, DialogWithControl(IDC_CAPTURE_PORT), [&](HWND dialog) {
        HWND forms = GetDlgItem(dialog, IDC_OUTPUT_FORM);
        formShown = static_cast<int>(SendMessageW(forms, CB_GETCURSEL, 0, 0));
        outputShown = WindowText(GetDlgItem(dialog, IDC_OUTPUT_PORT));
        SendMessageW(forms, CB_SETCURSEL, 0, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OUTPUT_FORM, CBN_SELCHANGE), reinterpret_cast<LPARAM>(forms));
        PressOk(dialog);
    });
    Command(ID_ITEM_CHANGE);
    user.Join();
    ASSERT_TRUE(user.Found());
    EXPECT_EQ(3, formShown);
    EXPECT_EQ(L"COM77", outputShown);

    std::wstring port = Wide(ShownPort("COM4"));
    ASSERT_EQ(1, RowCount(List()));
    EXPECT_EQ(port, ListViewCell(List(), 0, 0));
    EXPECT_EQ(L"標準のキャプチャモニタ", ListViewCell(List(), 0, 1));
    EXPECT_EQ(L"20000", ListViewCell(List(), 0, 2));
    const CaptureItem* item = frame_->ItemsView()->Rows().Item(0);
    EXPECT_EQ(0, item->form);
    EXPECT_STREQ("COM77", item->outputPort);
    EXPECT_EQ(0, item->active) << "the record is made anew";
    EXPECT_EQ(L"キャプチャアイテム変更 " + port + L" 標準のキャプチャモニタ バッファ:20000Byte", NewestLogMessage());
}

TEST_F(ItemEdit, DeleteAsksFirstAndLogsOnlyThePort)
{
    WriteFileText(ItemsFile(2));
    ASSERT_TRUE(CreateFrame());
    SelectRow(List(), 1);
    int lines = LogCount();
    std::wstring caption, text;
    {
        DialogUser refuse(thread_, MessageBoxOwnedBy(frame_->Handle()), [&](HWND box) {
            caption = WindowText(box);
            text = MessageBoxText(box);
            PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        });
        Command(ID_ITEM_DELETE);
    }
    EXPECT_EQ(L"削除確認", caption);
    EXPECT_EQ(L"選択しているキャプチャ設定を削除しますか？", text);
    EXPECT_EQ(2, RowCount(List()));
    EXPECT_EQ(lines, LogCount());

    {
        MessageBoxAnswerer answerer(thread_);
        Command(ID_ITEM_DELETE);
    }
    ASSERT_EQ(1, RowCount(List()));
    EXPECT_EQ(L"COM4", ListViewCell(List(), 0, 0));
    EXPECT_EQ(1, frame_->ItemsView()->Rows().ItemCount());
    EXPECT_EQ(L"キャプチャアイテム削除 COM5", NewestLogMessage());
}

TEST_F(ItemEdit, ChangeAndDeleteWithoutASelectionOnlyTellTheUser)
{
    WriteFileText(ItemsFile(1));
    ASSERT_TRUE(CreateFrame());
    int lines = LogCount();
    std::vector<MessageBoxSeen> seen;
    {
        MessageBoxAnswerer answerer(thread_);
        Command(ID_ITEM_CHANGE);
        Command(ID_ITEM_DELETE);
        seen = answerer.Seen();
    }
    ASSERT_EQ(2u, seen.size());
    for (const MessageBoxSeen& box : seen) {
        EXPECT_EQ(L"確認", box.caption);
        EXPECT_EQ(L"アイテムが選択されていません。", box.text);
    }
    EXPECT_EQ(1, RowCount(List()));
    EXPECT_EQ(lines, LogCount());
}

TEST_F(ItemEdit, TheTwentyFifthItemIsAddedAndTheNextRefusedWithoutADialog)
{
    WriteFileText(ItemsFile(24));
    ASSERT_TRUE(CreateFrame());
    {
        DialogUser user(thread_, DialogWithControl(IDC_CAPTURE_PORT), PressOk);
        Command(ID_ITEM_ADD);
    }
    ASSERT_EQ(25, RowCount(List()));
    EXPECT_EQ(24, frame_->ItemsView()->SelectedRow()) << "the new item is selected";
    int lines = LogCount();
    DialogUser unwanted(thread_, DialogWithControl(IDC_CAPTURE_PORT),
                        [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
    Command(ID_ITEM_ADD);
    unwanted.Stop();
    unwanted.Join();
    EXPECT_FALSE(unwanted.Found());
    EXPECT_EQ(25, RowCount(List()));
    EXPECT_EQ(lines + 1, LogCount());
    EXPECT_EQ(L"アイテム数が上限に達しています", NewestLogMessage());
}

// Sizes tell the items apart: after the sort the rows no longer stand in
// the order of the file, so a command that took the n-th record instead of
// the row's own would change and delete other items.
TEST_F(ItemEdit, ChangeAndDeleteInASortedPaneActOnTheSelectedRowsItem)
{
    WriteFileText("[System]\r\nWinPosX=1\r\nWinPosY=1\r\nWinSizeX=560\r\nWinSizeY=280\r\nSplit1Row=110\r\n"
                  "DataCount=3\r\n[Tab0]\r\nColumn1=180\r\nColumn2=160\r\n"
                  "[Data0]\r\nCOM=COM5\r\nSize=50000\r\nType=2\r\nPort=COM22\r\n"
                  "[Data1]\r\nCOM=COM4\r\nSize=40000\r\nType=1\r\nPort=COM21\r\n"
                  "[Data2]\r\nCOM=COM6\r\nSize=60000\r\nType=0\r\nPort=\r\n");
    ASSERT_TRUE(CreateFrame());
    ShowWindow(frame_->Handle(), SW_SHOW);
    ClickHeader(ColumnSize);
    ClickHeader(ColumnSize);
    ASSERT_EQ((std::vector<std::wstring>{L"COM6", L"COM5", L"COM4"}), Column(ColumnPort));
    SelectRow(List(), 0);
    PumpMessagesFor(300);
    RedrawWindow(frame_->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EXPECT_TRUE(WriteBmp(TakeSettledPicture(frame_->Handle()), (original_ + "/vantrel-items-sorted.bmp").c_str()));

    DialogUser user(thread_, DialogWithControl(IDC_CAPTURE_PORT), [](HWND dialog) {
        SetDlgItemTextW(dialog, IDC_BUFFER_SIZE, L"66666");
        PressOk(dialog);
    });
    Command(ID_ITEM_CHANGE);
    user.Join();
    ASSERT_TRUE(user.Found());
    EXPECT_EQ((std::vector<std::wstring>{L"66666", L"50000", L"40000"}), Column(ColumnSize));

    SelectRow(List(), 1);
    {
        MessageBoxAnswerer answerer(thread_);
        Command(ID_ITEM_DELETE);
    }
    EXPECT_EQ(L"キャプチャアイテム削除 COM5", NewestLogMessage());
    const std::string changedPort = ShownPort("COM6");
    CloseFrame();

    // The file keeps the order the pane showed.
    EXPECT_EQ(2u, ReadInt(SETTINGS_SYSTEM, "DataCount", 0));
    EXPECT_EQ(changedPort, ReadString("Data0", "COM", ""));
    EXPECT_EQ("66666", ReadString("Data0", "Size", ""));
    EXPECT_EQ("0", ReadString("Data0", "Type", ""));
    EXPECT_EQ("COM4", ReadString("Data1", "COM", ""));
    EXPECT_EQ("40000", ReadString("Data1", "Size", ""));
    EXPECT_EQ("COM21", ReadString("Data1", "Port", ""));
    EXPECT_FALSE(FileHasSection("Data2"));
}

// The cell as the list draws an unselected text that does not fit: the
// longest beginning that leaves room for "..." within the width less 4,
// then "...", black on white from 2 pixels in.
WindowPicture ExpectedCutCell(HWND list, const std::wstring& text, int width, int height)
{
    HDC screen = GetDC(list);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
    const auto widthOf = [dc](const std::wstring& part) {
        SIZE size = {};
        GetTextExtentPoint32W(dc, part.c_str(), static_cast<int>(part.size()), &size);
        return static_cast<int>(size.cx);
    };
    size_t kept = 1;
    while (kept < text.size() && widthOf(text.substr(0, kept + 1)) + widthOf(L"...") < width - 4) {
        ++kept;
    }
    const std::wstring shown = text.substr(0, kept) + L"...";
    const RECT all = {0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, 0x000000);
    TextOutW(dc, 2, 0, shown.c_str(), static_cast<int>(shown.size()));
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
    ReleaseDC(list, screen);

    WindowPicture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<size_t>(width) * height);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC any = GetDC(nullptr);
    GetDIBits(any, bitmap, 0, static_cast<UINT>(height), picture.pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, any);
    DeleteObject(bitmap);
    return picture;
}

// Pixels of `expected` that differ from the picture's area at `origin`; the
// outermost pixels are left out, where a focus rectangle may show.
int DifferingPixels(const WindowPicture& picture, POINT origin, const WindowPicture& expected)
{
    int differing = 0;
    for (int y = 1; y < expected.height - 1; ++y) {
        for (int x = 1; x < expected.width - 1; ++x) {
            differing += picture.ColorAt(origin.x + x, origin.y + y) != expected.ColorAt(x, y) ? 1 : 0;
        }
    }
    return differing;
}

TEST_F(ItemEdit, TwentyFiveLongPortNamesInANarrowColumnAreCutWithDots)
{
    constexpr int kCount = 25;
    constexpr int kNarrow = 60;
    std::string text = "[System]\r\nWinPosX=1\r\nWinPosY=1\r\nWinSizeX=500\r\nWinSizeY=800\r\nSplit1Row=620\r\n"
                       "DataCount=" +
                       std::to_string(kCount) + "\r\n[Tab0]\r\nColumn0=" + std::to_string(kNarrow) + "\r\n";
    std::vector<std::string> ports;
    for (int i = 0; i < kCount; ++i) {
        ports.push_back("COM" + std::to_string(i + 1) + "_" + std::string(200, static_cast<char>('a' + i % 26)) + "Z");
        text += "[Data" + std::to_string(i) + "]\r\nCOM=" + ports.back() + "\r\nType=0\r\nSize=10000\r\n";
    }
    WriteFileText(text);
    ASSERT_TRUE(CreateFrame());
    ShowWindow(frame_->Handle(), SW_SHOW);
    SetFocus(frame_->Handle());
    RedrawWindow(List(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    ASSERT_EQ(kCount, RowCount(List()));
    RECT client = {};
    GetClientRect(List(), &client);
    const WindowPicture picture = TakeSettledPicture(frame_->Handle());
    const POINT listOrigin = ClientOriginInWindow(List(), frame_->Handle());
    for (int row = 0; row < kCount; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        const CaptureItem* item = frame_->ItemsView()->ItemAt(row);
        ASSERT_NE(nullptr, item);
        EXPECT_EQ(ports[static_cast<size_t>(row)], item->port);
        RECT rect = {LVIR_BOUNDS, 0, 0, 0};
        ASSERT_TRUE(SendMessageW(List(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect)));
        ASSERT_LE(rect.bottom, client.bottom) << "every row shows";
        const WindowPicture cell =
            ExpectedCutCell(List(), Wide(ports[static_cast<size_t>(row)]), kNarrow, rect.bottom - rect.top);
        // Wine hands the owner-draw a row a few pixels right of its bounds.
        int fewest = cell.width * cell.height;
        for (int shift = 0; shift <= 4; ++shift) {
            fewest = std::min(
                fewest,
                DifferingPixels(picture, POINT{listOrigin.x + rect.left + shift, listOrigin.y + rect.top}, cell));
        }
        EXPECT_EQ(0, fewest);
    }
}

// What the pop-up tracked for a right-click showed: its commands and which
// of them were enabled.
struct TrackedMenu {
    bool shown = false;
    std::vector<UINT> commands;
    std::vector<UINT> enabled;
};

// Whether the program the shell started for a page (cmd, and the console
// host Wine gives it) is still running: it would take the focus from the
// windows of later tests.
bool ShellProgramRuns()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool runs = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        runs = runs || _wcsicmp(entry.szExeFile, L"cmd.exe") == 0 || _wcsicmp(entry.szExeFile, L"conhost.exe") == 0;
    CloseHandle(snapshot);
    return runs;
}

bool IsPopupMenuWindow(HWND hwnd)
{
    wchar_t className[16] = {};
    GetClassNameW(hwnd, className, 16);
    return std::wstring(className) == L"#32768" && IsWindowVisible(hwnd);
}

class ItemContextMenu : public ItemEdit {
protected:
    // Right-click with the cursor at `point` (list client coordinates); the
    // menu is read and closed by a thread of the test.
    TrackedMenu RightClickAt(POINT point)
    {
        ClientToScreen(List(), &point);
        SetCursorPos(point.x, point.y);
        TrackedMenu seen;
        HWND frame = frame_->Handle();
        // A pop-up menu stays open only over the foreground window, as after
        // a real click; a program an earlier test started may hold the focus.
        SetForegroundWindow(frame);
        DialogUser user(thread_, IsPopupMenuWindow, [&seen, frame](HWND menuWindow) {
            auto menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
            for (int i = 0; i < GetMenuItemCount(menu); ++i) {
                UINT id = GetMenuItemID(menu, i);
                seen.commands.push_back(id);
                if ((GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED) == 0) {
                    seen.enabled.push_back(id);
                }
            }
            PostMessageW(frame, WM_CANCELMODE, 0, 0);
        });
        NMHDR click = {List(), static_cast<UINT_PTR>(GetDlgCtrlID(List())), static_cast<UINT>(NM_RCLICK)};
        SendMessageW(frame_->ItemsView()->Handle(), WM_NOTIFY, click.idFrom, reinterpret_cast<LPARAM>(&click));
        user.Join();
        seen.shown = user.Found();
        return seen;
    }
};

TEST_F(ItemContextMenu, OffersAddOnEmptySpaceAndChangeDeleteOnARowAllDisabledDuringCapture)
{
    WriteFileText(ItemsFile(1));
    ASSERT_TRUE(CreateFrame());
    ShowWindow(frame_->Handle(), SW_SHOW);
    RECT row = {LVIR_BOUNDS, 0, 0, 0};
    ASSERT_TRUE(SendMessageW(List(), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)));
    POINT onRow = {row.left + 5, (row.top + row.bottom) / 2};
    POINT below = {row.left + 5, row.bottom + 3 * (row.bottom - row.top)};
    const std::vector<UINT> rowCommands = {ID_ITEM_CHANGE, ID_ITEM_DELETE};
    const std::vector<UINT> spaceCommands = {ID_ITEM_ADD};

    TrackedMenu menu = RightClickAt(onRow);
    ASSERT_TRUE(menu.shown);
    EXPECT_EQ(rowCommands, menu.commands);
    EXPECT_EQ(rowCommands, menu.enabled);
    menu = RightClickAt(below);
    ASSERT_TRUE(menu.shown);
    EXPECT_EQ(spaceCommands, menu.commands);
    EXPECT_EQ(spaceCommands, menu.enabled);

    frame_->SetCapturing(true);
    menu = RightClickAt(onRow);
    EXPECT_EQ(rowCommands, menu.commands);
    EXPECT_TRUE(menu.enabled.empty());
    menu = RightClickAt(below);
    EXPECT_EQ(spaceCommands, menu.commands);
    EXPECT_TRUE(menu.enabled.empty());
    frame_->SetCapturing(false);
}

// Insert adds, Enter and a double click on a row change the selected item,
// Delete deletes it (each opens its dialog or question), F1 opens the help
// page with the shell's program for HTML files.
TEST_F(ItemEdit, KeysAndADoubleClickReachTheCommands)
{
    WriteFileText(ItemsFile(2));
    ASSERT_TRUE(CreateFrame());
    ShowWindow(frame_->Handle(), SW_SHOW);
    SelectRow(List(), 1);
    RECT row = {LVIR_BOUNDS, 0, 0, 0};
    SendMessageW(List(), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    const WindowMatch itemDialog = DialogWithControl(IDC_CAPTURE_PORT);
    const WindowMatch deleteQuestion = [this](HWND box) {
        return MessageBoxOwnedBy(frame_->Handle())(box) &&
               MessageBoxText(box) == L"選択しているキャプチャ設定を削除しますか？";
    };
    const std::tuple<UINT, WPARAM, LPARAM, WindowMatch> inputs[] = {
        {WM_KEYDOWN, VK_INSERT, 1, itemDialog},
        {WM_KEYDOWN, VK_RETURN, 1, itemDialog},
        {WM_KEYDOWN, VK_DELETE, 1, deleteQuestion},
        {WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(row.left + 5, row.top + 3), itemDialog}};
    for (const auto& [message, wParam, lParam, opens] : inputs) {
        EXPECT_TRUE(InputOpens(message, wParam, lParam, opens)) << "message " << message << " with " << wParam;
    }

    // Windows always has a program for HTML files, a Wine prefix may lack
    // one: for this process, classes of the test's that copy the page.
    char folder[MAX_PATH] = {};
    const std::string opened = std::string(_getcwd(folder, MAX_PATH)) + "\\opened.html";
    DeleteFileA(opened.c_str());
    HKEY classes = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\VantrelTestClasses", &classes));
    RegSetValueA(classes, ".html", REG_SZ, "htmlfile", 0);
    RegSetValueA(classes, "htmlfile\\shell\\open\\command", REG_SZ, ("cmd /c copy \"%1\" \"" + opened + "\"").c_str(), 0);
    EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, classes));
    PostMessageW(List(), WM_KEYDOWN, VK_F1, 1);
    PostQuitMessage(0);
    RunMessageLoop();
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(classes);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\VantrelTestClasses");
    const Bytes page = ReadFileBytes(HelpPagePath());
    const std::wstring copy(opened.begin(), opened.end());
    for (int tries = 0; tries < 500 && (ReadFileBytes(copy) != page || ShellProgramRuns()); ++tries)
        Sleep(20);
    EXPECT_NE(std::string::npos, std::string(page.begin(), page.end()).find("<title>Vantrel ヘルプ</title>"));
    EXPECT_EQ(page, ReadFileBytes(copy));
}

}  // namespace
