// CopyFileA, MoveFileExA, DeleteFileA and the file attributes on host files.
#include <windows.h>

#include "../user/User.h"
#include "HostFiles.h"
#include "SystemState.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace sim {
namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool Stat(const std::string& hostPath, struct stat& info)
{
    return stat(hostPath.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& hostPath)
{
    struct stat info;
    return Stat(hostPath, info) && S_ISDIR(info.st_mode);
}

// Windows tells a missing folder from a missing file.
DWORD MissingError(const std::string& hostPath)
{
    std::filesystem::path folder = std::filesystem::path(hostPath).parent_path();
    return folder.empty() || IsDirectory(folder.string()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// A folder or a read-only file cannot be overwritten, replaced or deleted.
bool IsProtected(const std::string& hostPath)
{
    return IsDirectory(hostPath) || IsReadOnly(hostPath);
}

// The error for an existing target, or ERROR_SUCCESS when it may be replaced.
DWORD TargetError(const std::string& hostPath, bool mayReplace, DWORD existsError)
{
    struct stat info;
    if (!Stat(hostPath, info))
        return ERROR_SUCCESS;
    if (!mayReplace)
        return existsError;
    return IsProtected(hostPath) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

// Copies the bytes and the permissions, and with them the read-only attribute.
DWORD CopyHostFile(const std::string& source, const std::string& target)
{
    std::ifstream in(source, std::ios::binary);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!in || !out)
        return ERROR_ACCESS_DENIED;
    out << in.rdbuf();
    out.close();
    if (!out)
        return ERROR_WRITE_FAULT;
    struct stat info;
    if (!Stat(source, info) || chmod(target.c_str(), info.st_mode & 07777) != 0)
        return Win32ErrorOfErrno(errno);
    return ERROR_SUCCESS;
}

BOOL SucceedOrFail(DWORD error)
{
    return error == ERROR_SUCCESS ? TRUE : FailWithError(error);
}

}  // namespace

std::string HostPathOf(const char* windowsPath)
{
    std::string path = windowsPath;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

bool IsReadOnly(const std::string& hostPath)
{
    struct stat info;
    return Stat(hostPath, info) && !S_ISDIR(info.st_mode) && (info.st_mode & kWriteBits) == 0;
}

DWORD Win32ErrorOfErrno(int error)
{
    if (error == ENOENT || error == ENOTDIR)
        return ERROR_PATH_NOT_FOUND;
    if (error == EACCES || error == EPERM || error == EISDIR)
        return ERROR_ACCESS_DENIED;
    return ERROR_WRITE_FAULT;
}

uint64_t FileChanges::Made() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return made_;
}

void FileChanges::EndAfter(uint64_t count)
{
    std::lock_guard<std::mutex> guard(lock_);
    end_ = made_ + count;
}

void FileChanges::Allow()
{
    std::lock_guard<std::mutex> guard(lock_);
    end_.reset();
}

bool FileChanges::Take()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (end_ && made_ >= *end_)
        return false;
    ++made_;
    return true;
}

bool TakeFileChange()
{
    return CurrentSystem().fileChanges.Take() || FailWithError(ERROR_PROCESS_ABORTED);
}

}  // namespace sim

using namespace sim;

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    if (!lpExistingFileName || !lpNewFileName)
        return FailWithError(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> guard(CurrentSystem().fileLock);
    if (!TakeFileChange())
        return FALSE;
    std::string source = HostPathOf(lpExistingFileName);
    std::string target = HostPathOf(lpNewFileName);
    struct stat info;
    if (!Stat(source, info))
        return FailWithError(MissingError(source));
    if (S_ISDIR(info.st_mode))
        return FailWithError(ERROR_ACCESS_DENIED);
    if (DWORD error = TargetError(target, !bFailIfExists, ERROR_FILE_EXISTS))
        return FailWithError(error);
    return SucceedOrFail(CopyHostFile(source, target));
}

// Only the flags for a move on one volume; the others are refused.
BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    if (!lpExistingFileName || !lpNewFileName || (dwFlags & ~DWORD{MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH}))
        return FailWithError(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> guard(CurrentSystem().fileLock);
    if (!TakeFileChange())
        return FALSE;
    std::string source = HostPathOf(lpExistingFileName);
    std::string target = HostPathOf(lpNewFileName);
    struct stat info;
    if (!Stat(source, info))
        return FailWithError(MissingError(source));
    if (DWORD error = TargetError(target, (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0, ERROR_ALREADY_EXISTS))
        return FailWithError(error);
    // One rename: the target holds the old file or the new one, never neither.
    return std::rename(source.c_str(), target.c_str()) == 0 || FailWithError(Win32ErrorOfErrno(errno));
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    if (!lpFileName)
        return FailWithError(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> guard(CurrentSystem().fileLock);
    if (!TakeFileChange())
        return FALSE;
    std::string path = HostPathOf(lpFileName);
    struct stat info;
    if (!Stat(path, info))
        return FailWithError(MissingError(path));
    if (IsProtected(path))
        return FailWithError(ERROR_ACCESS_DENIED);
    return std::remove(path.c_str()) == 0 || FailWithError(Win32ErrorOfErrno(errno));
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName)
{
    if (!lpFileName) {
        FailWithError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string path = HostPathOf(lpFileName);
    struct stat info;
    if (!Stat(path, info)) {
        FailWithError(MissingError(path));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(info.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return FILE_ATTRIBUTE_ARCHIVE | (IsReadOnly(path) ? FILE_ATTRIBUTE_READONLY : 0);
}

// Only the read-only attribute is kept, in the host's write permission.
BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes)
{
    if (!lpFileName)
        return FailWithError(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> guard(CurrentSystem().fileLock);
    if (!TakeFileChange())
        return FALSE;
    std::string path = HostPathOf(lpFileName);
    struct stat info;
    if (!Stat(path, info))
        return FailWithError(MissingError(path));
    mode_t mode = info.st_mode & 07777;
    mode = (dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? mode & ~kWriteBits : mode | S_IWUSR;
    return chmod(path.c_str(), mode) == 0 || FailWithError(Win32ErrorOfErrno(errno));
}
