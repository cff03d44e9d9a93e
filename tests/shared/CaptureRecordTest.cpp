#include "CaptureIoctl.h"
#include "CaptureRecord.h"
#include "SerialIoctl.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(CaptureRecord, PayloadIsInformationOrElseInput)
{
    CaptureRecord r{};
    r.inputLength = 4;
    EXPECT_EQ(CaptureRecordPayloadLength(r), 4u);
    r.dataLength = 3;
    EXPECT_EQ(CaptureRecordPayloadLength(r), 3u);
}

TEST(CaptureRecord, HeaderIsLittleEndianOnTheWire)
{
    // Bytes as the driver writes them: kind 14, code 0x001B0004, input 4, time 1.
    unsigned char wire[44] = {14, 0, 0, 0, 0x04, 0x00, 0x1B, 0x00};
    wire[16] = 4;
    wire[32] = 1;
    wire[40] = 0x80;
    wire[41] = 0x25;
    CaptureRecord r;
    std::memcpy(&r, wire, sizeof r);
    EXPECT_EQ(r.kind, RecordKind_DeviceControl);
    EXPECT_EQ(r.ioControlCode, static_cast<uint32_t>(IOCTL_SERIAL_SET_BAUD_RATE));
    EXPECT_EQ(r.inputLength, 4u);
    EXPECT_EQ(r.timestamp, 1u);
    uint32_t baud;
    std::memcpy(&baud, CaptureRecordData(reinterpret_cast<CaptureRecord*>(wire)), 4);
    EXPECT_EQ(baud, 9600u);
}
