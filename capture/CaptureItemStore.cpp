#include "CaptureItemStore.h"

#include "Settings.h"

#include <algorithm>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr const char* DATA_SECTION = "Data";
constexpr const char* DATA_COUNT_KEY = "DataCount";
constexpr const char* TAB_SECTION = "Tab";
constexpr const char* COLUMN_KEY = "Column";
constexpr int TAB_SECTION_NUMBER = 0;

// A count below 1 means that there are no sections.
int ReadDataCount()
{
    return static_cast<int32_t>(ReadInt(SETTINGS_SYSTEM, DATA_COUNT_KEY, 0));
}

bool StartsWithIgnoringCase(const char* text, const char* prefix)
{
    for (; *prefix; ++text, ++prefix) {
        if (tolower(static_cast<unsigned char>(*text)) != tolower(static_cast<unsigned char>(*prefix)))
            return false;
    }
    return true;
}

// The number n when `name` is the name made with "Data%d" from n (names
// match without regard to case); -1 otherwise.
int DataSectionNumber(const char* name)
{
    if (!StartsWithIgnoringCase(name, DATA_SECTION))
        return -1;
    const char* digits = name + strlen(DATA_SECTION);
    if (!isdigit(static_cast<unsigned char>(digits[0])) || (digits[0] == '0' && digits[1] != '\0'))
        return -1;
    char* end = nullptr;
    long number = strtol(digits, &end, 10);
    if (*end != '\0' || number > INT32_MAX)
        return -1;
    return static_cast<int>(number);
}

std::unique_ptr<CaptureItem> ReadItem(const std::string& section)
{
    std::string port = ReadString(section.c_str(), "COM", "");
    if (port.empty())
        return nullptr;
    auto item = NewCaptureItem();
    CopyItemText(item->port, sizeof item->port, port.c_str());
    CopyItemText(item->outputPort, sizeof item->outputPort, ReadString(section.c_str(), "Port", "").c_str());
    item->form = static_cast<int32_t>(ReadInt(section.c_str(), "Type", 0));
    item->bufferSize = ReadInt(section.c_str(), "Size", 0);
    return item;
}

// The draft began as a copy of the settings file, so the file tells what the
// draft holds. Most closes change no item: a section that holds its item
// already is left alone, so that a long list is not rewritten item by item.
bool WriteItem(const CaptureItemRows& rows, int row, const char* file)
{
    const CaptureItem& item = *rows.Item(row);
    std::vector<std::string> entries = {
        "COM=" + rows.PortText(row),
        "Size=" + rows.SizeText(row),
        "Type=" + std::to_string(item.form),
        std::string("Port=") + item.outputPort,
    };
    std::string section = NumberedName(DATA_SECTION, row);
    return ReadSection(section.c_str()) == entries || WriteSection(section.c_str(), entries, file);
}

bool WriteColumnWidths(const int (&columnWidths)[CaptureItemColumnCount], const char* file)
{
    std::string section = NumberedName(TAB_SECTION, TAB_SECTION_NUMBER);
    for (int column = 0; column < CaptureItemColumnCount; ++column) {
        if (!WriteInt(section.c_str(), NumberedName(COLUMN_KEY, column).c_str(), columnWidths[column], file))
            return false;
    }
    return true;
}

// Every row in its section; the sections of the old items past the new
// count go, and the other sections of the file stay as they are.
bool WriteRows(const CaptureItemRows& rows, const std::vector<int>& oldSections, const char* file)
{
    int count = rows.ItemCount();
    for (int row = 0; row < count; ++row) {
        if (!WriteItem(rows, row, file))
            return false;
    }
    for (int number : oldSections) {
        if (number >= count && !DeleteSection(NumberedName(DATA_SECTION, number).c_str(), file))
            return false;
    }
    return WriteInt(SETTINGS_SYSTEM, DATA_COUNT_KEY, count, file);
}

}  // namespace

std::vector<int> ExistingDataSections(int count)
{
    std::vector<int> numbers;
    if (count < 1)
        return numbers;
    for (const std::string& name : ReadSectionNames()) {
        int number = DataSectionNumber(name.c_str());
        if (number >= 0 && number < count)
            numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

void LoadItems(CaptureItemRows& rows)
{
    for (int number : ExistingDataSections(ReadDataCount())) {
        if (auto item = ReadItem(NumberedName(DATA_SECTION, number)))
            rows.InsertOrUpdateRow(std::move(item), -1);
    }
}

bool WriteItems(const CaptureItemRows& rows, const int (&columnWidths)[CaptureItemColumnCount])
{
    std::vector<int> oldSections = ExistingDataSections(ReadDataCount());
    return ChangeSettingsAsOne(
        [&](const char* file) { return WriteColumnWidths(columnWidths, file) && WriteRows(rows, oldSections, file); });
}

bool SaveItems(CaptureItemRows& rows, const int (&columnWidths)[CaptureItemColumnCount])
{
    bool saved = WriteItems(rows, columnWidths);
    rows.Clear();
    return saved;
}

int ReadColumnWidth(int column)
{
    std::string section = NumberedName(TAB_SECTION, TAB_SECTION_NUMBER);
    return static_cast<int32_t>(
        ReadInt(section.c_str(), NumberedName(COLUMN_KEY, column).c_str(), CAPTURE_COLUMN_DEFAULT_WIDTH));
}
