// Requests that the filter only passes on: they reach the port as they came,
// from the moment the filter is on the port's stack.
#include "FilterTestSupport.h"
#include "OneDeviceDriver.h"

using namespace filtertest;

namespace {

constexpr UCHAR kFilterResourceRequirements = 0x0D;  // IRP_MN_FILTER_RESOURCE_REQUIREMENTS

// A port that remembers the information each request brought and completes
// it with that information unchanged, as a bus driver does a Plug and Play
// request it does not handle.
NTSTATUS RememberingDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    *static_cast<ULONG_PTR*>(device->DeviceExtension) = irp->IoStatus.Information;
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS RememberingEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = CreateOneDevice(driver, u"\\Device\\Remembering0", sizeof(ULONG_PTR), FILE_DEVICE_SERIAL_PORT,
                                      FALSE, RememberingDispatch, &device);
    if (!NT_SUCCESS(status))
        return status;
    driver->DriverUnload = [](PDRIVER_OBJECT unloading) { IoDeleteDevice(unloading->DeviceObject); };
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI KeepRequest(PDEVICE_OBJECT, PIRP, PVOID)
{
    return STATUS_MORE_PROCESSING_REQUIRED;
}

class PassOnTest : public FilterFixture {
protected:
    // From inside the filter's attach, as another program's thread could:
    // COM11 opened, written to and closed.
    void WriteToComElevenWhenAttached(BOOL* written)
    {
        machine.OnDeviceAttached([written](PDEVICE_OBJECT top) {
            UNICODE_STRING filterDriver;
            RtlInitUnicodeString(&filterDriver, u"\\Driver\\VantrelFlt");
            if (!RtlEqualUnicodeString(&top->DriverObject->DriverName, &filterDriver, TRUE))
                return;
            HANDLE port = Open("COM11");
            DWORD done = 0;
            *written = port != INVALID_HANDLE_VALUE && WriteFile(port, "early", 5, &done, nullptr) && done == 5;
            CloseHandle(port);
        });
    }
};

TEST_F(PassOnTest, APlugAndPlayRequestKeepsTheInformationItCarries)
{
    PDRIVER_OBJECT port = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, machine.StartDriver("Remembering", RememberingEntry, &port));
    WriteMonitorObject(1, "COM50", "\\Device\\Remembering0", 1000000);
    StartFilter();
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(port->DeviceObject);
    ASSERT_NE(port->DeviceObject, top) << "the filter is attached";
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    ULONG resourceList = 0;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(&resourceList);
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_PNP;
    stack->MinorFunction = kFilterResourceRequirements;
    IoSetCompletionRoutine(irp, KeepRequest, nullptr, TRUE, TRUE, TRUE);
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(top, irp));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(&resourceList), *static_cast<ULONG_PTR*>(port->DeviceObject->DeviceExtension));
    IoFreeIrp(irp);
    ObDereferenceObject(top);
    ASSERT_TRUE(machine.UnloadDriver(kFilterService));
    ASSERT_TRUE(machine.UnloadDriver("Remembering"));
}

// Direct-I/O ports: a request that arrives before the filter took on the
// port's I/O method would bring a system buffer that the port cannot use.
class PassOnDirectIoTest : public PassOnTest {
protected:
    void SetUp() override
    {
        SetDword(kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY, TESTPORT_DIRECT_IO_PAIRS_VALUE, 1);
        PassOnTest::SetUp();
        WriteMonitorObject(1, "COM11", kPort0Path, 1000000);
    }

    void ExpectTheEarlyWriteCaptured(BOOL written)
    {
        EXPECT_TRUE(written) << "a write that arrived while the filter was attaching";
        std::vector<Record> records = FetchRecords(1);
        ASSERT_EQ(4u, records.size()) << "open, write, clean-up, close";
        EXPECT_EQ("early", std::string(records[1].data.begin(), records[1].data.end()));
    }
};

TEST_F(PassOnDirectIoTest, ARequestDuringTheSafeAttachIsPassedOn)
{
    BOOL written = FALSE;
    WriteToComElevenWhenAttached(&written);
    StartFilter();
    ExpectTheEarlyWriteCaptured(written);
}

TEST_F(PassOnDirectIoTest, ARequestDuringTheAttachOfASystemWithoutTheSafeCallIsPassedOn)
{
    machine.HideSystemRoutine("IoAttachDeviceToDeviceStackSafe");
    BOOL written = FALSE;
    WriteToComElevenWhenAttached(&written);
    StartFilter();
    ExpectTheEarlyWriteCaptured(written);
}

}  // namespace
