// The null-modem test port driver's internals: the state of one port end and
// the routines that the request families share.
#pragma once

#include <ntddk.h>
#include <ntddser.h>

#include "KernelText.h"
#include "TestPortIoctl.h"

// Everything of the driver but DriverEntry lives in this namespace, so that a
// test program can link it beside another driver.
namespace testportdriver {

#define TESTPORT_POOL_TAG 0x74507456u  // 'tPtV', shown as "VtPt" in a pool dump

// One end of a pair: the device extension of \Device\VtrlTestPortN. Both ends
// of a pair share one spin lock (the first end's `pairLock`), because a write
// on one end changes the other end's queue, reads and events.
struct TestPortEnd {
    PDEVICE_OBJECT device;
    TestPortEnd* peer;
    PKSPIN_LOCK lock;
    KSPIN_LOCK pairLock;
    WCHAR portName[TESTPORT_MAX_NAME + 1];
    WCHAR deviceName[40];
    ULONG pairIndex;  // the pair's place in the order pairs were made
    BOOLEAN linked;
    BOOLEAN mapped;
    ULONG openInformation;  // completion information of a successful open
    BOOLEAN directIo;       // reads and writes reach the caller's buffer through its MDL
    BOOLEAN removable;      // answers Plug and Play removal
    LONG removed;           // unplugged: only close and clean-up are served
    UNICODE_STRING interfaceLink;  // the COM port interface of a removable end
    PDEVICE_OBJECT lockDevice;     // referenced: the device that holds the pair lock, when not this one

    BOOLEAN open;
    BOOLEAN breakOn;
    SERIAL_BAUD_RATE baudRate;
    SERIAL_LINE_CONTROL lineControl;
    SERIAL_HANDFLOW handflow;
    SERIAL_CHARS chars;
    SERIAL_TIMEOUTS timeouts;
    SERIAL_QUEUE_SIZE queueSize;
    ULONG lines;   // SERIAL_DTR_STATE | SERIAL_RTS_STATE that this end drives
    ULONG errors;  // SERIAL_ERROR_* reported and cleared by the next status query
    SERIALPERF_STATS stats;

    ULONG waitMask;
    ULONG events;  // events of the mask that happened while no wait was pending
    LIST_ENTRY waits;

    UCHAR received[TESTPORT_RECEIVE_QUEUE];
    ULONG receivedStart;
    ULONG receivedCount;

    LIST_ENTRY reads;
    ULONG ticks;  // 10-ms ticks counted while the end is open
    KTIMER tickTimer;
    KDPC tickDpc;
};

inline TestPortEnd* EndOf(PDEVICE_OBJECT device)
{
    return static_cast<TestPortEnd*>(device->DeviceExtension);
}

// Requests that are finished under the pair lock and completed after it is
// released.
struct Completions {
    LIST_ENTRY irps;
};
void InitCompletions(Completions* done);
void AddCompletion(Completions* done, PIRP irp, NTSTATUS status, ULONG_PTR information);
void CompleteAll(Completions* done);
NTSTATUS CompleteNow(PIRP irp, NTSTATUS status, ULONG_PTR information);

// Cancellation (TestPortCancel.cpp). Both run under the pair lock.
// Queues a request with the common cancel routine and marks it pending; false
// when it was cancelled before it could be queued (the caller completes it).
bool QueueCancellable(PLIST_ENTRY queue, PIRP irp);
// Unlinks a queued request. True: the caller now owns its completion; false:
// its cancel routine is running and completes it.
bool ClaimQueued(PIRP irp);
// Claims every request of a queue and finishes it as cancelled.
void CancelQueue(PLIST_ENTRY queue, Completions* done);

// Open, close and clean-up (TestPortOpen.cpp).
NTSTATUS NTAPI TestPortCreate(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI TestPortClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI TestPortCleanup(PDEVICE_OBJECT device, PIRP irp);
// Ends every pending request and drops the lines: close and unload.
void ShutEnd(TestPortEnd* end, Completions* done);
// Ends pending requests, drops the lines and stops the read timing.
void CloseEnd(TestPortEnd* end);

// Reads and writes (TestPortReadWrite.cpp).
NTSTATUS NTAPI TestPortRead(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI TestPortWrite(PDEVICE_OBJECT device, PIRP irp);
// Turns a new end into a direct-I/O end (before any request reaches it).
void UseDirectIo(TestPortEnd* end);
void InitReadTiming(TestPortEnd* end);
void StartReadTiming(TestPortEnd* end);
void StopReadTiming(TestPortEnd* end);
// Under the pair lock: bytes arriving at `end` from its peer.
void Receive(TestPortEnd* end, const UCHAR* data, ULONG length, Completions* done);
// Under the pair lock: a read that does not complete normally gives its bytes
// back to the receive queue, so that cancelling never loses received data.
void GiveBackRead(TestPortEnd* end, PIRP irp);
void CancelReads(TestPortEnd* end, Completions* done);
// Under the pair lock: serves queued reads from the receive queue.
void ServeReads(TestPortEnd* end, Completions* done);
// Under the pair lock: the error-abort rule stops reads and writes while an
// error is unreported.
bool AbortedByError(const TestPortEnd* end);

// Load (TestPortLoad.cpp): the DOS name and device-map entry of an end go;
// an end is deleted; an end is made (device number, port name).
void RemoveNames(TestPortEnd* end);
void DeleteEnd(TestPortEnd* end);
NTSTATUS CreateEnd(PDRIVER_OBJECT driver, ULONG number, const WCHAR* portName, TestPortEnd** created);
extern ULONG g_EndsMade;

// Plug and Play (TestPortPlugAndPlay.cpp). Every request enters through the
// dispatch routine, which refuses all but close and clean-up once the end
// is unplugged; `handlers` are the routines of the request families.
NTSTATUS NTAPI TestPortDispatch(PDEVICE_OBJECT device, PIRP irp);
extern PDRIVER_DISPATCH g_Handlers[IRP_MJ_MAXIMUM_FUNCTION + 1];
NTSTATUS NTAPI TestPortPlugAndPlay(PDEVICE_OBJECT device, PIRP irp);
// A removable end enables its COM port interface, with its PortName.
void PublishPortInterface(TestPortEnd* end);
// Disables and frees the interface of an end, if it has one.
void WithdrawPortInterface(TestPortEnd* end);
// IOCTL_TESTPORT_PLUG_IN_PEER, at PASSIVE_LEVEL.
NTSTATUS PlugInPeer(TestPortEnd* end);

// Serial control requests (TestPortControl.cpp).
NTSTATUS NTAPI TestPortDeviceControl(PDEVICE_OBJECT device, PIRP irp);

// Events, modem lines, wait on mask and purge (TestPortEvents.cpp), under
// the pair lock unless said otherwise.
void RaiseEvents(TestPortEnd* end, ULONG events, Completions* done);
void RaiseErrors(TestPortEnd* end, ULONG errors, Completions* done);
void SetLines(TestPortEnd* end, ULONG lines, Completions* done);
ULONG ModemStatusOf(const TestPortEnd* end);
NTSTATUS SetWaitMask(TestPortEnd* end, ULONG mask, Completions* done);
// Pends or answers a wait-on-mask request; returns the dispatch status.
NTSTATUS WaitOnMask(TestPortEnd* end, PIRP irp);
NTSTATUS Purge(TestPortEnd* end, ULONG mask, Completions* done);

}  // namespace testportdriver
