// The Win32 interface of the simulated Windows, under the real header names.
#pragma once

#include <winnt.h>
#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winioctl.h>
#include <winreg.h>
#include <winsvc.h>
