// The filter and the test port as two kernel services of one load-order
// group, set up the way the application sets them up: under Wine with the
// real .sys images in one winedevice.exe, natively with the same sources on
// the simulation. FILTER_IMAGE names the filter image built beside the test.
#pragma once

#include <windows.h>

#include "CaptureItem.h"
#include "KernelService.h"

#include <gtest/gtest.h>

#include <memory>

HANDLE OpenPort(const char* name, DWORD flags = 0);

// A capture item on `port`: a monitor, or a port object when `outputPort` is given.
std::unique_ptr<CaptureItem> NewItem(const char* port, OutputForm form, const char* outputPort = "");

class FilterServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the filter's parameters from `items` with the application's own
    // code (DeviceType 0 first where the image is built for NT 4.0) and starts it.
    void StartFilter();

    TestMachine machine;
    CaptureItemRows items;
    // Pairs of the test port on direct I/O, a mask as the test port reads it;
    // a derived fixture sets it before SetUp.
    DWORD directIoPairs = 0;

private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE testPort_ = nullptr;
    SC_HANDLE filter_ = nullptr;
};
