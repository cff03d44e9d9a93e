// Internal helpers of the simulated Win32 user side.
#pragma once

#include <windows.h>

#include "../kernel/Kernel.h"
#include "Handles.h"

namespace sim {

// The Win32 error that Windows reports for an NT status.
DWORD DosErrorOf(NTSTATUS status);
// Sets the last error from `status` and returns FALSE.
BOOL FailWith(NTSTATUS status);
BOOL FailWithError(DWORD error);

class FileHandle : public HandleObject {
public:
    explicit FileHandle(std::shared_ptr<FileRecord> file) : file_(std::move(file)) {}
    DISPATCHER_HEADER* WaitHeader() override { return &file_->completed.Header; }
    void OnClose() override;
    const std::shared_ptr<FileRecord>& file() const { return file_; }

private:
    std::shared_ptr<FileRecord> file_;
};

class EventHandle : public HandleObject {
public:
    EventHandle(bool manualReset, bool initialState);
    DISPATCHER_HEADER* WaitHeader() override { return &event_.Header; }

private:
    KEVENT event_{};
};

// A device control request as the comm calls send it: waits for completion
// even on an overlapped handle.
BOOL SendControl(HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                 DWORD* returned);

}  // namespace sim
