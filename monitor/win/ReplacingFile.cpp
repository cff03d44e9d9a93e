#include "ReplacingFile.h"

#include <limits>

namespace {

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash + 1);
}

}  // namespace

ReplacingFile::~ReplacingFile()
{
    Discard();
}

bool ReplacingFile::Fail()
{
    if (error_ == ERROR_SUCCESS)
        error_ = GetLastError();
    Discard();
    return false;
}

bool ReplacingFile::Open()
{
    wchar_t name[MAX_PATH];
    if (GetTempFileNameW(FolderOf(target_).c_str(), L"vtl", 0, name) == 0)
        return Fail();
    temporary_ = name;
    file_ = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE || Fail();
}

bool ReplacingFile::Write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size(), std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (file_ == INVALID_HANDLE_VALUE || !WriteFile(file_, bytes.data(), piece, &written, nullptr) || written == 0)
            return Fail();
        bytes.remove_prefix(written);
    }
    return true;
}

bool ReplacingFile::Commit()
{
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    // Windows refuses to replace a read-only file; not every system says so.
    const DWORD attributes = GetFileAttributesW(target_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        error_ = ERROR_ACCESS_DENIED;
        return Fail();
    }
    const bool flushed = FlushFileBuffers(file_) != 0;
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (!flushed || !MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Fail();
    temporary_.clear();
    return true;
}

void ReplacingFile::Discard()
{
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    if (!temporary_.empty()) {
        DeleteFileW(temporary_.c_str());
        temporary_.clear();
    }
}
