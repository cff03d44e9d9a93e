// The system's table of DOS device names, read through QueryDosDeviceA
// resolved from "Kernel32.DLL" at run time.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr DWORD DOS_DEVICE_LISTING_SIZE = 1000000;
constexpr DWORD DOS_DEVICE_LOOKUP_SIZE = 260;
constexpr size_t DOS_DEVICE_NAME_SIZE = 260;

using QueryDosDeviceFunction = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);

class DosDeviceTable {
public:
    explicit DosDeviceTable(DWORD bufferSize);
    // With a given entry instead of the resolved one; null acts as an
    // unresolvable entry: an empty list and failing lookups.
    DosDeviceTable(DWORD bufferSize, QueryDosDeviceFunction query);
    ~DosDeviceTable();
    DosDeviceTable(const DosDeviceTable&) = delete;
    DosDeviceTable& operator=(const DosDeviceTable&) = delete;

    // Characters stored, 0 on failure.
    DWORD ListAll();
    // Length + 1 of the next entry starting with `prefix` (case-sensitive),
    // copied into `out`; 0 at the end of the list or without a listing.
    DWORD NextWithPrefix(const char* prefix, char (&out)[DOS_DEVICE_NAME_SIZE]);
    // The NT device path of one DOS name; characters stored, 0 when the
    // name is not a DOS device name.
    DWORD Lookup(const char* dosName, char* out, DWORD size);

private:
    HMODULE library_ = nullptr;
    QueryDosDeviceFunction query_ = nullptr;
    std::vector<char> buffer_;
    DWORD bufferSize_;
    DWORD listed_ = 0;
    long cursor_ = -1;
};

// The capture ports: the system's COM entries, in its order, whose number
// printed back with "COM%d" gives the entry exactly (COM1, COM12; not COM01).
std::vector<std::string> ListCapturePorts(DosDeviceTable& table);

// "COM%d" for 1..255, leaving out every name among the capture ports: the
// output port is one the driver provides.
std::vector<std::string> ListOutputPortOffer(const std::vector<std::string>& capturePorts);
