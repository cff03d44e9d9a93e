// The Wine launcher's VantrelFlt entry, as the service manager reports it:
// the \SystemRoot image path that Wine loads and the test port's load-order
// group, and the application's install step keeps it as it is.
#include "FilterService.h"
#include "ServiceHandle.h"

#include <windows.h>

#include "TestPortIoctl.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const char kWineImagePath[] = "\\SystemRoot\\System32\\Drivers\\ZrVtrlFlt.sys";

struct ServiceEntry {
    DWORD type = 0;
    DWORD start = 0;
    std::string imagePath;
    std::string group;
    std::string displayName;
};

bool ReadServiceEntry(ServiceEntry* entry)
{
    ServiceHandle service = OpenNamedService(FILTER_SERVICE_NAME, SERVICE_QUERY_CONFIG);
    if (!service)
        return false;
    DWORD needed = 0;
    QueryServiceConfigA(service.get(), nullptr, 0, &needed);
    std::unique_ptr<BYTE[]> buffer(new BYTE[needed]);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.get());
    if (!QueryServiceConfigA(service.get(), config, needed, &needed))
        return false;
    entry->type = config->dwServiceType;
    entry->start = config->dwStartType;
    entry->imagePath = config->lpBinaryPathName ? config->lpBinaryPathName : "";
    entry->group = config->lpLoadOrderGroup ? config->lpLoadOrderGroup : "";
    entry->displayName = config->lpDisplayName ? config->lpDisplayName : "";
    return true;
}

void ExpectLauncherEntry(const ServiceEntry& entry)
{
    EXPECT_EQ(entry.type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(entry.start, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(entry.imagePath, kWineImagePath);
    EXPECT_EQ(entry.group, TESTPORT_LOAD_ORDER_GROUP) << "the filter must share the test port's winedevice.exe";
    EXPECT_EQ(entry.displayName, FILTER_DISPLAY_NAME);
}

TEST(ServiceEntryTest, TheLauncherRegisteredTheFilterInTheFormWineLoads)
{
    ServiceEntry entry;
    ASSERT_TRUE(ReadServiceEntry(&entry)) << "VantrelFlt is not registered: " << GetLastError();
    ExpectLauncherEntry(entry);
}

TEST(ServiceEntryTest, TheApplicationsInstallKeepsTheLauncherEntry)
{
    ASSERT_TRUE(FilterService().Install(FILTER_DISPLAY_NAME, FILTER_IMAGE_PATH, 0));
    ServiceEntry entry;
    ASSERT_TRUE(ReadServiceEntry(&entry));
    SCOPED_TRACE("after the application's install step");
    ExpectLauncherEntry(entry);
}

}  // namespace
