// The test port pair on the simulation: pairs from the registry, open and
// close, bytes crossing from one end to the other, line settings and the
// injected line errors.
#include "TestPortFixture.h"

#include <set>
#include <string>

namespace testport {
namespace {

std::string DosTarget(const char* name)
{
    char target[256] = {};
    if (QueryDosDeviceA(name, target, sizeof target) == 0)
        return "";
    return target;
}

std::string DeviceMapEntry(const std::string& device)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    char text[64] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    LSTATUS status = RegQueryValueExA(key, device.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? text : "";
}

bool Write(HANDLE port, const std::string& bytes)
{
    DWORD written = 0;
    return WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void ReadImmediately(HANDLE port)
{
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
}

// What a read returns at once with the immediate timeouts.
std::string ReadNow(HANDLE port, DWORD size = 64)
{
    std::string bytes(size, '\0');
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(port, bytes.data(), size, &got, nullptr)) << GetLastError();
    bytes.resize(got);
    return bytes;
}

DWORD ErrorsOf(HANDLE port, COMSTAT* stat = nullptr)
{
    DWORD errors = 0xDEAD;
    EXPECT_TRUE(ClearCommError(port, &errors, stat)) << GetLastError();
    return errors;
}

BOOL ReportErrors(HANDLE port, const void* input, DWORD size)
{
    DWORD returned = 0;
    return DeviceIoControl(port, IOCTL_TESTPORT_REPORT_ERRORS, const_cast<void*>(input), size, nullptr, 0, &returned,
                           nullptr);
}

using TestPortLoadTest = TestPortFixture;

TEST_F(TestPortLoadTest, EachEndOfAPairIsASerialPortWithItsDosNameAndDeviceMapEntry)
{
    EXPECT_EQ("\\Device\\VtrlTestPort0", DosTarget("COM11"));
    EXPECT_EQ("\\Device\\VtrlTestPort1", DosTarget("COM12"));
    EXPECT_EQ("COM11", DeviceMapEntry("\\Device\\VtrlTestPort0"));
    EXPECT_EQ("COM12", DeviceMapEntry("\\Device\\VtrlTestPort1"));

    ASSERT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    EXPECT_EQ("", DosTarget("COM11"));
    EXPECT_EQ("", DeviceMapEntry("\\Device\\VtrlTestPort0"));
    EXPECT_EQ("", DeviceMapEntry("\\Device\\VtrlTestPort1"));
    ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
}

TEST_F(TestPortLoadTest, MalformedPairValuesAreSkippedAndTheValidOnesNumberedInOrder)
{
    ASSERT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    SetPair("Pair0", "COM11");                      // one name
    SetPair("Pair1", "COM13,COM13");                // the same name twice
    SetPair("Pair2", "COM1234567890123456,COM14");  // a name too long
    SetPair("Pair3", "COM\\1,COM14");               // not a plain name
    DWORD number = 5;
    SetParameter("Pair4", REG_DWORD, &number, sizeof number);
    std::string unterminated = "COM15 , COM16";
    SetParameter("Pair5", REG_SZ, unterminated.data(), static_cast<DWORD>(unterminated.size()));
    SetPair("Pair6", std::string(2000, 'C') + ",COM18");  // longer than the driver's value buffer
    SetPair("Pair7", "COM19,COM20");
    ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));

    EXPECT_EQ("\\Device\\VtrlTestPort0", DosTarget("COM15"));
    EXPECT_EQ("\\Device\\VtrlTestPort1", DosTarget("COM16"));
    EXPECT_EQ("\\Device\\VtrlTestPort2", DosTarget("COM19"));
    EXPECT_EQ("\\Device\\VtrlTestPort3", DosTarget("COM20"));
    for (const char* name : {"COM11", "COM13", "COM14", "COM18"})
        EXPECT_EQ("", DosTarget(name)) << name;
}

TEST_F(TestPortLoadTest, WithoutAnyValidPairTheDriverRefusesToLoad)
{
    ASSERT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    SetPair("Pair0", "COM11;COM12");
    EXPECT_EQ(static_cast<NTSTATUS>(0xC0000182), machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
    SetPair("Pair0", "COM11,COM12");
    ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
}

using TestPortOpenTest = TestPortFixture;

TEST_F(TestPortOpenTest, AnEndTakesOneHandleAtATime)
{
    OpenBoth();
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenPort("COM11"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    ASSERT_TRUE(CloseHandle(a));
    a = OpenPort("COM11");
    EXPECT_NE(INVALID_HANDLE_VALUE, a) << GetLastError();
}

TEST_F(TestPortOpenTest, EveryOpenStartsFromTheDefaultSettings)
{
    OpenBoth();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(a, &dcb));
    dcb.BaudRate = 115200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    ASSERT_TRUE(SetCommState(a, &dcb));
    ASSERT_TRUE(CloseHandle(a));
    a = OpenPort("COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, a);
    ASSERT_TRUE(GetCommState(a, &dcb));
    EXPECT_EQ(9600u, dcb.BaudRate);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(NOPARITY, dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
    EXPECT_EQ(static_cast<DWORD>(DTR_CONTROL_ENABLE), dcb.fDtrControl);
    EXPECT_EQ(static_cast<DWORD>(RTS_CONTROL_ENABLE), dcb.fRtsControl);
}

using TestPortDataTest = TestPortFixture;

TEST_F(TestPortDataTest, BytesWrittenOnOneEndAreReadOnTheOtherInBothDirections)
{
    OpenBoth();
    ReadImmediately(a);
    ReadImmediately(b);
    ASSERT_TRUE(Write(a, "abc"));
    ASSERT_TRUE(Write(b, "xy"));
    ASSERT_TRUE(Write(a, "def"));
    EXPECT_EQ("ab", ReadNow(b, 2));
    EXPECT_EQ("cdef", ReadNow(b));
    EXPECT_EQ("xy", ReadNow(a));
    EXPECT_EQ("", ReadNow(a)) << "nothing is left";
}

TEST_F(TestPortDataTest, BytesSentWhileThePeerIsClosedAreLost)
{
    a = OpenPort("COM11");
    ASSERT_TRUE(Write(a, "lost"));
    b = OpenPort("COM12");
    ReadImmediately(b);
    EXPECT_EQ("", ReadNow(b));
    ASSERT_TRUE(Write(a, "kept"));
    EXPECT_EQ("kept", ReadNow(b));
}

TEST_F(TestPortDataTest, BytesBeyondTheReceiveQueueAreLostAndReportedAsQueueOverrun)
{
    OpenBoth();
    ReadImmediately(b);
    std::string bytes;
    for (int i = 0; i < TESTPORT_RECEIVE_QUEUE + 100; ++i)
        bytes += static_cast<char>('A' + i % 26);
    ASSERT_TRUE(Write(a, bytes)) << "the writer sends everything";
    COMSTAT stat{};
    EXPECT_EQ(static_cast<DWORD>(CE_RXOVER), ErrorsOf(b, &stat));
    EXPECT_EQ(static_cast<DWORD>(TESTPORT_RECEIVE_QUEUE), stat.cbInQue);
    EXPECT_EQ(0u, ErrorsOf(b)) << "reported once";
    EXPECT_EQ(bytes.substr(0, TESTPORT_RECEIVE_QUEUE), ReadNow(b, TESTPORT_RECEIVE_QUEUE + 100));
}

using TestPortSettingsTest = TestPortFixture;

TEST_F(TestPortSettingsTest, LineSettingsAreKeptPerEndAndReadBack)
{
    OpenBoth();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(a, &dcb));
    dcb.BaudRate = 19200;
    dcb.ByteSize = 7;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.EvtChar = '\r';
    dcb.fOutxCtsFlow = TRUE;
    ASSERT_TRUE(SetCommState(a, &dcb));

    DCB back{};
    ASSERT_TRUE(GetCommState(a, &back));
    EXPECT_EQ(19200u, back.BaudRate);
    EXPECT_EQ(7, back.ByteSize);
    EXPECT_EQ(ODDPARITY, back.Parity);
    EXPECT_EQ(TWOSTOPBITS, back.StopBits);
    EXPECT_EQ('\r', back.EvtChar);
    EXPECT_TRUE(back.fOutxCtsFlow);
    ASSERT_TRUE(GetCommState(b, &back));
    EXPECT_EQ(9600u, back.BaudRate) << "the peer keeps its own settings";
}

TEST_F(TestPortSettingsTest, ImpossibleLineSettingsAreRefusedAndLeaveTheOldOnes)
{
    OpenBoth();
    DCB dcb{};
    ASSERT_TRUE(GetCommState(a, &dcb));
    for (auto change :
         {+[](DCB& d) { d.BaudRate = 0; }, +[](DCB& d) { d.BaudRate = 921601; }, +[](DCB& d) { d.ByteSize = 9; },
          +[](DCB& d) { d.ByteSize = 4; }, +[](DCB& d) { d.Parity = 5; }, +[](DCB& d) { d.StopBits = 3; }}) {
        DCB bad = dcb;
        change(bad);
        EXPECT_FALSE(SetCommState(a, &bad));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    }
    DCB back{};
    ASSERT_TRUE(GetCommState(a, &back));
    EXPECT_EQ(9600u, back.BaudRate);
    EXPECT_EQ(8, back.ByteSize);
}

TEST_F(TestPortSettingsTest, ShortParameterBlocksAreRefusedWithoutBeingTouched)
{
    OpenBoth();
    unsigned char buffer[32];
    DWORD returned = 0;
    for (DWORD code :
         {IOCTL_SERIAL_GET_BAUD_RATE, IOCTL_SERIAL_GET_LINE_CONTROL, IOCTL_SERIAL_GET_HANDFLOW, IOCTL_SERIAL_GET_CHARS,
          IOCTL_SERIAL_GET_TIMEOUTS, IOCTL_SERIAL_GET_COMMSTATUS, IOCTL_SERIAL_GET_MODEMSTATUS,
          IOCTL_SERIAL_GET_WAIT_MASK, IOCTL_SERIAL_SET_BAUD_RATE, IOCTL_SERIAL_SET_LINE_CONTROL,
          IOCTL_SERIAL_SET_HANDFLOW, IOCTL_SERIAL_SET_CHARS, IOCTL_SERIAL_SET_TIMEOUTS, IOCTL_SERIAL_SET_QUEUE_SIZE,
          IOCTL_SERIAL_SET_WAIT_MASK, IOCTL_SERIAL_PURGE, IOCTL_SERIAL_WAIT_ON_MASK, IOCTL_TESTPORT_REPORT_ERRORS}) {
        memset(buffer, 0xAB, sizeof buffer);
        EXPECT_FALSE(DeviceIoControl(a, code, buffer, 2, buffer, 2, &returned, nullptr)) << std::hex << code;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError()) << std::hex << code;
        EXPECT_EQ(0u, returned);
    }
    EXPECT_FALSE(DeviceIoControl(a, IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_FALSE(DeviceIoControl(a, CTL_CODE(FILE_DEVICE_SERIAL_PORT, 200, METHOD_BUFFERED, FILE_ANY_ACCESS), buffer,
                                 sizeof buffer, buffer, sizeof buffer, &returned, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

using TestPortErrorTest = TestPortFixture;

TEST_F(TestPortErrorTest, ReportedErrorsComeWithTheNextStatusQueryOnce)
{
    OpenBoth();
    ReadImmediately(a);
    ASSERT_TRUE(Write(b, "zz"));
    ULONG flags = SERIAL_ERROR_FRAMING | SERIAL_ERROR_PARITY;
    ASSERT_TRUE(ReportErrors(a, &flags, sizeof flags)) << GetLastError();
    COMSTAT stat{};
    EXPECT_EQ(static_cast<DWORD>(CE_FRAME | CE_RXPARITY), ErrorsOf(a, &stat));
    EXPECT_EQ(2u, stat.cbInQue);
    EXPECT_EQ(0u, ErrorsOf(a));
    EXPECT_EQ(0u, ErrorsOf(b)) << "the peer saw no error";

    flags = SERIAL_ERROR_BREAK | SERIAL_ERROR_OVERRUN | SERIAL_ERROR_QUEUEOVERRUN;
    ASSERT_TRUE(ReportErrors(a, &flags, sizeof flags));
    EXPECT_EQ(static_cast<DWORD>(CE_BREAK | CE_OVERRUN | CE_RXOVER), ErrorsOf(a));
}

TEST_F(TestPortErrorTest, UnknownErrorFlagsAreRefused)
{
    OpenBoth();
    ULONG flags = SERIAL_ERROR_FRAMING | 0x20;
    EXPECT_FALSE(ReportErrors(a, &flags, sizeof flags));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0u, ErrorsOf(a));
}

TEST_F(TestPortErrorTest, WithErrorAbortReadsAndWritesFailUntilTheErrorIsFetched)
{
    OpenBoth();
    ReadImmediately(a);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(a, &dcb));
    dcb.fAbortOnError = TRUE;
    ASSERT_TRUE(SetCommState(a, &dcb));
    ULONG flags = SERIAL_ERROR_FRAMING;
    ASSERT_TRUE(ReportErrors(a, &flags, sizeof flags));
    char byte;
    DWORD count = 0;
    EXPECT_FALSE(ReadFile(a, &byte, 1, &count, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), GetLastError());
    EXPECT_FALSE(Write(a, "x"));
    EXPECT_EQ(static_cast<DWORD>(CE_FRAME), ErrorsOf(a));
    EXPECT_TRUE(Write(a, "x"));
}

// Unplugging a pair's adapter: a removable end refuses all but closing and
// goes with its last handle, its peer goes on; a fixed pair ignores it.
TEST_F(TestPortDataTest, AnUnpluggedRemovableEndRefusesRequestsAndGoesWithItsLastHandle)
{
    DWORD removable = 1;
    for (DWORD pairs : {0u, removable}) {
        ASSERT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
        SetParameter(TESTPORT_REMOVABLE_PAIRS_VALUE, REG_DWORD, &pairs, sizeof pairs);
        ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
        OpenBoth();
        ASSERT_TRUE(machine.UnplugDevice(TESTPORT_DEVICE_PREFIX "0"));
        EXPECT_EQ(pairs == 0, Write(a, "x")) << "pairs " << pairs;
        EXPECT_TRUE(Write(b, "y"));
        EXPECT_TRUE(CloseHandle(a));
        a = OpenPort("COM11");
        EXPECT_EQ(pairs == 0, a != INVALID_HANDLE_VALUE);
        for (HANDLE* port : {&a, &b}) {
            CloseHandle(*port);
            *port = INVALID_HANDLE_VALUE;
        }
    }
}

// The PortName of the device behind each enabled COM port interface, as a
// driver reads it.
std::set<std::string> InterfacePortNames()
{
    PWSTR links = nullptr;
    EXPECT_EQ(STATUS_SUCCESS, IoGetDeviceInterfaces(&GUID_DEVINTERFACE_COMPORT, nullptr, 0, &links));
    std::set<std::string> names;
    for (PWSTR at = links; at != nullptr && *at != 0; at += std::char_traits<char16_t>::length(at) + 1) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, at);
        PFILE_OBJECT file = nullptr;
        PDEVICE_OBJECT device = nullptr;
        HANDLE key = nullptr;
        if (!NT_SUCCESS(IoGetDeviceObjectPointer(&link, FILE_ALL_ACCESS, &file, &device)))
            continue;
        EXPECT_EQ(STATUS_SUCCESS, IoOpenDeviceRegistryKey(device, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key));
        ObDereferenceObject(file);
        UNICODE_STRING value;
        RtlInitUnicodeString(&value, u"PortName");
        ULONGLONG buffer[16] = {};
        auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
        ULONG size = 0;
        EXPECT_EQ(STATUS_SUCCESS, ZwQueryValueKey(key, &value, KeyValuePartialInformation, info, sizeof buffer, &size));
        ZwClose(key);
        std::string name;
        for (auto* c = reinterpret_cast<const char16_t*>(info->Data); *c != 0; ++c)
            name += static_cast<char>(*c);
        names.insert(name);
    }
    ExFreePool(links);
    return names;
}

// Plugged in again, an unplugged end is a new device under its port name,
// wired to its peer, in the device map and found through its COM port
// interface; a second plug-in while it is there is refused.
TEST_F(TestPortDataTest, AnUnpluggedEndComesBackUnderItsNameAsANewDevice)
{
    DWORD removable = 1;
    ASSERT_TRUE(machine.UnloadDriver(TESTPORT_SERVICE_NAME));
    SetParameter(TESTPORT_REMOVABLE_PAIRS_VALUE, REG_DWORD, &removable, sizeof removable);
    ASSERT_EQ(STATUS_SUCCESS, machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
    ASSERT_TRUE(machine.UnplugDevice(TESTPORT_DEVICE_PREFIX "0"));
    EXPECT_EQ((std::set<std::string>{"COM12"}), InterfacePortNames());
    b = OpenPort("COM12");
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(b, IOCTL_TESTPORT_PLUG_IN_PEER, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_FALSE(DeviceIoControl(b, IOCTL_TESTPORT_PLUG_IN_PEER, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(TESTPORT_DEVICE_PREFIX "2", DosTarget("COM11")) << "the next device after the pair's two";
    EXPECT_EQ("COM11", DeviceMapEntry(TESTPORT_DEVICE_PREFIX "2"));
    a = OpenPort("COM11");
    ReadImmediately(b);
    EXPECT_TRUE(Write(a, "back"));
    EXPECT_EQ("back", ReadNow(b));
    CloseHandle(a);
    CloseHandle(b);
    a = b = INVALID_HANDLE_VALUE;
    EXPECT_EQ((std::set<std::string>{"COM11", "COM12"}), InterfacePortNames());
}

}  // namespace
}  // namespace testport