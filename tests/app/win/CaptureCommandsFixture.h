// The main frame's capture commands over the test port and the real filter
// as kernel services under Wine, with the monitor windows they open; a
// capture still running at the end of a test is stopped.
#pragma once

#include "CaptureCommands.h"
#include "FilterServiceFixture.h"
#include "MessageBoxAnswerer.h"
#include "MonitorWindows.h"

#include <commctrl.h>

#include <string>
#include <vector>

class CaptureCommandsFixture : public FilterServiceTest {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
        ASSERT_TRUE(InitCommonControlsEx(&controls));
        FilterServiceTest::SetUp();
    }
    void TearDown() override
    {
        if (capturing) {
            MessageBoxAnswerer answerer(GetCurrentThreadId());
            commands.OnStopCapture(nullptr);
        }
        FilterServiceTest::TearDown();
    }

    std::vector<std::string> log;
    MonitorWindows monitors;
    CaptureCommands commands{items, [this](const std::string& line) { log.push_back(line); }, monitors};
    bool capturing = false;
};
