#include "MonitorWindows.h"

#include "GdiSurface.h"
#include "HighlightConditionsDialog.h"
#include "PrintCommand.h"
#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

#include <string.h>

namespace {

// The monitor title of the string table, then " - <port>"; the item's
// number follows when another monitor shows the same port.
std::wstring MonitorTitle(const MonitorToOpen& monitor, bool portShared)
{
    std::wstring title = LoadResourceText(IDS_MONITOR_TITLE) + L" - " + WideFromUtf8(monitor.port);
    return portShared ? title + L" (" + std::to_wstring(monitor.item) + L")" : title;
}

void RunHighlightConditionsDialog(HWND owner, HighlightConditionList& conditions, uint32_t limit)
{
    HighlightConditionsDialog dialog(conditions, limit);
    dialog.RunModal(owner);
}

// The page image is made like the monitor's screen surface.
class GdiPageImage : public PageImage {
public:
    explicit GdiPageImage(std::unique_ptr<GdiSurface> surface, int width, int height)
        : surface_(std::move(surface)), width_(width), height_(height)
    {}
    Surface& Drawing() override { return *surface_; }
    bool ReadBits(BITMAPINFO& info, unsigned char* bits) override
    {
        return surface_->ReadBits(width_, height_, info, bits);
    }

private:
    std::unique_ptr<GdiSurface> surface_;
    int width_;
    int height_;
};

std::unique_ptr<PageImage> MakePageImage(int width, int height)
{
    std::unique_ptr<GdiSurface> surface = GdiSurface::Create(width, height);
    if (surface == nullptr)
        return nullptr;
    return std::make_unique<GdiPageImage>(std::move(surface), width, height);
}

}  // namespace

void MonitorWindows::CloseAll()
{
    for (const std::unique_ptr<MonitorFrame>& monitor : windows_) {
        if (monitor->Handle() != nullptr) {
            SendMessageW(monitor->Handle(), WM_CLOSE, 0, 0);
        }
    }
    windows_.clear();
    opened_.clear();
    printRuns_.clear();
}

void MonitorWindows::Open(const MonitorToOpen& monitor, HWND owner)
{
    auto frame =
        std::make_unique<MonitorFrame>(monitor.devicePath.c_str(), monitor.port.c_str(), monitor.bufferSize, owner);
    if (!frame->Create()) {
        return;
    }
    frame->SetHighlightSettingsDialog(RunHighlightConditionsDialog);
    frame->SetPrintCommand(this);
    bool portShared = false;
    for (size_t i = 0; i < opened_.size(); ++i) {
        if (_stricmp(opened_[i].port.c_str(), monitor.port.c_str()) == 0) {
            portShared = true;
            SetWindowTextW(windows_[i]->Handle(), MonitorTitle(opened_[i], true).c_str());
        }
    }
    SetWindowTextW(frame->Handle(), MonitorTitle(monitor, portShared).c_str());
    SetWindowPos(frame->Handle(), nullptr, monitor.left, monitor.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(frame->Handle(), SW_SHOW);
    windows_.push_back(std::move(frame));
    opened_.push_back(monitor);
}

void MonitorWindows::NotifyStop(HWND mainFrame)
{
    COPYDATASTRUCT stop = {MONITOR_STOP_NOTIFICATION, 0, nullptr};
    for (const std::unique_ptr<MonitorFrame>& monitor : windows_) {
        if (monitor->Handle() != nullptr) {
            SendMessageW(monitor->Handle(), WM_COPYDATA, reinterpret_cast<WPARAM>(mainFrame),
                         reinterpret_cast<LPARAM>(&stop));
        }
    }
}

void MonitorWindows::HoldInput()
{
    for (const std::unique_ptr<MonitorFrame>& monitor : windows_) {
        HWND window = monitor->Handle();
        if (window != nullptr && IsWindowEnabled(window)) {
            EnableWindow(window, FALSE);
            held_.push_back(window);
        }
    }
}

void MonitorWindows::ResumeInput()
{
    for (HWND window : held_) {
        if (IsWindow(window))
            EnableWindow(window, TRUE);
    }
    held_.clear();
}

PrintRun& MonitorWindows::RunOf(const MonitorFrame& monitor)
{
    std::unique_ptr<PrintRun>& run = printRuns_[&monitor];
    if (run == nullptr)
        run = std::make_unique<PrintRun>();
    return *run;
}

void MonitorWindows::RunInBackground(MonitorFrame& monitor, UINT activity, const MonitorBackgroundWork& work)
{
    PrintRun& run = RunOf(monitor);
    RunWithProgress(monitor.Handle(), run, activity, [&] { work([&run] { return run.ShouldContinue(); }); });
}

void MonitorWindows::Print(MonitorFrame& monitor)
{
    PrintRun& run = RunOf(monitor);
    PrintSource source;
    source.view = monitor.View();
    source.selection = monitor.View()->SelectionRange();
    source.portName = monitor.PortName();
    source.lineSettings = monitor.LineSettings();
    source.makePageImage = MakePageImage;
    RunPrintCommand(monitor.Handle(), source, run);
}

bool MonitorWindows::Printing(const MonitorFrame& monitor) const
{
    auto run = printRuns_.find(&monitor);
    return run != printRuns_.end() && run->second->Running();
}

UINT MonitorWindows::BusyMessage() const
{
    for (const auto& run : printRuns_) {
        if (run.second->Running())
            return IDS_BUSY_PRINTING;
    }
    for (const std::unique_ptr<MonitorFrame>& monitor : windows_) {
        if (monitor->InDialog())
            return IDS_MONITOR_DIALOG_OPEN;
    }
    return 0;
}
