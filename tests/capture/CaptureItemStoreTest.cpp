#include "CaptureItemStore.h"
#include "Settings.h"
#include "SettingsDirectory.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

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

    static std::vector<std::string> PortNames(int first, int count)
    {
        std::vector<std::string> ports;
        for (int number = first; number < first + count; ++number)
            ports.push_back(NumberedName("COM", number));
        return ports;
    }

    // The user's file: the items as SaveRows writes them, their count and the
    // first column's width, between sections that a save must keep as they are.
    static std::string FileWithItems(const std::vector<std::string>& ports, int width)
    {
        std::string text = "; kept as it is\r\n[System]\r\nWinPosX=-8\r\nColor1=16512\r\nPrintTop=5\r\nDataCount=" +
                           std::to_string(ports.size()) + "\r\n[Tab0]\r\nColumn0=" + std::to_string(width) + "\r\n";
        for (size_t number = 0; number < ports.size(); ++number)
            text += "[Data" + std::to_string(number) + "]\r\nCOM=" + ports[number] +
                    "\r\nSize=20000\r\nType=2\r\nPort=COM20\r\n";
        return text + "[Other]\r\nkey=value\r\n";
    }

    static void ExpectOtherSectionsKept()
    {
        EXPECT_EQ(FileText().rfind("; kept as it is\r\n[System]\r\nWinPosX=-8\r\nColor1=16512\r\nPrintTop=5\r\n", 0),
                  0u);
        EXPECT_EQ(ReadString("Other", "key", ""), "value");
    }

    static bool SaveRows(const std::vector<std::string>& ports)
    {
        CaptureItemRows rows;
        for (const std::string& port : ports) {
            auto item = NewCaptureItem();
            CopyItemText(item->port, sizeof item->port, port.c_str());
            CopyItemText(item->outputPort, sizeof item->outputPort, "COM20");
            item->form = PortWriteFile;
            item->bufferSize = 20000;
            rows.InsertOrUpdateRow(std::move(item), -1);
        }
        bool saved = SaveItems(rows, WIDTHS);
        EXPECT_EQ(rows.ItemCount(), 0);
        return saved;
    }

    // The ports of the stored items and the first column's width.
    using SavedItems = std::pair<std::vector<std::string>, int>;

    static SavedItems ReadSavedItems()
    {
        CaptureItemRows rows;
        LoadItems(rows);
        return {LoadedPorts(rows), ReadColumnWidth(0)};
    }

    static bool DraftExists() { return GetFileAttributesA(SETTINGS_DRAFT_FILE) != INVALID_FILE_ATTRIBUTES; }
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
    rows.Remove(rows.Item(3));
    rows.Remove(rows.Item(0));
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

// Their section names take more room than the first buffer they are read into.
TEST_F(CaptureItemStore, SixHundredStoredItemsAllLoad)
{
    WriteFileText(FileWithItems(PortNames(1, 600), 100));
    EXPECT_EQ(ReadSavedItems().first, PortNames(1, 600));
}

// A pane whose list could not be made has not loaded the items: its end
// must not replace them by none.
TEST_F(CaptureItemStore, ItemsThatWereNeverLoadedAreNotSaved)
{
    WriteFileText(FileWithItems(PortNames(1, 3), 90));
    CaptureItemRows rows;
    EXPECT_TRUE(CaptureItemFile().SaveAndClear(rows, WIDTHS));
    EXPECT_EQ(ReadSavedItems(), (SavedItems{PortNames(1, 3), 90}));
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
    rows.Remove(rows.Item(2));
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

TEST_F(CaptureItemStore, SaveReplacesTheItemsAndKeepsTheRestOfTheFile)
{
    WriteFileText(FileWithItems(PortNames(1, 3), 90));
    ASSERT_TRUE(SaveRows(PortNames(7, 2)));
    EXPECT_EQ(ReadSavedItems(), (SavedItems{PortNames(7, 2), WIDTHS[0]}));
    EXPECT_EQ(ReadString("Data1", "Port", ""), "COM20");
    EXPECT_EQ(ReadInt("Data1", "Type", 0), static_cast<uint32_t>(PortWriteFile));
    EXPECT_EQ(ReadInt("Data1", "Size", 0), 20000u);
    EXPECT_FALSE(FileHasSection("Data2"));
    ExpectOtherSectionsKept();
    EXPECT_FALSE(DraftExists());

    // A draft that an ended save left behind is not taken for the file.
    remove("Vantrel.ini");
    WriteString("Junk", "x", "1", SETTINGS_DRAFT_FILE);
    ASSERT_TRUE(SaveRows(PortNames(5, 1)));
    EXPECT_EQ(ReadSavedItems(), (SavedItems{PortNames(5, 1), WIDTHS[0]}));
    EXPECT_FALSE(FileHasSection("Junk"));
}

TEST_F(CaptureItemStore, AReadOnlyFileFailsTheSaveAndKeepsTheOldItems)
{
    WriteFileText(FileWithItems(PortNames(1, 3), 90));
    ASSERT_TRUE(SetFileAttributesA(SETTINGS_FILE, FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(SaveRows(PortNames(7, 2)));
    EXPECT_FALSE(DraftExists());
    ASSERT_TRUE(SetFileAttributesA(SETTINGS_FILE, FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(ReadSavedItems(), (SavedItems{PortNames(1, 3), 90}));
    ExpectOtherSectionsKept();
}

#ifndef _WIN32
// Windows ends a program that is slow to close at shutdown, at whatever file
// change it is making: the file holds all the old items or all the new ones.
TEST_F(CaptureItemStore, ASaveEndedAtAnyChangeLeavesTheOldItemsOrTheNew)
{
    const std::string oldFile = FileWithItems(PortNames(1, 3), 90);
    const SavedItems oldItems{PortNames(1, 3), 90};
    const SavedItems newItems{{"COM1", "COM3"}, WIDTHS[0]};
    WriteFileText(oldFile);
    uint64_t start = machine_.FileChangesMade();
    ASSERT_TRUE(SaveRows(newItems.first));
    const uint64_t changes = machine_.FileChangesMade() - start;

    for (uint64_t ended = 0; ended <= changes; ++ended) {
        WriteFileText(oldFile);
        machine_.EndFileChangesAfter(ended);
        bool saved = SaveRows(newItems.first);
        machine_.AllowFileChanges();
        EXPECT_EQ(saved, ended == changes) << "ended after " << ended << " of " << changes << " changes";
        EXPECT_EQ(ReadSavedItems(), saved ? newItems : oldItems) << "ended after " << ended << " changes";
        ExpectOtherSectionsKept();
    }
}

// Closing without a change must not rewrite a long list item by item.
TEST_F(CaptureItemStore, ItemsThatTheFileHoldsAreNotWrittenAgain)
{
    auto changesOfSavingTheSame = [this](int count) {
        WriteFileText(FileWithItems(PortNames(1, count), WIDTHS[0]));
        uint64_t start = machine_.FileChangesMade();
        EXPECT_TRUE(SaveRows(PortNames(1, count)));
        return machine_.FileChangesMade() - start;
    };
    EXPECT_EQ(changesOfSavingTheSame(30), changesOfSavingTheSame(1));
}
#endif

}  // namespace
