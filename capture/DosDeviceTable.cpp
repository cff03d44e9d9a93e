#include "DosDeviceTable.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace {

#ifdef _WIN32
HMODULE LoadKernelLibrary()
{
    return LoadLibraryA("Kernel32.DLL");
}

QueryDosDeviceFunction ResolveQuery(HMODULE library)
{
    if (!library)
        return nullptr;
    // Through a plain function pointer type: FARPROC's signature is a placeholder.
    auto entry = reinterpret_cast<void (*)()>(GetProcAddress(library, "QueryDosDeviceA"));
    return reinterpret_cast<QueryDosDeviceFunction>(entry);
}

void ReleaseKernelLibrary(HMODULE library)
{
    if (library)
        FreeLibrary(library);
}
#else
// The simulation's calls are linked into the process: there is no library
// to load, and the entry is the call itself.
HMODULE LoadKernelLibrary()
{
    return nullptr;
}

QueryDosDeviceFunction ResolveQuery(HMODULE)
{
    return QueryDosDeviceA;
}

void ReleaseKernelLibrary(HMODULE) {}
#endif

// The round trip of "COM%d": the number read from the entry, printed back,
// must give the entry itself. Numbers beyond int are no port number.
bool IsComNumberName(const char* entry)
{
    const char* digits = entry + strlen("COM");
    char* end = nullptr;
    errno = 0;
    long number = strtol(digits, &end, 10);
    if (end == digits || errno == ERANGE || number < INT_MIN || number > INT_MAX)
        return false;
    char printed[32];
    snprintf(printed, sizeof printed, "COM%d", static_cast<int>(number));
    return strcmp(printed, entry) == 0;
}

bool StartsWith(const char* text, const char* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

}  // namespace

DosDeviceTable::DosDeviceTable(DWORD bufferSize)
    : library_(LoadKernelLibrary()), query_(ResolveQuery(library_)), bufferSize_(bufferSize)
{}

DosDeviceTable::DosDeviceTable(DWORD bufferSize, QueryDosDeviceFunction query) : query_(query), bufferSize_(bufferSize)
{}

DosDeviceTable::~DosDeviceTable()
{
    ReleaseKernelLibrary(library_);
}

DWORD DosDeviceTable::ListAll()
{
    listed_ = 0;
    cursor_ = -1;
    if (!query_ || bufferSize_ == 0)
        return 0;
    // Two spare terminators end the list even when the system filled it to the brim.
    if (buffer_.empty())
        buffer_.assign(static_cast<size_t>(bufferSize_) + 2, '\0');
    DWORD stored = query_(nullptr, buffer_.data(), bufferSize_);
    if (stored == 0 || stored > bufferSize_)
        return 0;
    listed_ = stored;
    cursor_ = 0;
    return stored;
}

DWORD DosDeviceTable::NextWithPrefix(const char* prefix, char (&out)[DOS_DEVICE_NAME_SIZE])
{
    if (cursor_ < 0)
        return 0;
    while (static_cast<DWORD>(cursor_) < listed_ && buffer_[static_cast<size_t>(cursor_)] != '\0') {
        const char* entry = buffer_.data() + cursor_;
        size_t length = strnlen(entry, listed_ - static_cast<DWORD>(cursor_));
        cursor_ += static_cast<long>(length) + 1;
        if (StartsWith(entry, prefix)) {
            size_t copied = std::min(length, DOS_DEVICE_NAME_SIZE - 1);
            memcpy(out, entry, copied);
            out[copied] = '\0';
            return static_cast<DWORD>(copied) + 1;
        }
    }
    return 0;
}

DWORD DosDeviceTable::Lookup(const char* dosName, char* out, DWORD size)
{
    if (!query_ || !dosName || dosName[0] == '\0' || !out || size == 0)
        return 0;
    return query_(dosName, out, size);
}

std::vector<std::string> ListCapturePorts(DosDeviceTable& table)
{
    std::vector<std::string> ports;
    if (table.ListAll() == 0)
        return ports;
    char entry[DOS_DEVICE_NAME_SIZE];
    while (table.NextWithPrefix("COM", entry) != 0) {
        if (IsComNumberName(entry))
            ports.push_back(entry);
    }
    return ports;
}

std::vector<std::string> ListOutputPortOffer(const std::vector<std::string>& capturePorts)
{
    constexpr int LAST_OUTPUT_PORT = 255;
    std::vector<std::string> offer;
    for (int number = 1; number <= LAST_OUTPUT_PORT; ++number) {
        char name[16];
        snprintf(name, sizeof name, "COM%d", number);
        if (std::find(capturePorts.begin(), capturePorts.end(), name) == capturePorts.end())
            offer.push_back(name);
    }
    return offer;
}
