// Texts cross the Win32 boundary as UTF-16; the application's own texts are UTF-8.
#pragma once

#include <string>
#include <string_view>

std::wstring WideFromUtf8(const std::string& text);
// For texts of the string table that join the application's own, such as log lines.
std::string Utf8FromWide(const std::wstring& text);

// Bytes of the Japanese code page (cp932) as UTF-16, whatever the system's
// code page: captured bytes and highlight patterns are read by its rules.
std::wstring Cp932ToWide(std::string_view text);
// Characters without a cp932 form become "?".
std::string WideToCp932(std::wstring_view text);
