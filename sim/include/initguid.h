// Where a driver asks for its GUIDs to be defined: the simulation's
// DEFINE_GUID always defines them (guiddef.h).
#pragma once

#include <guiddef.h>
