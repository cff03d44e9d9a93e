#include "CaptureItem.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace {

std::unique_ptr<CaptureItem> MakeItem(const char* port, int32_t form, const char* outputPort, uint32_t size)
{
    auto item = NewCaptureItem();
    CopyItemText(item->port, sizeof item->port, port);
    CopyItemText(item->outputPort, sizeof item->outputPort, outputPort);
    item->form = form;
    item->bufferSize = size;
    return item;
}

TEST(CaptureItemRows, PortItemShowsPortThenOutputPortWithFormTextThenSize)
{
    CaptureItemRows rows;
    ASSERT_EQ(rows.InsertOrUpdateRow(MakeItem("COM3", PortWriteFile, "COM7", 40000), -1), 0);
    EXPECT_EQ(rows.PortText(0), "COM3");
    EXPECT_STREQ(FormColumnPort(*rows.Item(0)), "COM7");
    EXPECT_EQ(OutputFormTextId(rows.Item(0)->form), static_cast<unsigned>(IDS_FORM_PORT_WRITE_FILE));
    EXPECT_EQ(rows.SizeText(0), "40000");
}

TEST(CaptureItemRows, MonitorItemShowsOnlyTheFormTextButKeepsItsOutputPort)
{
    CaptureItemRows rows;
    rows.InsertOrUpdateRow(MakeItem("COM1", StandardMonitor, "COM5", 10000), -1);
    EXPECT_STREQ(FormColumnPort(*rows.Item(0)), "");
    EXPECT_EQ(OutputFormTextId(StandardMonitor), static_cast<unsigned>(IDS_FORM_STANDARD_MONITOR));
    EXPECT_STREQ(rows.Item(0)->outputPort, "COM5");
}

TEST(CaptureItemRows, FormsOutsideZeroToThreeShowTheSignalSelectionText)
{
    CaptureItemRows rows;
    rows.InsertOrUpdateRow(MakeItem("COM1", 9, "COM8", 10000), -1);
    rows.InsertOrUpdateRow(MakeItem("COM2", -1, "COM9", 10000), -1);
    EXPECT_STREQ(FormColumnPort(*rows.Item(0)), "COM8");
    EXPECT_STREQ(FormColumnPort(*rows.Item(1)), "COM9");
    EXPECT_EQ(rows.Item(0)->form, 9);
    EXPECT_EQ(OutputFormTextId(9), static_cast<unsigned>(IDS_FORM_PORT_SIGNAL_SELECT));
    EXPECT_EQ(OutputFormTextId(-1), static_cast<unsigned>(IDS_FORM_PORT_SIGNAL_SELECT));
    EXPECT_EQ(OutputFormTextId(PortFormat), static_cast<unsigned>(IDS_FORM_PORT_FORMAT));
    EXPECT_EQ(OutputFormTextId(PortReadFile), static_cast<unsigned>(IDS_FORM_PORT_READ_FILE));
}

TEST(CaptureItemRows, SizeShowsAsTheSignedNumberTheSettingsFileStores)
{
    CaptureItemRows rows;
    rows.InsertOrUpdateRow(MakeItem("COM1", StandardMonitor, "", 0xFFFFFFFFu), -1);
    EXPECT_EQ(rows.SizeText(0), "-1");
}

TEST(CaptureItemRows, UpdateReplacesTheRecordAndAllThreeTexts)
{
    CaptureItemRows rows;
    rows.InsertOrUpdateRow(MakeItem("COM1", PortReadFile, "COM4", 20000), -1);
    rows.InsertOrUpdateRow(MakeItem("COM2", StandardMonitor, "", 30000), -1);
    EXPECT_EQ(rows.InsertOrUpdateRow(MakeItem("COM6", PortFormat, "COM9", 50000), 0), 0);
    EXPECT_EQ(rows.ItemCount(), 2);
    EXPECT_EQ(rows.PortText(0), "COM6");
    EXPECT_STREQ(FormColumnPort(*rows.Item(0)), "COM9");
    EXPECT_EQ(rows.Item(0)->form, PortFormat);
    EXPECT_EQ(rows.SizeText(0), "50000");
    EXPECT_EQ(rows.PortText(1), "COM2");
}

TEST(CaptureItemRows, IndicesThatAreNoRowAreRefused)
{
    CaptureItemRows rows;
    EXPECT_EQ(rows.InsertOrUpdateRow(MakeItem("COM1", 0, "", 1), 0), -1);
    EXPECT_EQ(rows.InsertOrUpdateRow(MakeItem("COM1", 0, "", 1), -2), -1);
    EXPECT_EQ(rows.InsertOrUpdateRow(nullptr, -1), -1);
    EXPECT_EQ(rows.ItemCount(), 0);
    EXPECT_EQ(rows.Item(0), nullptr);
    EXPECT_EQ(rows.PortText(0), "");
    EXPECT_EQ(rows.SizeText(0), "");
    EXPECT_FALSE(rows.Remove(nullptr));
}

TEST(CaptureItemRows, RemoveKeepsTheOrderOfTheOthers)
{
    CaptureItemRows rows;
    for (const char* port : {"COM1", "COM2", "COM3"})
        rows.InsertOrUpdateRow(MakeItem(port, 0, "", 10000), -1);
    auto stranger = MakeItem("COM2", 0, "", 10000);
    EXPECT_FALSE(rows.Remove(stranger.get()));
    ASSERT_TRUE(rows.Remove(rows.Item(1)));
    ASSERT_EQ(rows.ItemCount(), 2);
    EXPECT_EQ(rows.PortText(0), "COM1");
    EXPECT_EQ(rows.PortText(1), "COM3");
}

// A sorted list hands its order over; the records themselves stay put.
TEST(CaptureItemRows, FollowOrderTakesOnlyAnOrderOfExactlyItsOwnRecords)
{
    CaptureItemRows rows;
    for (const char* port : {"COM1", "COM2", "COM3"})
        rows.InsertOrUpdateRow(MakeItem(port, 0, "", 10000), -1);
    CaptureItem* first = rows.Item(0);
    CaptureItem* second = rows.Item(1);
    CaptureItem* third = rows.Item(2);
    auto stranger = MakeItem("COM4", 0, "", 10000);

    EXPECT_FALSE(rows.FollowOrder({third, first}));
    EXPECT_FALSE(rows.FollowOrder({third, first, first}));
    EXPECT_FALSE(rows.FollowOrder({third, first, stranger.get()}));
    EXPECT_EQ(rows.Item(0), first);
    EXPECT_EQ(rows.Item(2), third);

    ASSERT_TRUE(rows.FollowOrder({third, first, second}));
    EXPECT_EQ(rows.Item(0), third);
    EXPECT_EQ(rows.Item(1), first);
    EXPECT_EQ(rows.Item(2), second);
    EXPECT_EQ(rows.PortText(0), "COM3");
}

TEST(CaptureItemRows, AddingStopsAtTwentyFiveItems)
{
    CaptureItemRows rows;
    for (int i = 0; i < 24; ++i)
        rows.InsertOrUpdateRow(MakeItem("COM1", 0, "", 10000), -1);
    EXPECT_TRUE(rows.CanAdd());
    rows.InsertOrUpdateRow(MakeItem("COM1", 0, "", 10000), -1);
    EXPECT_FALSE(rows.CanAdd());
}

TEST(CaptureItemRows, ViewShowsFormOnlyWhileActive)
{
    CaptureItemRows rows;
    auto item = MakeItem("COM3", PortReadFile, "COM7", 12345);
    CopyItemText(item->deviceObject, sizeof item->deviceObject, "ZrVlObj1");
    rows.InsertOrUpdateRow(std::move(item), -1);

    CaptureItemView view{};
    ASSERT_TRUE(rows.GetCaptureItemView(0, &view));
    EXPECT_EQ(view.form, -1);
    rows.Item(0)->active = 1;
    ASSERT_TRUE(rows.GetCaptureItemView(0, &view));
    EXPECT_EQ(view.form, PortReadFile);
    EXPECT_STREQ(view.port, "COM3");
    EXPECT_STREQ(view.outputPort, "COM7");
    EXPECT_STREQ(view.deviceObject, "ZrVlObj1");
    EXPECT_EQ(view.bufferSize, 12345u);
    EXPECT_FALSE(rows.GetCaptureItemView(1, &view));
    EXPECT_FALSE(rows.GetCaptureItemView(-1, &view));
}

TEST(CaptureItemText, OverlongTextIsCutToKeepItsTerminator)
{
    std::string longText(300, 'p');
    auto item = NewCaptureItem();
    CopyItemText(item->port, sizeof item->port, longText.c_str());
    EXPECT_EQ(strlen(item->port), CAPTURE_ITEM_TEXT_SIZE - 1);
    CopyItemText(item->deviceObject, sizeof item->deviceObject, "ZrVlObj123456789012");
    EXPECT_STREQ(item->deviceObject, "ZrVlObj12345678");
    CopyItemText(item->outputPort, sizeof item->outputPort, nullptr);
    EXPECT_STREQ(item->outputPort, "");
}

}  // namespace
