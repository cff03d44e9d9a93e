// A small sample driver: one exclusive buffered device \Device\Sample0 (DOS
// name Sample) whose reads pend until a timer completes them, cancellable.
#pragma once

#include <wdm.h>

constexpr ULONG IOCTL_SAMPLE_SET_DELAY = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr UCHAR SAMPLE_FILL_BYTE = 0x53;

NTSTATUS SampleDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
// The same driver with a bug: its unload forgets one pool block.
NTSTATUS LeakingSampleDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
