// Builds capture records in std::malloc'ed blocks, as the device delivers them.
#pragma once

#include "CaptureRecord.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

struct TestRecord {
    CaptureRecord* record;
    uint32_t size;
};

inline TestRecord MakeRecord(const CaptureRecord& header, const std::vector<uint8_t>& data)
{
    const uint32_t size = CAPTURE_RECORD_HEADER_SIZE + static_cast<uint32_t>(data.size());
    auto* record = static_cast<CaptureRecord*>(std::malloc(size));
    std::memcpy(record, &header, CAPTURE_RECORD_HEADER_SIZE);
    if (!data.empty())
        std::memcpy(CaptureRecordData(record), data.data(), data.size());
    return TestRecord{record, size};
}

// A Read or Write record carrying data, time stamp in the header's units.
inline TestRecord MakeDataRecord(uint8_t kind, const std::vector<uint8_t>& data, uint64_t timestamp)
{
    CaptureRecord header{};
    header.kind = kind;
    header.dataLength = static_cast<uint32_t>(data.size());
    header.timestamp = timestamp;
    return MakeRecord(header, data);
}

// A device-control record: set requests carry their input (dataLength 0),
// queries their output.
inline TestRecord MakeControlRecord(uint32_t code, uint32_t inputLength, uint32_t dataLength,
                                    const std::vector<uint8_t>& data, uint64_t timestamp = 0)
{
    CaptureRecord header{};
    header.kind = RecordKind_DeviceControl;
    header.ioControlCode = code;
    header.inputLength = inputLength;
    header.dataLength = dataLength;
    header.timestamp = timestamp;
    return MakeRecord(header, data);
}

inline std::vector<uint8_t> LittleEndianWord(uint32_t word, size_t totalBytes)
{
    std::vector<uint8_t> bytes(totalBytes, 0);
    for (size_t i = 0; i < 4 && i < totalBytes; ++i)
        bytes[i] = static_cast<uint8_t>(word >> (8 * i));
    return bytes;
}
