// The comm calls, issued as the serial control requests in the order that
// Windows' own implementation sends them.
#include "User.h"

#include <ntddser.h>

namespace {

using sim::SendControl;

SERIAL_HANDFLOW HandflowOf(const DCB& dcb)
{
    SERIAL_HANDFLOW handflow{};
    if (dcb.fOutxCtsFlow)
        handflow.ControlHandShake |= SERIAL_CTS_HANDSHAKE;
    if (dcb.fOutxDsrFlow)
        handflow.ControlHandShake |= SERIAL_DSR_HANDSHAKE;
    if (dcb.fDtrControl == DTR_CONTROL_ENABLE)
        handflow.ControlHandShake |= SERIAL_DTR_CONTROL;
    else if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
        handflow.ControlHandShake |= SERIAL_DTR_HANDSHAKE;
    if (dcb.fDsrSensitivity)
        handflow.ControlHandShake |= SERIAL_DSR_SENSITIVITY;
    if (dcb.fAbortOnError)
        handflow.ControlHandShake |= SERIAL_ERROR_ABORT;
    if (dcb.fRtsControl == RTS_CONTROL_ENABLE)
        handflow.FlowReplace |= SERIAL_RTS_CONTROL;
    else if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        handflow.FlowReplace |= SERIAL_RTS_HANDSHAKE;
    else if (dcb.fRtsControl == RTS_CONTROL_TOGGLE)
        handflow.FlowReplace |= SERIAL_TRANSMIT_TOGGLE;
    if (dcb.fErrorChar)
        handflow.FlowReplace |= SERIAL_ERROR_CHAR;
    if (dcb.fNull)
        handflow.FlowReplace |= SERIAL_NULL_STRIPPING;
    if (dcb.fTXContinueOnXoff)
        handflow.FlowReplace |= SERIAL_XOFF_CONTINUE;
    if (dcb.fOutX)
        handflow.FlowReplace |= SERIAL_AUTO_TRANSMIT;
    if (dcb.fInX)
        handflow.FlowReplace |= SERIAL_AUTO_RECEIVE;
    handflow.XonLimit = dcb.XonLim;
    handflow.XoffLimit = dcb.XoffLim;
    return handflow;
}

void ApplyHandflow(const SERIAL_HANDFLOW& handflow, DCB* dcb)
{
    dcb->fOutxCtsFlow = (handflow.ControlHandShake & SERIAL_CTS_HANDSHAKE) != 0;
    dcb->fOutxDsrFlow = (handflow.ControlHandShake & SERIAL_DSR_HANDSHAKE) != 0;
    switch (handflow.ControlHandShake & SERIAL_DTR_MASK) {
    case SERIAL_DTR_CONTROL: dcb->fDtrControl = DTR_CONTROL_ENABLE; break;
    case SERIAL_DTR_HANDSHAKE: dcb->fDtrControl = DTR_CONTROL_HANDSHAKE; break;
    default: dcb->fDtrControl = DTR_CONTROL_DISABLE; break;
    }
    switch (handflow.FlowReplace & SERIAL_RTS_MASK) {
    case SERIAL_RTS_CONTROL: dcb->fRtsControl = RTS_CONTROL_ENABLE; break;
    case SERIAL_RTS_HANDSHAKE: dcb->fRtsControl = RTS_CONTROL_HANDSHAKE; break;
    case SERIAL_TRANSMIT_TOGGLE: dcb->fRtsControl = RTS_CONTROL_TOGGLE; break;
    default: dcb->fRtsControl = RTS_CONTROL_DISABLE; break;
    }
    dcb->fDsrSensitivity = (handflow.ControlHandShake & SERIAL_DSR_SENSITIVITY) != 0;
    dcb->fAbortOnError = (handflow.ControlHandShake & SERIAL_ERROR_ABORT) != 0;
    dcb->fErrorChar = (handflow.FlowReplace & SERIAL_ERROR_CHAR) != 0;
    dcb->fNull = (handflow.FlowReplace & SERIAL_NULL_STRIPPING) != 0;
    dcb->fTXContinueOnXoff = (handflow.FlowReplace & SERIAL_XOFF_CONTINUE) != 0;
    dcb->fOutX = (handflow.FlowReplace & SERIAL_AUTO_TRANSMIT) != 0;
    dcb->fInX = (handflow.FlowReplace & SERIAL_AUTO_RECEIVE) != 0;
    dcb->XonLim = static_cast<WORD>(handflow.XonLimit);
    dcb->XoffLim = static_cast<WORD>(handflow.XoffLimit);
}

DWORD CommErrorsOf(ULONG errors)
{
    DWORD result = 0;
    if (errors & SERIAL_ERROR_BREAK)
        result |= CE_BREAK;
    if (errors & SERIAL_ERROR_FRAMING)
        result |= CE_FRAME;
    if (errors & SERIAL_ERROR_OVERRUN)
        result |= CE_OVERRUN;
    if (errors & SERIAL_ERROR_QUEUEOVERRUN)
        result |= CE_RXOVER;
    if (errors & SERIAL_ERROR_PARITY)
        result |= CE_RXPARITY;
    return result;
}

BOOL SendSet(HANDLE file, DWORD code, const void* input, DWORD size)
{
    return SendControl(file, code, input, size, nullptr, 0, nullptr);
}

BOOL SendGet(HANDLE file, DWORD code, void* output, DWORD size)
{
    return SendControl(file, code, nullptr, 0, output, size, nullptr);
}

}  // namespace

BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    if (lpDCB == nullptr)
        return sim::FailWithError(ERROR_INVALID_PARAMETER);
    SERIAL_BAUD_RATE baud{lpDCB->BaudRate};
    SERIAL_LINE_CONTROL line{lpDCB->StopBits, lpDCB->Parity, lpDCB->ByteSize};
    SERIAL_HANDFLOW handflow = HandflowOf(*lpDCB);
    SERIAL_CHARS chars{
        static_cast<UCHAR>(lpDCB->EofChar), static_cast<UCHAR>(lpDCB->ErrorChar), 0,
        static_cast<UCHAR>(lpDCB->EvtChar), static_cast<UCHAR>(lpDCB->XonChar),   static_cast<UCHAR>(lpDCB->XoffChar)};
    return SendSet(hFile, IOCTL_SERIAL_SET_BAUD_RATE, &baud, sizeof(baud)) &&
           SendSet(hFile, IOCTL_SERIAL_SET_LINE_CONTROL, &line, sizeof(line)) &&
           SendSet(hFile, IOCTL_SERIAL_SET_HANDFLOW, &handflow, sizeof(handflow)) &&
           SendSet(hFile, IOCTL_SERIAL_SET_CHARS, &chars, sizeof(chars));
}

BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB)
{
    if (lpDCB == nullptr)
        return sim::FailWithError(ERROR_INVALID_PARAMETER);
    SERIAL_BAUD_RATE baud{};
    SERIAL_LINE_CONTROL line{};
    SERIAL_HANDFLOW handflow{};
    SERIAL_CHARS chars{};
    if (!SendGet(hFile, IOCTL_SERIAL_GET_BAUD_RATE, &baud, sizeof(baud)) ||
        !SendGet(hFile, IOCTL_SERIAL_GET_LINE_CONTROL, &line, sizeof(line)) ||
        !SendGet(hFile, IOCTL_SERIAL_GET_HANDFLOW, &handflow, sizeof(handflow)) ||
        !SendGet(hFile, IOCTL_SERIAL_GET_CHARS, &chars, sizeof(chars)))
        return FALSE;
    *lpDCB = DCB{};
    lpDCB->DCBlength = sizeof(DCB);
    lpDCB->BaudRate = baud.BaudRate;
    lpDCB->fBinary = 1;
    lpDCB->ByteSize = line.WordLength;
    lpDCB->Parity = line.Parity;
    lpDCB->StopBits = line.StopBits;
    lpDCB->fParity = line.Parity != NOPARITY;
    ApplyHandflow(handflow, lpDCB);
    lpDCB->EofChar = static_cast<char>(chars.EofChar);
    lpDCB->ErrorChar = static_cast<char>(chars.ErrorChar);
    lpDCB->EvtChar = static_cast<char>(chars.EventChar);
    lpDCB->XonChar = static_cast<char>(chars.XonChar);
    lpDCB->XoffChar = static_cast<char>(chars.XoffChar);
    return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    SERIAL_TIMEOUTS timeouts{lpCommTimeouts->ReadIntervalTimeout, lpCommTimeouts->ReadTotalTimeoutMultiplier,
                             lpCommTimeouts->ReadTotalTimeoutConstant, lpCommTimeouts->WriteTotalTimeoutMultiplier,
                             lpCommTimeouts->WriteTotalTimeoutConstant};
    return SendSet(hFile, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof(timeouts));
}

BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    SERIAL_TIMEOUTS timeouts{};
    if (!SendGet(hFile, IOCTL_SERIAL_GET_TIMEOUTS, &timeouts, sizeof(timeouts)))
        return FALSE;
    *lpCommTimeouts = COMMTIMEOUTS{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                                   timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                                   timeouts.WriteTotalTimeoutConstant};
    return TRUE;
}

BOOL WINAPI SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue)
{
    SERIAL_QUEUE_SIZE sizes{dwInQueue, dwOutQueue};
    return SendSet(hFile, IOCTL_SERIAL_SET_QUEUE_SIZE, &sizes, sizeof(sizes));
}

BOOL WINAPI SetCommMask(HANDLE hFile, DWORD dwEvtMask)
{
    return SendSet(hFile, IOCTL_SERIAL_SET_WAIT_MASK, &dwEvtMask, sizeof(dwEvtMask));
}

BOOL WINAPI GetCommMask(HANDLE hFile, LPDWORD lpEvtMask)
{
    return SendGet(hFile, IOCTL_SERIAL_GET_WAIT_MASK, lpEvtMask, sizeof(*lpEvtMask));
}

BOOL WINAPI WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped)
{
    DWORD returned = 0;
    return DeviceIoControl(hFile, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, lpEvtMask, sizeof(*lpEvtMask), &returned,
                           lpOverlapped);
}

BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat)
{
    SERIAL_STATUS status{};
    if (!SendGet(hFile, IOCTL_SERIAL_GET_COMMSTATUS, &status, sizeof(status)))
        return FALSE;
    if (lpErrors != nullptr)
        *lpErrors = CommErrorsOf(status.Errors);
    if (lpStat != nullptr) {
        *lpStat = COMSTAT{};
        lpStat->fCtsHold = (status.HoldReasons & SERIAL_TX_WAITING_FOR_CTS) != 0;
        lpStat->fDsrHold = (status.HoldReasons & SERIAL_TX_WAITING_FOR_DSR) != 0;
        lpStat->fRlsdHold = (status.HoldReasons & SERIAL_TX_WAITING_FOR_DCD) != 0;
        lpStat->fXoffHold = (status.HoldReasons & SERIAL_TX_WAITING_FOR_XON) != 0;
        lpStat->fXoffSent = (status.HoldReasons & SERIAL_TX_WAITING_XOFF_SENT) != 0;
        lpStat->fEof = status.EofReceived != 0;
        lpStat->fTxim = status.WaitForImmediate != 0;
        lpStat->cbInQue = status.AmountInInQueue;
        lpStat->cbOutQue = status.AmountInOutQueue;
    }
    return TRUE;
}

BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags)
{
    return SendSet(hFile, IOCTL_SERIAL_PURGE, &dwFlags, sizeof(dwFlags));
}

BOOL WINAPI EscapeCommFunction(HANDLE hFile, DWORD dwFunc)
{
    static const DWORD codes[] = {0,
                                  IOCTL_SERIAL_SET_XOFF,
                                  IOCTL_SERIAL_SET_XON,
                                  IOCTL_SERIAL_SET_RTS,
                                  IOCTL_SERIAL_CLR_RTS,
                                  IOCTL_SERIAL_SET_DTR,
                                  IOCTL_SERIAL_CLR_DTR,
                                  IOCTL_SERIAL_RESET_DEVICE,
                                  IOCTL_SERIAL_SET_BREAK_ON,
                                  IOCTL_SERIAL_SET_BREAK_OFF};
    if (dwFunc < SETXOFF || dwFunc > CLRBREAK)
        return sim::FailWithError(ERROR_INVALID_PARAMETER);
    return SendSet(hFile, codes[dwFunc], nullptr, 0);
}

BOOL WINAPI GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat)
{
    return SendGet(hFile, IOCTL_SERIAL_GET_MODEMSTATUS, lpModemStat, sizeof(*lpModemStat));
}
