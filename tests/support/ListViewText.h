// The text of one cell of a report list view, for window tests.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

inline std::wstring ListViewCell(HWND list, int row, int column)
{
    wchar_t text[128] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 128;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}
