// A top-level frame with a menu: routes menu commands by id and asks the
// frame which commands are enabled or checked whenever a menu opens.
#pragma once

#include "Window.h"

struct CommandState {
    bool enabled = true;
    bool checked = false;
};

class FrameWindow : public Window {
protected:
    // Creates the frame with the menu resource menuId of the executable and
    // the accelerator table of that id, where there is one.
    bool CreateFrame(const wchar_t* className, UINT menuId, const WindowParams& placement);

    // Carries out command id; false when the frame has no handler for it.
    virtual bool OnCommand(UINT id) = 0;
    virtual CommandState OnUpdateCommand(UINT id);
    // Asked by every close request (close box, window menu, exit command);
    // may tell the user why not. False keeps the window open.
    virtual bool ConfirmClose() { return true; }

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // A disabled command is never run, even when it arrives from a stale
    // menu or an accelerator.
    bool RouteCommand(UINT id);
    void UpdateMenuCommands(HMENU popup);
};
