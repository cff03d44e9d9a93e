#include "WideText.h"

#include <windows.h>

namespace {

constexpr UINT JAPANESE_CODE_PAGE = 932;

}  // namespace

std::wstring WideFromUtf8(const std::string& text)
{
    if (text.empty()) {
        return std::wstring();
    }
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Utf8FromWide(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], length, nullptr, nullptr);
    return utf8;
}

std::wstring Cp932ToWide(std::string_view text)
{
    if (text.empty())
        return std::wstring();
    const int length =
        MultiByteToWideChar(JAPANESE_CODE_PAGE, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(JAPANESE_CODE_PAGE, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string WideToCp932(std::wstring_view text)
{
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(JAPANESE_CODE_PAGE, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(JAPANESE_CODE_PAGE, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}
