// Power requests through a captured port, in both images: with the
// pass-through installed (image B, DeviceType not 0) they reach the port
// unrecorded; through the common dispatch routine (image A, or DeviceType 0)
// they reach the port and are recorded like any other request. Either way
// the request completes exactly once, also when the port pends it.
#include "FilterTestSupport.h"

#include <atomic>
#include <thread>

using namespace filtertest;

namespace {

// A port stand-in that counts power requests and either completes them at
// once or keeps them pending for the test to complete.
struct ProbeExtension {
    std::atomic<int> powerRequests;
    bool pendPower;
    PIRP pending;
};

ProbeExtension* ProbeOf(PDEVICE_OBJECT device)
{
    return static_cast<ProbeExtension*>(device->DeviceExtension);
}

NTSTATUS NTAPI ProbeDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction == IRP_MJ_POWER) {
        ProbeExtension* probe = ProbeOf(device);
        ++probe->powerRequests;
        PoStartNextPowerIrp(irp);
        if (probe->pendPower) {
            IoMarkIrpPending(irp);
            probe->pending = irp;
            return STATUS_PENDING;
        }
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

VOID NTAPI ProbeUnload(PDRIVER_OBJECT driver)
{
    ProbeOf(driver->DeviceObject)->~ProbeExtension();
    IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI ProbeEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\PowerProbe0");
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(ProbeExtension), &name, FILE_DEVICE_SERIAL_PORT, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_BUFFERED_IO;
    new (device->DeviceExtension) ProbeExtension{{0}, false, nullptr};
    for (auto& function : driver->MajorFunction)
        function = ProbeDispatch;
    driver->DriverUnload = ProbeUnload;
    return STATUS_SUCCESS;
}

// What the power manager sees of one request it sent.
struct PowerCompletion {
    std::atomic<int> calls{0};
    NTSTATUS status = STATUS_PENDING;
    KEVENT done;
};

NTSTATUS NTAPI PowerCompleted(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* completion = static_cast<PowerCompletion*>(context);
    completion->status = irp->IoStatus.Status;
    ++completion->calls;
    KeSetEvent(&completion->done, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;  // the request is ours to free
}

enum class DeviceTypeValue { Absent, Zero };

struct PowerCase {
    DeviceTypeValue deviceType;
    bool portPends;
};

class PowerPathTest : public FilterFixture, public ::testing::WithParamInterface<PowerCase> {
protected:
    void SetUp() override
    {
        FilterFixture::SetUp();
        ASSERT_EQ(STATUS_SUCCESS, machine.StartDriver("PowerProbe", ProbeEntry, &probeDriver));
        if (GetParam().deviceType == DeviceTypeValue::Zero)
            SetDword(kServicesKey + kFilterService, "DeviceType", 0);
        WriteMonitorObject(1, "COM21", "\\Device\\PowerProbe0", 10000);
        StartFilter();
        probe = ProbeOf(probeDriver->DeviceObject);
        probe->pendPower = GetParam().portPends;
        filterDevice = FindFilter();
        ASSERT_NE(nullptr, filterDevice);
    }
    void TearDown() override
    {
        FilterFixture::TearDown();
        EXPECT_TRUE(machine.UnloadDriver("PowerProbe"));
    }

    PDEVICE_OBJECT FindFilter() const
    {
        for (PDEVICE_OBJECT device = filter->DeviceObject; device != nullptr; device = device->NextDevice) {
            if (HeadOf(device)->kind == kFilterDeviceKind)
                return device;
        }
        return nullptr;
    }

    // The filter's records of the power request: whether the common dispatch
    // routine saw it.
    bool Recorded()
    {
        HANDLE control = Open(MonitorObjectName(1));
        EXPECT_NE(INVALID_HANDLE_VALUE, control);
        bool recorded = false;
        for (const auto& bytes : FetchAll(control)) {
            Record record = ToRecord(bytes);
            EXPECT_EQ(IRP_MJ_POWER, record.header.kind);
            EXPECT_EQ(IRP_MN_SET_POWER, record.header.minorFunction);
            recorded = true;
        }
        CloseHandle(control);
        return recorded;
    }

    static bool PassThroughInstalled()
    {
#ifdef VANTREL_POWER_PASSTHROUGH
        return GetParam().deviceType != DeviceTypeValue::Zero;
#else
        return false;
#endif
    }

    PDRIVER_OBJECT probeDriver = nullptr;
    ProbeExtension* probe = nullptr;
    PDEVICE_OBJECT filterDevice = nullptr;

    // Sends a set-power request to the filter, as the power manager does.
    NTSTATUS SendSetPower(PowerCompletion& completion, PIRP* sent)
    {
        PIRP irp = IoAllocateIrp(filterDevice->StackSize, FALSE);
        KeInitializeEvent(&completion.done, NotificationEvent, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_POWER;
        next->MinorFunction = IRP_MN_SET_POWER;
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        IoSetCompletionRoutine(irp, PowerCompleted, &completion, TRUE, TRUE, TRUE);
        *sent = irp;
        return PoCallDriver(filterDevice, irp);
    }

    static void CompleteHeldOnAnotherThread(PIRP held)
    {
        std::thread port([held] {
            held->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(held, IO_NO_INCREMENT);
        });
        port.join();
    }
};

TEST_P(PowerPathTest, ASetPowerRequestReachesThePortAndCompletesOnce)
{
    PowerCompletion completion;
    PIRP irp = nullptr;
    NTSTATUS status = SendSetPower(completion, &irp);
    EXPECT_EQ(1, probe->powerRequests.load()) << "the port saw the request";
    if (GetParam().portPends) {
        EXPECT_EQ(STATUS_PENDING, status) << "the port's pending status reaches the caller";
        EXPECT_EQ(0, completion.calls.load());
        ASSERT_NE(nullptr, probe->pending);
        CompleteHeldOnAnotherThread(probe->pending);
    } else {
        EXPECT_EQ(STATUS_SUCCESS, status);
    }
    KeWaitForSingleObject(&completion.done, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(1, completion.calls.load());
    EXPECT_EQ(STATUS_SUCCESS, completion.status) << "the port's status reaches the caller";
    IoFreeIrp(irp);

    EXPECT_EQ(!PassThroughInstalled(), Recorded());
}

// The service stops while the port holds a power request; the request
// completes later, through no code of the unloaded filter.
TEST_P(PowerPathTest, APowerRequestThatThePortHoldsOutlivesTheUnload)
{
    if (!GetParam().portPends)
        GTEST_SKIP() << "nothing is held";
    PowerCompletion completion;
    PIRP irp = nullptr;
    ASSERT_EQ(STATUS_PENDING, SendSetPower(completion, &irp));
    ASSERT_TRUE(machine.UnloadDriver(kFilterService));
    CompleteHeldOnAnotherThread(probe->pending);
    KeWaitForSingleObject(&completion.done, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(1, completion.calls.load());
    IoFreeIrp(irp);
}

INSTANTIATE_TEST_SUITE_P(
    DeviceTypeAndPort, PowerPathTest,
    ::testing::Values(PowerCase{DeviceTypeValue::Absent, false}, PowerCase{DeviceTypeValue::Absent, true},
                      PowerCase{DeviceTypeValue::Zero, false}, PowerCase{DeviceTypeValue::Zero, true}),
    [](const ::testing::TestParamInfo<PowerCase>& info) {
        std::string name = info.param.deviceType == DeviceTypeValue::Zero ? "DeviceType0" : "DeviceTypeAbsent";
        return name + (info.param.portPends ? "PortPends" : "PortCompletes");
    });

}  // namespace
