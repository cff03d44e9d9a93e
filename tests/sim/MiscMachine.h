// The machine a conformance test runs on: natively a simulated one that the
// test owns, under Wine the real Windows interface (nothing to set up).
#pragma once

#include <windows.h>

#ifdef _WIN32
struct TestMachine {};
#else
#include "Machine.h"
#include "system/SystemState.h"
using TestMachine = sim::Machine;
#endif
