// The driver parameters written from the capture items: object subkeys,
// their values and their order. Ports come from a fixed table of DOS names;
// the registry is the platform's, under a service name of the test's own.
#include "DriverParameters.h"
#include "TestMachine.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

const char* const kService = "VtrlParamTest";
const std::string kServiceKey = std::string("SYSTEM\\CurrentControlSet\\Services\\") + kService;
// More subkeys or values than a test writes into one key: the enumerations
// stop there rather than run on with a registry that never says "no more".
constexpr DWORD kMostEntries = 100;

// COM2 is not among them: its port has vanished from the system.
DWORD WINAPI FakeQuery(LPCSTR name, LPSTR out, DWORD size)
{
    static const std::map<std::string, std::string> kPorts = {{"COM1", "\\Device\\Serial0"},
                                                              {"COM3", "\\Device\\Serial2"},
                                                              {"COM4", "\\Device\\Serial3"},
                                                              {"COM6", "\\Device\\Serial5"},
                                                              {std::string(259, 'P'), "\\Device\\LongName"}};
    auto port = name ? kPorts.find(name) : kPorts.end();
    if (port == kPorts.end() || size < port->second.size() + 2)
        return 0;
    memcpy(out, port->second.c_str(), port->second.size() + 1);
    out[port->second.size() + 1] = '\0';
    return static_cast<DWORD>(port->second.size() + 2);
}

// False when the key stays: the walk then stops instead of meeting it again.
bool DeleteKeyTree(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return true;
    char name[512];
    DWORD length = sizeof name;
    while (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           DeleteKeyTree(key, name))
        length = sizeof name;
    RegCloseKey(key);
    return RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
}

// A value as text: REG_SZ as it stands, REG_DWORD in decimal.
using Values = std::vector<std::pair<std::string, std::string>>;

Values ReadValues(const std::string& subkey)
{
    Values values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kServiceKey + "\\" + subkey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0; index < kMostEntries; ++index) {
        char name[512];
        DWORD nameLength = sizeof name;
        BYTE data[512] = {};
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        DWORD number = 0;
        memcpy(&number, data, sizeof number);
        values.emplace_back(name,
                            type == REG_DWORD ? std::to_string(number) : std::string(reinterpret_cast<char*>(data)));
    }
    RegCloseKey(key);
    return values;
}

std::vector<std::string> Subkeys(const std::string& subkey)
{
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kServiceKey + "\\" + subkey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[512];
    DWORD length = sizeof name;
    for (DWORD index = 0; index < kMostEntries &&
                          RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = sizeof name)
        names.push_back(name);
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

// Windows enumerates values in the order written; Wine keeps them sorted by
// name regardless of case, so there the order written cannot be seen.
Values Comparable(Values values)
{
#ifdef _WIN32
    std::sort(values.begin(), values.end(), [](const auto& left, const auto& right) {
        return _stricmp(left.first.c_str(), right.first.c_str()) < 0;
    });
#endif
    return values;
}

class DriverParametersTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey); }
    void TearDown() override { DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey); }

    void Add(const std::string& port, int32_t form, const std::string& outputPort, uint32_t size)
    {
        std::unique_ptr<CaptureItem> item = NewCaptureItem();
        CopyItemText(item->port, sizeof item->port, port.c_str());
        CopyItemText(item->outputPort, sizeof item->outputPort, outputPort.c_str());
        item->form = form;
        item->bufferSize = size;
        rows_.InsertOrUpdateRow(std::move(item), -1);
    }

    bool Build()
    {
        return BuildDriverParameters(rows_, "Parameters", service_, table_,
                                     [this](const std::string& line) { log_.push_back(line); });
    }

    TestMachine machine_;
    FilterService service_{kService};
    DosDeviceTable table_{DOS_DEVICE_LOOKUP_SIZE, FakeQuery};
    CaptureItemRows rows_;
    std::vector<std::string> log_;
};

TEST_F(DriverParametersTest, MonitorAndPortItemsBecomeNumberedObjects)
{
    Add("COM1", StandardMonitor, "COM9", 10000);
    Add("COM2", StandardMonitor, "", 30000);  // vanished: no object, no number
    Add("COM3", PortFormat, "COM5", 10000);
    Add("COM4", PortWriteFile, "COM5", 20000);
    Add("COM6", PortReadFile, "COM7", 40000);
    ASSERT_TRUE(Build());

    EXPECT_EQ(Subkeys("Parameters"), (std::vector<std::string>{"Obj1", "Obj2", "Obj3"}));
    EXPECT_EQ(ReadValues("Parameters\\Obj1"),
              Comparable({{"BaseName", "ZrVlObj1"}, {"COM1", "\\Device\\Serial0"}, {"MaxByte", "10000"}}));
    EXPECT_EQ(ReadValues("Parameters\\Obj2"), Comparable({{"BaseName", "COM5"},
                                                          {"CapType", "1"},
                                                          {"COM3", "\\Device\\Serial2"},
                                                          {"MaxByte", "20000"},
                                                          {"COM4", "\\Device\\Serial3"}}))
        << "one object per output port; MaxByte of the last item";
    EXPECT_EQ(
        ReadValues("Parameters\\Obj3"),
        Comparable({{"BaseName", "COM7"}, {"CapType", "3"}, {"COM6", "\\Device\\Serial5"}, {"MaxByte", "40000"}}));

    EXPECT_EQ(log_, (std::vector<std::string>{"設定されたCOMポートが見つかりませんでした(COM2)"}));
    EXPECT_STREQ(rows_.Item(0)->deviceObject, "ZrVlObj1");
    EXPECT_EQ(rows_.Item(0)->active, 1);
    EXPECT_EQ(rows_.Item(1)->active, 0);
    EXPECT_STREQ(rows_.Item(1)->deviceObject, "");
    EXPECT_STREQ(rows_.Item(2)->deviceObject, "") << "port items name no device of their own";
    CaptureItemView view;
    ASSERT_TRUE(rows_.GetCaptureItemView(1, &view));
    EXPECT_EQ(view.form, -1);
}

TEST_F(DriverParametersTest, OldObjectsGoAndParameterValuesStay)
{
    for (int number = 1; number <= 6; ++number)
        ASSERT_TRUE(service_.SetString(("Parameters\\Obj" + std::to_string(number)).c_str(), "BaseName", "old"));
    ASSERT_TRUE(service_.SetDword("Parameters", "Kept", 7));
    Add("COM1", StandardMonitor, "", 10000);
    Add("COM3", PortSignalSelect, "COM8", 10000);
    ASSERT_TRUE(Build());
    EXPECT_EQ(Subkeys("Parameters"), (std::vector<std::string>{"Obj1", "Obj2"}));
    EXPECT_EQ(ReadValues("Parameters"), (Values{{"Kept", "7"}}));
    EXPECT_EQ(ReadValues("Parameters\\Obj2")[0], (std::pair<std::string, std::string>{"BaseName", "COM8"}));
}

TEST_F(DriverParametersTest, AnEmptyListLeavesTheRegistryUntouched)
{
    ASSERT_TRUE(service_.SetString("Parameters\\Obj1", "BaseName", "old"));
    EXPECT_FALSE(Build());
    EXPECT_EQ(ReadValues("Parameters\\Obj1"), (Values{{"BaseName", "old"}}));
}

TEST_F(DriverParametersTest, NoPortFoundWritesNoObject)
{
    Add("COM2", StandardMonitor, "", 10000);
    Add("", PortFormat, "COM5", 10000);
    EXPECT_FALSE(Build());
    EXPECT_TRUE(Subkeys("Parameters").empty());
    EXPECT_EQ(log_.size(), 2u);
}

TEST_F(DriverParametersTest, OddFormsAndLongNamesPassUnchanged)
{
    std::string longPort(259, 'P');
    std::string longOutput(259, 'Q');
    Add(longPort, 9, longOutput, 0);
    Add("COM1", -3, longOutput, 77);
    ASSERT_TRUE(Build());
    EXPECT_EQ(Subkeys("Parameters"), (std::vector<std::string>{"Obj1"})) << "the same output port, one object";
    EXPECT_EQ(ReadValues("Parameters\\Obj1"), Comparable({{"BaseName", longOutput},
                                                          {"CapType", "9"},
                                                          {longPort, "\\Device\\LongName"},
                                                          {"MaxByte", "77"},
                                                          {"COM1", "\\Device\\Serial0"}}));
}

TEST_F(DriverParametersTest, GetStringTerminatesWithinTheBuffer)
{
    ASSERT_TRUE(service_.SetString("Parameters", "Text", "COM12345"));
    char buffer[5];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(service_.GetString("Parameters", "Text", buffer, sizeof buffer)) << "too long for the buffer";
    EXPECT_STREQ(buffer, "");
    char whole[16];
    memset(whole, 'x', sizeof whole);
    ASSERT_TRUE(service_.GetString("Parameters", "Text", whole, sizeof whole));
    EXPECT_STREQ(whole, "COM12345");
    ASSERT_TRUE(service_.SetDword("Parameters", "Number", 5));
    EXPECT_FALSE(service_.GetString("Parameters", "Number", whole, sizeof whole)) << "a number is no text";
}

}  // namespace
