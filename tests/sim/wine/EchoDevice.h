// The echo test driver's names and its one control code, for the driver and
// the programs that talk to it (both include their own CTL_CODE first).
#pragma once

#define ECHO_SERVICE_NAME "VtrlSimEcho"
#define ECHO_IMAGE_NAME   "VtrlSimEcho.sys"
#define ECHO_DOS_PATH     "\\\\.\\VtrlSimEcho"

// Returns the input bytes in reverse order.
#define IOCTL_ECHO_REVERSE CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS)
