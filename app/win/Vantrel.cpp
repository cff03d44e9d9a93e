// Entry point of Vantrel.exe.
#include "MainFrame.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand)
{
    CMainFrame frame;
    if (!frame.Create()) {
        return 1;
    }
    ShowWindow(frame.Handle(), showCommand);
    UpdateWindow(frame.Handle());
    frame.MainFrameStartup();
    return RunMessageLoop();
}
