#include "MenuReader.h"

#include <gtest/gtest.h>

namespace {

MenuEntry ReadMenuItem(HMENU menu, int position)
{
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
    GetMenuItemInfoW(menu, position, TRUE, &info);

    MenuEntry entry;
    entry.id = info.wID;
    entry.separator = (info.fType & MFT_SEPARATOR) != 0;
    if (info.cch > 0) {
        std::vector<wchar_t> text(info.cch + 1);
        info.dwTypeData = text.data();
        info.cch = static_cast<UINT>(text.size());
        GetMenuItemInfoW(menu, position, TRUE, &info);
        entry.text = text.data();
    }
    if (info.hSubMenu != nullptr) {
        entry.items = ReadMenu(info.hSubMenu);
    }
    return entry;
}

void ExpectPopupItems(const ExpectedPopup& expected, const MenuEntry& popup)
{
    ASSERT_EQ(expected.items.size(), popup.items.size()) << "pop-up " << popup.text;
    for (size_t i = 0; i < expected.items.size(); ++i) {
        const ExpectedMenuItem& want = expected.items[i];
        const MenuEntry& got = popup.items[i];
        SCOPED_TRACE(testing::Message() << "pop-up " << popup.text << ", item " << i);
        EXPECT_TRUE(got.items.empty());
        if (want.text == nullptr) {
            EXPECT_TRUE(got.separator);
            continue;
        }
        EXPECT_FALSE(got.separator);
        EXPECT_EQ(std::wstring(want.text), got.text);
        EXPECT_EQ(want.id, got.id);
    }
}

}  // namespace

std::vector<MenuEntry> ReadMenu(HMENU menu)
{
    std::vector<MenuEntry> entries;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        entries.push_back(ReadMenuItem(menu, i));
    }
    return entries;
}

const std::vector<ExpectedPopup>& MainMenuLayout()
{
    static const std::vector<ExpectedPopup> layout = {
        {L"キャプチャ (&C)",
         {
             {L"キャプチャ開始 (&S)", 26000},
             {L"キャプチャ停止 (&E)", 26001},
             {nullptr, 0},
             {L"設定追加 (&A)", 26002},
             {L"設定変更 (&M)", 26006},
             {L"設定削除 (&D)", 26005},
             {nullptr, 0},
             {L"アプリケーション終了 (&X)", 57665},
         }},
        // Half-width katakana: U+FF82 U+FF70 U+FF99 ... must survive the resource compile.
        {L"表示(&V)",
         {{L"\uFF82\uFF70\uFF99 \uFF8A\uFF9E\uFF70(&T)", 59392},
          {L"\uFF7D\uFF83\uFF70\uFF80\uFF7D \uFF8A\uFF9E\uFF70(&S)", 59393}}},
        {L"システム (&S)", {{L"色設定 (&C)", 26007}, {L"システム設定 (&S)", 26003}}},
        {L"ヘルプ(&H)", {{L"\uFF8A\uFF9E\uFF70\uFF7C\uFF9E\uFF6E\uFF9D情報 (&A)", 57664}, {L"ヘルプ (&H)", 57670}}},
    };
    return layout;
}

void ExpectMainMenuLayout(const std::vector<MenuEntry>& menu)
{
    const std::vector<ExpectedPopup>& layout = MainMenuLayout();
    ASSERT_EQ(layout.size(), menu.size());
    for (size_t i = 0; i < layout.size(); ++i) {
        EXPECT_EQ(std::wstring(layout[i].text), menu[i].text);
        ExpectPopupItems(layout[i], menu[i]);
    }
}
