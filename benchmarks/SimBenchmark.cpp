// Cost of the simulation itself: a control request to a device that
// completes at once, and a 1-byte write through a filter with a completion
// routine on top of a port device.
#include <windows.h>
#include <wdm.h>

#include <Machine.h>

#include <benchmark/benchmark.h>

namespace {

NTSTATUS CompleteAtOnce(PDEVICE_OBJECT, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = stack->MajorFunction == IRP_MJ_WRITE
                                    ? stack->Parameters.Write.Length
                                    : stack->Parameters.DeviceIoControl.OutputBufferLength;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS PortEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, u"\\Device\\BenchPort0");
    RtlInitUnicodeString(&link, u"\\DosDevices\\BENCHPORT");
    PDEVICE_OBJECT device;
    IoCreateDevice(driver, 0, &name, FILE_DEVICE_SERIAL_PORT, 0, TRUE, &device);
    device->Flags |= DO_BUFFERED_IO;
    for (auto& function : driver->MajorFunction)
        function = CompleteAtOnce;
    return IoCreateSymbolicLink(&link, &name);
}

struct Filter {
    PDEVICE_OBJECT lower;
    LONG completions;
};

NTSTATUS CountCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    InterlockedIncrement(&static_cast<Filter*>(context)->completions);
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    return STATUS_SUCCESS;
}

NTSTATUS FilterDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* filter = static_cast<Filter*>(device->DeviceExtension);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, CountCompletion, filter, TRUE, TRUE, TRUE);
    return IoCallDriver(filter->lower, irp);
}

NTSTATUS FilterEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING portName;
    RtlInitUnicodeString(&portName, u"\\Device\\BenchPort0");
    PFILE_OBJECT file;
    PDEVICE_OBJECT target;
    NTSTATUS status = IoGetDeviceObjectPointer(&portName, FILE_ALL_ACCESS, &file, &target);
    if (!NT_SUCCESS(status))
        return status;
    PDEVICE_OBJECT device;
    IoCreateDevice(driver, sizeof(Filter), nullptr, FILE_DEVICE_SERIAL_PORT, 0, FALSE, &device);
    device->Flags |= DO_BUFFERED_IO;
    static_cast<Filter*>(device->DeviceExtension)->lower = IoAttachDeviceToDeviceStack(device, target);
    for (auto& function : driver->MajorFunction)
        function = FilterDispatch;
    ObDereferenceObject(file);
    return STATUS_SUCCESS;
}

HANDLE OpenPort()
{
    return CreateFileA("\\\\.\\BENCHPORT", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

void ControlRequestRoundTrip(benchmark::State& state)
{
    sim::Machine machine;
    machine.StartDriver("BenchPort", PortEntry);
    HANDLE port = OpenPort();
    ULONG input = 9600;
    ULONG output = 0;
    DWORD returned = 0;
    for (auto _ : state) {
        DeviceIoControl(port, 0x001B0004, &input, sizeof(input), &output, sizeof(output), &returned, nullptr);
        benchmark::DoNotOptimize(returned);
    }
    CloseHandle(port);
}
BENCHMARK(ControlRequestRoundTrip);

void OneByteWriteThroughFilter(benchmark::State& state)
{
    sim::Machine machine;
    machine.StartDriver("BenchPort", PortEntry);
    machine.StartDriver("BenchFilter", FilterEntry);
    HANDLE port = OpenPort();
    DWORD written = 0;
    for (auto _ : state) {
        WriteFile(port, "a", 1, &written, nullptr);
        benchmark::DoNotOptimize(written);
    }
    CloseHandle(port);
}
BENCHMARK(OneByteWriteThroughFilter);

}  // namespace

BENCHMARK_MAIN();
