// The capture record: what the filter driver produces for every completed
// request and the monitor decodes. Freestanding: no standard library.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Values of the I/O request major function that the record captured.
enum RecordKind : uint8_t {
    RecordKind_Create = 0,
    RecordKind_Close = 2,
    RecordKind_Read = 3,
    RecordKind_Write = 4,
    RecordKind_DeviceControl = 14,
    RecordKind_Cleanup = 18,
    RecordKind_PlugAndPlay = 27,
};

// Minor functions of a Plug and Play record that mean the captured port went
// away (its adapter was unplugged): the filter records the surprise removal,
// or the removal itself when none came before it. The port is captured no
// more after such a record.
constexpr uint8_t CAPTURE_PNP_REMOVE_DEVICE = 0x02;
constexpr uint8_t CAPTURE_PNP_SURPRISE_REMOVAL = 0x17;
// The minor function of a Plug and Play record that means the port came back
// (its adapter was plugged in again under the same COM name) and is captured
// again from this record on: the start of the port's device.
constexpr uint8_t CAPTURE_PNP_START_DEVICE = 0x00;

// Bit of `flags` (and of the capture device's status word): records were
// dropped before this one.
constexpr uint32_t CAPTURE_FLAG_DATA_LOST = 0x00000001;

#pragma pack(push, 1)
struct CaptureRecord {
    uint8_t kind;  // RecordKind
    uint8_t minorFunction;
    uint8_t reserved1[2];
    uint32_t ioControlCode;  // meaningful for RecordKind_DeviceControl
    uint32_t sourceDevice;   // number of the filter that saw the request, no address
    uint32_t portIndex;
    uint32_t inputLength;
    uint32_t dataLength;  // bytes transferred or returned
    uint32_t flags;
    uint32_t reserved2;
    uint64_t timestamp;  // system time, 100-ns units; the monitor stores ms here
    // data follows: dataLength bytes, or inputLength bytes when dataLength is 0
};
#pragma pack(pop)

constexpr uint32_t CAPTURE_RECORD_HEADER_SIZE = 40;

static_assert(sizeof(CaptureRecord) == CAPTURE_RECORD_HEADER_SIZE, "record header is 40 bytes");
static_assert(offsetof(CaptureRecord, kind) == 0, "kind at 0");
static_assert(offsetof(CaptureRecord, minorFunction) == 1, "minorFunction at 1");
static_assert(offsetof(CaptureRecord, ioControlCode) == 4, "ioControlCode at 4");
static_assert(offsetof(CaptureRecord, sourceDevice) == 8, "sourceDevice at 8");
static_assert(offsetof(CaptureRecord, portIndex) == 12, "portIndex at 12");
static_assert(offsetof(CaptureRecord, inputLength) == 16, "inputLength at 16");
static_assert(offsetof(CaptureRecord, dataLength) == 20, "dataLength at 20");
static_assert(offsetof(CaptureRecord, flags) == 24, "flags at 24");
static_assert(offsetof(CaptureRecord, timestamp) == 32, "timestamp at 32");

// Number of payload bytes a record carries: its completion information,
// or for set requests (information 0) its input.
inline uint32_t CaptureRecordPayloadLength(const CaptureRecord& r)
{
    return r.dataLength != 0 ? r.dataLength : r.inputLength;
}

inline bool CaptureRecordIsPortRemoval(const CaptureRecord& r)
{
    return r.kind == RecordKind_PlugAndPlay &&
           (r.minorFunction == CAPTURE_PNP_SURPRISE_REMOVAL || r.minorFunction == CAPTURE_PNP_REMOVE_DEVICE);
}

inline bool CaptureRecordIsPortReturn(const CaptureRecord& r)
{
    return r.kind == RecordKind_PlugAndPlay && r.minorFunction == CAPTURE_PNP_START_DEVICE;
}

inline uint8_t* CaptureRecordData(CaptureRecord* r)
{
    return reinterpret_cast<uint8_t*>(r) + CAPTURE_RECORD_HEADER_SIZE;
}

inline const uint8_t* CaptureRecordData(const CaptureRecord* r)
{
    return reinterpret_cast<const uint8_t*>(r) + CAPTURE_RECORD_HEADER_SIZE;
}
