#include "CaptureItemStore.h"

#include "Settings.h"

#include <windows.h>

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
// The section list of a sane file is small; this only bounds a damaged one.
constexpr DWORD SECTION_NAMES_MAX_SIZE = 64u * 1024u * 1024u;

// A count below 1 means that there are no sections.
int ReadDataCount()
{
    return static_cast<int32_t>(ReadInt(SETTINGS_SYSTEM, DATA_COUNT_KEY, 0));
}

// The zero-separated section names of the settings file.
std::vector<char> ReadSectionNames()
{
    std::vector<char> names(4096);
    for (;;) {
        DWORD size = static_cast<DWORD>(names.size());
        DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", names.data(), size, SETTINGS_FILE);
        // A list that did not fit comes back cut, with size - 2 characters.
        if (length + 2 < size || size >= SECTION_NAMES_MAX_SIZE) {
            names.resize(std::min<size_t>(length, size - 2));
            names.push_back('\0');
            return names;
        }
        names.resize(static_cast<size_t>(size) * 2);
    }
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

void WriteItem(const std::string& section, const CaptureItemRows& rows, int row)
{
    const CaptureItem& item = *rows.Item(row);
    WriteString(section.c_str(), "COM", rows.PortText(row).c_str());
    WriteString(section.c_str(), "Size", rows.SizeText(row).c_str());
    WriteInt(section.c_str(), "Type", item.form);
    WriteString(section.c_str(), "Port", item.outputPort);
}

void WriteColumnWidths(const int (&columnWidths)[CaptureItemColumnCount])
{
    std::string section = NumberedName(TAB_SECTION, TAB_SECTION_NUMBER);
    for (int column = 0; column < CaptureItemColumnCount; ++column)
        WriteInt(section.c_str(), NumberedName(COLUMN_KEY, column).c_str(), columnWidths[column]);
}

}  // namespace

std::vector<int> ExistingDataSections(int count)
{
    std::vector<int> numbers;
    if (count < 1)
        return numbers;
    std::vector<char> names = ReadSectionNames();
    for (const char* name = names.data(); *name; name += strlen(name) + 1) {
        int number = DataSectionNumber(name);
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

void SaveItems(CaptureItemRows& rows, const int (&columnWidths)[CaptureItemColumnCount])
{
    WriteColumnWidths(columnWidths);
    for (int number : ExistingDataSections(ReadDataCount()))
        DeleteSection(NumberedName(DATA_SECTION, number).c_str());
    int count = rows.ItemCount();
    for (int row = 0; row < count; ++row)
        WriteItem(NumberedName(DATA_SECTION, row), rows, row);
    rows.Clear();
    WriteInt(SETTINGS_SYSTEM, DATA_COUNT_KEY, count);
}

int ReadColumnWidth(int column)
{
    std::string section = NumberedName(TAB_SECTION, TAB_SECTION_NUMBER);
    return static_cast<int32_t>(
        ReadInt(section.c_str(), NumberedName(COLUMN_KEY, column).c_str(), CAPTURE_COLUMN_DEFAULT_WIDTH));
}
