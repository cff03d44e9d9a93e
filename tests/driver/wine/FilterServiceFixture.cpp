#include "FilterServiceFixture.h"

#include "DosDeviceTable.h"
#include "DriverParameters.h"
#include "FilterService.h"
#include "TestPortIoctl.h"

#include <string>
#include <vector>

#ifndef _WIN32
extern "C" NTSTATUS NTAPI ZrVtrlFltDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
#endif

namespace {

constexpr const char* kInstalledImage = "ZrVtrlFlt.sys";
const std::string kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

#ifdef _WIN32
std::string DriversFolder()
{
    char system[MAX_PATH];
    EXPECT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    return std::string(system) + "\\drivers\\";
}

std::string ProgramFolder()
{
    char module[MAX_PATH];
    EXPECT_NE(0u, GetModuleFileNameA(nullptr, module, MAX_PATH));
    std::string path = module;
    return path.substr(0, path.find_last_of('\\') + 1);
}

// The image built beside the test, under the name the service loads.
void InstallFilterImage(TestMachine&)
{
    std::string source = ProgramFolder() + FILTER_IMAGE;
    std::string target = DriversFolder() + kInstalledImage;
    ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source << ": " << GetLastError();
}

void RemoveInstalledImages()
{
    for (const char* image : {kInstalledImage, TESTPORT_IMAGE_NAME})
        DeleteFileA((DriversFolder() + image).c_str());
}
#else
void InstallFilterImage(TestMachine& machine)
{
    machine.RegisterDriverImage(kInstalledImage, ZrVtrlFltDriverEntry);
}

void RemoveInstalledImages() {}
#endif

void SetTestPortPair(DWORD directIoPairs)
{
    HKEY key;
    std::string path = kServicesKey + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_WRITE, nullptr, &key, nullptr));
    const char pair[] = "COM11,COM12";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Pair0", 0, REG_SZ, reinterpret_cast<const BYTE*>(pair), sizeof pair));
    // Written every time: the registry of a Wine prefix outlives the test.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, TESTPORT_DIRECT_IO_PAIRS_VALUE, 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&directIoPairs), sizeof directIoPairs));
    RegCloseKey(key);
}

// A kernel service of the shared load-order group, as the Wine launcher
// prepares it (the \SystemRoot form of the image path).
SC_HANDLE CreateGroupService(SC_HANDLE manager, const char* name, const char* displayName, const char* image)
{
    SC_HANDLE service = CreateServiceA(manager, name, displayName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, KernelImagePath(image).c_str(),
                                       TESTPORT_LOAD_ORDER_GROUP, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(nullptr, service) << name << ": " << GetLastError();
    return service;
}

bool StartAndWait(SC_HANDLE service)
{
    if (!StartServiceA(service, 0, nullptr)) {
        ADD_FAILURE() << "StartService: " << GetLastError();
        return false;
    }
    return WaitForServiceState(service, SERVICE_RUNNING) == SERVICE_RUNNING;
}

}  // namespace

HANDLE OpenPort(const char* name, DWORD flags)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

std::unique_ptr<CaptureItem> NewItem(const char* port, OutputForm form, const char* outputPort)
{
    std::unique_ptr<CaptureItem> item = NewCaptureItem();
    CopyItemText(item->port, sizeof item->port, port);
    CopyItemText(item->outputPort, sizeof item->outputPort, outputPort);
    item->form = form;
    item->bufferSize = 1000000;
    return item;
}

void FilterServiceTest::SetUp()
{
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager_) << GetLastError();
    RemoveLeftoverService(manager_, FILTER_SERVICE_NAME);
    RemoveLeftoverService(manager_, TESTPORT_SERVICE_NAME);
    InstallDriverImage(machine, TESTPORT_IMAGE_NAME);
    testPort_ = CreateGroupService(manager_, TESTPORT_SERVICE_NAME, TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME);
    ASSERT_NE(nullptr, testPort_);
    SetTestPortPair(directIoPairs);
    ASSERT_TRUE(StartAndWait(testPort_));
    InstallFilterImage(machine);
    filter_ = CreateGroupService(manager_, FILTER_SERVICE_NAME, FILTER_DISPLAY_NAME, kInstalledImage);
    ASSERT_NE(nullptr, filter_);
}

void FilterServiceTest::TearDown()
{
    // A test may have stopped the filter itself, or never started it.
    if (filter_ && ServiceState(filter_) == SERVICE_STOPPED) {
        EXPECT_TRUE(DeleteService(filter_)) << GetLastError();
        CloseServiceHandle(filter_);
    } else if (filter_) {
        StopAndDeleteService(filter_);
    }
    if (testPort_)
        StopAndDeleteService(testPort_);
    if (manager_)
        CloseServiceHandle(manager_);
    RemoveInstalledImages();
}

void FilterServiceTest::StartFilter()
{
    FilterService service;
#ifdef FILTER_DEVICE_TYPE_ZERO
    ASSERT_TRUE(service.SetDword(nullptr, "DeviceType", 0));
#endif
    DosDeviceTable devices(DOS_DEVICE_LISTING_SIZE);
    std::vector<std::string> logged;
    ASSERT_TRUE(BuildDriverParameters(items, FILTER_PARAMETERS_KEY, service, devices,
                                      [&](const std::string& line) { logged.push_back(line); }));
    EXPECT_TRUE(logged.empty()) << logged.front();
    ASSERT_TRUE(StartAndWait(filter_));
}
