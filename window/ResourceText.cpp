#include "ResourceText.h"

std::wstring LoadResourceText(UINT id)
{
    // With a zero length LoadStringW hands out a pointer into the resource
    // itself, so texts of any length come back whole.
    const wchar_t* text = nullptr;
    int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT type)
{
    return MessageBoxW(owner, LoadResourceText(textId).c_str(), LoadResourceText(captionId).c_str(), type);
}
