// The comm calls as serial control requests: order, parameter blocks and the
// translation of replies.
#include <windows.h>
#include <ntddser.h>
#include <wdm.h>

#include <Machine.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Sent {
    ULONG code;
    std::vector<UCHAR> input;
};

// A serial port that records what it is sent and answers gets from fixed values.
struct RecorderExtension {
    std::vector<Sent>* sent;
    SERIAL_STATUS status;
    ULONG events;
};

NTSTATUS RecorderDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* recorder = static_cast<RecorderExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
        ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
        ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
        auto* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
        recorder->sent->push_back(Sent{code, std::vector<UCHAR>(buffer, buffer + in)});
        const void* reply = nullptr;
        ULONG size = 0;
        SERIAL_BAUD_RATE baud{19200};
        SERIAL_LINE_CONTROL line{STOP_BITS_2, EVEN_PARITY, 7};
        SERIAL_HANDFLOW handflow{SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_HANDSHAKE | SERIAL_AUTO_RECEIVE,
                                 100, 200};
        SERIAL_CHARS chars{0x1A, 0, 0, 0x0D, 0x11, 0x13};
        if (code == IOCTL_SERIAL_GET_BAUD_RATE) {
            reply = &baud;
            size = sizeof(baud);
        } else if (code == IOCTL_SERIAL_GET_LINE_CONTROL) {
            reply = &line;
            size = sizeof(line);
        } else if (code == IOCTL_SERIAL_GET_HANDFLOW) {
            reply = &handflow;
            size = sizeof(handflow);
        } else if (code == IOCTL_SERIAL_GET_CHARS) {
            reply = &chars;
            size = sizeof(chars);
        } else if (code == IOCTL_SERIAL_GET_COMMSTATUS) {
            reply = &recorder->status;
            size = sizeof(recorder->status);
        } else if (code == IOCTL_SERIAL_WAIT_ON_MASK || code == IOCTL_SERIAL_GET_MODEMSTATUS) {
            reply = &recorder->events;
            size = sizeof(recorder->events);
        }
        if (size != 0) {
            memcpy(buffer, reply, size);
            irp->IoStatus.Information = size;
        }
    }
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS RecorderEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, u"\\Device\\Recorder0");
    RtlInitUnicodeString(&link, u"\\DosDevices\\COM42");
    PDEVICE_OBJECT device;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(RecorderExtension), &name, FILE_DEVICE_SERIAL_PORT, 0, TRUE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_BUFFERED_IO;
    for (auto& function : driver->MajorFunction)
        function = RecorderDispatch;
    driver->DriverUnload = [](PDRIVER_OBJECT unloading) {
        UNICODE_STRING unloadLink;
        RtlInitUnicodeString(&unloadLink, u"\\DosDevices\\COM42");
        IoDeleteSymbolicLink(&unloadLink);
        IoDeleteDevice(unloading->DeviceObject);
    };
    return IoCreateSymbolicLink(&link, &name);
}

class CommTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PDRIVER_OBJECT driver;
        ASSERT_EQ(STATUS_SUCCESS, machine.StartDriver("Recorder", RecorderEntry, &driver));
        recorder = static_cast<RecorderExtension*>(driver->DeviceObject->DeviceExtension);
        recorder->sent = &sent;
        port = CreateFileA("\\\\.\\COM42", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, port);
        sent.clear();
    }
    void TearDown() override
    {
        CloseHandle(port);
        EXPECT_TRUE(machine.UnloadDriver("Recorder"));
    }

    std::vector<ULONG> Codes()
    {
        std::vector<ULONG> codes;
        for (const auto& request : sent)
            codes.push_back(request.code);
        return codes;
    }

    template <class T>
    T InputOf(size_t index)
    {
        T value{};
        EXPECT_EQ(sizeof(T), sent.at(index).input.size());
        memcpy(&value, sent.at(index).input.data(), sizeof(T));
        return value;
    }

    sim::Machine machine;
    std::vector<Sent> sent;
    RecorderExtension* recorder = nullptr;
    HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(CommTest, SetCommStateSendsBaudLineHandflowAndCharsInOrder)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutX = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.EvtChar = 0x0A;
    ASSERT_TRUE(SetCommState(port, &dcb));
    ASSERT_EQ((std::vector<ULONG>{IOCTL_SERIAL_SET_BAUD_RATE, IOCTL_SERIAL_SET_LINE_CONTROL, IOCTL_SERIAL_SET_HANDFLOW,
                                  IOCTL_SERIAL_SET_CHARS}),
              Codes());
    EXPECT_EQ(9600u, InputOf<SERIAL_BAUD_RATE>(0).BaudRate);
    auto line = InputOf<SERIAL_LINE_CONTROL>(1);
    EXPECT_EQ((std::vector<UCHAR>{ONESTOPBIT, ODDPARITY, 8}),
              (std::vector<UCHAR>{line.StopBits, line.Parity, line.WordLength}));
    auto handflow = InputOf<SERIAL_HANDFLOW>(2);
    EXPECT_EQ(static_cast<ULONG>(SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE), handflow.ControlHandShake);
    EXPECT_EQ(static_cast<ULONG>(SERIAL_RTS_HANDSHAKE | SERIAL_AUTO_TRANSMIT), handflow.FlowReplace);
    EXPECT_EQ(2048, handflow.XonLimit);
    EXPECT_EQ(512, handflow.XoffLimit);
    auto chars = InputOf<SERIAL_CHARS>(3);
    EXPECT_EQ(0x0A, chars.EventChar);
    EXPECT_EQ(0x13, chars.XoffChar);
}

TEST_F(CommTest, GetCommStateTranslatesTheFourReplies)
{
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    EXPECT_EQ((std::vector<ULONG>{IOCTL_SERIAL_GET_BAUD_RATE, IOCTL_SERIAL_GET_LINE_CONTROL, IOCTL_SERIAL_GET_HANDFLOW,
                                  IOCTL_SERIAL_GET_CHARS}),
              Codes());
    EXPECT_EQ(19200u, dcb.BaudRate);
    EXPECT_EQ(7, dcb.ByteSize);
    EXPECT_EQ(EVENPARITY, dcb.Parity);
    EXPECT_EQ(TWOSTOPBITS, dcb.StopBits);
    EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_ENABLE), dcb.fDtrControl);
    EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_HANDSHAKE), dcb.fRtsControl);
    EXPECT_EQ(1u, dcb.fOutxCtsFlow);
    EXPECT_EQ(1u, dcb.fInX);
    EXPECT_EQ(0u, dcb.fOutX);
    EXPECT_EQ(100, dcb.XonLim);
    EXPECT_EQ(0x0D, dcb.EvtChar);
    EXPECT_EQ(0x1A, dcb.EofChar);
}

TEST_F(CommTest, ClearCommErrorMapsSerialErrorsAndQueueCounts)
{
    recorder->status.Errors = SERIAL_ERROR_FRAMING | SERIAL_ERROR_QUEUEOVERRUN | SERIAL_ERROR_BREAK;
    recorder->status.AmountInInQueue = 17;
    recorder->status.HoldReasons = SERIAL_TX_WAITING_FOR_CTS;
    DWORD errors = 0;
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ((std::vector<ULONG>{IOCTL_SERIAL_GET_COMMSTATUS}), Codes());
    EXPECT_EQ(static_cast<DWORD>(CE_FRAME | CE_RXOVER | CE_BREAK), errors);
    EXPECT_EQ(17u, stat.cbInQue);
    EXPECT_EQ(1u, stat.fCtsHold);
}

TEST_F(CommTest, SmallerCallsSendTheirOneRequest)
{
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 5, 6};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    ASSERT_TRUE(SetupComm(port, 4096, 1024));
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_ERR));
    ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR));
    ASSERT_TRUE(EscapeCommFunction(port, SETDTR));
    ASSERT_TRUE(EscapeCommFunction(port, CLRBREAK));
    EXPECT_FALSE(EscapeCommFunction(port, 99));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    recorder->events = EV_RXCHAR;
    DWORD events = 0;
    ASSERT_TRUE(WaitCommEvent(port, &events, nullptr));
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), events);
    DWORD modem = 0;
    ASSERT_TRUE(GetCommModemStatus(port, &modem));
    ASSERT_EQ((std::vector<ULONG>{IOCTL_SERIAL_SET_TIMEOUTS, IOCTL_SERIAL_SET_QUEUE_SIZE, IOCTL_SERIAL_SET_WAIT_MASK,
                                  IOCTL_SERIAL_PURGE, IOCTL_SERIAL_SET_DTR, IOCTL_SERIAL_SET_BREAK_OFF,
                                  IOCTL_SERIAL_WAIT_ON_MASK, IOCTL_SERIAL_GET_MODEMSTATUS}),
              Codes());
    EXPECT_EQ(MAXDWORD, InputOf<SERIAL_TIMEOUTS>(0).ReadIntervalTimeout);
    EXPECT_EQ(6u, InputOf<SERIAL_TIMEOUTS>(0).WriteTotalTimeoutConstant);
    EXPECT_EQ(4096u, InputOf<SERIAL_QUEUE_SIZE>(1).InSize);
    EXPECT_EQ(static_cast<ULONG>(EV_RXCHAR | EV_ERR), InputOf<ULONG>(2));
    EXPECT_EQ(static_cast<ULONG>(PURGE_RXABORT | PURGE_RXCLEAR), InputOf<ULONG>(3));
}

}  // namespace
