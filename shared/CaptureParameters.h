// The capture parameters: what the application writes under the filter
// service's Parameters key and the driver reads at load. One subkey per
// capture object ("Obj1", "Obj2", ... in item order; the driver takes the
// subkeys in enumeration order, whatever their names), holding
//   BaseName  REG_SZ     the object's name: the driver makes the device
//                        \Device\<name>0 and the link \DosDevices\<name>,
//                        so programs open \\.\<name>
//   MaxByte   REG_DWORD  how many record bytes the object keeps
//   CapType   REG_DWORD  the output form, below
//   COM...    REG_SZ     a captured port: the value's name is the port's DOS
//                        name, its data the port's NT device path
// A port value belongs to the last BaseName enumerated before it.
//
// Freestanding. Each text is written once, as NAME_A for the application's
// ANSI registry calls; NAME_W is the same text in UTF-16 for the driver.
#pragma once

#include <stdint.h>

#include "KernelText.h"

#define CAPTURE_OBJECT_KEY_PREFIX_A "Obj"
#define CAPTURE_OBJECT_KEY_PREFIX_W KTEXT_OF(CAPTURE_OBJECT_KEY_PREFIX_A)

#define CAPTURE_VALUE_BASE_NAME_A "BaseName"
#define CAPTURE_VALUE_BASE_NAME_W KTEXT_OF(CAPTURE_VALUE_BASE_NAME_A)

#define CAPTURE_VALUE_MAX_BYTES_A "MaxByte"
#define CAPTURE_VALUE_MAX_BYTES_W KTEXT_OF(CAPTURE_VALUE_MAX_BYTES_A)

#define CAPTURE_VALUE_FORM_A "CapType"
#define CAPTURE_VALUE_FORM_W KTEXT_OF(CAPTURE_VALUE_FORM_A)

// Serial port names begin with this: a value so named is a captured port,
// and it tells an output port object by its base name (see CapType).
#define CAPTURE_PORT_NAME_PREFIX_A "COM"
#define CAPTURE_PORT_NAME_PREFIX_W KTEXT_OF(CAPTURE_PORT_NAME_PREFIX_A)

// The base name of the application's monitor object n is this prefix and n
// in decimal ("ZrVlObj1"); an output port object is named by its port.
#define CAPTURE_MONITOR_OBJECT_PREFIX_A "ZrVlObj"
#define CAPTURE_MONITOR_OBJECT_PREFIX_W KTEXT_OF(CAPTURE_MONITOR_OBJECT_PREFIX_A)

// Values of CapType. Every form but the standard monitor makes the object a
// virtual serial port. Without the value (or with 0) an object whose base
// name is a serial port name delivers text and any other is a monitor
// object; a value beyond these delivers what CAPTURE_FORM_READ_DATA does.
enum CaptureOutputForm : uint32_t {
    CAPTURE_FORM_STANDARD_MONITOR = 0,  // records fetched by a monitor window
    CAPTURE_FORM_TEXT = 1,              // a virtual port: every record as text lines
    CAPTURE_FORM_WRITTEN_DATA = 2,      // a virtual port: the bytes programs wrote
    CAPTURE_FORM_READ_DATA = 3,         // a virtual port: the bytes programs read
    CAPTURE_FORM_SIGNAL_SELECTED = 4,   // a virtual port: read or written bytes, as its handflow asks
};
