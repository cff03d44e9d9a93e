// The capture filter driver's devices and the routines its request families
// share. Per-device state is a plain structure: the common head, then the
// fields of the device's kind.
#pragma once

#include <ntddk.h>

#include "CaptureParameters.h"
#include "CaptureRecord.h"
#include "KernelText.h"
#include "RecordList.h"
#include "TickTimer.h"
#include "VirtualPort.h"

constexpr ULONG kPoolTag = 0x7456725A;  // "ZrVt", as pool tools show it

// A device released before its kind is set (its extension still zero) owns
// no records.
constexpr ULONG kControlDeviceKind = 1;
constexpr ULONG kFilterDeviceKind = 2;

// The upper bound of a capture object's byte limit (MaxByte), and so of any
// stored record: the list's totals (at most twice this) never wrap.
constexpr ULONG kMaxCaptureBytes = 64 * 1024 * 1024;

// Counts that must not wrap stop at their largest value.
inline ULONG SaturatingAdd(ULONG count, ULONG more)
{
    return count > 0xFFFFFFFFu - more ? 0xFFFFFFFFu : count + more;
}

// Memory the driver allocates and maps: no-execute from Windows 8 on, where
// the system has it; chosen at load (DriverLoad.cpp).
#ifndef MdlMappingNoExecute
#define MdlMappingNoExecute 0x40000000
#endif
extern POOL_TYPE g_NonPagedPool;
extern MM_PAGE_PRIORITY g_MappingPriority;

constexpr ULONG kMaxPorts = 100;
constexpr ULONG kPortNameBytes = 8;
constexpr ULONG kMaxListeners = 16;

struct DeviceHead {
    ULONG kind;
    UNICODE_STRING linkName;
    PWSTR serialCommValueName;  // "V" + base name; virtual ports only
    UNICODE_STRING baseName;
};

// A counted gate for requests: closing it refuses new entries and waits
// until every entry has left. A remove lock of our own, so that the image for
// Windows NT 4.0, which has none, shares it (RequestGate.cpp).
struct RequestGate {
    volatile LONG count;  // one for the open gate itself, plus one per entry
    volatile LONG closed;
    KEVENT drained;
};
void GateInitialize(RequestGate* gate);
// False once the gate is closed. Callable at DISPATCH_LEVEL.
bool GateEnter(RequestGate* gate);
void GateLeave(RequestGate* gate);
// At PASSIVE_LEVEL: refuses new entries, leaves the caller's own entry when
// it holds one, and waits until nobody is inside.
void GateCloseAndWait(RequestGate* gate, bool callerInside);
// A closed gate that nobody is inside opens again.
void GateReopen(RequestGate* gate);

struct FilterExtension {
    DeviceHead head;
    ULONG sourceNumber;  // the records' sourceDevice: 1, 2, ... in the order filters were made
    ULONG portIndex;
    ULONG captureEnabled;
    PDEVICE_OBJECT targetDevice;
    PDEVICE_OBJECT lowerDevice;    // none while the filter is not attached
    PDEVICE_OBJECT controlDevice;  // none for a listener-only filter
    PDEVICE_OBJECT listeners[kMaxListeners];
    ULONG listenerPortIndex[kMaxListeners];
    ULONG listenerCount;
    RequestGate gate;          // requests of this filter that are passing it or in flight below it
    volatile LONG detached;    // 1 once detached from the port (removal or unload, whichever came first)
    volatile LONG removalSeen; // the port's removal reached the monitor
    volatile LONG away;        // 1 once detached by the port's removal, until the port comes back
};

struct ControlExtension {
    DeviceHead head;
    TickTimer tickTimer;
    LONG isOpen;
    UCHAR portNames[kMaxPorts][kPortNameBytes];
    ULONG portCount;
    ULONG maxBytes;
    ULONG statusFlags;  // guarded by the record list's lock
    ULONG outputForm;   // CaptureOutputForm
    VirtualPortState port;
    FormattedText formatted;
    RecordList records;
};

// 1 from load until unload begins; filter dispatch routines running; record
// production, closed at unload.
extern volatile LONG g_Cycling;
extern volatile LONG g_FilterDispatches;
extern RequestGate g_RecordProduction;

inline DeviceHead* HeadOf(PDEVICE_OBJECT device)
{
    return static_cast<DeviceHead*>(device->DeviceExtension);
}

inline FilterExtension* FilterOf(PDEVICE_OBJECT device)
{
    return static_cast<FilterExtension*>(device->DeviceExtension);
}

inline ControlExtension* ControlOf(PDEVICE_OBJECT device)
{
    return static_cast<ControlExtension*>(device->DeviceExtension);
}

inline NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Load and parameters. Natively the driver links into test programs beside
// other drivers, so its entry point has a name of its own there.
#ifdef _WIN32
#define ZRVTRLFLT_ENTRY DriverEntry
#else
#define ZRVTRLFLT_ENTRY ZrVtrlFltDriverEntry
#endif
extern "C" NTSTATUS NTAPI ZRVTRLFLT_ENTRY(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
VOID NTAPI TestCom_Unload(PDRIVER_OBJECT driver);

// Device security (DeviceSecurity.cpp). Called at PASSIVE_LEVEL on a new device.
enum DeviceAudience { DeviceAudience_Administrators, DeviceAudience_InteractiveUsers };
NTSTATUS RestrictDeviceAccess(PDEVICE_OBJECT device, DeviceAudience audience);
// Whether an open of a control device asked for read access.
bool OpenedForReading(PIO_STACK_LOCATION stack);

// The port under a new filter, referenced; see PortResolution.cpp.
NTSTATUS ReferencePortDevice(PUNICODE_STRING devicePath, PDEVICE_OBJECT* port);
// Attaches the filter on top of the referenced port's stack; the filter keeps
// the reference, or it is released when the attach fails (DriverLoad.cpp).
bool AttachToPortDevice(PDEVICE_OBJECT filter, PDEVICE_OBJECT port);
// Data of a named registry value, copied only when it fits.
bool GetRegistryKeyValue(HANDLE key, PCWSTR valueName, ULONG valueNameBytes, PVOID data, ULONG dataBytes,
                         ULONG* returnedBytes);
// A port's name as capture objects keep it: the low bytes of its first 8
// characters, zero-padded.
void ToPortName(const WCHAR* name, ULONG length, UCHAR* portName);
bool SamePortName(const UCHAR* a, const UCHAR* b);

// Ports that come back (PortArrival.cpp, the image with routine lookup): at
// load the driver asks to hear of arriving COM ports; a filter whose port was
// removed attaches again when a port of its name arrives. At unload, first of
// all, no arrival is heard or handled any more.
void WatchPortArrivals(PDRIVER_OBJECT driver);
void StopWatchingPortArrivals();
// At PASSIVE_LEVEL, once the filter is away: its port may be back already
// (nothing in the image for Windows NT 4.0, DriverLoad.cpp).
void LookForReturnedPort(PDEVICE_OBJECT filter);

// The dispatch routine of every major function: a control device answers,
// a filter passes the request down and captures it.
NTSTATUS NTAPI TestCom_Dispatch(PDEVICE_OBJECT device, PIRP irp);

// Control-device requests
NTSTATUS ControlDeviceDispatch(PDEVICE_OBJECT device, PIRP irp);
// A record from a filter: stamped with its arrival time and appended under
// the list's spin lock; a virtual port's reader and waiter see it. Callable
// at DISPATCH_LEVEL; never waits. The record's timestamp is overwritten.
// Looks up the precise system time where the system has it; at load.
void InitializeRecordStamps();
void AddCapturedRecord(ControlExtension* control, CaptureRecord* record, ULONG size);
// A record whose bytes could not be had (header only, with its true lengths)
// is counted as lost, as the byte limit counts a dropped one. Callable at
// DISPATCH_LEVEL.
void CountLostRecord(ControlExtension* control, CaptureRecord* record, ULONG size);

// Requests in flight below the filters (RequestsInFlight.cpp). `work` runs
// when a request that a filter passed down has completed, in the completion
// context; the filter's gate is left after it. The request's parameters are
// already copied to the next level. Where the system keeps the image for a
// completion routine, `unloadSafe` (UnloadSafeCompletion<work>) is set with
// the filter as its context; elsewhere the request is listed for the unload
// to take its routine back. False when there is no pool to list it: no
// routine is set then.
typedef void (*CompletionWork)(PIRP irp, PDEVICE_OBJECT filter);
void InitializeRequestsInFlight();
bool SetFilterCompletion(PDEVICE_OBJECT filter, PIRP irp, CompletionWork work, PIO_COMPLETION_ROUTINE unloadSafe);
// The end of every filter completion routine: the pending mark passed up,
// the filter's gate left.
void FinishFilterCompletion(PIRP irp, PDEVICE_OBJECT filter);
template <CompletionWork work>
NTSTATUS NTAPI UnloadSafeCompletion(PDEVICE_OBJECT, PIRP irp, PVOID filter)
{
    work(irp, static_cast<PDEVICE_OBJECT>(filter));
    FinishFilterCompletion(irp, static_cast<PDEVICE_OBJECT>(filter));
    return STATUS_SUCCESS;
}
// Unload, at PASSIVE_LEVEL: takes the filters' routine back from every
// request still in flight and waits for routines that already started.
void TakeBackCompletionRoutines();

// The filter path (RequestCapture.cpp).
// Called with the filter's gate entered for the request: records it when it
// completes and passes it down; the gate is left when it is done with.
NTSTATUS CaptureAndPassDown(PDEVICE_OBJECT filter, PIRP irp);
// A header-only record of the current request of `filter` to its receivers:
// as a record, or counted as lost.
void DeliverRequestHeader(PDEVICE_OBJECT filter, PIO_STACK_LOCATION stack, bool lost);

// Plug and Play (PlugAndPlay.cpp): the port's removal, with the filter's
// gate entered for the request.
bool IsPortRemoval(PIO_STACK_LOCATION stack);
NTSTATUS FilterPortRemoval(PDEVICE_OBJECT filter, PIRP irp);
// Detaches the filter from its port and releases the port's device, once.
void DetachFromPort(FilterExtension* filter);
// A header-only Plug and Play record of the port (removal or return) to the
// filter's receivers.
void DeliverPortEvent(PDEVICE_OBJECT filter, UCHAR minor);

// Power (the build with the pass-through)
NTSTATUS NTAPI VA_Power(PDEVICE_OBJECT device, PIRP irp);
