// A small sample driver: one exclusive buffered device whose reads pend until
// a timer completes them, cancellable. Natively linked into the tests; with
// mingw built as VtrlSimSample.sys.
#pragma once

#include <wdm.h>

#include "SampleDevice.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
// The same driver with a bug: its unload forgets one pool block.
NTSTATUS LeakingSampleDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
