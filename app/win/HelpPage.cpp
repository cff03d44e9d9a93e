#include "HelpPage.h"

#include "resource.h"

#include <shellapi.h>

namespace {

bool WriteHelpPage(const std::wstring& path)
{
    // RT_HTML, spelled wide.
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_HELP_PAGE), MAKEINTRESOURCEW(23));
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const void* page = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (page == nullptr)
        return false;
    const DWORD size = SizeofResource(nullptr, found);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool whole = WriteFile(file, page, size, &written, nullptr) && written == size;
    return CloseHandle(file) && whole;
}

}  // namespace

std::wstring HelpPagePath()
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        return std::wstring();
    return std::wstring(folder) + L"Vantrel-help.html";
}

// The shell's answer above 32 means the browser was started.
bool OpenHelpPage(HWND owner)
{
    const std::wstring path = HelpPagePath();
    if (path.empty() || !WriteHelpPage(path))
        return false;
    const auto opened =
        reinterpret_cast<INT_PTR>(ShellExecuteW(owner, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return opened > 32;
}
