// The advapi32 registry calls over the machine's registry. ANSI names and
// string data are converted to and from UTF-16, as Windows does.
#include <windows.h>

#include "CodePage.h"
#include "Registry.h"
#include "SystemState.h"

#include <cstring>

namespace sim {
namespace {

LONG ToWin32Error(RegistryResult result)
{
    switch (result) {
    case RegistryResult::Ok: return ERROR_SUCCESS;
    case RegistryResult::NotFound: return ERROR_FILE_NOT_FOUND;
    case RegistryResult::KeyDeleted: return ERROR_KEY_DELETED;
    case RegistryResult::HasSubkeys: return ERROR_ACCESS_DENIED;
    case RegistryResult::AccessDenied: return ERROR_ACCESS_DENIED;
    case RegistryResult::InvalidHandle: return ERROR_INVALID_HANDLE;
    }
    return ERROR_INVALID_FUNCTION;
}

const char16_t* PredefinedKeyPath(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE)
        return u"\\Registry\\Machine";
    if (key == HKEY_CURRENT_USER)
        return u"\\Registry\\User\\.Default";
    if (key == HKEY_USERS)
        return u"\\Registry\\User";
    if (key == HKEY_CLASSES_ROOT)
        return u"\\Registry\\Machine\\SOFTWARE\\Classes";
    return nullptr;
}

// Predefined keys carry every right; other handles what they were opened with.
LONG ResolveKey(HKEY handle, uint32_t requiredAccess, RegistryKeyPtr& key)
{
    Registry& registry = CurrentRegistry();
    if (const char16_t* path = PredefinedKeyPath(handle)) {
        key = registry.KeyAt(path);
        return key ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    return ToWin32Error(registry.LookupHandle(reinterpret_cast<uintptr_t>(handle), requiredAccess, key));
}

HKEY NewHandle(const RegistryKeyPtr& key, REGSAM access)
{
    return reinterpret_cast<HKEY>(CurrentRegistry().AddHandle(key, access));
}

std::u16string WideName(LPCSTR name)
{
    return name ? AnsiToWide(name, std::strlen(name)) : std::u16string();
}

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The value's data as the ANSI calls see it.
std::vector<uint8_t> AnsiData(const RegistryValue& value)
{
    if (!IsStringType(value.type))
        return value.data;
    std::string text = WideToAnsi(reinterpret_cast<const char16_t*>(value.data.data()), value.data.size() / 2);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Copies data under the RegQueryValueExA rules. A string stored without its
// terminator gets one in the caller's buffer when there is room, as NT does,
// without counting it.
LONG CopyValueData(const RegistryValue& value, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> bytes = AnsiData(value);
    DWORD length = static_cast<DWORD>(bytes.size());
    if (type)
        *type = value.type;
    if (data) {
        if (*size < length) {
            *size = length;
            return ERROR_MORE_DATA;
        }
        if (length)
            std::memcpy(data, bytes.data(), length);
        if (IsStringType(value.type) && length < *size && (length == 0 || bytes.back() != 0))
            data[length] = 0;
    }
    if (size)
        *size = length;
    return ERROR_SUCCESS;
}

// Copies a name with its terminator; *capacity counts characters with it.
LONG CopyName(const std::u16string& name, LPSTR buffer, LPDWORD capacity)
{
    if (!buffer || !capacity)
        return ERROR_INVALID_PARAMETER;
    std::string text = WideToAnsi(name);
    if (text.size() >= *capacity)
        return ERROR_MORE_DATA;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *capacity = static_cast<DWORD>(text.size());
    return ERROR_SUCCESS;
}

LONG CopyEmptyClass(LPSTR classBuffer, LPDWORD classCapacity)
{
    if (!classBuffer || !classCapacity)
        return ERROR_SUCCESS;
    if (*classCapacity < 1)
        return ERROR_MORE_DATA;
    classBuffer[0] = 0;
    *classCapacity = 0;
    return ERROR_SUCCESS;
}

void ClearFileTime(PFILETIME time)
{
    if (time)
        *time = FILETIME{0, 0};
}

}  // namespace
}  // namespace sim

using namespace sim;

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    RegistryKeyPtr base;
    if (LONG error = ResolveKey(hKey, 0, base))
        return error;
    RegistryKeyPtr key;
    if (LONG error = ToWin32Error(CurrentRegistry().Open(base, WideName(lpSubKey), key)))
        return error;
    *phkResult = NewHandle(key, samDesired);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    // Documented: without a subkey name the same handle comes back.
    if (!lpSubKey || !*lpSubKey) {
        RegistryKeyPtr key;
        if (LONG error = ResolveKey(hKey, 0, key))
            return error;
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    return RegOpenKeyExA(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (!phkResult || !lpSubKey)
        return ERROR_INVALID_PARAMETER;
    if (lpSubKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    RegistryKeyPtr base;
    if (LONG error = ResolveKey(hKey, 0, base))
        return error;
    Registry& registry = CurrentRegistry();
    std::u16string path = WideName(lpSubKey);
    RegistryKeyPtr key;
    RegistryResult opened = registry.Open(base, path, key);
    bool created = false;
    if (opened == RegistryResult::NotFound) {
        RegistryKeyPtr checked;
        if (LONG error = ResolveKey(hKey, KEY_CREATE_SUB_KEY, checked))
            return error;
        opened = registry.Create(base, path, true, key, created);
    }
    if (LONG error = ToWin32Error(opened))
        return error;
    *phkResult = NewHandle(key, samDesired);
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    RegistryKeyPtr key;
    if (LONG error = ResolveKey(hKey, KEY_SET_VALUE, key))
        return error;
    // NT counts a forgotten terminator when the byte after the given length is
    // one (it reads that byte, as here); otherwise the string stays unterminated.
    if (IsStringType(dwType) && cbData && lpData[cbData - 1] && !lpData[cbData])
        ++cbData;
    std::vector<uint8_t> stored(lpData, lpData + cbData);
    if (IsStringType(dwType)) {
        std::u16string wide = AnsiToWide(reinterpret_cast<const char*>(lpData), cbData);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(wide.data());
        stored.assign(bytes, bytes + wide.size() * 2);
    }
    return ToWin32Error(CurrentRegistry().SetValue(key, WideName(lpValueName), dwType, stored.data(), stored.size()));
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData)
{
    if (lpReserved)
        return ERROR_INVALID_PARAMETER;
    RegistryKeyPtr key;
    if (LONG error = ResolveKey(hKey, KEY_QUERY_VALUE, key))
        return error;
    RegistryValue value;
    if (LONG error = ToWin32Error(CurrentRegistry().QueryValue(key, WideName(lpValueName), value)))
        return error;
    return CopyValueData(value, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR lpClass,
                             LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    RegistryKeyPtr key;
    if (LONG error = ResolveKey(hKey, KEY_ENUMERATE_SUB_KEYS, key))
        return error;
    std::u16string name;
    RegistryResult result = CurrentRegistry().EnumerateKey(key, dwIndex, name);
    if (result == RegistryResult::NotFound)
        return ERROR_NO_MORE_ITEMS;
    if (LONG error = ToWin32Error(result))
        return error;
    if (LONG error = CopyName(name, lpName, lpcchName))
        return error;
    ClearFileTime(lpftLastWriteTime);
    return CopyEmptyClass(lpClass, lpcchClass);
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpReserved)
        return ERROR_INVALID_PARAMETER;
    RegistryKeyPtr key;
    if (LONG error = ResolveKey(hKey, KEY_QUERY_VALUE, key))
        return error;
    RegistryValue value;
    RegistryResult result = CurrentRegistry().EnumerateValue(key, dwIndex, value);
    if (result == RegistryResult::NotFound)
        return ERROR_NO_MORE_ITEMS;
    if (LONG error = ToWin32Error(result))
        return error;
    if (LONG error = CopyName(value.name, lpValueName, lpcchValueName))
        return error;
    return CopyValueData(value, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                PFILETIME lpftLastWriteTime)
{
    if (lpReserved)
        return ERROR_INVALID_PARAMETER;
    RegistryKeyPtr key;
    if (LONG error = ResolveKey(hKey, KEY_QUERY_VALUE, key))
        return error;
    RegistryKeyInfo info;
    if (LONG error = ToWin32Error(CurrentRegistry().QueryInfo(key, info)))
        return error;
    // Name lengths count UTF-16 characters without terminator, data lengths stored bytes.
    if (lpcSubKeys)
        *lpcSubKeys = info.subkeys;
    if (lpcbMaxSubKeyLen)
        *lpcbMaxSubKeyLen = info.maxSubkeyNameLength;
    if (lpcbMaxClassLen)
        *lpcbMaxClassLen = 0;
    if (lpcValues)
        *lpcValues = info.values;
    if (lpcbMaxValueNameLen)
        *lpcbMaxValueNameLen = info.maxValueNameLength;
    if (lpcbMaxValueLen)
        *lpcbMaxValueLen = info.maxValueDataLength;
    if (lpcbSecurityDescriptor)
        *lpcbSecurityDescriptor = 0;
    ClearFileTime(lpftLastWriteTime);
    return CopyEmptyClass(lpClass, lpcchClass);
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    RegistryKeyPtr base;
    if (LONG error = ResolveKey(hKey, 0, base))
        return error;
    RegistryKeyPtr key;
    Registry& registry = CurrentRegistry();
    if (LONG error = ToWin32Error(registry.Open(base, WideName(lpSubKey), key)))
        return error;
    return ToWin32Error(registry.DeleteKey(key));
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    RegistryKeyPtr key;
    if (LONG error = ResolveKey(hKey, KEY_SET_VALUE, key))
        return error;
    return ToWin32Error(CurrentRegistry().DeleteValue(key, WideName(lpValueName)));
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (PredefinedKeyPath(hKey))
        return ERROR_SUCCESS;
    return CurrentRegistry().CloseHandle(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
