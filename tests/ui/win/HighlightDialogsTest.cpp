// The highlight conditions dialog and its editor in real modal loops, a
// thread of the test playing the user through their controls and the
// screen; the conditions live in a monitor's condition list.
#include "HighlightConditionsDialog.h"

#include "HighlightDialogs.h"
#include "WindowPicture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

ModalRun RunConditions(HighlightConditionList& list, std::function<void(HWND)> act)
{
    HighlightConditionsDialog dialog(list, HIGHLIGHT_CONDITION_LIMIT);
    return RunModalAsUser(dialog, DialogWithControl(IDC_CONDITION_LIST), std::move(act));
}

std::vector<uint8_t> Pattern(const HighlightConditionList& list, uint32_t n)
{
    const std::optional<HighlightCondition> condition = list.Get(n);
    if (!condition)
        return {};
    return std::vector<uint8_t>(condition->pattern, condition->pattern + condition->length);
}

HighlightCondition Condition(uint32_t target, const char* text)
{
    HighlightCondition condition{};
    condition.length = static_cast<uint32_t>(std::strlen(text));
    std::memcpy(condition.pattern, text, condition.length);
    condition.target = target;
    condition.kind = HighlightKind_Ascii;
    return condition;
}

void PressKey(HWND dialog, WPARAM key)
{
    HWND focus = ThreadFocus(dialog);
    PostMessageW(focus != nullptr ? focus : dialog, WM_KEYDOWN, key, 0);
    PostMessageW(focus != nullptr ? focus : dialog, WM_KEYUP, key, 0);
}

void SelectRow(HWND conditions, int row)
{
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendDlgItemMessageW(conditions, IDC_CONDITION_LIST, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                        reinterpret_cast<LPARAM>(&item));
}

// Presses "削除" and answers the box that shows with `answer`.
MessageBoxSeen DeleteAnswering(HWND conditions, int answer)
{
    MessageBoxSeen seen;
    PostMessageW(GetDlgItem(conditions, IDC_CONDITION_DELETE), BM_CLICK, 0, 0);
    HWND box = WaitForThreadWindow(ThreadOf(conditions), MessageBoxOwnedBy(conditions));
    if (box != nullptr) {
        seen = {WindowText(box), MessageBoxText(box)};
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
        WaitUntilGone(box);
    }
    Settle(conditions);
    return seen;
}

// The centre of row `row`'s swatch on the screen.
COLORREF SwatchColour(HWND conditions, int row)
{
    HWND list = GetDlgItem(conditions, IDC_CONDITION_LIST);
    RECT icon = {};
    icon.left = LVIR_ICON;
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&icon));
    const WindowPicture picture = TakeSettledPicture(conditions);
    const POINT origin = ClientOriginInWindow(list, conditions);
    return picture.ColorAt(origin.x + (icon.left + icon.right) / 2, origin.y + (icon.top + icon.bottom) / 2);
}

TEST(HighlightDialogsTest, NewRowsShowTheTextAsTypedAndStoredOnesTheirBytesInOrder)
{
    HighlightConditionList list;
    std::wstring title;
    std::vector<std::wstring> added;
    COLORREF swatch = 0;
    ModalRun run = RunConditions(list, [&](HWND conditions) {
        title = WindowText(conditions);
        EXPECT_TRUE(AddCondition(conditions, {0, false, L"ABC", RGB(0, 128, 255)}));
        EXPECT_TRUE(AddCondition(conditions, {1, false, L"0d0a", std::nullopt}));
        EXPECT_TRUE(AddCondition(conditions, {2, true, L"OK", std::nullopt}));
        added = ConditionRows(conditions);
        swatch = SwatchColour(conditions, 0);
        PressKey(conditions, VK_RETURN);  // the hidden default OK
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(L"強調設定", title);
    const std::vector<std::wstring> asTyped = {L"両方|Binary|ABC0", L"送信データのみ|Binary|0d0a",
                                               L"受信データのみ|Ascii|OK"};
    EXPECT_EQ(asTyped, added);
    EXPECT_EQ(RGB(0, 128, 255), swatch) << "a solid square of the condition's colour";

    EXPECT_EQ((std::vector<uint8_t>{0xAB, 0xC0}), Pattern(list, 0));
    EXPECT_EQ((std::vector<uint8_t>{0x0D, 0x0A}), Pattern(list, 1));
    EXPECT_EQ((std::vector<uint8_t>{0x4F, 0x4B}), Pattern(list, 2));
    EXPECT_EQ(RGB(0, 128, 255), list.Get(0)->color);
    EXPECT_EQ(HighlightTarget_Both, list.Get(0)->target);
    EXPECT_EQ(HighlightTarget_Sent, list.Get(1)->target);
    EXPECT_EQ(HighlightTarget_Received, list.Get(2)->target);
    EXPECT_EQ(HighlightKind_Ascii, list.Get(2)->kind);

    std::vector<std::wstring> reopened;
    run = RunConditions(list, [&](HWND conditions) {
        reopened = ConditionRows(conditions);
        PostMessageW(GetDlgItem(conditions, IDCANCEL), BM_CLICK, 0, 0);
    });
    const std::vector<std::wstring> stored = {L"両方|Binary|ABC0", L"送信データのみ|Binary|0D0A",
                                              L"受信データのみ|Ascii|OK"};
    EXPECT_EQ(stored, reopened);
    EXPECT_EQ(3u, list.Matchable().size());
}

TEST(HighlightDialogsTest, TheEditorStartsFromItsDefaultsAndRefusesEmptyAndNonHexadecimalTexts)
{
    HighlightConditionList list;
    std::wstring title;
    std::vector<std::wstring> targets;
    LRESULT selected = -1;
    bool binary = false;
    bool ascii = true;
    Refusal empty;
    Refusal blank;
    ModalRun run = RunConditions(list, [&](HWND conditions) {
        HWND editor = OpenEditorOrClose(conditions);
        ASSERT_NE(nullptr, editor);
        title = WindowText(editor);
        HWND combo = GetDlgItem(editor, IDC_PATTERN_TARGET);
        for (int i = 0; i < SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i) {
            wchar_t text[32] = {};
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            targets.push_back(text);
        }
        selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
        binary = IsDlgButtonChecked(editor, IDC_PATTERN_BINARY) == BST_CHECKED;
        ascii = IsDlgButtonChecked(editor, IDC_PATTERN_ASCII) == BST_CHECKED;
        empty = TryOkWithFieldText(editor, IDC_PATTERN_TEXT, L"");
        blank = TryOkWithFieldText(editor, IDC_PATTERN_TEXT, L"0D 0A");
        PostMessageW(editor, WM_COMMAND, IDCANCEL, 0);
        WaitUntilGone(editor);
        PostMessageW(conditions, WM_COMMAND, IDCANCEL, 0);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(L"強調条件", title);
    EXPECT_EQ((std::vector<std::wstring>{L"両方", L"送信データのみ", L"受信データのみ"}), targets);
    EXPECT_EQ(0, selected);
    EXPECT_TRUE(binary);
    EXPECT_FALSE(ascii);
    EXPECT_EQ(L"データがありません", empty.message);
    EXPECT_TRUE(empty.dialogOpen);
    EXPECT_EQ(L"不正なデータ列です", blank.message);
    EXPECT_TRUE(blank.dialogOpen);
    EXPECT_FALSE(list.Get(0).has_value()) << "a cancelled editor adds nothing";
}

// Puts the text on the clipboard and pastes it into the pattern box.
void Paste(HWND editor, const std::wstring& text)
{
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
    PostMessageW(GetDlgItem(editor, IDC_PATTERN_TEXT), WM_PASTE, 0, 0);
}

// The box holds wide characters; the pattern 258 bytes of the Japanese code
// page: 200 kanji (400 bytes) are cut to 129 and 300 digits to 258.
TEST(HighlightDialogsTest, APasteBeyondTheLimitIsCutAndTheUserTold)
{
    HighlightConditionList list;
    std::vector<MessageBoxSeen> told;
    std::vector<int> lengths;
    RunConditions(list, [&](HWND conditions) {
        for (const NewCondition& condition : {NewCondition{0, true, std::wstring(200, L'\u4E9C'), std::nullopt},
                                              NewCondition{0, false, std::wstring(300, L'f'), std::nullopt}}) {
            HWND editor = OpenEditorOrClose(conditions);
            ASSERT_NE(nullptr, editor);
            SendDlgItemMessageW(editor, condition.ascii ? IDC_PATTERN_ASCII : IDC_PATTERN_BINARY, BM_CLICK, 0, 0);
            Paste(editor, condition.text);
            HWND box = WaitForThreadWindow(ThreadOf(editor), MessageBoxOwnedBy(editor));
            EXPECT_NE(nullptr, box) << "no message about the cut";
            if (box != nullptr) {
                told.push_back({WindowText(box), MessageBoxText(box)});
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                WaitUntilGone(box);
            }
            lengths.push_back(GetWindowTextLengthW(GetDlgItem(editor, IDC_PATTERN_TEXT)));
            PostMessageW(editor, WM_COMMAND, IDOK, 0);
            WaitUntilGone(editor);
            Settle(conditions);
        }
        PostMessageW(conditions, WM_COMMAND, IDCANCEL, 0);
    });
    ASSERT_EQ(2u, told.size());
    EXPECT_EQ(L"確認", told[0].caption);
    EXPECT_EQ(L"データは258バイトまでです。超えた部分を切り捨てました。", told[0].text);
    EXPECT_EQ((std::vector<int>{129, 258}), lengths);
    ASSERT_TRUE(list.Get(1).has_value());
    EXPECT_EQ(258u, list.Get(0)->length);
    EXPECT_EQ(129u, list.Get(1)->length);
}

TEST(HighlightDialogsTest, AddDoesNothingAtTheLimit)
{
    HighlightConditionList list;
    for (uint32_t i = 0; i < HIGHLIGHT_CONDITION_LIMIT; ++i)
        list.Append(Condition(HighlightTarget_Both, "A"));
    bool editorShown = true;
    size_t rows = 0;
    RunConditions(list, [&](HWND conditions) {
        PostMessageW(GetDlgItem(conditions, IDC_CONDITION_ADD), BM_CLICK, 0, 0);
        Settle(conditions);
        Settle(conditions);
        // A modal editor would disable the dialog and show as a window of its thread.
        HWND editor = nullptr;
        EnumThreadWindows(
            ThreadOf(conditions),
            [](HWND hwnd, LPARAM found) {
                if (DialogWithControl(IDC_PATTERN_TEXT)(hwnd))
                    *reinterpret_cast<HWND*>(found) = hwnd;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&editor));
        editorShown = editor != nullptr || !IsWindowEnabled(conditions);
        rows = ConditionRows(conditions).size();
        PostMessageW(conditions, WM_CLOSE, 0, 0);  // the close box
    });
    EXPECT_FALSE(editorShown);
    EXPECT_EQ(HIGHLIGHT_CONDITION_LIMIT, rows);
    EXPECT_EQ(HIGHLIGHT_CONDITION_LIMIT, list.Matchable().size());
}

TEST(HighlightDialogsTest, DeleteAsksFirstAndEscapeAfterwardsKeepsTheDelete)
{
    HighlightConditionList list;
    list.Append(Condition(HighlightTarget_Both, "first"));
    list.Append(Condition(HighlightTarget_Both, "second"));
    MessageBoxSeen unselected;
    MessageBoxSeen asked;
    std::vector<std::wstring> afterCancel;
    std::vector<std::wstring> afterOk;
    ModalRun run = RunConditions(list, [&](HWND conditions) {
        unselected = DeleteAnswering(conditions, IDOK);
        SelectRow(conditions, 0);
        asked = DeleteAnswering(conditions, IDCANCEL);
        afterCancel = ConditionRows(conditions);
        DeleteAnswering(conditions, IDOK);
        afterOk = ConditionRows(conditions);
        PressKey(conditions, VK_ESCAPE);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(IDCANCEL, run.result);
    EXPECT_EQ(L"確認", unselected.caption);
    EXPECT_EQ(L"アイテムが選択されていません。", unselected.text);
    EXPECT_EQ(L"削除確認", asked.caption);
    EXPECT_EQ(L"選択している条件を削除しますか？", asked.text);
    EXPECT_EQ(2u, afterCancel.size());
    EXPECT_EQ((std::vector<std::wstring>{L"両方|Ascii|second"}), afterOk);
    EXPECT_EQ((std::vector<uint8_t>{'s', 'e', 'c', 'o', 'n', 'd'}), Pattern(list, 0));
    EXPECT_FALSE(list.Get(1).has_value());
}

}  // namespace
