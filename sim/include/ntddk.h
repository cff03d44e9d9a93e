// Kernel interface for legacy (non plug-and-play) drivers.
#pragma once

#include <wdm.h>
