// The sample test driver's names and control code, for the driver and the
// programs that talk to it (both include their own CTL_CODE first).
#pragma once

#define SAMPLE_SERVICE_NAME "VtrlSimSample"
#define SAMPLE_IMAGE_NAME   "VtrlSimSample.sys"
#define SAMPLE_DOS_PATH     "\\\\.\\VtrlSimSample"

// Sets the delay in ms (a ULONG) after which a pending read is completed.
#define IOCTL_SAMPLE_SET_DELAY CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS)
// A completed read fills the caller's buffer with this byte.
#define SAMPLE_FILL_BYTE 0x53
