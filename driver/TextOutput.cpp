// The text form of a record, as the reader of a virtual port receives it in
// form 1: a header line naming the request and 80-column dump lines of its
// data. Every length taken from a record is bounded by the record's size.
#include "FilterDriver.h"

#include "SerialIoctl.h"

namespace {

constexpr ULONG kLineBytes = 80;
constexpr ULONG kTextColumns = 78;
constexpr ULONG kRequestNameColumn = 7;
constexpr ULONG kCountEndColumn = 30;
constexpr ULONG kByteWordColumn = 31;
constexpr ULONG kParameterColumn = 22;
constexpr ULONG kStatisticsColumn = 16;
constexpr ULONG kBytesPerLine = 16;
constexpr ULONG kFirstPairColumn = 9;
constexpr ULONG kSeparatorColumn = 32;
constexpr ULONG kFirstCharColumn = 57;
constexpr ULONG kMaxDword = 0xFFFFFFFF;

// Parameter text of a control request, by the layout of its data.
enum ParameterText {
    Text_None,
    Text_BaudRate,
    Text_QueueSize,
    Text_LineControl,
    Text_Character,
    Text_Timeouts,
    Text_MaskBits,
    Text_Mask,
    Text_Chars,
    Text_HandFlow,
    Text_ModemStatus,
    Text_CommStatus,
    Text_DtrRts,
    Text_ConfigSize,
    Text_CommConfig,
    Text_Statistics,
    Text_Value,
};

struct ControlRequestName {
    ULONG code;
    const char* name;
    ParameterText text;
    BOOLEAN fromInput;  // parameter length from inputLength, else dataLength
    ULONG minimum;
};

const ControlRequestName kControlRequests[] = {
    {IOCTL_SERIAL_SET_BAUD_RATE, "SetBaudRate", Text_BaudRate, TRUE, 4},
    {IOCTL_SERIAL_SET_QUEUE_SIZE, "SetQueueSize", Text_QueueSize, TRUE, 8},
    {IOCTL_SERIAL_SET_LINE_CONTROL, "SetLineControl", Text_LineControl, TRUE, 3},
    {IOCTL_SERIAL_SET_BREAK_ON, "SetBreakOn", Text_None, FALSE, 0},
    {IOCTL_SERIAL_SET_BREAK_OFF, "SetBreakOff", Text_None, FALSE, 0},
    {IOCTL_SERIAL_IMMEDIATE_CHAR, "ImmediateChar", Text_Character, TRUE, 1},
    {IOCTL_SERIAL_SET_TIMEOUTS, "SetTimeouts", Text_Timeouts, TRUE, 20},
    {IOCTL_SERIAL_GET_TIMEOUTS, "GetTimeouts", Text_Timeouts, FALSE, 20},
    {IOCTL_SERIAL_SET_DTR, "SetDTR", Text_None, FALSE, 0},
    {IOCTL_SERIAL_CLR_DTR, "ClrDTR", Text_None, FALSE, 0},
    {IOCTL_SERIAL_RESET_DEVICE, "ResetDevice", Text_None, FALSE, 0},
    {IOCTL_SERIAL_SET_RTS, "SetRTS", Text_None, FALSE, 0},
    {IOCTL_SERIAL_CLR_RTS, "ClrRTS", Text_None, FALSE, 0},
    {IOCTL_SERIAL_SET_XOFF, "SetXOFF", Text_None, FALSE, 0},
    {IOCTL_SERIAL_SET_XON, "SetXON", Text_None, FALSE, 0},
    {IOCTL_SERIAL_GET_WAIT_MASK, "GetWaitMask", Text_MaskBits, FALSE, 4},
    {IOCTL_SERIAL_SET_WAIT_MASK, "SetWaitMask", Text_MaskBits, TRUE, 4},
    {IOCTL_SERIAL_WAIT_ON_MASK, "WaitOnMask", Text_Mask, FALSE, 4},
    {IOCTL_SERIAL_PURGE, "Purge", Text_Mask, TRUE, 4},
    {IOCTL_SERIAL_GET_BAUD_RATE, "GetBaudRate", Text_BaudRate, FALSE, 4},
    {IOCTL_SERIAL_GET_LINE_CONTROL, "GetLineControl", Text_LineControl, FALSE, 3},
    {IOCTL_SERIAL_GET_CHARS, "GetChars", Text_Chars, FALSE, 6},
    {IOCTL_SERIAL_SET_CHARS, "SetChars", Text_Chars, TRUE, 6},
    {IOCTL_SERIAL_GET_HANDFLOW, "GetHandFlow", Text_HandFlow, FALSE, 16},
    {IOCTL_SERIAL_SET_HANDFLOW, "SetHandFlow", Text_HandFlow, TRUE, 16},
    {IOCTL_SERIAL_GET_MODEMSTATUS, "GetModemStatus", Text_ModemStatus, FALSE, 4},
    {IOCTL_SERIAL_GET_COMMSTATUS, "GetCommStatus", Text_CommStatus, FALSE, 20},
    {IOCTL_SERIAL_XOFF_COUNTER, "XoffCounter", Text_None, FALSE, 0},
    {IOCTL_SERIAL_GET_PROPERTIES, "GetProperties", Text_None, FALSE, 0},
    {IOCTL_SERIAL_GET_DTRRTS, "GetDtrRts", Text_DtrRts, FALSE, 4},
    {IOCTL_SERIAL_CONFIG_SIZE, "ConfigSize", Text_ConfigSize, FALSE, 4},
    {IOCTL_SERIAL_GET_COMMCONFIG, "GetCommConfig", Text_CommConfig, FALSE, 24},
    {IOCTL_SERIAL_SET_COMMCONFIG, "SetCommConfig", Text_CommConfig, TRUE, 24},
    {IOCTL_SERIAL_GET_STATS, "GetStats", Text_Statistics, FALSE, 24},
    {IOCTL_SERIAL_CLEAR_STATS, "ClearStats", Text_None, FALSE, 0},
    {IOCTL_SERIAL_GET_MODEM_CONTROL, "GetModemCtrl", Text_Value, FALSE, 4},
    {IOCTL_SERIAL_SET_MODEM_CONTROL, "SetModemCtrl", Text_Value, TRUE, 4},
    {IOCTL_SERIAL_SET_FIFO_CONTROL, "SetFifoCtrl", Text_Value, TRUE, 4},
};

const char kUnknownName[] = "Unknown";

const ControlRequestName* FindControlRequest(ULONG code)
{
    for (const ControlRequestName& request : kControlRequests) {
        if (request.code == code)
            return &request;
    }
    return nullptr;
}

const char* KindName(UCHAR kind)
{
    switch (kind) {
    case RecordKind_Create: return "CreateFile";
    case RecordKind_Close: return "CloseHandle";
    case RecordKind_Read: return "ReadFile";
    case RecordKind_Write: return "WriteFile";
    case 5: return "QueryInfo";
    case 6: return "SetInfo";
    case 9: return "Flush";
    case RecordKind_Cleanup: return "CleanUp";
    default: return kUnknownName;
    }
}

const char* RequestName(const CaptureRecord* record)
{
    if (CaptureRecordIsPortRemoval(*record))
        return "PortRemoved";  // the captured port went away
    if (CaptureRecordIsPortReturn(*record))
        return "PortReturned";  // the captured port came back
    if (record->kind != RecordKind_DeviceControl)
        return KindName(record->kind);
    const ControlRequestName* request = FindControlRequest(record->ioControlCode);
    return request != nullptr ? request->name : kUnknownName;
}

ULONG AvailableData(ULONG recordSize)
{
    return recordSize > CAPTURE_RECORD_HEADER_SIZE ? recordSize - CAPTURE_RECORD_HEADER_SIZE : 0;
}

// Data bytes a read or write record shows: never more than it carries.
ULONG ShownDataLength(const CaptureRecord* record, ULONG recordSize)
{
    if (record->kind != RecordKind_Read && record->kind != RecordKind_Write)
        return 0;
    ULONG available = AvailableData(recordSize);
    return record->dataLength < available ? record->dataLength : available;
}

// Text written into a fixed-size buffer; what does not fit is cut off.
struct TextBuilder {
    char* chars;
    ULONG length;
    ULONG capacity;
};

void AppendChar(TextBuilder* text, char c)
{
    if (text->length < text->capacity)
        text->chars[text->length++] = c;
}

void AppendText(TextBuilder* text, const char* source)
{
    while (*source != 0)
        AppendChar(text, *source++);
}

void AppendHex(TextBuilder* text, ULONG value)
{
    char digits[12];
    ULONG length = ComFuncSub_HexToText(digits, value);
    for (ULONG i = 0; i < length; ++i)
        AppendChar(text, digits[i]);
}

void AppendDecimal(TextBuilder* text, ULONG value)
{
    char digits[12];
    ULONG length = ComFuncSub_DecimalToText(digits, value);
    for (ULONG i = 0; i < length; ++i)
        AppendChar(text, digits[i]);
}

void AppendTimeout(TextBuilder* text, ULONG value)
{
    if (value == kMaxDword)
        AppendText(text, "MAXDWORD");
    else
        AppendDecimal(text, value);
}

ULONG DwordAt(const UCHAR* data, ULONG offset)
{
    return static_cast<ULONG>(data[offset]) | static_cast<ULONG>(data[offset + 1]) << 8 |
           static_cast<ULONG>(data[offset + 2]) << 16 | static_cast<ULONG>(data[offset + 3]) << 24;
}

ULONG WordAt(const UCHAR* data, ULONG offset)
{
    return static_cast<ULONG>(data[offset]) | static_cast<ULONG>(data[offset + 1]) << 8;
}

void AppendLineControl(TextBuilder* text, const UCHAR* data)
{
    static const char kParityLetters[] = "NOEMS";
    static const char* const kStopBits[] = {"1StopBits", "1.5StopBits", "2StopBits"};
    AppendDecimal(text, data[2]);
    AppendText(text, "Bits ");
    AppendChar(text, data[1] < 5 ? kParityLetters[data[1]] : '?');
    AppendText(text, "parity ");
    AppendText(text, data[0] < 3 ? kStopBits[data[0]] : "?StopBits");
}

void AppendChars(TextBuilder* text, const UCHAR* data)
{
    static const char* const kCharNames[] = {"eof", "err", "brk", "evn", "xon", "xof"};
    for (ULONG i = 0; i < 6; ++i) {
        if (i != 0)
            AppendChar(text, ' ');
        AppendText(text, kCharNames[i]);
        AppendDecimal(text, data[i]);
    }
}

void AppendHandFlow(TextBuilder* text, const UCHAR* data)
{
    AppendHex(text, DwordAt(data, 0));
    AppendChar(text, ' ');
    AppendHex(text, DwordAt(data, 4));
    AppendText(text, " xo");
    AppendDecimal(text, DwordAt(data, 8));
    AppendText(text, " xf");
    AppendDecimal(text, DwordAt(data, 12));
}

void AppendCommStatus(TextBuilder* text, const UCHAR* data)
{
    static const char* const kPrefixes[] = {"Er", " Ho", " In", " Out"};
    for (ULONG i = 0; i < 4; ++i) {
        AppendText(text, kPrefixes[i]);
        AppendHex(text, DwordAt(data, 4 * i));
    }
    AppendText(text, data[16] != 0 ? " T" : " F");
    AppendText(text, data[17] != 0 ? " T" : " F");
}

void AppendCommConfig(TextBuilder* text, const UCHAR* data)
{
    AppendText(text, "Size");
    AppendHex(text, DwordAt(data, 0));
    AppendText(text, " Version");
    AppendHex(text, WordAt(data, 4));
    AppendText(text, " SubType");
    AppendHex(text, DwordAt(data, 8));
}

void AppendDwordList(TextBuilder* text, const UCHAR* data, ULONG count)
{
    for (ULONG i = 0; i < count; ++i) {
        if (i != 0)
            AppendChar(text, ' ');
        AppendHex(text, DwordAt(data, 4 * i));
    }
}

void AppendPrefixedHex(TextBuilder* text, const char* prefix, ULONG value)
{
    AppendText(text, prefix);
    AppendHex(text, value);
}

// data holds at least the request's minimum number of bytes.
void AppendParameters(TextBuilder* text, ParameterText kind, const UCHAR* data)
{
    switch (kind) {
    case Text_None: break;
    case Text_BaudRate:
        AppendDecimal(text, DwordAt(data, 0));
        AppendText(text, "bps");
        break;
    case Text_QueueSize:
        AppendPrefixedHex(text, "In", DwordAt(data, 0));
        AppendPrefixedHex(text, " Out", DwordAt(data, 4));
        break;
    case Text_LineControl: AppendLineControl(text, data); break;
    case Text_Character: AppendHex(text, data[0]); break;
    case Text_Timeouts:
        for (ULONG i = 0; i < 5; ++i) {
            if (i != 0)
                AppendChar(text, ' ');
            AppendTimeout(text, DwordAt(data, 4 * i));
        }
        break;
    case Text_MaskBits: AppendPrefixedHex(text, "MaskBits", DwordAt(data, 0)); break;
    case Text_Mask: AppendPrefixedHex(text, "Mask", DwordAt(data, 0)); break;
    case Text_Chars: AppendChars(text, data); break;
    case Text_HandFlow: AppendHandFlow(text, data); break;
    case Text_ModemStatus: AppendPrefixedHex(text, "ModemStatus", DwordAt(data, 0)); break;
    case Text_CommStatus: AppendCommStatus(text, data); break;
    case Text_DtrRts: AppendPrefixedHex(text, "DTR/RTSstatus", DwordAt(data, 0)); break;
    case Text_ConfigSize:
        AppendText(text, "Size");
        AppendDecimal(text, DwordAt(data, 0));
        break;
    case Text_CommConfig: AppendCommConfig(text, data); break;
    case Text_Statistics: AppendDwordList(text, data, 6); break;
    case Text_Value: AppendHex(text, DwordAt(data, 0)); break;
    }
}

// The request's parameter text on line 0, when its record carries enough.
void PutParameterText(char* line, const CaptureRecord* record, ULONG recordSize)
{
    const ControlRequestName* request = FindControlRequest(record->ioControlCode);
    if (request == nullptr || request->text == Text_None)
        return;
    ULONG length = request->fromInput ? record->inputLength : record->dataLength;
    if (length < request->minimum || AvailableData(recordSize) < request->minimum)
        return;
    ULONG column = request->text == Text_Statistics ? kStatisticsColumn : kParameterColumn;
    TextBuilder text = {line + column, 0, kTextColumns - column};
    AppendParameters(&text, request->text, CaptureRecordData(record));
}

void PutText(char* line, ULONG column, const char* text, ULONG maxLength)
{
    for (ULONG i = 0; i < maxLength && text[i] != 0 && column + i < kTextColumns; ++i)
        line[column + i] = text[i];
}

void PutRightAligned(char* line, ULONG endColumn, ULONG value)
{
    char digits[12];
    ULONG length = ComFuncSub_DecimalToText(digits, value);
    for (ULONG i = 0; i < length; ++i)
        line[endColumn + 1 - length + i] = digits[i];
}

void PutHeaderLine(char* line, const CaptureRecord* record, ULONG recordSize, const UCHAR* portName)
{
    if (portName != nullptr)
        PutText(line, 0, reinterpret_cast<const char*>(portName), 8);
    PutText(line, kRequestNameColumn, RequestName(record), kTextColumns);
    if (record->kind == RecordKind_Read || record->kind == RecordKind_Write) {
        PutRightAligned(line, kCountEndColumn, ShownDataLength(record, recordSize));
        PutText(line, kByteWordColumn, "byte", 4);
    } else if (record->kind == RecordKind_DeviceControl) {
        PutParameterText(line, record, recordSize);
    }
}

char HexDigit(ULONG value)
{
    return "0123456789ABCDEF"[value & 0xF];
}

// What the dump shows for a byte: printable ASCII and half-width katakana
// (cp932) as they are, anything else as a dot.
char DisplayCharacter(UCHAR byte)
{
    bool printable = (byte >= 0x20 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xDF);
    return printable ? static_cast<char>(byte) : '.';
}

void PutDataLine(char* line, ULONG offset, const UCHAR* bytes, ULONG count)
{
    for (ULONG i = 0; i < 8; ++i)
        line[i] = HexDigit(offset >> (28 - 4 * i));
    for (ULONG j = 0; j < count; ++j) {
        line[kFirstPairColumn + 3 * j] = HexDigit(bytes[j] >> 4);
        line[kFirstPairColumn + 3 * j + 1] = HexDigit(bytes[j]);
        line[kFirstCharColumn + j] = DisplayCharacter(bytes[j]);
    }
    if (count > 8)
        line[kSeparatorColumn] = '-';
}

void ClearLine(char* line)
{
    for (ULONG i = 0; i < kTextColumns; ++i)
        line[i] = ' ';
    line[kTextColumns] = '\r';
    line[kTextColumns + 1] = '\n';
}

}  // namespace

ULONG ComFuncSub_HexToText(char* out, ULONG value)
{
    ULONG digits = 1;
    while (digits < 8 && (value >> (4 * digits)) != 0)
        ++digits;
    for (ULONG i = 0; i < digits; ++i)
        out[i] = HexDigit(value >> (4 * (digits - 1 - i)));
    out[digits] = 'H';
    return digits + 1;
}

ULONG ComFuncSub_DecimalToText(char* out, ULONG value)
{
    char reversed[10];
    ULONG digits = 0;
    do {
        reversed[digits++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (ULONG i = 0; i < digits; ++i)
        out[i] = reversed[digits - 1 - i];
    return digits;
}

ULONG FormattedTextSize(const CaptureRecord* record, ULONG recordSize)
{
    ULONG n = ShownDataLength(record, recordSize);
    return (1 + (n + kBytesPerLine - 1) / kBytesPerLine) * kLineBytes;
}

void RenderFormattedText(const CaptureRecord* record, ULONG recordSize, const UCHAR* portName, char* text)
{
    ULONG n = ShownDataLength(record, recordSize);
    ULONG lines = FormattedTextSize(record, recordSize) / kLineBytes;
    for (ULONG k = 0; k < lines; ++k)
        ClearLine(text + k * kLineBytes);
    PutHeaderLine(text, record, recordSize, portName);
    const UCHAR* data = CaptureRecordData(record);
    for (ULONG k = 1; k < lines; ++k) {
        ULONG offset = (k - 1) * kBytesPerLine;
        ULONG count = n - offset < kBytesPerLine ? n - offset : kBytesPerLine;
        PutDataLine(text + k * kLineBytes, offset, data + offset, count);
    }
}
