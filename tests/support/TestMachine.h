// The machine a test that runs on both platforms works on: natively a
// simulated Windows that the test owns, under Wine the real interface.
#pragma once

#include <windows.h>

#ifdef _WIN32
struct TestMachine {};
#else
#include "Machine.h"
using TestMachine = sim::Machine;
#endif
