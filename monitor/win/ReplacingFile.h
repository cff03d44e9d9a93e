// A file written beside its target under a temporary name and put in the
// target's place only when it is whole: a failed or cancelled save leaves
// the target as it was and no partial file behind.
#pragma once

#include "MonitorExport.h"

#include <windows.h>

#include <string>

class ReplacingFile : public ExportSink {
public:
    explicit ReplacingFile(std::wstring target) : target_(std::move(target)) {}
    // A file not committed goes.
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Makes the temporary file in the target's folder.
    bool Open();
    bool Write(std::string_view bytes) override;
    // Closes the temporary file and replaces the target with it.
    bool Commit();
    void Discard();
    // The system's error code of the step that failed.
    DWORD Error() const { return error_; }

private:
    bool Fail();

    std::wstring target_;
    std::wstring temporary_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    DWORD error_ = ERROR_SUCCESS;
};
