#include "RecordDecoder.h"
#include "StoredRecords.h"
#include "TestRecords.h"

#include "SerialIoctl.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint64_t UnitsPerMs = 10000;

class RecordDecoderTest : public ::testing::Test {
protected:
    RecordStore store{10000, 1};
    RecordDecoder decoder{store, 0};

    void Process(TestRecord r, uint32_t now = 0) { decoder.Process(r.record, r.size, now); }

    std::vector<RecordCopy> Stored() const { return StoredRecordCopies(store); }

    TestRecord Status(uint32_t errorWord, uint32_t dataLength = SERIAL_STATUS_SIZE)
    {
        return MakeControlRecord(IOCTL_SERIAL_GET_COMMSTATUS, 0, dataLength, LittleEndianWord(errorWord, dataLength));
    }

    TestRecord LineControl(uint8_t stop, uint8_t parity, uint8_t bits)
    {
        return MakeControlRecord(IOCTL_SERIAL_SET_LINE_CONTROL, 3, 0, {stop, parity, bits});
    }
};

}  // namespace

TEST_F(RecordDecoderTest, StatusFlagsBecomeLineErrorCodesInTableOrder)
{
    Process(Status(0x0000001A));
    Process(Status(0x0000001F));
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].kind, RecordKind_DeviceControl);
    EXPECT_EQ(stored[0].data, (std::vector<uint8_t>{3, 9, 10}));
    EXPECT_EQ(stored[1].data, (std::vector<uint8_t>{1, 3, 7, 9, 10}));
}

TEST_F(RecordDecoderTest, StatusRepliesWithoutKnownErrorsOrTooShortAreNotKept)
{
    Process(Status(0));
    Process(Status(0x00000020));      // only a bit outside the table
    Process(Status(0x00000001, 18));  // shorter than a status block
    EXPECT_TRUE(Stored().empty());
    EXPECT_EQ(store.TotalCells(), 0u);
}

TEST_F(RecordDecoderTest, BaudRateNeedsFourInputBytes)
{
    Process(MakeControlRecord(IOCTL_SERIAL_SET_BAUD_RATE, 2, 0, {0x80, 0x25}));
    EXPECT_EQ(decoder.BaudRate(), -1);
    Process(MakeControlRecord(IOCTL_SERIAL_SET_BAUD_RATE, 4, 0, LittleEndianWord(9600, 4)));
    EXPECT_EQ(decoder.BaudRate(), 9600);
    EXPECT_TRUE(Stored().empty());
    // Input claimed, but the payload (the completion information) is shorter.
    Process(MakeControlRecord(IOCTL_SERIAL_SET_BAUD_RATE, 4, 2, {0x2C, 0x01}));
    EXPECT_EQ(decoder.BaudRate(), 9600);
}

TEST_F(RecordDecoderTest, LineControlIsPackedAndNeedsThreeInputBytes)
{
    Process(MakeControlRecord(IOCTL_SERIAL_SET_LINE_CONTROL, 2, 0, {2, 1}));
    EXPECT_EQ(decoder.LineControl(), -1);
    Process(LineControl(2, 1, 7));
    EXPECT_EQ(decoder.LineControl(), 0x070102);
    EXPECT_TRUE(Stored().empty());
}

TEST_F(RecordDecoderTest, LineSettingsText)
{
    EXPECT_EQ(decoder.LineSettings(), "");
    Process(LineControl(0, 0, 8));
    EXPECT_EQ(decoder.LineSettings(), "8bit Parity:N Stop:1bit");
    Process(MakeControlRecord(IOCTL_SERIAL_SET_BAUD_RATE, 4, 0, LittleEndianWord(9600, 4)));
    EXPECT_EQ(decoder.LineSettings(), "9600bps 8bit Parity:N Stop:1bit");
    Process(LineControl(3, 6, 7));
    EXPECT_EQ(decoder.LineSettings(), "9600bps 7bit Parity:- Stop:-bit");
    Process(LineControl(1, 4, 5));
    EXPECT_EQ(decoder.LineSettings(), "9600bps 5bit Parity:S Stop:1.5bit");
    EXPECT_EQ(LineSettingsText(115200, -1), "115200bps ");
    EXPECT_EQ(LineSettingsText(-1, 0x080202), "8bit Parity:E Stop:2bit");
}

TEST_F(RecordDecoderTest, DataRecordsCountTowardsTheirDirection)
{
    Process(MakeDataRecord(RecordKind_Write, {1, 2, 3}, 0));
    Process(MakeDataRecord(RecordKind_Read, {4, 5}, 0));
    Process(MakeDataRecord(RecordKind_Read, {}, 0));
    EXPECT_EQ(decoder.SentTotal(), 3u);
    EXPECT_EQ(decoder.ReceivedTotal(), 2u);
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].kind, RecordKind_Write);
    EXPECT_EQ(stored[1].data, (std::vector<uint8_t>{4, 5}));
}

TEST_F(RecordDecoderTest, OtherKindsAndCodesAreConsumedQuietly)
{
    for (uint8_t kind :
         {uint8_t{RecordKind_Create}, uint8_t{RecordKind_Close}, uint8_t{RecordKind_Cleanup}, uint8_t{9}})
        Process(MakeDataRecord(kind, {1, 2}, 0));
    Process(MakeControlRecord(IOCTL_SERIAL_SET_DTR, 0, 4, {1, 2, 3, 4}));
    EXPECT_TRUE(Stored().empty());
    EXPECT_EQ(decoder.SentTotal(), 0u);
    EXPECT_EQ(decoder.ReceivedTotal(), 0u);
}

TEST_F(RecordDecoderTest, LostDataInsertsAMarkerBeforeTheRecord)
{
    Process(MakeDataRecord(RecordKind_Read, {1}, 5 * UnitsPerMs));
    TestRecord lost = MakeDataRecord(RecordKind_Read, {1, 2, 3, 4, 5}, 6 * UnitsPerMs);
    lost.record->flags = CAPTURE_FLAG_DATA_LOST | 0x80;
    Process(lost);

    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[1].kind, RecordKind_DeviceControl);
    EXPECT_EQ(stored[1].data, (std::vector<uint8_t>{LineErrorCode_LostData}));
    EXPECT_EQ(stored[1].timeCounter, 0u);
    EXPECT_EQ(stored[2].kind, RecordKind_Read);
    EXPECT_EQ(stored[2].timeCounter, TimeCounterMax);
    EXPECT_EQ(decoder.LostCount(), 1u);
    EXPECT_EQ(decoder.ReceivedTotal(), 6u);
    // The marker has no time cell (counter 0 is below the limit): one cell.
    EXPECT_EQ(store.TotalCells(), 2u + 1 + 6);
}

TEST_F(RecordDecoderTest, LostDataMarkerAppearsEvenWhenTheRecordIsNotKept)
{
    TestRecord lost = MakeDataRecord(RecordKind_Close, {}, 0);
    lost.record->flags = CAPTURE_FLAG_DATA_LOST;
    Process(lost);
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].data, (std::vector<uint8_t>{0}));
    EXPECT_EQ(decoder.LostCount(), 1u);
}

TEST_F(RecordDecoderTest, TimeCountersMeasureFromThePreviousKeptRecord)
{
    const uint64_t t0 = 131000000000000000ull;
    Process(MakeDataRecord(RecordKind_Read, {1}, t0));
    Process(MakeDataRecord(RecordKind_Write, {2}, t0 + 123400));
    Process(MakeControlRecord(IOCTL_SERIAL_SET_BAUD_RATE, 4, 0, LittleEndianWord(300, 4), t0 + 900000));
    Process(MakeDataRecord(RecordKind_Read, {3}, t0 + 123400 + 50 * UnitsPerMs));  // the baud record does not count
    Process(MakeDataRecord(RecordKind_Read, {4}, t0 + 123400 + 50 * UnitsPerMs + 1000000ull * UnitsPerMs));
    Process(MakeDataRecord(RecordKind_Read, {5}, t0));  // earlier than its predecessor

    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored[0].timeCounter, TimeCounterMax);  // first record
    EXPECT_EQ(stored[1].timeCounter, 12u);
    EXPECT_EQ(stored[2].timeCounter, 50u);
    EXPECT_EQ(stored[3].timeCounter, TimeCounterMax);  // more than 999999 ms later
    EXPECT_EQ(stored[4].timeCounter, TimeCounterMax);
}

TEST_F(RecordDecoderTest, IdleTimeCountsFromTheLastKeptRecordAndSaturates)
{
    decoder.RestartIdle(1000);
    EXPECT_EQ(decoder.IdleStep(1250), 250u);
    Process(MakeDataRecord(RecordKind_Read, {1}, 0), 2000);
    Process(MakeDataRecord(RecordKind_Close, {}, 0), 2500);  // not kept: no effect
    EXPECT_EQ(decoder.IdleStep(3000), 1000u);
    EXPECT_EQ(decoder.IdleStep(2000 + TimeCounterMax), TimeCounterMax);
    EXPECT_EQ(decoder.IdleStep(2000 + TimeCounterMax + 1), IdleSaturatedReport);
    EXPECT_EQ(decoder.IdleStep(2000 + TimeCounterMax), IdleSaturatedReport);  // stays until a record

    Process(MakeDataRecord(RecordKind_Read, {2}, 1), 5000000);
    EXPECT_EQ(Stored().back().timeCounter, TimeCounterMax);
    EXPECT_EQ(decoder.IdleStep(5000040), 40u);
}

TEST_F(RecordDecoderTest, IdleTimeSurvivesTheTickCountWrapping)
{
    decoder.RestartIdle(0xFFFFFF00u);
    EXPECT_EQ(decoder.IdleStep(0x100), 0x200u);
}

// Records the device returns must never be read past the bytes it returned.
TEST_F(RecordDecoderTest, RecordsShorterThanTheirHeaderAreDropped)
{
    for (uint32_t size : {0u, 1u, 39u}) {
        auto* block = static_cast<CaptureRecord*>(std::calloc(1, size + 1));
        decoder.Process(block, size, 0);
    }
    EXPECT_TRUE(Stored().empty());
    EXPECT_EQ(decoder.LostCount(), 0u);
}

TEST_F(RecordDecoderTest, PayloadBeyondTheReturnedBytesDropsTheRecordButNotTheLoss)
{
    TestRecord read = MakeDataRecord(RecordKind_Read, {1, 2, 3}, 0);
    read.record->dataLength = 4;
    read.record->flags = CAPTURE_FLAG_DATA_LOST;
    Process(read);
    TestRecord baud = MakeControlRecord(IOCTL_SERIAL_SET_BAUD_RATE, 4, 0, {0x80, 0x25});
    Process(baud);
    TestRecord status = Status(0x1, SERIAL_STATUS_SIZE);
    status.record->dataLength = 0xFFFFFFFF;
    Process(status);

    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].data, (std::vector<uint8_t>{LineErrorCode_LostData}));
    EXPECT_EQ(decoder.LostCount(), 1u);
    EXPECT_EQ(decoder.ReceivedTotal(), 0u);
    EXPECT_EQ(decoder.BaudRate(), -1);
}

TEST_F(RecordDecoderTest, BytesBeyondThePayloadAreHarmless)
{
    TestRecord read = MakeDataRecord(RecordKind_Read, {7, 8, 9}, 0);
    read.record->dataLength = 2;
    Process(read);
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].data, (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(decoder.ReceivedTotal(), 2u);
}

TEST_F(RecordDecoderTest, APortRemovalBecomesItsMarkerAndOtherPlugAndPlayRecordsAreQuiet)
{
    for (uint8_t minor : {CAPTURE_PNP_SURPRISE_REMOVAL, uint8_t{0x07}, CAPTURE_PNP_REMOVE_DEVICE}) {
        TestRecord record = MakeDataRecord(RecordKind_PlugAndPlay, {}, 0);
        record.record->minorFunction = minor;
        Process(record);
    }
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].data, (std::vector<uint8_t>{LineErrorCode_PortRemoved}));
    EXPECT_EQ(stored[1].data, (std::vector<uint8_t>{LineErrorCode_PortRemoved}));
    EXPECT_EQ(decoder.RemovalCount(), 2u);
    EXPECT_EQ(decoder.LostCount(), 0u);
}
