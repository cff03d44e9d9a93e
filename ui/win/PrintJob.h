// One print run of a capture monitor: what the print dialog chose and what
// the print thread reads from the monitor.
#pragma once

#include "MonitorView.h"
#include "PrintLayout.h"

#include <windows.h>
// Surface::DrawText, not the user32 macro of that name.
#undef DrawText

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Range on entry to the dialog; the dialog leaves all or selection.
enum class PrintRange { AllWithoutSelection = -1, Selection = 0, All = 1 };

struct PrintJob {
    std::string printer;
    std::vector<unsigned char> deviceMode;  // DEVMODEA with driver data; empty: the driver's defaults
    PrintRange range = PrintRange::All;
    bool softLayout = false;
    PrintMargins margins{};
};

// The 640 x h off-screen image a page is drawn on, made like the monitor's
// screen surface.
class PageImage {
public:
    virtual ~PageImage() = default;
    virtual Surface& Drawing() = 0;
    // The image as bottom-up 24-bit rows of 1920 bytes; false when GDI fails.
    virtual bool ReadBits(BITMAPINFO& info, unsigned char* bits) = 0;
};

// What the print thread reads from the paused monitor.
struct PrintSource {
    const MonitorView* view = nullptr;
    std::optional<LineRange> selection;
    std::string portName;      // cp932
    std::string lineSettings;  // cp932, the first pane of the status bar
    std::function<std::unique_ptr<PageImage>(int width, int height)> makePageImage;
};

// Draws printer pages by the job until the lines end or `run` is cancelled,
// then ends `run`. The job and the source must outlive the thread.
struct PrintTask {
    const PrintJob* job;
    const PrintSource* source;
    PrintRun* run;
};
DWORD WINAPI PrintThread(void* task);

// The printer's metrics as the page geometry needs them; none when no
// information context can be made for it.
std::optional<PrinterMetrics> QueryPrinterMetrics(const PrintJob& job);
