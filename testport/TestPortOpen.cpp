// Open, close and clean-up of a port end. One handle at a time; every open
// starts from the same settings, and close does the clean-up work itself
// because Wine never sends a clean-up request.
#include "TestPort.h"

namespace testportdriver {

namespace {

void SetDefaults(TestPortEnd* end)
{
    end->breakOn = FALSE;
    end->baudRate.BaudRate = 9600;
    end->lineControl.StopBits = STOP_BIT_1;
    end->lineControl.Parity = NO_PARITY;
    end->lineControl.WordLength = 8;
    end->handflow.ControlHandShake = SERIAL_DTR_CONTROL;
    end->handflow.FlowReplace = SERIAL_RTS_CONTROL;
    end->handflow.XonLimit = TESTPORT_RECEIVE_QUEUE / 2;
    end->handflow.XoffLimit = TESTPORT_RECEIVE_QUEUE / 8;
    RtlZeroMemory(&end->chars, sizeof end->chars);
    end->chars.XonChar = 0x11;
    end->chars.XoffChar = 0x13;
    RtlZeroMemory(&end->timeouts, sizeof end->timeouts);
    end->queueSize.InSize = TESTPORT_RECEIVE_QUEUE;
    end->queueSize.OutSize = 0;
    end->errors = 0;
    RtlZeroMemory(&end->stats, sizeof end->stats);
    end->waitMask = 0;
    end->events = 0;
    end->receivedStart = 0;
    end->receivedCount = 0;
}

}  // namespace

void ShutEnd(TestPortEnd* end, Completions* done)
{
    CancelReads(end, done);
    CancelQueue(&end->waits, done);
    SetLines(end, 0, done);
    end->waitMask = 0;
    end->events = 0;
    end->receivedCount = 0;
}

NTSTATUS NTAPI TestPortCreate(PDEVICE_OBJECT device, PIRP irp)
{
    TestPortEnd* end = EndOf(device);
    Completions done;
    InitCompletions(&done);
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    if (end->open) {
        status = STATUS_ACCESS_DENIED;
    } else {
        SetDefaults(end);
        end->open = TRUE;
        // The default handflow drives DTR and RTS, as a real port's open does.
        SetLines(end, SERIAL_DTR_STATE | SERIAL_RTS_STATE, &done);
    }
    KeReleaseSpinLock(end->lock, irql);
    CompleteAll(&done);
    if (NT_SUCCESS(status))
        StartReadTiming(end);
    return CompleteNow(irp, status, NT_SUCCESS(status) ? end->openInformation : 0);  // completed
}

NTSTATUS NTAPI TestPortCleanup(PDEVICE_OBJECT device, PIRP irp)
{
    TestPortEnd* end = EndOf(device);
    Completions done;
    InitCompletions(&done);
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    CancelReads(end, &done);
    CancelQueue(&end->waits, &done);
    KeReleaseSpinLock(end->lock, irql);
    CompleteAll(&done);
    return CompleteNow(irp, STATUS_SUCCESS, 0);  // completed
}

void CloseEnd(TestPortEnd* end)
{
    Completions done;
    InitCompletions(&done);
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    ShutEnd(end, &done);
    end->open = FALSE;
    KeReleaseSpinLock(end->lock, irql);
    CompleteAll(&done);
    StopReadTiming(end);
}

NTSTATUS NTAPI TestPortClose(PDEVICE_OBJECT device, PIRP irp)
{
    CloseEnd(EndOf(device));
    return CompleteNow(irp, STATUS_SUCCESS, 0);  // completed
}

}  // namespace testportdriver
