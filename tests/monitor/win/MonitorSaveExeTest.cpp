// The real Vantrel.exe saving a paused monitor of the test port through the
// system's save dialog, as text and as CSV, refusing a read-only file, and
// copying the selected lines to the clipboard.
#include "DialogUser.h"
#include "FilterServiceFixture.h"
#include "VantrelProcess.h"
#include "WindowPicture.h"

#include "resource.h"

#include <direct.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr DWORD kWaitMs = 20000;
// The save dialog's file name box and file type list (dlgs.h: cmb13, cmb1).
constexpr int kFileNameBox = 0x47c;
constexpr int kFileTypeList = 0x470;

std::string FileText(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A window of the process's own that matches, or null after the wait.
HWND WaitForOwnedBox(DWORD thread, HWND owner)
{
    return WaitForThreadWindow(thread, [owner](HWND hwnd) {
        return IsDialogWindow(hwnd) && GetWindow(hwnd, GW_OWNER) == owner && GetDlgItem(hwnd, 0xFFFF) != nullptr;
    });
}

void WaitUntil(const std::function<bool()>& done)
{
    for (DWORD waited = 0; waited < kWaitMs && !done(); waited += 50)
        Sleep(50);
}

class MonitorSaveExeTest : public FilterServiceTest {
protected:
    void SetUp() override
    {
        FilterServiceTest::SetUp();
        ASSERT_NE(nullptr, _getcwd(original_, sizeof original_));
        _mkdir("save-exe-run");
        ASSERT_EQ(0, _chdir("save-exe-run"));
        for (const char* name : {"Vantrel.ini", "capture.txt", "capture.csv"})
            DeleteFileA(name);
        SetFileAttributesA("readonly.txt", FILE_ATTRIBUTE_NORMAL);
        DeleteFileA("readonly.txt");
        WritePrivateProfileStringA("System", "DataCount", "1", ".\\Vantrel.ini");
        WritePrivateProfileStringA("Data0", "COM", "COM11", ".\\Vantrel.ini");
        WritePrivateProfileStringA("Data0", "Size", "100000", ".\\Vantrel.ini");
        WritePrivateProfileStringA("Data0", "Type", "0", ".\\Vantrel.ini");
    }
    void TearDown() override
    {
        EXPECT_EQ(0, _chdir(original_));
        FilterServiceTest::TearDown();
    }

    static std::wstring PathOf(const char* name)
    {
        char full[MAX_PATH] = {};
        _fullpath(full, name, MAX_PATH);
        return std::wstring(full, full + strlen(full));  // the test's names are ASCII
    }

    // Runs the monitor's save command and answers the dialog; `seen` gets
    // the dialog before it is answered. Returns when the monitor takes
    // input again.
    void Save(const char* name, int fileType, const std::function<void(HWND)>& seen = nullptr)
    {
        PostMessageW(monitor_, WM_COMMAND, ID_MONITOR_SAVE, 0);
        HWND dialog = vantrel.WaitForWindowTitled(L"名前を付けて保存");
        ASSERT_NE(nullptr, dialog);
        HWND types = GetDlgItem(dialog, kFileTypeList);
        SendMessageW(types, CB_SETCURSEL, fileType, 0);
        // A user's pick sends both.
        for (WORD notice : {CBN_SELCHANGE, CBN_SELENDOK})
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kFileTypeList, notice), reinterpret_cast<LPARAM>(types));
        SetDlgItemTextW(dialog, kFileNameBox, PathOf(name).c_str());
        if (seen)
            seen(dialog);
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        WaitUntil([&] { return !IsWindow(dialog); });
        WaitUntil([&] { return IsWindowEnabled(monitor_) != 0; });
    }

    VantrelProcess vantrel;
    HWND monitor_ = nullptr;

private:
    char original_[MAX_PATH] = {};
};

// COM11 sends "AT" CR LF and "あ"; COM12 answers "OK" CR LF.
void RunTerminalSession()
{
    HANDLE peer = OpenPort("\\\\.\\COM12");
    HANDLE terminal = OpenPort("\\\\.\\COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    ASSERT_NE(INVALID_HANDLE_VALUE, terminal) << GetLastError();
    DWORD done = 0;
    char got[8] = {};
    EXPECT_TRUE(WriteFile(terminal, "AT\r\n\x82\xA0", 6, &done, nullptr));
    EXPECT_TRUE(ReadFile(peer, got, 6, &done, nullptr));
    Sleep(30);
    EXPECT_TRUE(WriteFile(peer, "OK\r\n", 4, &done, nullptr));
    EXPECT_TRUE(ReadFile(terminal, got, 4, &done, nullptr));
    CloseHandle(terminal);
    CloseHandle(peer);
}

TEST_F(MonitorSaveExeTest, APausedMonitorIsSavedAsTextAndCsvAndItsSelectionCopied)
{
    ASSERT_TRUE(vantrel.Start());
    HWND mainFrame = vantrel.WaitForMainFrame();
    ASSERT_NE(nullptr, mainFrame);
    PostMessageW(mainFrame, WM_COMMAND, ID_CAPTURE_START, 0);
    monitor_ = vantrel.WaitForWindowTitled(L"キャプチャモニタ - COM11");
    ASSERT_NE(nullptr, monitor_);
    SetWindowPos(monitor_, HWND_TOPMOST, 40, 40, 640, 420, 0);
    RunTerminalSession();
    Sleep(1000);  // the monitor polls every 100 ms
    PostMessageW(monitor_, WM_COMMAND, ID_MONITOR_PAUSE, 0);

    Save("capture.csv", 1);
    const std::string csv = FileText("capture.csv");
    ASSERT_EQ(0u, csv.rfind("\xEF\xBB\xBF日時,間隔(ms),方向,バイト数,データ(16進),データ(テキスト),回線エラー\r\n", 0))
        << csv;
    EXPECT_NE(std::string::npos, csv.find(",送信,6,41 54 0D 0A 82 A0,AT\\r\\nあ,\r\n")) << csv;
    EXPECT_NE(std::string::npos, csv.find(",受信,4,4F 4B 0D 0A,OK\\r\\n,\r\n")) << csv;

    WindowPicture picture;
    Save("capture.txt", 0, [&](HWND dialog) {
        SetWindowPos(dialog, HWND_TOPMOST, 200, 160, 0, 0, SWP_NOSIZE);
        Sleep(1000);  // its list of the folder fills in a while
        picture = TakeWindowsPicture({monitor_, dialog});
    });
    EXPECT_TRUE(WriteBmp(picture, PICTURE_PATH)) << PICTURE_PATH;
    const std::string text = FileText("capture.txt");
    EXPECT_EQ(0u, text.find("\xEF\xBB\xBFVantrelログ  ")) << text;
    EXPECT_NE(std::string::npos, text.find("\r\nPort:COM11\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("4F  4B  0D  0A")) << text;
    EXPECT_NE(std::string::npos, text.find("41  54  0D  0A  82  A0")) << text;
    EXPECT_NE(std::string::npos, text.find("AT..あ\r\n")) << text;

    {
        std::ofstream("readonly.txt") << "kept";
        ASSERT_TRUE(SetFileAttributesA("readonly.txt", FILE_ATTRIBUTE_READONLY));
        const DWORD thread = GetWindowThreadProcessId(monitor_, nullptr);
        std::wstring refusal;
        std::thread user([&] {
            // The dialog asks before it replaces a file; the save then fails.
            HWND dialog = WaitForThreadWindow(thread, [](HWND hwnd) { return WindowText(hwnd) == L"名前を付けて保存"; });
            if (HWND ask = WaitForOwnedBox(thread, dialog))
                PostMessageW(ask, WM_COMMAND, IDYES, 0);
            if (HWND box = WaitForOwnedBox(thread, monitor_)) {
                refusal = MessageBoxText(box);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
        });
        Save("readonly.txt", 0);
        user.join();
        EXPECT_EQ(0u, refusal.find(L"ファイルに保存できませんでした。")) << refusal.c_str();
        EXPECT_EQ("kept", FileText("readonly.txt"));
        WIN32_FIND_DATAA found = {};
        HANDLE search = FindFirstFileA("*.tmp", &found);
        EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "left behind: " << found.cFileName;
        FindClose(search);
    }

    // A click on the first line selects it; its rows are the text's.
    HWND view = FindWindowExW(monitor_, nullptr, L"VantrelMonitorView", nullptr);
    PostMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 30));
    PostMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(100, 30));
    Sleep(300);
    PostMessageW(monitor_, WM_COMMAND, ID_MONITOR_COPY, 0);
    Sleep(500);
    char clip[4096] = {};
    ASSERT_TRUE(OpenClipboard(nullptr));
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        WideCharToMultiByte(CP_UTF8, 0, static_cast<const wchar_t*>(GlobalLock(data)), -1, clip, sizeof clip, 0, 0);
        GlobalUnlock(data);
    }
    CloseClipboard();
    const size_t first = text.find("00000000 R");
    EXPECT_EQ(text.substr(first, text.find("\r\n", text.find("00000000 S")) + 2 - first), clip);

    PostMessageW(mainFrame, WM_COMMAND, ID_CAPTURE_STOP, 0);
    ASSERT_TRUE(WaitForStartEnabled(mainFrame, kWaitMs));
    DWORD exitCode = 1;
    EXPECT_TRUE(vantrel.Close(&exitCode));
}

}  // namespace
