// The help page: an HTML page carried in the program's resources, opened
// with the system's browser.
#pragma once

#include <windows.h>

#include <string>

// Where the page is written: the user's temporary folder, which is writable
// wherever the program itself was installed.
std::wstring HelpPagePath();

// Writes the page and asks the shell to open it; false when either failed.
bool OpenHelpPage(HWND owner);
