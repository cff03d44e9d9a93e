// Reads a menu into plain values so that tests can compare whole menus.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct MenuEntry {
    std::wstring text;
    UINT id = 0;
    bool separator = false;
    std::vector<MenuEntry> items;  // a pop-up's entries
};

std::vector<MenuEntry> ReadMenu(HMENU menu);

// The main frame's menu 128, item by item, as the user must see it.
struct ExpectedMenuItem {
    const wchar_t* text;  // null for a separator
    UINT id;
};
struct ExpectedPopup {
    const wchar_t* text;
    std::vector<ExpectedMenuItem> items;
};
const std::vector<ExpectedPopup>& MainMenuLayout();

// Records a test failure for every difference from MainMenuLayout().
void ExpectMainMenuLayout(const std::vector<MenuEntry>& menu);
