// Pumps the test thread's messages until a condition holds or time runs out.
#pragma once

#include <windows.h>

struct PumpResult {
    bool conditionMet = false;
    bool quitPosted = false;
};

template <typename Condition>
PumpResult PumpMessagesUntil(Condition condition, DWORD timeoutMs)
{
    PumpResult result;
    DWORD start = GetTickCount();
    while (!(result.conditionMet = condition()) && GetTickCount() - start < timeoutMs) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                result.quitPosted = true;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(1);
    }
    return result;
}

inline PumpResult PumpMessagesFor(DWORD durationMs)
{
    return PumpMessagesUntil([] { return false; }, durationMs);
}
