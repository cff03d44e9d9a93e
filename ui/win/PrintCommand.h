// The print command of a paused capture monitor.
#pragma once

#include "PrintJob.h"

// Runs the print dialog, stores the margins, starts the print thread and
// shows its progress box; returns once the thread has ended. `run` tells
// others meanwhile that the monitor is being printed.
void RunPrintCommand(HWND owner, const PrintSource& source, PrintRun& run);
