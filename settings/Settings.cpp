#include "Settings.h"

#include <windows.h>

#include <stdio.h>

#include <algorithm>

#include <vector>

uint32_t ReadInt(const char* section, const char* key, uint32_t defaultValue)
{
    return GetPrivateProfileIntA(section, key, static_cast<INT>(defaultValue), SETTINGS_FILE);
}

std::string ReadString(const char* section, const char* key, const char* defaultValue, uint32_t capacity)
{
    if (capacity == 0)
        return std::string();
    std::vector<char> buffer(capacity, '\0');
    DWORD length = GetPrivateProfileStringA(section, key, defaultValue, buffer.data(), capacity, SETTINGS_FILE);
    return std::string(buffer.data(), length < capacity ? length : capacity - 1);
}

namespace {

// The lists of a sane file are small; this only bounds a damaged one.
constexpr DWORD STRING_LIST_MAX_SIZE = 64u * 1024u * 1024u;

// A profile call that fills the buffer with strings, each with its
// terminator, and cuts a list that does not fit to size - 2 characters.
using StringListCall = std::function<DWORD(char* buffer, DWORD size)>;

std::vector<std::string> ReadStringList(const StringListCall& call)
{
    std::vector<char> buffer(4096);
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size());
        DWORD length = call(buffer.data(), size);
        if (length + 2 < size || size >= STRING_LIST_MAX_SIZE) {
            std::vector<std::string> strings;
            for (size_t start = 0; start < std::min<size_t>(length, size - 2); start += strings.back().size() + 1)
                strings.emplace_back(buffer.data() + start);
            return strings;
        }
        buffer.resize(static_cast<size_t>(size) * 2);
    }
}

}  // namespace

std::vector<std::string> ReadSectionNames()
{
    return ReadStringList([](char* buffer, DWORD size) {
        return GetPrivateProfileStringA(nullptr, nullptr, "", buffer, size, SETTINGS_FILE);
    });
}

std::vector<std::string> ReadSection(const char* section)
{
    return ReadStringList([section](char* buffer, DWORD size) {
        return GetPrivateProfileSectionA(section, buffer, size, SETTINGS_FILE);
    });
}

bool WriteString(const char* section, const char* key, const char* text, const char* file)
{
    return WritePrivateProfileStringA(section, key, text, file) != FALSE;
}

bool WriteInt(const char* section, const char* key, int32_t value, const char* file)
{
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    return WriteString(section, key, text, file);
}

bool WriteSection(const char* section, const std::vector<std::string>& entries, const char* file)
{
    std::string strings;
    for (const std::string& entry : entries)
        strings.append(entry).push_back('\0');
    strings.push_back('\0');
    return WritePrivateProfileSectionA(section, strings.c_str(), file) != FALSE;
}

bool DeleteSection(const char* section, const char* file)
{
    return WritePrivateProfileStringA(section, nullptr, nullptr, file) != FALSE;
}

namespace {

// Windows refuses to replace a read-only file; asking first spares the work
// that would be thrown away, and holds under Wine 8 too, which replaces it.
bool SettingsFileIsReadOnly()
{
    DWORD attributes = GetFileAttributesA(SETTINGS_FILE);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool StartDraft()
{
    if (SettingsFileIsReadOnly())
        return false;
    if (CopyFileA(SETTINGS_FILE, SETTINGS_DRAFT_FILE, FALSE))
        return true;
    if (GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    // No settings file: an empty draft, not one that an ended save left.
    return DeleteFileA(SETTINGS_DRAFT_FILE) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool ChangeSettingsAsOne(const std::function<bool(const char* file)>& write)
{
    bool changed = StartDraft() && write(SETTINGS_DRAFT_FILE) &&
                   MoveFileExA(SETTINGS_DRAFT_FILE, SETTINGS_FILE, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!changed)
        DeleteFileA(SETTINGS_DRAFT_FILE);
    return changed;
}

std::string NumberedName(const char* prefix, int number)
{
    char name[64];
    snprintf(name, sizeof name, "%s%d", prefix, number);
    return name;
}
