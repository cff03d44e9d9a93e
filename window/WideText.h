// Texts cross the Win32 boundary as UTF-16; the application's own texts are UTF-8.
#pragma once

#include <string>

std::wstring WideFromUtf8(const std::string& text);
// For texts of the string table that join the application's own, such as log lines.
std::string Utf8FromWide(const std::wstring& text);
