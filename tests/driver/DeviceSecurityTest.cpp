// Who may open the driver's devices: a monitor's capture device and a
// filter's own name only SYSTEM and administrators; a virtual port also the
// users logged on at the machine. The captured port keeps its own security.
#include "FilterTestSupport.h"

using namespace filtertest;

namespace {

class DeviceSecurityTest : public FilterFixture {
protected:
    void SetUp() override
    {
        FilterFixture::SetUp();
        WriteMonitorObject(1, "COM11", kPort0Path, 1000000);
        std::string key = ObjectKey(2);
        SetString(key, CAPTURE_VALUE_BASE_NAME_A, "COM21");
        SetString(key, "COM13", kPort2Path);
        SetDword(key, CAPTURE_VALUE_FORM_A, CAPTURE_FORM_READ_DATA);
        StartFilter();
    }

    // ERROR_SUCCESS when `name` opens with `access`, else the open's error.
    static DWORD OpenError(const std::string& name, DWORD access)
    {
        std::string path = "\\\\.\\" + name;
        HANDLE handle = CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return GetLastError();
        CloseHandle(handle);
        return ERROR_SUCCESS;
    }
};

TEST_F(DeviceSecurityTest, AUserWithoutAdministratorRightsOpensOnlyTheVirtualPortAndTheCapturedPorts)
{
    const DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
    machine.RunAsStandardUser(true);
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), OpenError(MonitorObjectName(1), readWrite));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), OpenError("FLTCOM11A", readWrite));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), OpenError("FLTCOM13B", GENERIC_READ));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), OpenError("COM21", readWrite)) << "a terminal of the user reads the output";
    EXPECT_EQ(DWORD(ERROR_SUCCESS), OpenError("COM11", readWrite)) << "the port's own security";

    machine.RunAsStandardUser(false);
    EXPECT_EQ(DWORD(ERROR_SUCCESS), OpenError(MonitorObjectName(1), readWrite));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), OpenError("FLTCOM11A", readWrite));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), OpenError("COM21", readWrite));
}

// An open that asks for no right passes any DACL on Windows; the capture
// requests need no particular right, so the driver's devices refuse such a
// handle (a filter's own name would reach the port's control requests).
TEST_F(DeviceSecurityTest, AHandleWithoutReadAccessIsRefusedByTheDriverDevices)
{
    machine.RunAsStandardUser(true);
    for (const std::string& name : {MonitorObjectName(1), std::string("COM21"), std::string("FLTCOM11A")}) {
        EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), OpenError(name, 0)) << name;
        EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), OpenError(name, GENERIC_WRITE)) << name;
    }
}

}  // namespace
