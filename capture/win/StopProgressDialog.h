// The small modal box shown while the capture stop worker stops the service:
// a moving progress bar, closed by itself once the worker has ended.
#pragma once

#include "Dialog.h"

class StopProgressDialog : public Dialog {
public:
    // `worker`: the stop worker's thread handle.
    explicit StopProgressDialog(HANDLE worker);

    int TickCount() const { return ticks_; }

protected:
    bool OnInitDialog() override;
    bool OnTimer(UINT_PTR id) override;
    void OnCommand(UINT id) override;
    void OnClose() override;

private:
    bool WorkerHasEnded() const;

    HANDLE worker_;
    int ticks_ = 0;
};
