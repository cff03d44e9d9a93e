// Pending reads and waits of a virtual port: singly linked through the first
// word of each request's driver context, and the requests a worker finished,
// completed only after the worker has released its lock.
#pragma once

#include <ntddk.h>

// Named apart: the test port driver links into the same native test programs.
namespace vport {

inline PIRP* NextOf(PIRP irp)
{
    return reinterpret_cast<PIRP*>(&irp->Tail.Overlay.DriverContext[0]);
}

inline void AppendRequest(PIRP* queue, PIRP irp)
{
    *NextOf(irp) = nullptr;
    while (*queue != nullptr)
        queue = NextOf(*queue);
    *queue = irp;
}

// Unlinks irp; false when it was not queued.
inline bool RemoveRequest(PIRP* queue, PIRP irp)
{
    for (; *queue != nullptr; queue = NextOf(*queue)) {
        if (*queue == irp) {
            *queue = *NextOf(irp);
            return true;
        }
    }
    return false;
}

struct Completions {
    PIRP first;
};

inline void AddCompletion(Completions* done, PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    *NextOf(irp) = done->first;
    done->first = irp;
}

inline void CompleteAll(Completions* done)
{
    while (done->first != nullptr) {
        PIRP irp = done->first;
        done->first = *NextOf(irp);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

// Takes a queued request back from the cancel path; false when its cancel
// routine already runs and will hand it to the worker.
inline bool TakeFromCancel(PIRP irp)
{
    return IoSetCancelRoutine(irp, nullptr) != nullptr;
}

}  // namespace vport
