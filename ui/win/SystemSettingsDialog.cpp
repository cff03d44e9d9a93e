#include "SystemSettingsDialog.h"

#include "DisplaySettings.h"
#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

#include <commctrl.h>

SystemSettingsDialog::SystemSettingsDialog() : Dialog(IDD_SYSTEM_SETTINGS)
{
    // The template holds up-down controls, whose class must exist first.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
}

bool SystemSettingsDialog::OnInitDialog()
{
    const MonitorTiming timing = ReadTimingForDialog();
    ShowNumber(IDC_REFRESH_PERIOD, IDC_REFRESH_PERIOD_SPIN, timing.timer, TIMER_RANGE.min, TIMER_RANGE.max);
    ShowNumber(IDC_TIME_LIMIT, IDC_TIME_LIMIT_SPIN, timing.limit, LIMIT_RANGE.min, LIMIT_RANGE.max);
    return true;
}

void SystemSettingsDialog::OnCommand(UINT id)
{
    if (id == IDOK) {
        Save();
    } else {
        Dialog::OnCommand(id);
    }
}

// A refused field keeps the dialog open at that field.
bool SystemSettingsDialog::ReadField(int edit, SettingRange range, uint32_t* value)
{
    RangeCheck check = CheckRangeText(ControlText(edit).c_str(), range, value);
    if (check != RangeCheck::Accepted) {
        RefuseField(edit, WideFromUtf8(TimingRefusal(check, range)), LoadResourceText(IDS_APP_TITLE));
    }
    return check == RangeCheck::Accepted;
}

// A file that cannot be written keeps the dialog open, so that nothing
// claims a change that was not stored.
void SystemSettingsDialog::Save()
{
    MonitorTiming timing{};
    if (!ReadField(IDC_REFRESH_PERIOD, TIMER_RANGE, &timing.timer) ||
        !ReadField(IDC_TIME_LIMIT, LIMIT_RANGE, &timing.limit)) {
        return;
    }
    if (WriteTiming(timing)) {
        End(IDOK);
    } else {
        ShowResourceMessage(Handle(), IDS_SETTINGS_NOT_SAVED, IDS_APP_TITLE, MB_OK | MB_ICONEXCLAMATION);
    }
}
