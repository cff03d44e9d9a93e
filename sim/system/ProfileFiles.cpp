// The kernel32 profile calls: every call reads the file from disk and every
// write rewrites it, so nothing is cached between calls (as the settings code
// expects when several components write their keys at their own moments).
#include <windows.h>

#include "HostFiles.h"
#include "ProfileFile.h"
#include "SystemState.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sim {
namespace {

// A bare file name lies in the Windows folder; any path with a separator
// is taken as it is (relative ones against the current directory).
std::string ProfileHostPath(LPCSTR fileName)
{
    std::string name = fileName ? fileName : "win.ini";
    if (name.find_first_of("\\/") == std::string::npos)
        return CurrentSystem().info.WindowsDirectory() + "/" + name;
    return HostPathOf(name.c_str());
}

std::string WithoutTrailingBlanks(LPCSTR text)
{
    std::string result = text ? text : "";
    result.erase(result.find_last_not_of(' ') + 1);
    return result;
}

// A value in matching single or double quotes is read without them.
std::string WithoutQuotes(const std::string& value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

DWORD CopyString(const std::string& text, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0)
        return 0;
    DWORD length = static_cast<DWORD>(text.size() < size - 1 ? text.size() : size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = 0;
    return length;
}

// Names one after another, each with its terminator, and one more terminator.
// When they do not all fit, the last one is cut so that the buffer still ends
// with two terminators, and the result is size - 2.
DWORD CopyNameList(const std::vector<std::string>& names, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0)
        return 0;
    if (size == 1) {
        buffer[0] = 0;
        return 0;
    }
    DWORD position = 0;
    DWORD room = size - 1;
    for (const std::string& name : names) {
        DWORD needed = static_cast<DWORD>(name.size() + 1);
        if (needed > room) {
            if (room > 0) {
                std::memcpy(buffer + position, name.data(), room - 1);
                buffer[position + room - 1] = 0;
            }
            buffer[size - 1] = 0;
            return size - 2;
        }
        std::memcpy(buffer + position, name.c_str(), needed);
        position += needed;
        room -= needed;
    }
    buffer[position] = 0;
    return position;
}

// One change of a profile file: read, edit, write back. A missing file is
// made only by an edit that adds; a read-only one is never written.
BOOL ChangeProfile(LPCSTR fileName, bool adds, const std::function<void(ProfileFile&)>& edit)
{
    std::lock_guard<std::mutex> guard(CurrentSystem().fileLock);
    if (!TakeFileChange())
        return FALSE;
    std::string path = ProfileHostPath(fileName);
    ProfileFile file = ProfileFile::Load(path);
    if (!file.Exists() && !adds)
        return TRUE;  // nothing to delete, no file made
    if (IsReadOnly(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    edit(file);
    if (int error = file.Save(path)) {
        SetLastError(Win32ErrorOfErrno(error));
        return FALSE;
    }
    return TRUE;
}

// Strings one after another, each with its terminator, and one more terminator.
std::vector<std::string> StringList(LPCSTR strings)
{
    std::vector<std::string> list;
    for (LPCSTR string = strings; *string; string += std::strlen(string) + 1)
        list.push_back(string);
    return list;
}

}  // namespace
}  // namespace sim

using namespace sim;

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                                      DWORD nSize, LPCSTR lpFileName)
{
    std::lock_guard<std::mutex> guard(CurrentSystem().fileLock);
    ProfileFile file = ProfileFile::Load(ProfileHostPath(lpFileName));
    if (!lpAppName)
        return CopyNameList(file.SectionNames(), lpReturnedString, nSize);
    if (!lpKeyName) {
        std::vector<std::string> keys = file.KeyNames(lpAppName);
        if (!keys.empty())
            return CopyNameList(keys, lpReturnedString, nSize);
    } else {
        std::string value;
        if (file.FindValue(lpAppName, lpKeyName, value))
            return CopyString(WithoutQuotes(value), lpReturnedString, nSize);
    }
    return CopyString(WithoutTrailingBlanks(lpDefault), lpReturnedString, nSize);
}

DWORD WINAPI GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    std::lock_guard<std::mutex> guard(CurrentSystem().fileLock);
    ProfileFile file = ProfileFile::Load(ProfileHostPath(lpFileName));
    return CopyNameList(file.SectionEntries(lpAppName ? lpAppName : ""), lpReturnedString, nSize);
}

// Windows reads the text and converts its leading number as RtlCharToInteger
// does with base 0: blanks, a sign, then "0x", "0o" or "0b" or decimal digits
// up to the first character that is not one; an empty value gives the default.
UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName)
{
    char text[30];
    if (GetPrivateProfileStringA(lpAppName, lpKeyName, "", text, sizeof text, lpFileName) == 0)
        return static_cast<UINT>(nDefault);
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        base = 16;
    if (p[0] == '0' && (p[1] == 'o' || p[1] == 'O'))
        base = 8;
    if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B'))
        base = 2;
    if (base != 10)
        p += 2;
    UINT value = 0;
    for (;; ++p) {
        unsigned digit;
        if (*p >= '0' && *p <= '9')
            digit = static_cast<unsigned>(*p - '0');
        else if (*p >= 'a' && *p <= 'f')
            digit = static_cast<unsigned>(*p - 'a' + 10);
        else if (*p >= 'A' && *p <= 'F')
            digit = static_cast<unsigned>(*p - 'A' + 10);
        else
            break;
        if (digit >= base)
            break;
        value = value * base + digit;  // wraps like the 32-bit original
    }
    return negative ? 0u - value : value;
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName)
{
    if (!lpAppName) {
        // All three null only asks to flush a cache, which does not exist here.
        if (!lpKeyName && !lpString)
            return TRUE;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return ChangeProfile(lpFileName, lpKeyName && lpString, [=](ProfileFile& file) {
        if (!lpKeyName)
            file.DeleteSection(lpAppName);
        else if (!lpString)
            file.DeleteKey(lpAppName, lpKeyName);
        else
            file.SetValue(lpAppName, lpKeyName, lpString);
    });
}

// A null list deletes the section, as a null key does above.
BOOL WINAPI WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName)
{
    if (!lpAppName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return ChangeProfile(lpFileName, lpString != nullptr, [=](ProfileFile& file) {
        if (lpString)
            file.ReplaceSection(lpAppName, StringList(lpString));
        else
            file.DeleteSection(lpAppName);
    });
}
