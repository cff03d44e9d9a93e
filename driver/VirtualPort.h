// The serial-port face of a control device: the settings a terminal program
// sets and reads, the event counters, the queues of pending reads and waits
// and the text block of the record being delivered in form 1.
#pragma once

#include <ntddk.h>
#include <ntddser.h>

#include "CaptureRecord.h"
#include "RecordList.h"

constexpr ULONG kEventCounters = 10;

// Bits of `modemStatus`: the direction of the last form-4 data.
constexpr ULONG kModemReceivedData = 0x10;
constexpr ULONG kModemSentData = 0x20;

struct VirtualPortState {
    // Guarded by readLock.
    ULONG baudRate;
    SERIAL_LINE_CONTROL lineControl;
    SERIAL_CHARS chars;
    SERIAL_HANDFLOW handFlow;
    SERIAL_TIMEOUTS timeouts;
    ULONG queueIn;
    ULONG queueOut;
    ULONG modemStatus;
    ULONG purgeFlags;
    PIRP readQueue;       // linked through each request's driver context
    ULONG readSlotTicks;  // what the read worker's timer slot was last set to
    // Guarded by waitLock.
    ULONG waitMask;
    ULONG errorWord;
    ULONG counters[kEventCounters];  // in the order of kEventBits
    PIRP waitQueue;
    KSPIN_LOCK readLock;
    KSPIN_LOCK waitLock;
};

// The text of the head record in form 1 (guarded by readLock). It is valid
// only while its node is still the head and has delivered bytes: a node that
// was dropped and replaced at the same address starts at 0.
struct FormattedText {
    char* text;
    ULONG size;  // 0 = none prepared
    const RecordNode* node;
};

struct ControlExtension;

// Holds a spin lock for a scope.
class SpinLockGuard {
public:
    explicit SpinLockGuard(PKSPIN_LOCK lock) : lock_(lock) { KeAcquireSpinLock(lock_, &irql_); }
    ~SpinLockGuard() { KeReleaseSpinLock(lock_, irql_); }
    SpinLockGuard(const SpinLockGuard&) = delete;
    SpinLockGuard& operator=(const SpinLockGuard&) = delete;

private:
    PKSPIN_LOCK lock_;
    KIRQL irql_;
};

void VirtualPortPrepare(ControlExtension* control);
// At unload: ends what a handle that Wine never closed still has queued.
void VirtualPortShutdown(ControlExtension* control);

NTSTATUS ComFunc_CreateFile(ControlExtension* control, PIRP irp);
NTSTATUS ComFunc_CloseHandle(ControlExtension* control, PIRP irp);
NTSTATUS ComFunc_DeviceCleanup(ControlExtension* control, PIRP irp);
NTSTATUS ComFunc_ReadFile(ControlExtension* control, PIRP irp);
NTSTATUS ComFunc_SerialControl(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack);

// After a record was added: raises the virtual-port events and lets a pending
// read see the new data.
void VirtualPortRecordAdded(ControlExtension* control, const CaptureRecord* record, ULONG size, bool dropped);

// The renderer: bytes of the head records for the reader of the port, at most
// room. Caller holds readLock.
ULONG ComFunc_ReadDataGet(ControlExtension* control, UCHAR* output, ULONG room);
void DiscardFormattedText(FormattedText* text);

// Form-1 text of one record: its size, and the text itself into a block of
// that size. portName is 8 bytes, not necessarily terminated, or none.
ULONG FormattedTextSize(const CaptureRecord* record, ULONG recordSize);
void RenderFormattedText(const CaptureRecord* record, ULONG recordSize, const UCHAR* portName, char* text);

// hex(v): fewest upper-case digits and "H"; decimal without leading zeros.
// Both return the characters written (at most 9 and 10), no terminator.
ULONG ComFuncSub_HexToText(char* out, ULONG value);
ULONG ComFuncSub_DecimalToText(char* out, ULONG value);

// The workers, run directly under their locks (Wine never runs a queued
// DPC): without a new request they look at what new data, the timer or a
// purge changed.
void RunReadWorker(ControlExtension* control);
void RunWaitWorker(ControlExtension* control);
VOID ReadWorkerTick(PVOID control);

// Serial requests of the wait engine and the error word.
NTSTATUS ComFunc_DIOCSetWaitMask(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack);
NTSTATUS ComFunc_DIOCGetWaitMask(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack);
NTSTATUS ComFunc_DIOCWaitOnMask(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack);
void ResetWaitState(ControlExtension* control);
// Sets the wait mask to 0, which ends every queued wait with no events.
void StopWaiting(ControlExtension* control);
// Returns the error word and clears it.
ULONG TakeErrorWord(ControlExtension* control);
// With the error-abort bit: an unreported error word refuses reads and waits.
bool IsErrorAbortPending(ControlExtension* control);
bool IsErrorCounterRaised(ControlExtension* control);
// Raises the error counter and records the error word (the caller may hold
// readLock, never waitLock).
void RaiseLineError(ControlExtension* control, ULONG errorWord);
