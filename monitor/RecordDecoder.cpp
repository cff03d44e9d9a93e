#include "RecordDecoder.h"

#include "SerialIoctl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint64_t TimestampUnitsPerMs = 10000;

struct ErrorFlagCode {
    uint32_t flag;
    uint8_t code;
};

// Codes are written in this order.
constexpr ErrorFlagCode ErrorFlagCodes[] = {
    {SERIAL_ERROR_BREAK, 1},        {SERIAL_ERROR_FRAMING, 3}, {SERIAL_ERROR_OVERRUN, 7},
    {SERIAL_ERROR_QUEUEOVERRUN, 9}, {SERIAL_ERROR_PARITY, 10},
};

const char* const ParityNames[8] = {"N", "O", "E", "M", "S", "-", "-", "-"};
const char* const StopNames[4] = {"1", "1.5", "2", "-"};

uint32_t ReadWord(const CaptureRecord& record)
{
    uint32_t word;
    std::memcpy(&word, CaptureRecordData(&record), sizeof word);
    return word;
}

bool FitsInBuffer(const CaptureRecord& record, uint32_t size)
{
    return CaptureRecordPayloadLength(record) <= size - CAPTURE_RECORD_HEADER_SIZE;
}

// Replaces the status block by its line error codes; returns how many.
uint32_t WriteLineErrorCodes(CaptureRecord& record)
{
    const uint32_t errors = ReadWord(record);
    uint8_t* codes = CaptureRecordData(&record);
    uint32_t count = 0;
    for (const ErrorFlagCode& entry : ErrorFlagCodes) {
        if (errors & entry.flag)
            codes[count++] = entry.code;
    }
    return count;
}

}  // namespace

std::string LineSettingsText(int32_t baudRate, int32_t lineControl)
{
    char text[80];
    std::string result;
    if (baudRate != -1) {
        std::snprintf(text, sizeof text, "%dbps ", baudRate);
        result += text;
    }
    if (lineControl != -1) {
        const uint32_t packed = static_cast<uint32_t>(lineControl);
        std::snprintf(text, sizeof text, "%dbit Parity:%s Stop:%sbit", static_cast<int>((packed >> 16) & 0xFF),
                      ParityNames[(packed >> 8) & 7], StopNames[packed & 3]);
        result += text;
    }
    return result;
}

RecordDecoder::RecordDecoder(RecordStore& store, uint32_t createdTick) : store_(store), lastRecordTick_(createdTick) {}

void RecordDecoder::Process(CaptureRecord* record, uint32_t size, uint32_t now)
{
    if (record != nullptr)
        ProcessInPlace(record, size, now);
    std::free(record);
}

void RecordDecoder::ProcessInPlace(CaptureRecord* record, uint32_t size, uint32_t now)
{
    if (Admit(record, size, now))
        Keep(*record, size, now);
}

bool RecordDecoder::Admit(CaptureRecord* record, uint32_t size, uint32_t now)
{
    if (size < CAPTURE_RECORD_HEADER_SIZE)
        return false;
    // The loss happened whether or not this record itself is usable.
    if (record->flags & CAPTURE_FLAG_DATA_LOST) {
        ++lostCount_;
        AddMarker(now, LineErrorCode_LostData);
    }
    if (CaptureRecordIsPortRemoval(*record)) {
        ++removalCount_;
        AddMarker(now, LineErrorCode_PortRemoved);
        return false;
    }
    if (CaptureRecordIsPortReturn(*record)) {
        ++returnCount_;
        AddMarker(now, LineErrorCode_PortReturned);
        return false;
    }
    return FitsInBuffer(*record, size) && Decode(*record);
}

void RecordDecoder::AddMarker(uint32_t now, uint8_t lineErrorCode)
{
    havePreviousTimestamp_ = false;
    idleSaturated_ = false;
    lastRecordTick_ = now;
    alignas(CaptureRecord) uint8_t bytes[LostDataMarkerSize] = {};
    auto* marker = reinterpret_cast<CaptureRecord*>(bytes);
    marker->kind = RecordKind_DeviceControl;
    marker->ioControlCode = IOCTL_SERIAL_GET_COMMSTATUS;
    marker->dataLength = 1;
    CaptureRecordData(marker)[0] = lineErrorCode;
    store_.AddCopy(*marker, LostDataMarkerSize);
}

// Updates totals and line settings; returns whether the record is kept.
bool RecordDecoder::Decode(CaptureRecord& record)
{
    switch (record.kind) {
    case RecordKind_Read: receivedTotal_ += record.dataLength; return record.dataLength > 0;
    case RecordKind_Write: sentTotal_ += record.dataLength; return record.dataLength > 0;
    case RecordKind_DeviceControl: return DecodeDeviceControl(record);
    default: return false;
    }
}

// The payload is known to lie within the buffer; each case also checks that
// it holds the bytes it reads.
bool RecordDecoder::DecodeDeviceControl(CaptureRecord& record)
{
    const uint32_t payload = CaptureRecordPayloadLength(record);
    const uint8_t* data = CaptureRecordData(&record);
    switch (record.ioControlCode) {
    case IOCTL_SERIAL_SET_BAUD_RATE:
        if (record.inputLength >= 4 && payload >= 4)
            baudRate_ = static_cast<int32_t>(ReadWord(record));
        return false;
    case IOCTL_SERIAL_SET_LINE_CONTROL:
        if (record.inputLength >= 3 && payload >= 3)
            lineControl_ = static_cast<int32_t>(data[0] | (data[1] << 8) | (data[2] << 16));
        return false;
    case IOCTL_SERIAL_GET_COMMSTATUS:
        if (record.dataLength < SERIAL_STATUS_SIZE || ReadWord(record) == 0)
            return false;
        record.dataLength = WriteLineErrorCodes(record);
        return record.dataLength > 0;
    default: return false;
    }
}

void RecordDecoder::Keep(CaptureRecord& record, uint32_t size, uint32_t now)
{
    const uint32_t timeCounter = TimeCounterFor(record.timestamp);
    havePreviousTimestamp_ = true;
    previousTimestamp_ = record.timestamp;
    idleSaturated_ = false;
    lastRecordTick_ = now;
    store_.AddStamped(record, size, timeCounter);
}

uint32_t RecordDecoder::TimeCounterFor(uint64_t timestamp) const
{
    if (!havePreviousTimestamp_ || idleSaturated_)
        return TimeCounterMax;
    const uint64_t ms = (timestamp - previousTimestamp_) / TimestampUnitsPerMs;
    return ms > TimeCounterMax ? TimeCounterMax : static_cast<uint32_t>(ms);
}

uint32_t RecordDecoder::IdleStep(uint32_t now)
{
    const uint32_t elapsed = now - lastRecordTick_;
    if (elapsed > TimeCounterMax)
        idleSaturated_ = true;
    return idleSaturated_ ? IdleSaturatedReport : elapsed;
}

void RecordDecoder::RestartIdle(uint32_t now)
{
    idleSaturated_ = false;
    lastRecordTick_ = now;
}
