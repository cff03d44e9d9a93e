// Calls that only later Windows versions export are looked up by name at
// load, so that one image still loads where they are missing.
#pragma once

#include <ntddk.h>

// The kernel's routine of that name, or NULL where the system lacks it. The
// image for Windows NT 4.0, which has no lookup call, finds none. Called at
// PASSIVE_LEVEL.
PVOID FindSystemRoutine(PCWSTR name);
