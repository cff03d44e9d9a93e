// The print command of a paused capture monitor.
#pragma once

#include "PrintJob.h"

#include <functional>

// Runs the print dialog, stores the margins, starts the print thread and
// shows its progress box; returns once the thread has ended. `run` tells
// others meanwhile that the monitor is being printed.
void RunPrintCommand(HWND owner, const PrintSource& source, PrintRun& run);

// Runs `work` on a thread of its own while the progress box shows the text
// `activity` (a string id; 0 keeps the printing text); returns once it has
// ended. `work` reads run.ShouldContinue(), which the box's cancel clears.
void RunWithProgress(HWND owner, PrintRun& run, UINT activity, const std::function<void()>& work);
