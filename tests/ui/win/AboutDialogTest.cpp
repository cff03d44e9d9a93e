// The About box in a real modal loop: a second thread reads what it shows
// and presses OK.
#include "AboutDialog.h"

#include "resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Seen {
    DWORD dialogThread = 0;
    HWND dialog = nullptr;
    std::wstring caption;
    std::wstring title;
    std::vector<std::wstring> lines;
    bool hasIcon = false;
    bool scrolls = false;
};

BOOL CALLBACK FindAbout(HWND hwnd, LPARAM found)
{
    if (GetDlgItem(hwnd, IDC_ABOUT_HISTORY) != nullptr && IsWindowVisible(hwnd)) {
        *reinterpret_cast<HWND*>(found) = hwnd;
        return FALSE;
    }
    return TRUE;
}

std::wstring ListLine(HWND list, int index)
{
    std::wstring line(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, index, 0)), L'\0');
    SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(&line[0]));
    return line;
}

DWORD WINAPI ReadAndPressOk(LPVOID context)
{
    auto* seen = static_cast<Seen*>(context);
    for (int tries = 0; tries < 500 && seen->dialog == nullptr; ++tries) {
        EnumThreadWindows(seen->dialogThread, FindAbout, reinterpret_cast<LPARAM>(&seen->dialog));
        if (seen->dialog == nullptr)
            Sleep(10);
    }
    if (seen->dialog == nullptr)
        return 0;
    wchar_t text[100] = {};
    GetWindowTextW(seen->dialog, text, 100);
    seen->caption = text;
    GetDlgItemTextW(seen->dialog, IDC_ABOUT_TITLE, text, 100);
    seen->title = text;
    HWND list = GetDlgItem(seen->dialog, IDC_ABOUT_HISTORY);
    int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        seen->lines.push_back(ListLine(list, i));
    seen->hasIcon = SendDlgItemMessageW(seen->dialog, IDC_ABOUT_ICON, STM_GETICON, 0, 0) != 0;
    SendMessageW(list, LB_SETTOPINDEX, count - 1, 0);
    seen->scrolls = SendMessageW(list, LB_GETTOPINDEX, 0, 0) > 0;
    SendMessageW(seen->dialog, WM_COMMAND, IDOK, 0);
    return 0;
}

TEST(AboutDialogTest, ShowsTheVersionAndTheWholeHistoryNewestFirst)
{
    Seen seen;
    seen.dialogThread = GetCurrentThreadId();
    HANDLE user = CreateThread(nullptr, 0, ReadAndPressOk, &seen, 0, nullptr);
    AboutDialog about;
    EXPECT_EQ(IDOK, about.RunModal(nullptr));
    WaitForSingleObject(user, INFINITE);
    CloseHandle(user);

    ASSERT_NE(nullptr, seen.dialog) << "the box never showed";
    EXPECT_EQ(L"ﾊﾞｰｼﾞｮﾝ情報", seen.caption);
    EXPECT_EQ(L"Vantrel Version 1.35", seen.title);
    EXPECT_TRUE(seen.hasIcon);
    ASSERT_EQ(30u, seen.lines.size());
    EXPECT_EQ(L"Ver 1.35 2009/1/7", seen.lines[0]) << "the same version as the title line";
    EXPECT_EQ(L"    一部のシリアルデバイスで動作しなかったのを修正", seen.lines[1]);
    EXPECT_EQ(L"Ver 1.30 2004/4/2", seen.lines[2]);
    EXPECT_EQ(L"    公開初版", seen.lines[26]);
    EXPECT_EQ(L"Ver 0.95 2003/11/11", seen.lines[27]);
    EXPECT_EQ(L"    基本機能実装完了", seen.lines[29]);
    // Unsorted: versions descend, each followed by its change lines.
    std::vector<std::wstring> versions;
    for (const std::wstring& line : seen.lines) {
        if (line.rfind(L"Ver ", 0) == 0)
            versions.push_back(line.substr(4, 4));
        else
            EXPECT_EQ(0u, line.rfind(L"    ", 0)) << "a change line begins with four blanks";
    }
    EXPECT_EQ((std::vector<std::wstring>{L"1.35", L"1.30", L"1.21", L"1.20", L"1.10", L"1.00", L"0.95"}), versions);
    EXPECT_TRUE(seen.scrolls) << "30 lines do not fit: the list scrolls";
}

}  // namespace
