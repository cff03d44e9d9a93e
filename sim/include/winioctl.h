// Device control codes for user-mode callers.
#pragma once

#include <winnt.h>
#include <devioctl.h>
