// A record carries only bytes that the port driver reported as transferred,
// or the caller's input of a control request that succeeded: never the
// unwritten rest of a system buffer, never anything of a failed request.
#include "FilterTestSupport.h"

#include <ntddser.h>

using namespace filtertest;

namespace {

class RecordPayloadTest : public FilterFixture {
protected:
    void SetUp() override
    {
        FilterFixture::SetUp();
        WriteMonitorObject(1, "COM11", kPort0Path, 1000000);
        StartFilter();
        port = Open("COM11");
        ASSERT_NE(INVALID_HANDLE_VALUE, port);
    }
    void TearDown() override
    {
        CloseHandle(port);
        FilterFixture::TearDown();
    }

    BOOL SetBaudRate(ULONG rate)
    {
        DWORD returned = 0;
        return DeviceIoControl(port, IOCTL_SERIAL_SET_BAUD_RATE, &rate, sizeof rate, nullptr, 0, &returned, nullptr);
    }

    HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(RecordPayloadTest, FailedAndEmptyRequestsCarryNoBytesAndASuccessfulSetCarriesItsInput)
{
    LARGE_INTEGER size{};
    EXPECT_FALSE(GetFileSizeEx(port, &size)) << "the test port answers no information request";
    EXPECT_FALSE(SetBaudRate(0));
    EXPECT_TRUE(SetBaudRate(19200));
    ULONG rate = 0;
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(port, IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, &rate, 2, &returned, nullptr))
        << "an output too small for the answer";

    std::vector<Record> records = FetchRecords(1);
    ASSERT_EQ(5u, records.size()) << "open, query, two sets, a get";
    EXPECT_EQ(IRP_MJ_QUERY_INFORMATION, records[1].header.kind);
    EXPECT_TRUE(records[1].data.empty()) << "a failed query";
    EXPECT_TRUE(records[2].data.empty()) << "a failed set";
    ASSERT_EQ(4u, records[3].data.size());
    memcpy(&rate, records[3].data.data(), 4);
    EXPECT_EQ(19200u, rate);
    EXPECT_TRUE(records[4].data.empty()) << "a failed get";
    for (const Record& record : records)
        EXPECT_EQ(record.data.size(), CaptureRecordPayloadLength(record.header));
}

}  // namespace
