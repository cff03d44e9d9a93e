#include "MainFrame.h"

#include "ResourceText.h"
#include "resource.h"

namespace {

const wchar_t kMainFrameClass[] = L"VantrelMainFrame";

// Commands that change the configuration wait until capture stops.
bool ChangesConfiguration(UINT id)
{
    switch (id) {
    case ID_CAPTURE_START:
    case ID_ITEM_ADD:
    case ID_ITEM_CHANGE:
    case ID_ITEM_DELETE:
    case ID_SETTINGS_COLOR:
    case ID_SETTINGS_SYSTEM:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool CMainFrame::Create()
{
    return CreateFrame(kMainFrameClass, IDR_MAINFRAME, WindowParams{});
}

void CMainFrame::MainFrameStartup()
{
    SetWindowTextW(Handle(), LoadResourceText(IDS_APP_TITLE).c_str());
}

bool CMainFrame::OnCommand(UINT id)
{
    switch (id) {
    case ID_APP_EXIT:
        PostMessageW(Handle(), WM_CLOSE, 0, 0);
        return true;
    case ID_HELP_FINDER:
        WinHelpA(Handle(), "Vantrel.hlp", HELP_FINDER, 0);
        return true;
    default:
        return false;
    }
}

CommandState CMainFrame::OnUpdateCommand(UINT id)
{
    CommandState state;
    if (id == ID_CAPTURE_STOP) {
        state.enabled = capturing;
    } else if (ChangesConfiguration(id)) {
        state.enabled = !capturing;
    }
    return state;
}

bool CMainFrame::ConfirmClose()
{
    if (capturing) {
        ShowResourceMessage(Handle(), IDS_EXIT_WHILE_CAPTURING, IDS_EXIT_CAPTION, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    return true;
}

void CMainFrame::OnDestroy()
{
    PostQuitMessage(0);
}
