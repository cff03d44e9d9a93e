// A simulated machine with the test port pairs COM11/COM12 and COM13/COM14
// and the filter, whose one capture object Obj1 captures COM11: a monitor
// object, or the output port `baseName` of the given form.
#pragma once

#include <windows.h>

#include "CaptureParameters.h"
#include "FilterDriver.h"
#include "Machine.h"
#include "TestPortIoctl.h"

#include <optional>
#include <string>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);  // the test port

inline void SetRegistryValue(const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size)
{
    HKEY handle;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &handle,
                    nullptr);
    RegSetValueExA(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(handle);
}

// As the application writes them: no terminating zero.
inline void SetRegistryString(const std::string& key, const std::string& name, const std::string& text)
{
    SetRegistryValue(key, name, REG_SZ, text.data(), static_cast<DWORD>(text.size()));
}

struct FilterMachine {
    FilterMachine(const std::string& baseName, DWORD maxBytes, std::optional<DWORD> form = std::nullopt)
    {
        const std::string services = "SYSTEM\\CurrentControlSet\\Services\\";
        SetRegistryString(services + TESTPORT_SERVICE_NAME "\\Parameters", "Pair0", "COM11,COM12");
        SetRegistryString(services + TESTPORT_SERVICE_NAME "\\Parameters", "Pair1", "COM13,COM14");
        const std::string object = services + "VantrelFlt\\Parameters\\" CAPTURE_OBJECT_KEY_PREFIX_A "1";
        SetRegistryString(object, CAPTURE_VALUE_BASE_NAME_A, baseName);
        SetRegistryString(object, "COM11", "\\Device\\VtrlTestPort0");
        SetRegistryValue(object, CAPTURE_VALUE_MAX_BYTES_A, REG_DWORD, &maxBytes, sizeof maxBytes);
        if (form)
            SetRegistryValue(object, CAPTURE_VALUE_FORM_A, REG_DWORD, &*form, sizeof *form);
        machine.RegisterDriverImage(TESTPORT_IMAGE_NAME, DriverEntry);
        machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME);
        machine.RegisterDriverImage("ZrVtrlFlt.sys", ZrVtrlFltDriverEntry);
        machine.LoadDriver("VantrelFlt", "ZrVtrlFlt.sys");
    }
    ~FilterMachine()
    {
        machine.UnloadDriver("VantrelFlt");
        machine.UnloadDriver(TESTPORT_SERVICE_NAME);
    }

    sim::Machine machine;
};
