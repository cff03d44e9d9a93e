// MmGetSystemRoutineAddress: the kernel's exports by name, for drivers that
// use a call only where the system has it. A test hides an export to play a
// Windows version that lacks it.
#include "Kernel.h"

#include <ntifs.h>

#include "../Machine.h"

#include <map>

namespace sim {

namespace {

// The exports a driver may look up; a call missing here is one that the
// simulated system does not have.
const std::map<std::string, void*>& Exports()
{
    static const std::map<std::string, void*> exports = {
        {"IoAttachDeviceToDeviceStack", reinterpret_cast<void*>(&IoAttachDeviceToDeviceStack)},
        {"IoAttachDeviceToDeviceStackSafe", reinterpret_cast<void*>(&IoAttachDeviceToDeviceStackSafe)},
        {"IoGetDeviceAttachmentBaseRef", reinterpret_cast<void*>(&IoGetDeviceAttachmentBaseRef)},
        {"IoGetDeviceInterfaces", reinterpret_cast<void*>(&IoGetDeviceInterfaces)},
        {"IoRegisterPlugPlayNotification", reinterpret_cast<void*>(&IoRegisterPlugPlayNotification)},
        {"IoSetCompletionRoutineEx", reinterpret_cast<void*>(&IoSetCompletionRoutineEx)},
        {"IoUnregisterPlugPlayNotification", reinterpret_cast<void*>(&IoUnregisterPlugPlayNotification)},
        {"IoUnregisterPlugPlayNotificationEx", reinterpret_cast<void*>(&IoUnregisterPlugPlayNotificationEx)},
        {"KeFlushQueuedDpcs", reinterpret_cast<void*>(&KeFlushQueuedDpcs)},
        {"KeQuerySystemTime", reinterpret_cast<void*>(&KeQuerySystemTime)},
        {"KeQuerySystemTimePrecise", reinterpret_cast<void*>(&KeQuerySystemTimePrecise)},
        {"ZwSetSecurityObject", reinterpret_cast<void*>(&ZwSetSecurityObject)},
    };
    return exports;
}

}  // namespace

}  // namespace sim

PVOID MmGetSystemRoutineAddress(PUNICODE_STRING SystemRoutineName)
{
    if (sim::CurrentThread().irql != PASSIVE_LEVEL)
        sim::Fail("MmGetSystemRoutineAddress above PASSIVE_LEVEL");
    std::string name = sim::ToUtf8(SystemRoutineName);
    if (sim::Machine::Current().IsSystemRoutineHidden(name))
        return nullptr;
    auto found = sim::Exports().find(name);
    return found == sim::Exports().end() ? nullptr : found->second;
}
