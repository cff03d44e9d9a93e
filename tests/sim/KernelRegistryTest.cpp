// The kernel's registry calls as a driver sees them: its service key's
// Parameters subkeys written by a program, the buffer rules of the Zw* calls
// and the serial device map.
#include <windows.h>
#include <wdm.h>

#include <Machine.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

const char* const kServiceName = "SimsysParams";
const char* const kParametersKey = "SYSTEM\\CurrentControlSet\\Services\\SimsysParams\\Parameters";
const char* const kDeviceMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
PCWSTR const kPortDevice = u"\\Device\\SimsysPort0";
const char16_t kPortName[] = u"COM11";

struct SeenValue {
    std::u16string key;
    std::u16string name;
    std::u16string text;
};

// What the driver read in DriverEntry, for the test to look at afterwards.
struct DriverView {
    std::vector<SeenValue> values;
    NTSTATUS firstProbe = STATUS_SUCCESS;  // the subkey enumeration with a too-small buffer
    ULONG firstProbeLength = 0;
};
DriverView g_view;

std::u16string NameOf(const WCHAR* name, ULONG byteLength)
{
    return std::u16string(name, byteLength / sizeof(WCHAR));
}

// REG_SZ data ends at its first zero or at its length, whichever comes first.
std::u16string TextOf(const KEY_VALUE_FULL_INFORMATION& info)
{
    const WCHAR* data = reinterpret_cast<const WCHAR*>(reinterpret_cast<const UCHAR*>(&info) + info.DataOffset);
    ULONG count = info.DataLength / sizeof(WCHAR);
    ULONG length = 0;
    while (length < count && data[length] != 0)
        ++length;
    return std::u16string(data, length);
}

NTSTATUS OpenKey(HANDLE root, PUNICODE_STRING name, HANDLE* key)
{
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root, nullptr);
    return ZwOpenKey(key, KEY_READ, &attributes);
}

void ReadValuesOf(HANDLE parameters, const std::u16string& keyName)
{
    UNICODE_STRING name{static_cast<USHORT>(keyName.size() * sizeof(WCHAR)),
                        static_cast<USHORT>(keyName.size() * sizeof(WCHAR)), const_cast<PWSTR>(keyName.c_str())};
    HANDLE key;
    if (!NT_SUCCESS(OpenKey(parameters, &name, &key)))
        return;
    alignas(8) UCHAR buffer[512];
    ULONG length = 0;
    for (ULONG index = 0;
         NT_SUCCESS(ZwEnumerateValueKey(key, index, KeyValueFullInformation, buffer, sizeof buffer, &length));
         ++index) {
        const auto& info = *reinterpret_cast<const KEY_VALUE_FULL_INFORMATION*>(buffer);
        if (info.Type == REG_SZ)
            g_view.values.push_back({keyName, NameOf(info.Name, info.NameLength), TextOf(info)});
    }
    ZwClose(key);
}

void ReadParameters(PUNICODE_STRING registryPath)
{
    std::u16string path = NameOf(registryPath->Buffer, registryPath->Length) + u"\\Parameters";
    UNICODE_STRING name{static_cast<USHORT>(path.size() * sizeof(WCHAR)),
                        static_cast<USHORT>(path.size() * sizeof(WCHAR)), const_cast<PWSTR>(path.c_str())};
    HANDLE parameters;
    if (!NT_SUCCESS(OpenKey(nullptr, &name, &parameters)))
        return;
    UCHAR tiny[4];
    g_view.firstProbe = ZwEnumerateKey(parameters, 0, KeyBasicInformation, tiny, sizeof tiny, &g_view.firstProbeLength);
    alignas(8) UCHAR buffer[512];
    ULONG length = 0;
    std::vector<std::u16string> keys;
    for (ULONG index = 0;
         NT_SUCCESS(ZwEnumerateKey(parameters, index, KeyBasicInformation, buffer, sizeof buffer, &length)); ++index) {
        const auto& info = *reinterpret_cast<const KEY_BASIC_INFORMATION*>(buffer);
        keys.push_back(NameOf(info.Name, info.NameLength));
    }
    for (const std::u16string& key : keys)
        ReadValuesOf(parameters, key);
    ZwClose(parameters);
}

void ParamsUnload(PDRIVER_OBJECT)
{
    RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM", kPortDevice);
}

NTSTATUS ParamsEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    ReadParameters(registryPath);
    driver->DriverUnload = ParamsUnload;
    return RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM", kPortDevice, REG_SZ,
                                 const_cast<char16_t*>(kPortName), sizeof kPortName);
}

class KernelRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { g_view = DriverView{}; }

    void SetText(HKEY key, const char* name, const char* data, DWORD length)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), length));
    }

    HKEY CreateKey(const std::string& path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        return key;
    }

    SC_HANDLE CreateService()
    {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = CreateServiceA(
            manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
            SERVICE_ERROR_NORMAL, "System32\\Drivers\\SimsysParams.sys", nullptr, nullptr, nullptr, nullptr, nullptr);
        CloseServiceHandle(manager);
        return service;
    }

    // The device map's entry for the port, or "(none)".
    std::string DeviceMapEntry()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDeviceMapKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "(none)";
        char text[32] = {};
        DWORD size = sizeof text - 1;
        DWORD type = 0;
        LONG result =
            RegQueryValueExA(key, "\\Device\\SimsysPort0", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        return result == ERROR_SUCCESS && type == REG_SZ ? std::string(text) : "(none)";
    }

    sim::Machine machine;
};

TEST_F(KernelRegistryTest, TheDriverReadsItsParametersAndKeepsTheDeviceMap)
{
    machine.RegisterDriverImage("SimsysParams.sys", ParamsEntry);
    SC_HANDLE service = CreateService();
    ASSERT_NE(nullptr, service);
    // Subkeys created out of order; texts with and without their terminator,
    // and one whose stored length reaches past an inner zero.
    HKEY second = CreateKey(std::string(kParametersKey) + "\\Port2");
    HKEY first = CreateKey(std::string(kParametersKey) + "\\port1");
    SetText(first, "Name", "COM11", 6);
    SetText(first, "Alias", "AUX", 3);
    SetText(second, "Name", "COM12\0junk", 11);
    DWORD number = 7;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(second, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number));
    RegCloseKey(first);
    RegCloseKey(second);

    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();

    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, g_view.firstProbe);
    EXPECT_EQ(offsetof(KEY_BASIC_INFORMATION, Name) + 5 * sizeof(WCHAR), g_view.firstProbeLength);
    ASSERT_EQ(3u, g_view.values.size());
    EXPECT_EQ(u"port1", g_view.values[0].key);
    EXPECT_EQ(u"Name", g_view.values[0].name);
    EXPECT_EQ(u"COM11", g_view.values[0].text);
    EXPECT_EQ(u"Alias", g_view.values[1].name);
    EXPECT_EQ(u"AUX", g_view.values[1].text);
    EXPECT_EQ(u"Port2", g_view.values[2].key);
    EXPECT_EQ(u"COM12", g_view.values[2].text);
    EXPECT_EQ("COM11", DeviceMapEntry());

    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ("(none)", DeviceMapEntry());
    EXPECT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
}

TEST_F(KernelRegistryTest, ADriverWithoutParametersSeesNothingAndStillStarts)
{
    machine.RegisterDriverImage("SimsysParams.sys", ParamsEntry);
    SC_HANDLE service = CreateService();
    ASSERT_NE(nullptr, service);
    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    EXPECT_TRUE(g_view.values.empty());
    EXPECT_EQ("COM11", DeviceMapEntry());
    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    CloseServiceHandle(service);
}

// The Zw* calls on the test thread (passive level), as a driver makes them.
class ZwRegistryTest : public KernelRegistryTest {
protected:
    void SetUp() override
    {
        HKEY key = CreateKey("SOFTWARE\\SimsysZw");
        SetText(key, "Text", "abcdef", 7);
        RegCloseKey(key);
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, u"\\REGISTRY\\MACHINE\\software\\simsyszw");
        ASSERT_EQ(STATUS_SUCCESS, OpenKey(nullptr, &name, &key_));
        RtlInitUnicodeString(&valueName_, u"TEXT");
    }
    void TearDown() override { ZwClose(key_); }

    HANDLE key_ = nullptr;
    UNICODE_STRING valueName_;
    alignas(8) UCHAR buffer_[128] = {};
    ULONG length_ = 0;
};

TEST_F(ZwRegistryTest, QueryValueReportsTooSmallThenOverflowThenSuccess)
{
    const ULONG fixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    const ULONG full = fixed + 7 * sizeof(WCHAR);
    auto* info = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(buffer_);

    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
              ZwQueryValueKey(key_, &valueName_, KeyValuePartialInformation, buffer_, fixed - 1, &length_));
    EXPECT_EQ(full, length_);
    EXPECT_EQ(0u, info->DataLength) << "nothing is copied into a buffer too small for the fixed part";

    EXPECT_EQ(STATUS_BUFFER_OVERFLOW,
              ZwQueryValueKey(key_, &valueName_, KeyValuePartialInformation, buffer_, fixed + 2, &length_));
    EXPECT_EQ(full, length_);
    EXPECT_EQ(static_cast<ULONG>(REG_SZ), info->Type);
    EXPECT_EQ(7 * sizeof(WCHAR), info->DataLength);

    ASSERT_EQ(STATUS_SUCCESS, ZwQueryValueKey(key_, &valueName_, KeyValuePartialInformation, buffer_, full, &length_));
    EXPECT_EQ(std::u16string(u"abcdef", 7), std::u16string(reinterpret_cast<char16_t*>(info->Data), 7));
}

TEST_F(ZwRegistryTest, EnumerationEndsAndMissingNamesAreReported)
{
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, ZwEnumerateValueKey(key_, 0, KeyValueBasicInformation, buffer_,
                                                          offsetof(KEY_VALUE_BASIC_INFORMATION, Name) + 2, &length_));
    EXPECT_EQ(offsetof(KEY_VALUE_BASIC_INFORMATION, Name) + 4 * sizeof(WCHAR), length_);
    EXPECT_EQ(STATUS_NO_MORE_ENTRIES,
              ZwEnumerateValueKey(key_, 1, KeyValueBasicInformation, buffer_, sizeof buffer_, &length_));
    EXPECT_EQ(STATUS_NO_MORE_ENTRIES, ZwEnumerateKey(key_, 0, KeyBasicInformation, buffer_, sizeof buffer_, &length_));

    UNICODE_STRING missing;
    RtlInitUnicodeString(&missing, u"Missing");
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              ZwQueryValueKey(key_, &missing, KeyValuePartialInformation, buffer_, sizeof buffer_, &length_));
    HANDLE subkey;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, OpenKey(key_, &missing, &subkey));
}

TEST_F(ZwRegistryTest, CreateKeyTellsNewFromExistingAndTheProgramSeesIt)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Child");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, key_, nullptr);
    HANDLE child;
    ULONG disposition = 0;
    ASSERT_EQ(STATUS_SUCCESS, ZwCreateKey(&child, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition));
    EXPECT_EQ(static_cast<ULONG>(REG_CREATED_NEW_KEY), disposition);
    ZwClose(child);
    ASSERT_EQ(STATUS_SUCCESS, ZwCreateKey(&child, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition));
    EXPECT_EQ(static_cast<ULONG>(REG_OPENED_EXISTING_KEY), disposition);
    ZwClose(child);

    HKEY key;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\SimsysZw\\CHILD", 0, KEY_READ, &key));
    RegCloseKey(key);
}

TEST_F(ZwRegistryTest, DeletingAMissingDeviceMapValueFails)
{
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM", u"\\Device\\Nothing"));
}

}  // namespace
