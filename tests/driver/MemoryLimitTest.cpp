// The driver's memory: no-execute pool from Windows 8 on, a bounded byte
// limit, and records that the limit cannot hold counted as lost.
#include "FilterTestSupport.h"

#include "system/SystemState.h"

using namespace filtertest;

namespace {

class MemoryLimitTest : public FilterFixture {};

// Windows 7 stops at NonPagedPoolNx (the simulation does too); Windows 8
// and later should get no executable pool from the driver.
TEST_F(MemoryLimitTest, TheDriversPoolIsNoExecuteFromWindows8On)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 1000000);
    for (const sim::WindowsVersion& version : {sim::kWindows7, sim::kWindows8, sim::kWindows10}) {
        machine.system().info.SetVersion(version);
        StartFilter();
        HANDLE port = Open("COM11");  // its records are in the pool now
        ASSERT_NE(INVALID_HANDLE_VALUE, port);
        CloseHandle(port);
        std::vector<ULONG> tags = machine.PoolTagsOf(kFilterService);
        std::vector<POOL_TYPE> types = machine.PoolTypesOf(kFilterService);
        POOL_TYPE expected = version.major > 6 || version.minor >= 2 ? NonPagedPoolNx : NonPagedPool;
        size_t ownBlocks = 0;
        size_t otherType = 0;
        for (size_t i = 0; i < tags.size(); ++i) {
            if (tags[i] != kPoolTag || types[i] == PagedPool)
                continue;
            ++ownBlocks;
            otherType += types[i] != expected ? 1 : 0;
        }
        EXPECT_NE(0u, ownBlocks);
        EXPECT_EQ(0u, otherType) << "non-paged blocks not of type " << expected << " on Windows " << version.major
                                 << "." << version.minor;
        ASSERT_TRUE(machine.UnloadDriver(kFilterService));
    }
}

TEST_F(MemoryLimitTest, TheByteLimitIsBoundedAndARecordLargerThanItIsCountedAsLost)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 0xFFFFFFFF);
    WriteMonitorObject(2, "COM13", kPort2Path, 100);
    StartFilter();
    ULONG limits[2] = {};
    for (PDEVICE_OBJECT device = filter->DeviceObject; device != nullptr; device = device->NextDevice) {
        if (HeadOf(device)->kind == kControlDeviceKind)
            limits[ControlOf(device)->maxBytes == 100 ? 1 : 0] = ControlOf(device)->maxBytes;
    }
    EXPECT_EQ(kMaxCaptureBytes, limits[0]);

    HANDLE port = Open("COM13");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    DWORD done = 0;
    std::string fits(60, 'f');
    std::string tooLarge(61, 'x');
    ASSERT_TRUE(WriteFile(port, tooLarge.data(), 61, &done, nullptr));
    ASSERT_TRUE(WriteFile(port, fits.data(), 60, &done, nullptr));
    std::vector<Record> records = FetchRecords(2);
    CloseHandle(port);
    ASSERT_EQ(2u, records.size()) << "the open and the write of 60 bytes";
    EXPECT_EQ(uint32_t(CAPTURE_FLAG_DATA_LOST), records[0].header.flags & CAPTURE_FLAG_DATA_LOST);
    EXPECT_EQ(fits, std::string(records[1].data.begin(), records[1].data.end()));
}

TEST_F(MemoryLimitTest, AListFilledToExactlyItsByteLimitDropsNothingAndFlagsNoLoss)
{
    std::vector<uint8_t> record(60, 0);
    for (ULONG limit : {120u, 60u}) {
        RecordList list;
        ZR_InitializeList(&list, limit);
        ULONG flags = 0;
        for (ULONG added = 0; added < limit; added += 60) {
            bool dropped = true;
            EXPECT_EQ(STATUS_SUCCESS, ZR_AddBufferCopy(&list, 0, 60, record.data(), limit, &flags, &dropped));
            EXPECT_FALSE(dropped);
        }
        RecordListState state = ZR_GetState(&list, &flags);
        EXPECT_EQ(limit / 60, state.count) << "limit " << limit;
        EXPECT_EQ(limit, state.bytes);
        EXPECT_EQ(0u, state.statusFlags);
        ZR_DeleteList(&list);
    }
}

}  // namespace
