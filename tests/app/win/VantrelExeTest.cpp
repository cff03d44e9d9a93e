// The built Vantrel.exe from outside: its menu and string resources, and a
// real start under Wine that shows the titled main window and ends on close.
#include "DialogUser.h"
#include "MenuReader.h"
#include "Settings.h"
#include "SettingsDirectory.h"
#include "VantrelProcess.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const UINT kMainMenu = 128;
const DWORD kWindowTimeoutMs = 30000;

std::wstring LoadText(HMODULE module, UINT id)
{
    wchar_t text[512] = {};
    int length = LoadStringW(module, id, text, 512);
    return std::wstring(text, length > 0 ? length : 0);
}

class VantrelResources : public testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExW(VantrelExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module) << "cannot load " << VantrelExePath();
    }
    void TearDown() override
    {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
    HMODULE module = nullptr;
};

std::wstring TitleOf(HWND hwnd)
{
    wchar_t title[64] = {};
    GetWindowTextW(hwnd, title, 64);
    return title;
}

// Polls until the window carries the wanted title, or time runs out.
bool WaitForTitle(HWND hwnd, const std::wstring& title)
{
    DWORD start = GetTickCount();
    while (TitleOf(hwnd) != title) {
        if (GetTickCount() - start >= kWindowTimeoutMs) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

// Menus live per process under Wine, so the live menu bar is seen from
// outside by the room it takes above the client area.
int MenuBarHeight(HWND hwnd)
{
    RECT window = {};
    GetWindowRect(hwnd, &window);
    POINT clientTop = {0, 0};
    ClientToScreen(hwnd, &clientTop);
    RECT withoutMenu = {0, 0, 100, 100};
    AdjustWindowRectEx(&withoutMenu, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
    return (clientTop.y - window.top) + withoutMenu.top;
}

}  // namespace

TEST_F(VantrelResources, MenuResourceIsTheMainMenu)
{
    HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(kMainMenu));
    ASSERT_NE(nullptr, menu);
    ExpectMainMenuLayout(ReadMenu(menu));
    DestroyMenu(menu);
}

TEST_F(VantrelResources, EveryMenuCommandHasPromptAndTooltip)
{
    for (const ExpectedPopup& popup : MainMenuLayout()) {
        for (const ExpectedMenuItem& item : popup.items) {
            if (item.text == nullptr) {
                continue;
            }
            std::wstring text = LoadText(module, item.id);
            size_t lineBreak = text.find(L'\n');
            SCOPED_TRACE(testing::Message() << "command " << item.id << ": " << text);
            ASSERT_NE(std::wstring::npos, lineBreak);
            EXPECT_GT(lineBreak, 0u);
            EXPECT_LT(lineBreak + 1, text.size());
            EXPECT_EQ(std::wstring::npos, text.find(L'\n', lineBreak + 1));
        }
    }
}

TEST_F(VantrelResources, StringTableHoldsTheApplicationTexts)
{
    struct {
        UINT id;
        const wchar_t* text;
    } const expected[] = {
        {128, L"Vantrel\n\nVtrl\n\n\nVantrel.Document\nVtrl Document"},
        {57344, L"Vantrel"},
        {26000, L"COMポートのキャプチャを開始\nキャプチャ開始"},
        {9900, L"日時"},
        {30000, L"標準のキャプチャモニタ"},
        {30001, L"ポートへ出力(Format)"},
        {30002, L"ポートへ出力(WriteFile)"},
        {30003, L"ポートへ出力(ReadFile)"},
        {30004, L"ポートへ出力(信号選択)"},
        {30100, L"キャプチャポート"},
        {30101, L"出力形式"},
        {30104, L"キャプチャバッファサイズ"},
        {30300, L"両方"},
        {30301, L"送信データのみ"},
        {30302, L"受信データのみ"},
        {39000, L"キャプチャモニタ"},
        {39001, L"(停止中)"},
        {39002, L"\uFF2D\uFF33 ゴシック"},  // full-width "ＭＳ"
        {39003, L"送信:"},
        {39004, L"受信:"},
        {39005, L"異常:"},
        {40008, L"終了確認"},
        {40009, L"キャプチャ中は終了できません"},
        {40010, L"確認"},
        {40011, L"アイテムが選択されていません。"},
        {40022, L"削除確認"},
        {40023, L"選択している条件を削除しますか？"},
    };
    for (const auto& entry : expected) {
        EXPECT_EQ(std::wstring(entry.text), LoadText(module, entry.id)) << "string " << entry.id;
    }
}

TEST(VantrelStart, ShowsTheTitledMainWindowAndEndsWhenClosed)
{
    VantrelProcess vantrel;
    ASSERT_TRUE(vantrel.Start()) << "cannot start " << VantrelExePath();

    HWND hwnd = vantrel.WaitForMainFrame();
    ASSERT_NE(nullptr, hwnd) << "no main window";
    EXPECT_TRUE(WaitForTitle(hwnd, L"Vantrel")) << "title is " << TitleOf(hwnd).size() << " characters";

    EXPECT_GE(MenuBarHeight(hwnd), GetSystemMetrics(SM_CYMENU));

    DWORD exitCode = 1;
    ASSERT_TRUE(vantrel.Close(&exitCode));
    EXPECT_EQ(0u, exitCode);
}

using VantrelItems = SettingsDirectory;

// The item is in the file once added: a program that ends without closing loses nothing.
TEST_F(VantrelItems, AnAddedItemIsKeptWhenTheProgramIsKilled)
{
    {
        VantrelProcess vantrel;
        ASSERT_TRUE(vantrel.Start());
        HWND frame = vantrel.WaitForMainFrame();
        PostMessageW(frame, WM_COMMAND, ID_ITEM_ADD, 0);
        HWND dialog = vantrel.WaitForWindow([](HWND hwnd) { return GetDlgItem(hwnd, IDC_CAPTURE_PORT) != nullptr; });
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(dialog != nullptr && WaitUntilGone(dialog));
        DWORD_PTR ignored = 0;  // answered once the add command has returned
        ASSERT_NE(0, SendMessageTimeoutW(frame, WM_NULL, 0, 0, SMTO_NORMAL, kWindowTimeoutMs, &ignored));
    }  // killed
    EXPECT_EQ(1u, ReadInt(SETTINGS_SYSTEM, "DataCount", 0));
}
