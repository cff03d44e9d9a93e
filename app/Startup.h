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
    DriverImage a;      // Windows NT 4.0
    DriverImage b;      // every other system; right after A
    DriverImage wow64;  // 64-bit Windows under a 32-bit program; after B (empty in a 64-bit program)
};

// kernel32's WOW64 calls, looked up at run time: Windows before XP lacks
// them, and each is null where the system has none.
struct Wow64Calls {
    BOOL(WINAPI* isWow64Process)(HANDLE process, PBOOL wow64);
    BOOL(WINAPI* disableRedirection)(PVOID* state);
    BOOL(WINAPI* revertRedirection)(PVOID state);
};
Wow64Calls FindWow64Calls();
// A 32-bit program on 64-bit Windows.
bool RunsUnderWow64(const Wow64Calls& calls);

// Why start-up could not bring the driver file up to date.
enum class DriverFileProblem {
    None,
    NotWritten,           // no system folder, or the file cannot be written
    RedirectionStuck,     // 64-bit Windows, and the real driver folder is out of reach
};
// The activity-log line for a problem; empty for None.
std::string DriverFileProblemLine(DriverFileProblem problem);

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
const DriverImage& ChooseDriverImage(const DriverImages& images, bool wow64 = false);

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
// match); a matching file is untouched. Under WOW64 the file lies in the real
// system folder, reached with the redirection turned off for this thread;
// where it cannot be turned off nothing is read or written.
constexpr int DRIVER_FILE_REWRITE_LIMIT = 1;
DriverFileProblem BringDriverFileUpToDate(const DriverImages& images, const Wow64Calls& calls);
// True when the file matches at the end.
bool UpdateDriverFile(const DriverImages& images);

// The steps before any window: false when another instance runs (the
// process then ends silently). The driver file is updated whatever happens
// to it; a failure there only means that capture start will fail later.
bool PrepareStartup(const DriverImages& images, HANDLE* mutex, DriverFileProblem* problem = nullptr);
