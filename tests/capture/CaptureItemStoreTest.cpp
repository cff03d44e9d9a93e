#include "CaptureItemStore.h"
#include "Settings.h"
#include "SettingsDirectory.h"

#include <string>

namespace {

class CaptureItemStore : public SettingsDirectory {
protected:
    static constexpr int WIDTHS[CaptureItemColumnCount] = {120, 140, 160};

    static void WriteItemSection(int number, const char* com, int type, int size, const char* port)
    {
        std::string section = NumberedName("Data", number);
        if (com)
            WriteString(section.c_str(), "COM", com);
        WriteInt(section.c_str(), "Type", type);
        WriteInt(section.c_str(), "Size", size);
        WriteString(section.c_str(), "Port", port);
    }

    static std::vector<std::string> LoadedPorts(const CaptureItemRows& rows)
    {
        std::vector<std::string> ports;
        for (int row = 0; row < rows.ItemCount(); ++row)
            ports.push_back(rows.PortText(row));
        return ports;
    }
};

TEST_F(CaptureItemStore, SectionWithoutComIsSkippedAndSavingRenumbers)
{
    WriteInt(SETTINGS_SYSTEM, "DataCount", 3);
    WriteItemSection(0, "COM1", 0, 10000, "");
    WriteItemSection(1, nullptr, 1, 20000, "COM8");
    WriteItemSection(2, "COM3", 2, 30000, "COM9");

    CaptureItemRows rows;
    LoadItems(rows);
    ASSERT_EQ(LoadedPorts(rows), (std::vector<std::string>{"COM1", "COM3"}));

    SaveItems(rows, WIDTHS);
    EXPECT_EQ(rows.ItemCount(), 0);
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "DataCount", 0), 2u);
    EXPECT_EQ(ReadString("Data1", "COM", ""), "COM3");
    EXPECT_EQ(ReadString("Data1", "Port", ""), "COM9");
    EXPECT_EQ(ReadInt("Data1", "Type", 7), 2u);
    EXPECT_EQ(ReadInt("Data1", "Size", 0), 30000u);
    EXPECT_TRUE(FileHasSection("Data0"));
    EXPECT_FALSE(FileHasSection("Data2"));
}

TEST_F(CaptureItemStore, SavedKeysComeInTheirOrderAndWidthsFirst)
{
    CaptureItemRows rows;
    auto item = NewCaptureItem();
    CopyItemText(item->port, sizeof item->port, "COM4");
    CopyItemText(item->outputPort, sizeof item->outputPort, "COM6");
    item->form = PortFormat;
    item->bufferSize = 10000;
    rows.InsertOrUpdateRow(std::move(item), -1);
    SaveItems(rows, WIDTHS);

    std::string text = FileText();
    size_t tab = text.find("[Tab0]");
    size_t com = text.find("COM=COM4");
    size_t size = text.find("Size=10000");
    size_t type = text.find("Type=1");
    size_t port = text.find("Port=COM6");
    ASSERT_NE(tab, std::string::npos);
    ASSERT_NE(port, std::string::npos);
    EXPECT_LT(tab, com);
    EXPECT_LT(com, size);
    EXPECT_LT(size, type);
    EXPECT_LT(type, port);
    for (int column = 0; column < CaptureItemColumnCount; ++column)
        EXPECT_EQ(ReadColumnWidth(column), WIDTHS[column]);
}

TEST_F(CaptureItemStore, SavingFewerItemsRemovesTheSurplusSections)
{
    WriteInt(SETTINGS_SYSTEM, "DataCount", 4);
    for (int number = 0; number < 4; ++number)
        WriteItemSection(number, "COM2", 0, 10000, "");
    CaptureItemRows rows;
    LoadItems(rows);
    ASSERT_EQ(rows.ItemCount(), 4);
    rows.DeleteRow(3);
    rows.DeleteRow(0);
    SaveItems(rows, WIDTHS);
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "DataCount", 0), 2u);
    EXPECT_TRUE(FileHasSection("Data1"));
    EXPECT_FALSE(FileHasSection("Data2"));
    EXPECT_FALSE(FileHasSection("Data3"));
}

TEST_F(CaptureItemStore, ThirtyStoredItemsAllLoadInOrder)
{
    WriteInt(SETTINGS_SYSTEM, "DataCount", 30);
    for (int number = 0; number < 30; ++number)
        WriteItemSection(number, NumberedName("COM", number + 1).c_str(), 0, 10000, "");
    CaptureItemRows rows;
    LoadItems(rows);
    ASSERT_EQ(rows.ItemCount(), 30);
    EXPECT_EQ(rows.PortText(0), "COM1");
    EXPECT_EQ(rows.PortText(29), "COM30");
    EXPECT_FALSE(rows.CanAdd());
}

TEST_F(CaptureItemStore, NoFileMeansNoItemsAndDefaultWidths)
{
    CaptureItemRows rows;
    LoadItems(rows);
    EXPECT_EQ(rows.ItemCount(), 0);
    for (int column = 0; column < CaptureItemColumnCount; ++column)
        EXPECT_EQ(ReadColumnWidth(column), 100);
}

// A damaged count must cost only the sections that exist, when loading and
// when deleting the old sections before saving.
TEST_F(CaptureItemStore, HugeDataCountReadsOnlyExistingSections)
{
    WriteInt(SETTINGS_SYSTEM, "DataCount", 2147483647);
    WriteItemSection(0, "COM1", 0, 10000, "");
    WriteItemSection(7, "COM7", 0, 10000, "");
    WriteItemSection(2000000000, "COM9", 0, 10000, "");
    CaptureItemRows rows;
    LoadItems(rows);
    ASSERT_EQ(LoadedPorts(rows), (std::vector<std::string>{"COM1", "COM7", "COM9"}));
    rows.DeleteRow(2);
    SaveItems(rows, WIDTHS);
    EXPECT_EQ(ReadInt(SETTINGS_SYSTEM, "DataCount", 0), 2u);
    EXPECT_EQ(ReadString("Data1", "COM", ""), "COM7");
    EXPECT_FALSE(FileHasSection("Data7"));
    EXPECT_FALSE(FileHasSection("Data2000000000"));
}

TEST_F(CaptureItemStore, CountBelowOneOrNotANumberMeansNoSections)
{
    WriteItemSection(0, "COM1", 0, 10000, "");
    for (const char* count : {"-3", "0", "", "abc"}) {
        WriteString(SETTINGS_SYSTEM, "DataCount", count);
        CaptureItemRows rows;
        LoadItems(rows);
        EXPECT_EQ(rows.ItemCount(), 0) << "DataCount=" << count;
        EXPECT_TRUE(ExistingDataSections(static_cast<int32_t>(ReadInt(SETTINGS_SYSTEM, "DataCount", 0))).empty());
    }
}

TEST_F(CaptureItemStore, OnlySectionsNamedWithDataAndANumberCount)
{
    for (const char* name : {"Data01", "DataX", "Data", "Data-1", "Tab0", "DATA2", "data3", "Data5"})
        WriteString(name, "COM", "COM1");
    EXPECT_EQ(ExistingDataSections(5), (std::vector<int>{2, 3}));
}

TEST_F(CaptureItemStore, ValuesAreTakenAsTheyStand)
{
    WriteInt(SETTINGS_SYSTEM, "DataCount", 4);
    WriteItemSection(0, "COM1", 9, 20000000, "COM5");
    WriteItemSection(1, "COM2", -2, 5, "");
    WriteString("Data2", "COM", "COM3");
    WriteString("Data2", "Type", "x1");
    WriteString("Data2", "Size", "");
    std::string longText(300, 'c');
    WriteString("Data3", "COM", longText.c_str());
    WriteString("Data3", "Port", longText.c_str());

    CaptureItemRows rows;
    LoadItems(rows);
    ASSERT_EQ(rows.ItemCount(), 4);
    EXPECT_EQ(rows.Item(0)->form, 9);
    EXPECT_EQ(rows.Item(0)->bufferSize, 20000000u);
    EXPECT_STREQ(rows.Item(0)->outputPort, "COM5");
    EXPECT_EQ(rows.Item(1)->form, -2);
    EXPECT_EQ(rows.Item(1)->bufferSize, 5u);
    EXPECT_EQ(rows.Item(2)->form, 0);
    EXPECT_EQ(rows.Item(2)->bufferSize, 0u);
    EXPECT_EQ(std::string(rows.Item(3)->port), std::string(259, 'c'));
    EXPECT_EQ(std::string(rows.Item(3)->outputPort), std::string(259, 'c'));

    SaveItems(rows, WIDTHS);
    EXPECT_EQ(ReadInt("Data0", "Type", 0), 9u);
    EXPECT_EQ(ReadInt("Data0", "Size", 0), 20000000u);
    EXPECT_EQ(static_cast<int32_t>(ReadInt("Data1", "Type", 0)), -2);
}

}  // namespace
