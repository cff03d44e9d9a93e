// The application's top-level window: menu 128 and its commands.
#pragma once

#include "FrameWindow.h"

class CMainFrame : public FrameWindow {
public:
    bool Create();
    // Runs once after the window is first shown.
    void MainFrameStartup();

    // Capture start and stop set this; it decides which commands are enabled.
    void SetCapturing(bool on) { capturing = on; }

protected:
    bool OnCommand(UINT id) override;
    CommandState OnUpdateCommand(UINT id) override;
    bool ConfirmClose() override;
    void OnDestroy() override;

private:
    bool capturing = false;
};
