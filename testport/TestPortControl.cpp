// Serial control requests, answered as a port driver answers them: a set
// request needs its whole parameter block as input, a get request room for
// its whole reply; shorter buffers are refused with STATUS_BUFFER_TOO_SMALL
// and never read or written past their length.
#include "TestPort.h"

namespace testportdriver {

namespace {

const ULONG kMaxBaudRate = 921600;

struct Request {
    ULONG code;
    PVOID buffer;
    ULONG inputLength;
    ULONG outputLength;
    ULONG_PTR returned;
};

template <typename T>
const T* InputOf(const Request* request)
{
    return request->inputLength < sizeof(T) ? NULL : static_cast<const T*>(request->buffer);
}

template <typename T>
NTSTATUS Reply(Request* request, const T& value)
{
    if (request->outputLength < sizeof(T))
        return STATUS_BUFFER_TOO_SMALL;
    RtlCopyMemory(request->buffer, &value, sizeof(T));
    request->returned = sizeof(T);
    return STATUS_SUCCESS;
}

// Copies a whole parameter block from the input into `target`.
template <typename T>
NTSTATUS Store(const Request* request, T* target)
{
    const T* input = InputOf<T>(request);
    if (input == NULL)
        return STATUS_BUFFER_TOO_SMALL;
    *target = *input;
    return STATUS_SUCCESS;
}

bool ValidLineControl(const SERIAL_LINE_CONTROL& line)
{
    return line.WordLength >= 5 && line.WordLength <= 8 && line.Parity <= SPACE_PARITY && line.StopBits <= STOP_BITS_2;
}

bool ValidHandflow(const SERIAL_HANDFLOW& handflow)
{
    return (handflow.ControlHandShake & SERIAL_DTR_MASK) != SERIAL_DTR_MASK && handflow.XonLimit >= 0 &&
           handflow.XoffLimit >= 0;
}

bool ValidTimeouts(const SERIAL_TIMEOUTS& timeouts)
{
    return !(timeouts.ReadIntervalTimeout == MAXULONG && timeouts.ReadTotalTimeoutMultiplier == MAXULONG &&
             timeouts.ReadTotalTimeoutConstant == MAXULONG);
}

// The lines that a handflow setting drives: DTR unless DTR control is off,
// RTS when it is on or used for handshaking (toggle leaves it low while idle).
ULONG LinesOfHandflow(const SERIAL_HANDFLOW& handflow)
{
    ULONG lines = 0;
    if (handflow.ControlHandShake & SERIAL_DTR_MASK)
        lines |= SERIAL_DTR_STATE;
    ULONG rts = handflow.FlowReplace & SERIAL_RTS_MASK;
    if (rts == SERIAL_RTS_CONTROL || rts == SERIAL_RTS_HANDSHAKE)
        lines |= SERIAL_RTS_STATE;
    return lines;
}

NTSTATUS SetBaudRate(TestPortEnd* end, const Request* request)
{
    const SERIAL_BAUD_RATE* input = InputOf<SERIAL_BAUD_RATE>(request);
    if (input == NULL)
        return STATUS_BUFFER_TOO_SMALL;
    if (input->BaudRate == 0 || input->BaudRate > kMaxBaudRate)
        return STATUS_INVALID_PARAMETER;
    end->baudRate = *input;
    return STATUS_SUCCESS;
}

NTSTATUS SetLineControl(TestPortEnd* end, const Request* request)
{
    const SERIAL_LINE_CONTROL* input = InputOf<SERIAL_LINE_CONTROL>(request);
    if (input == NULL)
        return STATUS_BUFFER_TOO_SMALL;
    if (!ValidLineControl(*input))
        return STATUS_INVALID_PARAMETER;
    end->lineControl = *input;
    return STATUS_SUCCESS;
}

NTSTATUS SetHandflow(TestPortEnd* end, const Request* request, Completions* done)
{
    const SERIAL_HANDFLOW* input = InputOf<SERIAL_HANDFLOW>(request);
    if (input == NULL)
        return STATUS_BUFFER_TOO_SMALL;
    if (!ValidHandflow(*input))
        return STATUS_INVALID_PARAMETER;
    end->handflow = *input;
    SetLines(end, LinesOfHandflow(*input), done);
    return STATUS_SUCCESS;
}

NTSTATUS SetTimeouts(TestPortEnd* end, const Request* request)
{
    const SERIAL_TIMEOUTS* input = InputOf<SERIAL_TIMEOUTS>(request);
    if (input == NULL)
        return STATUS_BUFFER_TOO_SMALL;
    if (!ValidTimeouts(*input))
        return STATUS_INVALID_PARAMETER;
    end->timeouts = *input;
    return STATUS_SUCCESS;
}

NTSTATUS SetQueueSize(TestPortEnd* end, const Request* request)
{
    // The receive queue keeps its fixed size; the request is remembered for
    // the properties reply only.
    return Store(request, &end->queueSize);
}

// Set or clear one line by hand; refused while the handflow drives it.
NTSTATUS ChangeLine(TestPortEnd* end, ULONG line, BOOLEAN on, Completions* done)
{
    bool handshake = line == SERIAL_DTR_STATE
                         ? (end->handflow.ControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_HANDSHAKE
                         : (end->handflow.FlowReplace & SERIAL_RTS_MASK) == SERIAL_RTS_HANDSHAKE;
    if (handshake)
        return STATUS_INVALID_PARAMETER;
    SetLines(end, on ? (end->lines | line) : (end->lines & ~line), done);
    return STATUS_SUCCESS;
}

NTSTATUS SetModemControl(TestPortEnd* end, const Request* request, Completions* done)
{
    const ULONG* input = InputOf<ULONG>(request);
    if (input == NULL)
        return STATUS_BUFFER_TOO_SMALL;
    ULONG lines = 0;
    if (*input & SERIAL_IOC_MCR_DTR)
        lines |= SERIAL_DTR_STATE;
    if (*input & SERIAL_IOC_MCR_RTS)
        lines |= SERIAL_RTS_STATE;
    SetLines(end, lines, done);
    return STATUS_SUCCESS;
}

NTSTATUS SetBreak(TestPortEnd* end, BOOLEAN on, Completions* done)
{
    // The peer sees a break on the line.
    if (on && !end->breakOn && end->peer->open)
        RaiseErrors(end->peer, SERIAL_ERROR_BREAK, done);
    end->breakOn = on;
    return STATUS_SUCCESS;
}

NTSTATUS SendImmediate(TestPortEnd* end, const Request* request, Completions* done)
{
    const UCHAR* input = InputOf<UCHAR>(request);
    if (input == NULL)
        return STATUS_BUFFER_TOO_SMALL;
    if (end->peer->open)
        Receive(end->peer, input, 1, done);
    ++end->stats.TransmittedCount;
    return STATUS_SUCCESS;
}

NTSTATUS ReportStatus(TestPortEnd* end, Request* request)
{
    SERIAL_STATUS status;
    RtlZeroMemory(&status, sizeof status);
    status.Errors = end->errors;
    status.AmountInInQueue = end->receivedCount;
    NTSTATUS result = Reply(request, status);
    if (NT_SUCCESS(result))
        end->errors = 0;
    return result;
}

NTSTATUS ReportProperties(const TestPortEnd* end, Request* request)
{
    SERIAL_COMMPROP properties;
    RtlZeroMemory(&properties, sizeof properties);
    properties.PacketLength = sizeof properties;
    properties.PacketVersion = 2;
    properties.ServiceMask = SERIAL_SP_SERIALCOMM;
    properties.MaxRxQueue = TESTPORT_RECEIVE_QUEUE;
    properties.MaxBaud = SERIAL_BAUD_USER;
    properties.ProvSubType = SERIAL_SP_RS232;
    properties.ProvCapabilities = SERIAL_PCF_DTRDSR | SERIAL_PCF_RTSCTS | SERIAL_PCF_CD | SERIAL_PCF_TOTALTIMEOUTS |
                                  SERIAL_PCF_INTTIMEOUTS | SERIAL_PCF_SPECIALCHARS;
    properties.SettableParams = SERIAL_SP_PARITY | SERIAL_SP_BAUD | SERIAL_SP_DATABITS | SERIAL_SP_STOPBITS |
                                SERIAL_SP_HANDSHAKING | SERIAL_SP_PARITY_CHECK | SERIAL_SP_CARRIER_DETECT;
    properties.SettableBaud = SERIAL_BAUD_USER;
    properties.SettableData = SERIAL_DATABITS_5 | SERIAL_DATABITS_6 | SERIAL_DATABITS_7 | SERIAL_DATABITS_8;
    properties.SettableStopParity = SERIAL_STOPBITS_10 | SERIAL_STOPBITS_15 | SERIAL_STOPBITS_20 | SERIAL_PARITY_NONE |
                                    SERIAL_PARITY_ODD | SERIAL_PARITY_EVEN | SERIAL_PARITY_MARK | SERIAL_PARITY_SPACE;
    properties.CurrentRxQueue = end->queueSize.InSize;
    return Reply(request, properties);
}

NTSTATUS ReportErrorsNextTime(TestPortEnd* end, const Request* request, Completions* done)
{
    const ULONG* input = InputOf<ULONG>(request);
    if (input == NULL)
        return STATUS_BUFFER_TOO_SMALL;
    if (*input & ~TESTPORT_ERROR_FLAGS)
        return STATUS_INVALID_PARAMETER;
    RaiseErrors(end, *input, done);
    return STATUS_SUCCESS;
}

NTSTATUS SetWaitMaskRequest(TestPortEnd* end, const Request* request, Completions* done)
{
    const ULONG* input = InputOf<ULONG>(request);
    return input == NULL ? STATUS_BUFFER_TOO_SMALL : SetWaitMask(end, *input, done);
}

NTSTATUS PurgeRequest(TestPortEnd* end, const Request* request, Completions* done)
{
    const ULONG* input = InputOf<ULONG>(request);
    return input == NULL ? STATUS_BUFFER_TOO_SMALL : Purge(end, *input, done);
}

ULONG ModemControlOf(const TestPortEnd* end)
{
    return ((end->lines & SERIAL_DTR_STATE) ? SERIAL_IOC_MCR_DTR : 0) |
           ((end->lines & SERIAL_RTS_STATE) ? SERIAL_IOC_MCR_RTS : 0);
}

NTSTATUS Answer(TestPortEnd* end, Request* request, Completions* done)
{
    switch (request->code) {
    case IOCTL_SERIAL_SET_BAUD_RATE: return SetBaudRate(end, request);
    case IOCTL_SERIAL_GET_BAUD_RATE: return Reply(request, end->baudRate);
    case IOCTL_SERIAL_SET_LINE_CONTROL: return SetLineControl(end, request);
    case IOCTL_SERIAL_GET_LINE_CONTROL: return Reply(request, end->lineControl);
    case IOCTL_SERIAL_SET_HANDFLOW: return SetHandflow(end, request, done);
    case IOCTL_SERIAL_GET_HANDFLOW: return Reply(request, end->handflow);
    case IOCTL_SERIAL_SET_CHARS: return Store(request, &end->chars);
    case IOCTL_SERIAL_GET_CHARS: return Reply(request, end->chars);
    case IOCTL_SERIAL_SET_TIMEOUTS: return SetTimeouts(end, request);
    case IOCTL_SERIAL_GET_TIMEOUTS: return Reply(request, end->timeouts);
    case IOCTL_SERIAL_SET_QUEUE_SIZE: return SetQueueSize(end, request);
    case IOCTL_SERIAL_SET_DTR: return ChangeLine(end, SERIAL_DTR_STATE, TRUE, done);
    case IOCTL_SERIAL_CLR_DTR: return ChangeLine(end, SERIAL_DTR_STATE, FALSE, done);
    case IOCTL_SERIAL_SET_RTS: return ChangeLine(end, SERIAL_RTS_STATE, TRUE, done);
    case IOCTL_SERIAL_CLR_RTS: return ChangeLine(end, SERIAL_RTS_STATE, FALSE, done);
    case IOCTL_SERIAL_GET_DTRRTS: return Reply(request, end->lines);
    case IOCTL_SERIAL_GET_MODEMSTATUS: return Reply(request, ModemStatusOf(end));
    case IOCTL_SERIAL_GET_MODEM_CONTROL: return Reply(request, ModemControlOf(end));
    case IOCTL_SERIAL_SET_MODEM_CONTROL: return SetModemControl(end, request, done);
    case IOCTL_SERIAL_SET_BREAK_ON: return SetBreak(end, TRUE, done);
    case IOCTL_SERIAL_SET_BREAK_OFF: return SetBreak(end, FALSE, done);
    case IOCTL_SERIAL_IMMEDIATE_CHAR: return SendImmediate(end, request, done);
    case IOCTL_SERIAL_GET_COMMSTATUS: return ReportStatus(end, request);
    case IOCTL_SERIAL_GET_PROPERTIES: return ReportProperties(end, request);
    case IOCTL_SERIAL_GET_STATS: return Reply(request, end->stats);
    case IOCTL_SERIAL_CLEAR_STATS: RtlZeroMemory(&end->stats, sizeof end->stats); return STATUS_SUCCESS;
    case IOCTL_SERIAL_CONFIG_SIZE: return Reply(request, static_cast<ULONG>(0));
    case IOCTL_SERIAL_SET_WAIT_MASK: return SetWaitMaskRequest(end, request, done);
    case IOCTL_SERIAL_GET_WAIT_MASK: return Reply(request, end->waitMask);
    case IOCTL_SERIAL_PURGE: return PurgeRequest(end, request, done);
    // Flow-control characters and FIFO settings mean nothing on a wire
    // without a UART.
    case IOCTL_SERIAL_SET_XON:
    case IOCTL_SERIAL_SET_XOFF:
    case IOCTL_SERIAL_RESET_DEVICE:
    case IOCTL_SERIAL_SET_FIFO_CONTROL:
    case IOCTL_SERIAL_LSRMST_INSERT: return STATUS_SUCCESS;
    case IOCTL_TESTPORT_REPORT_ERRORS: return ReportErrorsNextTime(end, request, done);
    default: return STATUS_INVALID_PARAMETER;
    }
}

}  // namespace

NTSTATUS NTAPI TestPortDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    TestPortEnd* end = EndOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    Request request = {stack->Parameters.DeviceIoControl.IoControlCode, irp->AssociatedIrp.SystemBuffer,
                       stack->Parameters.DeviceIoControl.InputBufferLength,
                       stack->Parameters.DeviceIoControl.OutputBufferLength, 0};
    if (request.code == IOCTL_SERIAL_WAIT_ON_MASK)
        return WaitOnMask(end, irp);  // completed or pended there
    if (request.code == IOCTL_TESTPORT_PLUG_IN_PEER)
        return CompleteNow(irp, PlugInPeer(end), 0);  // completed
    Completions done;
    InitCompletions(&done);
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    NTSTATUS status = Answer(end, &request, &done);
    KeReleaseSpinLock(end->lock, irql);
    CompleteAll(&done);
    return CompleteNow(irp, status, request.returned);  // completed
}

}  // namespace testportdriver
