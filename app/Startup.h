// Start-up steps that need no window: the single-instance mutex and the
// driver file in the system's Drivers folder, brought up to date from one of
// the two driver images appended to the application's own file.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>

constexpr const char* SINGLE_INSTANCE_MUTEX_NAME = "ZerrowSoft_Vantrel";
constexpr const char* DRIVER_FILE_SUFFIX = "\\Drivers\\ZrVtrlFlt.sys";
constexpr UINT SYSTEM_DIRECTORY_BUFFER_SIZE = 276;
// An ExtractDriverImage length meaning "to the end of the application's file".
constexpr uint32_t DRIVER_IMAGE_TO_END = 0xFFFFFFFF;
// Taken as the checksum of a driver file that cannot be read: forces a rewrite.
constexpr uint16_t UNREADABLE_FILE_CHECKSUM = 0xFFFF;

// Where an image lies in the application's file and its word checksum.
struct DriverImage {
    uint32_t offset;
    uint32_t length;
    uint16_t checksum;
};

struct DriverImages {
    DriverImage a;  // Windows NT 4.0
    DriverImage b;  // every other system; right after A
};

// XOR of big-endian 16-bit words; an odd last byte is a high byte. Bytes may
// come in pieces of any length.
class WordChecksum {
public:
    void Add(const uint8_t* bytes, size_t length);
    uint16_t Value() const;

private:
    uint16_t value_ = 0;
    bool pendingHigh_ = false;
    uint8_t high_ = 0;
};

// The mutex, owned by this process, or null when another instance holds it
// or it cannot be made.
HANDLE CreateSingleInstanceMutex();

bool ComputeFileChecksum(const char* path, uint16_t* checksum);

// Platform NT, major version 4; a failed query counts as another system.
bool IsWindowsNT4();
const DriverImage& ChooseDriverImage(const DriverImages& images);

// "<system directory>\Drivers\ZrVtrlFlt.sys" with one backslash between.
std::string DriverFilePathIn(const char* systemDirectory);
// Empty when the system directory is unknown.
std::string DriverFilePath();

// Copies the application's file from `offset`, `length` bytes or to its end,
// into the driver file (created or truncated). False, with nothing written,
// when a file cannot be opened; false also when the copy failed half-way.
bool ExtractDriverImage(uint32_t offset, uint32_t length);

// Rewrites the driver file until its checksum is the chosen image's, at most
// DRIVER_FILE_REWRITE_LIMIT times (a folder we may not write to would never
// match). True when the file matches at the end; a matching file is untouched.
constexpr int DRIVER_FILE_REWRITE_LIMIT = 1;
bool UpdateDriverFile(const DriverImages& images);

// The steps before any window: false when another instance runs (the
// process then ends silently). The driver file is updated whatever happens
// to it; a failure there only means that capture start will fail later.
bool PrepareStartup(const DriverImages& images, HANDLE* mutex);
