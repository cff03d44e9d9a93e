// Entry point of Vantrel.exe.
#include "DriverImages.h"
#include "MainFrame.h"
#include "Settings.h"
#include "Startup.h"

namespace {

// Another instance runs, or the main window could not be made.
constexpr int STARTUP_FAILED = 1;

// WinType other than 0 opens the main window maximised.
int InitialShowCommand(int defaultShowCommand)
{
    return ReadInt(SETTINGS_SYSTEM, "WinType", 0) != 0 ? SW_SHOWMAXIMIZED : defaultShowCommand;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand)
{
    HANDLE singleInstance = nullptr;
    DriverFileProblem driverFileProblem = DriverFileProblem::None;
    if (!PrepareStartup(BUILT_DRIVER_IMAGES, &singleInstance, &driverFileProblem)) {
        return STARTUP_FAILED;
    }
    int initialShow = InitialShowCommand(showCommand);
    CMainFrame frame;
    if (!frame.Create()) {
        CloseHandle(singleInstance);
        return STARTUP_FAILED;
    }
    ShowWindow(frame.Handle(), initialShow);
    UpdateWindow(frame.Handle());
    frame.MainFrameStartup();
    // Capture start will then fail at the service; the log says why. Out of
    // reach, the real driver folder may hold an older driver the service
    // would load: start fails at once.
    std::string driverFileLine = DriverFileProblemLine(driverFileProblem);
    if (!driverFileLine.empty()) {
        frame.AddLogLine("%s", driverFileLine.c_str());
    }
    if (driverFileProblem == DriverFileProblem::RedirectionStuck) {
        frame.RefuseCaptureStart();
    }
    int exitCode = RunMessageLoop();
    CloseHandle(singleInstance);
    return exitCode;
}
