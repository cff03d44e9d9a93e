// Device-control requests of a capture device (device type FILE_DEVICE_UNKNOWN,
// buffered, any access). Freestanding.
#pragma once

#include <stdint.h>

constexpr uint32_t CaptureControlCode(uint32_t function)
{
    return (0x22u << 16) | (function << 2);
}

// Retired: filters hand records to their capture devices by a direct call
// in the driver; a capture device refuses this code
// (STATUS_INVALID_DEVICE_REQUEST), so that no program can forge traffic.
constexpr uint32_t IOCTL_CAPTURE_ADD = CaptureControlCode(0);
// 16 bytes out: status flags, size of the next record, records pending, bytes pending.
constexpr uint32_t IOCTL_CAPTURE_QUERY = CaptureControlCode(1);
// The next record, with the device's status flags in its `flags`.
constexpr uint32_t IOCTL_CAPTURE_FETCH = CaptureControlCode(2);
// 8 bytes per captured port.
constexpr uint32_t IOCTL_CAPTURE_PORT_NAMES = CaptureControlCode(3);

// As many whole records, oldest first, as fit after a CaptureBatchHeader in
// the output buffer, each with the status flags a fetch would give it. An
// older driver answers it with nothing.
constexpr uint32_t IOCTL_CAPTURE_FETCH_BATCH = CaptureControlCode(4);

static_assert(IOCTL_CAPTURE_ADD == 0x00220000, "add");
static_assert(IOCTL_CAPTURE_QUERY == 0x00220004, "query");
static_assert(IOCTL_CAPTURE_FETCH == 0x00220008, "fetch");
static_assert(IOCTL_CAPTURE_PORT_NAMES == 0x0022000C, "port names");
static_assert(IOCTL_CAPTURE_FETCH_BATCH == 0x00220010, "batched fetch");

// Reply of IOCTL_CAPTURE_QUERY.
struct CaptureQueryReply {
    uint32_t statusFlags;  // CAPTURE_FLAG_DATA_LOST
    uint32_t nextRecordSize;
    uint32_t pendingRecords;
    uint32_t pendingBytes;
};
static_assert(sizeof(CaptureQueryReply) == 16, "query reply is 16 bytes");

// Head of the IOCTL_CAPTURE_FETCH_BATCH reply; the records follow it.
struct CaptureBatchHeader {
    uint32_t recordCount;
    uint32_t nextRecordSize;  // of the oldest record left in the device; 0 when none is left
    // Dropped for lack of room since the previous batch: records, and the
    // bytes that their reads and writes transferred.
    uint32_t droppedRecords;
    uint32_t droppedBytes;
};
static_assert(sizeof(CaptureBatchHeader) == 16, "batch header is 16 bytes");
