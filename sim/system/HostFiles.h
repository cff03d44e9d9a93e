// Files of the host that simulated programs change by name: profile files and
// the kernel32 calls that copy, move, delete and mark files. The host's write
// permission stands for the read-only attribute, and the simulation enforces
// it itself, since Windows refuses even an administrator who ignores it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace sim {

// Windows separators become the host's; a relative path stays relative to
// the current directory.
std::string HostPathOf(const char* windowsPath);

bool IsReadOnly(const std::string& hostPath);

// The Win32 error of a failed host call's errno.
DWORD Win32ErrorOfErrno(int error);

// Counts the program's file changes and can end them after a number of
// them, as when the process is ended at that moment: from then on every
// change fails and has no effect at all.
class FileChanges {
public:
    uint64_t Made() const;
    void EndAfter(uint64_t count);
    void Allow();
    // Counts one change; false once changes have ended.
    bool Take();

private:
    mutable std::mutex lock_;
    uint64_t made_ = 0;
    std::optional<uint64_t> end_;  // the count at which changes end
};

// Takes the turn of one change on the current machine; when changes have
// ended, sets the last error and returns false.
bool TakeFileChange();

}  // namespace sim
