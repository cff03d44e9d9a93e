// A test driver of one device, on the simulation: every request of every
// major function goes to one dispatch routine.
#pragma once

#include <wdm.h>

inline NTSTATUS CreateOneDevice(PDRIVER_OBJECT driver, PCWSTR deviceName, ULONG extensionSize, DEVICE_TYPE type,
                                BOOLEAN exclusive, PDRIVER_DISPATCH dispatch, PDEVICE_OBJECT* device)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, deviceName);
    NTSTATUS status = IoCreateDevice(driver, extensionSize, &name, type, 0, exclusive, device);
    if (!NT_SUCCESS(status))
        return status;
    (*device)->Flags |= DO_BUFFERED_IO;
    for (auto& function : driver->MajorFunction)
        function = dispatch;
    return STATUS_SUCCESS;
}
