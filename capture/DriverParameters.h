// The driver's registry parameters (their layout is in CaptureParameters.h):
// one subkey "Obj<n>" of the service's parameters key per capture object,
// numbered from 1 in item order.
#pragma once

#include "CaptureItem.h"
#include "CaptureLog.h"
#include "DosDeviceTable.h"
#include "FilterService.h"

constexpr const char* PORT_NOT_FOUND_TEXT = "設定されたCOMポートが見つかりませんでした(%s)";

// Rewrites the subkeys of `parametersKey` from the items: a monitor object per
// active monitor item, a port object per distinct output port. Sets every
// item's `active` and each monitor item's `deviceObject`; logs each item whose
// port the table does not know. True when at least one object was written;
// an empty list returns false and leaves the registry untouched.
bool BuildDriverParameters(CaptureItemRows& items, const char* parametersKey, FilterService& service,
                           DosDeviceTable& devices, const LogLine& log);
