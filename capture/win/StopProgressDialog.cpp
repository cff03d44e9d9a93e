#include "StopProgressDialog.h"

#include "resource.h"

#include <commctrl.h>

namespace {

constexpr UINT_PTR kProgressTimer = 10;
constexpr UINT kProgressPeriodMs = 500;
constexpr int kProgressEnd = 100;

}  // namespace

StopProgressDialog::StopProgressDialog(HANDLE worker) : Dialog(IDD_STOP_PROGRESS), worker_(worker) {}

bool StopProgressDialog::OnInitDialog()
{
    HWND bar = GetDlgItem(Handle(), IDC_STOP_PROGRESS);
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressEnd));
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    ticks_ = 0;
    return SetTimer(Handle(), kProgressTimer, kProgressPeriodMs, nullptr) != 0;
}

bool StopProgressDialog::OnTimer(UINT_PTR id)
{
    if (id != kProgressTimer) {
        return false;
    }
    ticks_ = ticks_ >= kProgressEnd ? 0 : ticks_ + 1;
    SendDlgItemMessageW(Handle(), IDC_STOP_PROGRESS, PBM_SETPOS, ticks_, 0);
    if (WorkerHasEnded()) {
        PostMessageW(Handle(), WM_CLOSE, 0, 0);
    }
    return true;
}

// Neither Enter nor Esc ends the box: the stop's result may be read only
// after the worker has ended.
void StopProgressDialog::OnCommand(UINT) {}

void StopProgressDialog::OnClose()
{
    if (WorkerHasEnded()) {
        KillTimer(Handle(), kProgressTimer);
        End(IDOK);
    }
}

bool StopProgressDialog::WorkerHasEnded() const
{
    return worker_ != nullptr && WaitForSingleObject(worker_, 0) != WAIT_TIMEOUT;
}
