#include "DosDeviceTable.h"
#include "TestMachine.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>

#ifndef _WIN32
#include <ntddk.h>
#endif

namespace {

// A listing as the system returns it: names, each ended by a zero, then an empty name.
const char FAKE_LISTING[] = "LPT1\0COM3\0COM3A\0COM01\0COMX\0COM1\0COM-2\0COM99999999999\0NUL\0COM12\0com5\0";

DWORD WINAPI FakeQuery(LPCSTR name, LPSTR out, DWORD size)
{
    if (name == nullptr) {
        if (size < sizeof FAKE_LISTING)
            return 0;
        memcpy(out, FAKE_LISTING, sizeof FAKE_LISTING);
        return sizeof FAKE_LISTING;
    }
    const char target[] = "\\Device\\Serial0\0";
    if (strcmp(name, "COM3") != 0 || size < sizeof target)
        return 0;
    memcpy(out, target, sizeof target);
    return sizeof target;
}

DWORD WINAPI FailingQuery(LPCSTR, LPSTR, DWORD)
{
    return 0;
}

std::string NameOfLength(size_t length)
{
    return "COM" + std::string(length - 3, '7');
}

DWORD WINAPI LongNameQuery(LPCSTR, LPSTR out, DWORD size)
{
    std::string listing = NameOfLength(400) + '\0' + "COM2" + '\0' + '\0';
    if (size < listing.size())
        return 0;
    memcpy(out, listing.data(), listing.size());
    return static_cast<DWORD>(listing.size());
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(DosDeviceTableListing, CapturePortsKeepTheSystemOrderAndTheComNumberRoundTrip)
{
    DosDeviceTable table(DOS_DEVICE_LISTING_SIZE, FakeQuery);
    // COM-2 prints back as itself, so the round trip takes it, as it takes
    // COM12; COM3A prints back as COM3 and is no port.
    EXPECT_EQ(ListCapturePorts(table), (std::vector<std::string>{"COM3", "COM1", "COM-2", "COM12"}));
}

TEST(DosDeviceTableListing, NextWithPrefixWalksThePrefixedEntriesOnce)
{
    DosDeviceTable table(DOS_DEVICE_LISTING_SIZE, FakeQuery);
    char entry[DOS_DEVICE_NAME_SIZE];
    EXPECT_EQ(table.NextWithPrefix("COM", entry), 0u);  // no listing yet
    ASSERT_EQ(table.ListAll(), sizeof FAKE_LISTING);
    ASSERT_EQ(table.NextWithPrefix("NU", entry), 4u);
    EXPECT_STREQ(entry, "NUL");
    ASSERT_EQ(table.NextWithPrefix("COM", entry), 6u);
    EXPECT_STREQ(entry, "COM12");
    EXPECT_EQ(table.NextWithPrefix("COM", entry), 0u);  // "com5" differs in case
    EXPECT_EQ(table.NextWithPrefix("", entry), 0u);     // and the end stays the end
}

TEST(DosDeviceTableListing, OverlongEntryIsCutToTheCallersBuffer)
{
    DosDeviceTable table(DOS_DEVICE_LISTING_SIZE, LongNameQuery);
    ASSERT_NE(table.ListAll(), 0u);
    char entry[DOS_DEVICE_NAME_SIZE];
    ASSERT_EQ(table.NextWithPrefix("COM", entry), DOS_DEVICE_NAME_SIZE);
    EXPECT_EQ(std::string(entry), NameOfLength(DOS_DEVICE_NAME_SIZE - 1));
    ASSERT_EQ(table.NextWithPrefix("COM", entry), 5u);
    EXPECT_STREQ(entry, "COM2");
}

TEST(DosDeviceTableListing, ListingThatDoesNotFitFailsAndListsNothing)
{
    DosDeviceTable table(8, FakeQuery);
    EXPECT_EQ(table.ListAll(), 0u);
    char entry[DOS_DEVICE_NAME_SIZE];
    EXPECT_EQ(table.NextWithPrefix("COM", entry), 0u);
    EXPECT_TRUE(ListCapturePorts(table).empty());
}

TEST(DosDeviceTableListing, UnresolvedEntryActsAsAnEmptyTable)
{
    for (QueryDosDeviceFunction query : {static_cast<QueryDosDeviceFunction>(nullptr), &FailingQuery}) {
        DosDeviceTable table(DOS_DEVICE_LISTING_SIZE, query);
        std::vector<std::string> ports = ListCapturePorts(table);
        EXPECT_TRUE(ports.empty());
        char path[DOS_DEVICE_LOOKUP_SIZE];
        EXPECT_EQ(table.Lookup("COM3", path, sizeof path), 0u);
        std::vector<std::string> offer = ListOutputPortOffer(ports);
        ASSERT_EQ(offer.size(), 255u);
        EXPECT_EQ(offer.front(), "COM1");
        EXPECT_EQ(offer.back(), "COM255");
    }
}

TEST(DosDeviceTableListing, LookupFindsOneNameAndRefusesAnEmptyOne)
{
    DosDeviceTable table(DOS_DEVICE_LOOKUP_SIZE, FakeQuery);
    char path[DOS_DEVICE_LOOKUP_SIZE];
    ASSERT_NE(table.Lookup("COM3", path, sizeof path), 0u);
    EXPECT_STREQ(path, "\\Device\\Serial0");
    EXPECT_EQ(table.Lookup("COM4", path, sizeof path), 0u);
    EXPECT_EQ(table.Lookup("", path, sizeof path), 0u);
}

TEST(OutputPortOffer, LeavesOutExactlyTheExistingPorts)
{
    std::vector<std::string> offer = ListOutputPortOffer({"COM1", "COM3", "COM12", "COM256"});
    EXPECT_EQ(offer.size(), 252u);
    EXPECT_EQ(offer[0], "COM2");
    EXPECT_EQ(offer[1], "COM4");
    EXPECT_EQ(offer[8], "COM11");
    EXPECT_EQ(offer[9], "COM13");
    EXPECT_FALSE(Contains(offer, "COM12"));
    EXPECT_EQ(offer.back(), "COM255");
}

// The machine lives as long as each test: natively the simulation.
class DosDeviceTableSystem : public ::testing::Test {
protected:
    TestMachine machine_;
};

#ifndef _WIN32
// Natively: a driver of the test's own that names one device with several
// DOS names, some of them no port numbers.
const char16_t* const TEST_LINKS[] = {u"\\DosDevices\\COM11", u"\\DosDevices\\COM3", u"\\DosDevices\\COM200",
                                      u"\\DosDevices\\COM01", u"\\DosDevices\\COMX"};

void UnloadPorts(PDRIVER_OBJECT driver)
{
    for (const char16_t* name : TEST_LINKS) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, name);
        IoDeleteSymbolicLink(&link);
    }
    IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS CreatePorts(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\TestPorts0");
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_SERIAL_PORT, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    driver->DriverUnload = UnloadPorts;
    for (const char16_t* target : TEST_LINKS) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, target);
        IoCreateSymbolicLink(&link, &name);
    }
    return STATUS_SUCCESS;
}

TEST_F(DosDeviceTableSystem, ListsTheDriversPortsAndLooksThemUp)
{
    ASSERT_EQ(machine_.StartDriver("TestPorts", CreatePorts), STATUS_SUCCESS);
    DosDeviceTable table(DOS_DEVICE_LISTING_SIZE);
    std::vector<std::string> ports = ListCapturePorts(table);
    std::vector<std::string> sorted = ports;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"COM11", "COM200", "COM3"}));

    std::vector<std::string> offer = ListOutputPortOffer(ports);
    EXPECT_EQ(offer.size(), 252u);
    EXPECT_FALSE(Contains(offer, "COM200"));
    EXPECT_TRUE(Contains(offer, "COM1"));

    DosDeviceTable lookup(DOS_DEVICE_LOOKUP_SIZE);
    char path[DOS_DEVICE_LOOKUP_SIZE];
    ASSERT_NE(lookup.Lookup("COM11", path, sizeof path), 0u);
    EXPECT_STREQ(path, "\\Device\\TestPorts0");
    EXPECT_EQ(lookup.Lookup("COM4", path, sizeof path), 0u);
    EXPECT_TRUE(machine_.UnloadDriver("TestPorts"));
}
#endif

// On both platforms: whatever the system has, the listing holds NUL, every
// capture port passes the round trip, and no listed port is offered.
TEST_F(DosDeviceTableSystem, SystemListingIsConsistent)
{
    DosDeviceTable table(DOS_DEVICE_LISTING_SIZE);
    ASSERT_NE(table.ListAll(), 0u);
    char entry[DOS_DEVICE_NAME_SIZE];
    bool sawNul = false;
    // A handful of names start with NUL; a walk that never ends fails.
    constexpr int kMostNames = 1000;
    int names = 0;
    for (; names < kMostNames && table.NextWithPrefix("NUL", entry) != 0; ++names)
        sawNul = sawNul || strcmp(entry, "NUL") == 0;
    EXPECT_LT(names, kMostNames);
    EXPECT_TRUE(sawNul);

    std::vector<std::string> ports = ListCapturePorts(table);
    std::vector<std::string> offer = ListOutputPortOffer(ports);
    for (const std::string& port : ports) {
        char printed[32];
        snprintf(printed, sizeof printed, "COM%d", atoi(port.c_str() + 3));
        EXPECT_EQ(port, printed);
        EXPECT_FALSE(Contains(offer, port)) << port;
        char path[DOS_DEVICE_LOOKUP_SIZE];
        EXPECT_NE(table.Lookup(port.c_str(), path, sizeof path), 0u) << port;
    }
    EXPECT_EQ(offer.size() + static_cast<size_t>(std::count_if(ports.begin(), ports.end(),
                                                               [](const std::string& p) {
                                                                   int n = atoi(p.c_str() + 3);
                                                                   return n >= 1 && n <= 255;
                                                               })),
              255u);
}

}  // namespace
