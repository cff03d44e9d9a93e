// The null-modem test port driver's names, registry layout and private
// control request, for the driver and the programs that set it up (both
// include their platform's CTL_CODE first). Freestanding.
#pragma once

#define TESTPORT_SERVICE_NAME "VtrlTestPort"
#define TESTPORT_IMAGE_NAME   "VtrlTestPort.sys"
// The load-order group that the test port and the filter share, so that Wine
// runs both in one winedevice.exe and the filter can attach to the ports.
#define TESTPORT_LOAD_ORDER_GROUP "Vantrel"

// Registry: under the service key, the key "Parameters" holds one REG_SZ value
// per pair (by convention Pair0, Pair1, ...) with the two port names separated
// by a comma, e.g. "COM11,COM12". A name is 1 to TESTPORT_MAX_NAME letters
// and digits; malformed values are skipped.
#define TESTPORT_PARAMETERS_KEY "Parameters"
#define TESTPORT_MAX_PAIRS      8
#define TESTPORT_MAX_NAME       15

// Optional REG_DWORD value of the Parameters key: the completion information
// that every successful open reports (0 when absent). Some port drivers
// complete opens with a non-zero information, as FILE_OPENED.
#define TESTPORT_OPEN_INFORMATION_VALUE "OpenInformation"

// Optional REG_DWORD value of the Parameters key: a mask of pairs (bit n for
// the pair made n-th) whose ends work as a plug-in adapter's driver may:
// direct I/O (reads and writes carry the caller's buffer as an MDL), power
// pageable, marked as devices of a Plug and Play stack.
#define TESTPORT_DIRECT_IO_PAIRS_VALUE "DirectIoPairs"

// Optional REG_DWORD value of the Parameters key: a mask of pairs (bit n for
// the pair made n-th) whose ends can be unplugged as a plug-in adapter's
// ports: they handle Plug and Play removal as a function driver does (on
// surprise removal they end every pending request and drop their names; on
// removal they delete their device, passing nothing down). Such an end is
// also found as Windows finds a plug-in adapter's port: it enables a COM port
// device interface (GUID_DEVINTERFACE_COMPORT) and keeps its port name as
// PortName in its device key.
#define TESTPORT_REMOVABLE_PAIRS_VALUE "RemovablePairs"

// The devices are \Device\VtrlTestPort0, 1, ... in the order the ends were made.
#define TESTPORT_DEVICE_PREFIX "\\Device\\VtrlTestPort"

// Each end buffers at most this many received bytes; what does not fit is
// lost and the end's next status query reports SERIAL_ERROR_QUEUEOVERRUN.
#define TESTPORT_RECEIVE_QUEUE 4096

// Input: a 32-bit mask of SERIAL_ERROR_BREAK, _FRAMING, _OVERRUN,
// _QUEUEOVERRUN and _PARITY. The next get-communication-status request on the
// same end reports them once (as if the line had shown them).
#define IOCTL_TESTPORT_REPORT_ERRORS CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define TESTPORT_ERROR_FLAGS         0x1Fu

// On an end of a removable pair whose other end was unplugged: that end is
// plugged in again, as a re-enumerated adapter's port is: a new device
// (the next \Device\VtrlTestPortN) under the same port name, wired to this
// end. STATUS_INVALID_DEVICE_STATE while the other end is still there.
#define IOCTL_TESTPORT_PLUG_IN_PEER CTL_CODE(FILE_DEVICE_UNKNOWN, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS)
