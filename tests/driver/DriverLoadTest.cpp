// The filter's load from its parameters: devices, links, device-map entries,
// attachment, listeners, and the parameter values it must skip.
#include "FilterTestSupport.h"

using namespace filtertest;

namespace {

std::string DosTarget(const std::string& name)
{
    char target[256] = {};
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) == 0)
        return "";
    return target;
}

std::string DeviceMapValue(const std::string& name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    char data[64] = {};
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(data) : "";
}

void WriteOnPort(const std::string& port, const std::string& bytes)
{
    HANDLE handle = Open(port);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle) << port;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_TRUE(CloseHandle(handle));
}

std::vector<Record> WriteRecords(HANDLE control)
{
    std::vector<Record> writes;
    for (const auto& bytes : FetchAll(control)) {
        Record record = ToRecord(bytes);
        if (record.header.kind == RecordKind_Write)
            writes.push_back(record);
    }
    return writes;
}

class DriverLoadTest : public FilterFixture {};

TEST_F(DriverLoadTest, MonitorAndPortObjectsGetTheirDevicesLinksAndDeviceMapEntry)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    SetString(ObjectKey(2), CAPTURE_VALUE_BASE_NAME_A, "COM5");
    SetDword(ObjectKey(2), CAPTURE_VALUE_FORM_A, CAPTURE_FORM_READ_DATA);
    SetString(ObjectKey(2), "COM13", kPort2Path);
    SetDword(ObjectKey(2), CAPTURE_VALUE_MAX_BYTES_A, 20000);
    StartFilter();

    EXPECT_EQ("\\Device\\" + MonitorObjectName(1) + "0", DosTarget(MonitorObjectName(1)));
    EXPECT_EQ("\\Device\\FLTCOM11A0", DosTarget("FLTCOM11A"));
    EXPECT_EQ("\\Device\\COM50", DosTarget("COM5"));
    EXPECT_EQ("\\Device\\FLTCOM13B0", DosTarget("FLTCOM13B"));
    EXPECT_EQ("COM5", DeviceMapValue("VCOM5"));
    EXPECT_EQ("", DeviceMapValue("V" + MonitorObjectName(1))) << "a monitor object is no serial port";

    HANDLE control = Open(MonitorObjectName(1));
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    char names[16];
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(control, IOCTL_CAPTURE_PORT_NAMES, nullptr, 0, names, sizeof names, &returned, nullptr));
    ASSERT_EQ(8u, returned);
    EXPECT_EQ(std::string("COM11\0\0\0", 8), std::string(names, 8));

    WriteOnPort("COM11", "hello");
    std::vector<Record> writes = WriteRecords(control);
    ASSERT_EQ(1u, writes.size()) << "the filter is attached to COM11";
    EXPECT_EQ("hello", std::string(writes[0].data.begin(), writes[0].data.end()));
    EXPECT_TRUE(CloseHandle(control));

    ASSERT_TRUE(machine.UnloadDriver(kFilterService));
    EXPECT_EQ("", DosTarget(MonitorObjectName(1)));
    EXPECT_EQ("", DosTarget("FLTCOM11A"));
    EXPECT_EQ("", DeviceMapValue("VCOM5"));
    WriteOnPort("COM11", "free again");
}

TEST_F(DriverLoadTest, DevicesOpenSecurelyAndPoolBlocksCarryTheDriversOwnTag)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    SetString(ObjectKey(2), CAPTURE_VALUE_BASE_NAME_A, "COM5");
    StartFilter();
    WriteOnPort("COM11", "kept");
    for (PDEVICE_OBJECT device = filter->DeviceObject; device != nullptr; device = device->NextDevice)
        EXPECT_NE(0u, device->Characteristics & FILE_DEVICE_SECURE_OPEN);
    std::vector<ULONG> tags = machine.PoolTagsOf(kFilterService);
    ASSERT_FALSE(tags.empty());
    for (ULONG tag : tags)
        EXPECT_EQ(std::string("ZrVt"), std::string(reinterpret_cast<const char*>(&tag), 4));
}

// The source field tells the ports apart without a kernel address.
TEST_F(DriverLoadTest, RecordsNameTheirFilterByANumberThatIsNoAddress)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    SetString(ObjectKey(1), "COM13", kPort2Path);
    StartFilter();
    WriteOnPort("COM11", "one");
    WriteOnPort("COM13", "two");
    WriteOnPort("COM11", "three");
    HANDLE control = Open(MonitorObjectName(1));
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    std::vector<Record> writes = WriteRecords(control);
    CloseHandle(control);
    ASSERT_EQ(3u, writes.size());
    EXPECT_EQ(writes[0].header.sourceDevice, writes[2].header.sourceDevice);
    EXPECT_NE(writes[0].header.sourceDevice, writes[1].header.sourceDevice);
    for (PDEVICE_OBJECT device = filter->DeviceObject; device != nullptr; device = device->NextDevice) {
        for (const Record& write : writes)
            EXPECT_NE(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(device)), write.header.sourceDevice);
    }
}

// Subkeys 26 and up name their filters with a letter and a digit. Subkeys are
// enumerated in name order: ZrVlObj9, the last of 40, has index 39 ("B3").
TEST_F(DriverLoadTest, FortySubkeysGiveFortyValidFilterNamesAndTheLastCaptures)
{
    constexpr int kObjects = 40;
    for (int number = 1; number < kObjects; ++number)
        WriteMonitorObject(number == 9 ? kObjects : number, "COM11", kPort0Path, 10000);
    WriteMonitorObject(9, "COM13", kPort2Path, 10000);
    StartFilter();
    std::vector<std::string> suffixes;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        suffixes.push_back(std::string(1, letter));
    for (int later = 0; later < kObjects - 26; ++later)
        suffixes.push_back(std::string(1, static_cast<char>('A' + later / 10)) + static_cast<char>('0' + later % 10));
    for (size_t index = 0; index + 1 < suffixes.size(); ++index)
        EXPECT_EQ("\\Device\\FLTCOM11" + suffixes[index] + "0", DosTarget("FLTCOM11" + suffixes[index]));
    EXPECT_EQ("\\Device\\FLTCOM13B30", DosTarget("FLTCOM13B3"));
    WriteOnPort("COM13", "last");
    HANDLE control = Open(MonitorObjectName(9));
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    EXPECT_EQ(1u, WriteRecords(control).size());
    CloseHandle(control);
}

TEST_F(DriverLoadTest, PortNamesNeedEightBytesForEveryPort)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    SetString(ObjectKey(1), "COM13", kPort2Path);
    StartFilter();
    HANDLE control = Open(MonitorObjectName(1));
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    char names[16];
    DWORD returned = 0xFF;
    ASSERT_TRUE(DeviceIoControl(control, IOCTL_CAPTURE_PORT_NAMES, nullptr, 0, names, 15, &returned, nullptr));
    EXPECT_EQ(0u, returned) << "one byte short";
    ASSERT_TRUE(DeviceIoControl(control, IOCTL_CAPTURE_PORT_NAMES, nullptr, 0, names, 16, &returned, nullptr));
    ASSERT_EQ(16u, returned);
    EXPECT_EQ(std::string("COM11\0\0\0COM13\0\0\0", 16), std::string(names, 16));
    CloseHandle(control);
}

TEST_F(DriverLoadTest, AControlDeviceTakesOneHandleAtATime)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    StartFilter();
    HANDLE first = Open(MonitorObjectName(1));
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(MonitorObjectName(1)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = Open(MonitorObjectName(1));
    EXPECT_NE(INVALID_HANDLE_VALUE, again) << "close frees the device for the next reader";
    CloseHandle(again);
}

TEST_F(DriverLoadTest, APortInTwoObjectsReachesBothWithTheirOwnPortIndex)
{
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    SetString(ObjectKey(2), CAPTURE_VALUE_BASE_NAME_A, MonitorObjectName(2));
    SetString(ObjectKey(2), "COM13", kPort2Path);
    SetString(ObjectKey(2), "COM11", kPort0Path);
    SetDword(ObjectKey(2), CAPTURE_VALUE_MAX_BYTES_A, 10000);
    StartFilter();
    EXPECT_EQ("\\Device\\FLTCOM11B0", DosTarget("FLTCOM11B"));

    WriteOnPort("COM11", "shared");
    HANDLE first = Open(MonitorObjectName(1));
    HANDLE second = Open(MonitorObjectName(2));
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    ASSERT_NE(INVALID_HANDLE_VALUE, second);
    std::vector<Record> firstWrites = WriteRecords(first);
    std::vector<Record> secondWrites = WriteRecords(second);
    ASSERT_EQ(1u, firstWrites.size());
    ASSERT_EQ(1u, secondWrites.size()) << "each request is recorded once per object";
    EXPECT_EQ(0u, firstWrites[0].header.portIndex);
    EXPECT_EQ(1u, secondWrites[0].header.portIndex);
    EXPECT_EQ(firstWrites[0].data, secondWrites[0].data);
    EXPECT_EQ(firstWrites[0].header.sourceDevice, secondWrites[0].header.sourceDevice);

    WriteOnPort("COM13", "x");
    EXPECT_EQ(1u, WriteRecords(second).size());
    EXPECT_EQ(0u, WriteRecords(first).size());
    CloseHandle(first);
    CloseHandle(second);
}

// One filter has room for 16 listeners: the 18th object on a port stacks a
// filter of its own, opening the port through the first filter at load.
TEST_F(DriverLoadTest, EighteenObjectsOnOnePortEachHearEveryWrite)
{
    const int objects = 18;
    for (int number = 1; number <= objects; ++number)
        WriteMonitorObject(number, "COM13", kPort2Path, 10000);
    StartFilter();
    for (int number = 1; number <= objects; ++number)
        FetchRecords(number);  // the load's own opens of the port, heard by some
    WriteOnPort("COM13", "all");
    for (int number = 1; number <= objects; ++number) {
        HANDLE control = Open(MonitorObjectName(number));
        ASSERT_NE(INVALID_HANDLE_VALUE, control);
        std::vector<Record> writes = WriteRecords(control);
        CloseHandle(control);
        ASSERT_EQ(1u, writes.size()) << MonitorObjectName(number);
        EXPECT_EQ("all", std::string(writes[0].data.begin(), writes[0].data.end()));
    }
}

TEST_F(DriverLoadTest, UnusableValuesAreSkippedAndTheRestLoads)
{
    std::string key = ObjectKey(1);
    SetString(key, "COM12", "\\Device\\VtrlTestPort1");  // before any base name: nothing to feed
    SetString(key, CAPTURE_VALUE_BASE_NAME_A, MonitorObjectName(1));
    SetString(key, "COM13", std::string(200, 'x'));                // more data than the driver reads
    SetString(key, "COM14", "\\Device\\" + std::string(40, 'P'));  // longer than the name buffers
    SetString(key, "COM" + std::string(40, '9'), kPort2Path);      // name too long for a filter name
    SetString(key, "COM11", kPort0Path);
    SetString(ObjectKey(2), CAPTURE_VALUE_BASE_NAME_A, std::string(40, 'Z'));  // base name too long: subkey skipped
    SetString(ObjectKey(2), "COM13", kPort2Path);
    WriteMonitorObject(3, "COM13", kPort2Path, 10000);
    StartFilter();

    EXPECT_EQ("", DosTarget("FLTCOM12A"));
    EXPECT_EQ("", DosTarget("FLTCOM13A"));
    EXPECT_EQ("", DosTarget("FLTCOM13B"));
    EXPECT_EQ("\\Device\\FLTCOM11A0", DosTarget("FLTCOM11A"));
    EXPECT_EQ("\\Device\\FLTCOM13C0", DosTarget("FLTCOM13C"));
    HANDLE control = Open(MonitorObjectName(1));
    ASSERT_NE(INVALID_HANDLE_VALUE, control);
    char names[24];
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(control, IOCTL_CAPTURE_PORT_NAMES, nullptr, 0, names, sizeof names, &returned, nullptr));
    EXPECT_EQ(8u, returned) << "only COM11 became a port of the object";
    CloseHandle(control);
}

TEST_F(DriverLoadTest, AnEmptyParameterKeyLoadsWithNoDevices)
{
    StartFilter();
    EXPECT_EQ(nullptr, filter->DeviceObject);
}

TEST_F(DriverLoadTest, PortsWhoseNamesShareAPrefixAreNotTheSamePort)
{
    SetString(kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY, "Pair2", "COM1,COM111");
    ASSERT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
    WriteMonitorObject(1, "COM11", kPort0Path, 10000);
    WriteMonitorObject(2, "COM1", "\\Device\\VtrlTestPort4", 10000);
    StartFilter();
    WriteOnPort("COM1", "one");
    HANDLE first = Open(MonitorObjectName(1));
    HANDLE second = Open(MonitorObjectName(2));
    EXPECT_EQ(0u, WriteRecords(first).size());
    EXPECT_EQ(1u, WriteRecords(second).size());
    CloseHandle(first);
    CloseHandle(second);
}

}  // namespace
