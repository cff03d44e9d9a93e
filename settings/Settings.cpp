#include "Settings.h"

#include <windows.h>

#include <stdio.h>

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

bool WriteString(const char* section, const char* key, const char* text)
{
    return WritePrivateProfileStringA(section, key, text, SETTINGS_FILE) != FALSE;
}

bool WriteInt(const char* section, const char* key, int32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    return WriteString(section, key, text);
}

bool DeleteSection(const char* section)
{
    return WritePrivateProfileStringA(section, nullptr, nullptr, SETTINGS_FILE) != FALSE;
}

std::string NumberedName(const char* prefix, int number)
{
    char name[64];
    snprintf(name, sizeof name, "%s%d", prefix, number);
    return name;
}
