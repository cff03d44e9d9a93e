#include "PrintProgressDialog.h"

#include "ResourceText.h"
#include "resource.h"

#include <commctrl.h>

namespace {

constexpr UINT_PTR kProgressTimer = 10;
constexpr UINT kProgressPeriodMs = 500;
constexpr int kProgressEnd = 100;

}  // namespace

PrintProgressDialog::PrintProgressDialog(PrintRun& run, UINT activity)
    : Dialog(IDD_PRINT_PROGRESS), run_(run), activity_(activity)
{}

bool PrintProgressDialog::OnInitDialog()
{
    if (activity_ != 0)
        SetDlgItemTextW(Handle(), IDC_PROGRESS_TEXT, LoadResourceText(activity_).c_str());
    SendDlgItemMessageW(Handle(), IDC_PRINT_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressEnd));
    SendDlgItemMessageW(Handle(), IDC_PRINT_PROGRESS, PBM_SETPOS, 0, 0);
    SetTimer(Handle(), kProgressTimer, kProgressPeriodMs, nullptr);
    return true;
}

bool PrintProgressDialog::OnTimer(UINT_PTR id)
{
    if (id != kProgressTimer)
        return false;
    position_ = position_ >= kProgressEnd ? 0 : position_ + 1;
    SendDlgItemMessageW(Handle(), IDC_PRINT_PROGRESS, PBM_SETPOS, position_, 0);
    if (!run_.Running())
        PostMessageW(Handle(), WM_CLOSE, 0, 0);
    return true;
}

// Enter and Esc do not end the box: only the end of the thread does.
void PrintProgressDialog::OnCommand(UINT id)
{
    if (id == IDC_PRINT_CANCEL) {
        EnableWindow(GetDlgItem(Handle(), IDC_PRINT_CANCEL), FALSE);
        run_.Cancel();
    }
}

void PrintProgressDialog::OnClose()
{
    if (!run_.Running()) {
        KillTimer(Handle(), kProgressTimer);
        End(IDOK);
    }
}
