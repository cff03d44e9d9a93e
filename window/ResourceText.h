// Texts of the executable's string table, for window code.
#pragma once

#include <windows.h>

#include <string>

std::wstring LoadResourceText(UINT id);

// A message box whose text and caption are string-table entries; returns
// the button the user pressed.
int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT type);
