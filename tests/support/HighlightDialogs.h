// Plays the user of the highlight conditions dialog and its editor, through
// their controls, from a thread of the test (see DialogUser.h).
#pragma once

#include "ColourChooserIds.h"
#include "DialogUser.h"
#include "ListViewText.h"
#include "resource.h"

#include <windows.h>

#include <commctrl.h>

#include <optional>
#include <string>
#include <vector>

inline DWORD ThreadOf(HWND window)
{
    return GetWindowThreadProcessId(window, nullptr);
}

// Returns once the dialog's thread is back in its message loop.
inline void Settle(HWND dialog)
{
    SendMessageW(dialog, WM_NULL, 0, 0);
}

// Presses "追加"; the editor, or null when none shows.
inline HWND OpenEditor(HWND conditions)
{
    PostMessageW(GetDlgItem(conditions, IDC_CONDITION_ADD), BM_CLICK, 0, 0);
    return WaitForThreadWindow(ThreadOf(conditions), DialogWithControl(IDC_PATTERN_TEXT));
}

// The editor; when none shows, the conditions dialog is closed, so that a
// failing test does not leave its modal loop running.
inline HWND OpenEditorOrClose(HWND conditions)
{
    HWND editor = OpenEditor(conditions);
    if (editor == nullptr)
        PostMessageW(conditions, WM_COMMAND, IDCANCEL, 0);
    return editor;
}

// Chooses the colour in the chooser that "選択" opens, as the user types it.
inline void ChooseEditorColour(HWND editor, COLORREF colour)
{
    PostMessageW(GetDlgItem(editor, IDC_PATTERN_COLOUR), BM_CLICK, 0, 0);
    HWND chooser = WaitForThreadWindow(ThreadOf(editor), MessageBoxOwnedBy(editor));
    if (chooser == nullptr)
        return;
    SetDlgItemInt(chooser, kChooserRed, GetRValue(colour), FALSE);
    SetDlgItemInt(chooser, kChooserGreen, GetGValue(colour), FALSE);
    SetDlgItemInt(chooser, kChooserBlue, GetBValue(colour), FALSE);
    PostMessageW(chooser, WM_COMMAND, IDOK, 0);
    WaitUntilGone(chooser);
    Settle(editor);
}

struct NewCondition {
    int targetRow = 0;  // 0 "両方", 1 "送信データのみ", 2 "受信データのみ"
    bool ascii = false;
    std::wstring text;
    std::optional<COLORREF> colour;
};

inline void FillEditor(HWND editor, const NewCondition& condition)
{
    SendDlgItemMessageW(editor, IDC_PATTERN_TARGET, CB_SETCURSEL, static_cast<WPARAM>(condition.targetRow), 0);
    SendDlgItemMessageW(editor, condition.ascii ? IDC_PATTERN_ASCII : IDC_PATTERN_BINARY, BM_CLICK, 0, 0);
    SetDlgItemTextW(editor, IDC_PATTERN_TEXT, condition.text.c_str());
    if (condition.colour)
        ChooseEditorColour(editor, *condition.colour);
}

// Adds a condition through the editor and its OK; false when the editor
// did not show or stayed open.
inline bool AddCondition(HWND conditions, const NewCondition& condition)
{
    HWND editor = OpenEditor(conditions);
    if (editor == nullptr)
        return false;
    FillEditor(editor, condition);
    PostMessageW(editor, WM_COMMAND, IDOK, 0);
    const bool closed = WaitUntilGone(editor);
    if (!closed) {
        PostMessageW(editor, WM_COMMAND, IDCANCEL, 0);
        WaitUntilGone(editor);
    }
    Settle(conditions);
    return closed;
}

// Every row's target, kind and data texts.
inline std::vector<std::wstring> ConditionRows(HWND conditions)
{
    HWND list = GetDlgItem(conditions, IDC_CONDITION_LIST);
    std::vector<std::wstring> rows;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row)
        rows.push_back(ListViewCell(list, row, 1) + L"|" + ListViewCell(list, row, 2) + L"|" +
                       ListViewCell(list, row, 3));
    return rows;
}
