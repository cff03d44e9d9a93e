// The system's save dialog for a monitor: the file, its type (text or CSV)
// and, in a part of our own below the dialog's controls, the lines to save.
#pragma once

#include "MonitorExport.h"

#include <windows.h>

#include <optional>
#include <string>

struct SaveTarget {
    std::wstring path;
    ExportFormat format;
    bool selectionOnly;
};

// None when the user cancelled. Without a selection only "全て" is offered.
std::optional<SaveTarget> AskSaveTarget(HWND owner, bool hasSelection);
