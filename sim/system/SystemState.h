// The registry, service manager and system facts of one simulated machine.
// The Machine owns one; the Win32 and kernel calls in sim/system reach the
// one of the machine that currently lives.
#pragma once

#include "HostFiles.h"
#include "Mutexes.h"
#include "Registry.h"
#include "ServiceManager.h"
#include "SystemInfo.h"

#include <map>
#include <mutex>
#include <string>

namespace sim {

class Machine;

// Runs the service manager's drivers through the machine's I/O manager.
class MachineDriverLoader : public DriverLoader {
public:
    explicit MachineDriverLoader(Machine& machine) : machine_(machine) {}
    int32_t LoadDriver(const std::string& serviceName, const std::string& imageName) override;
    bool DriverHasUnloadRoutine(const std::string& serviceName) override;
    bool DriverHasOpenHandles(const std::string& serviceName) override;
    void UnloadDriver(const std::string& serviceName) override;

private:
    Machine& machine_;
    std::mutex lock_;
    std::map<std::string, void*> drivers_;  // DRIVER_OBJECT of each loaded service
};

// The folders of the machine (windows, system32, drivers) lie in a fresh
// temporary root folder that goes away with the machine.
struct SystemState {
    explicit SystemState(Machine& machine);
    ~SystemState();
    SystemState(const SystemState&) = delete;
    SystemState& operator=(const SystemState&) = delete;

    std::string rootFolder;
    MachineDriverLoader loader;
    SystemInfo info;
    Registry registry;
    ServiceManager services;
    Mutexes mutexes;
    std::mutex fileLock;  // file calls one at a time: none sees a half-written file
    FileChanges fileChanges;
};

// Aborts with a message when no machine lives.
SystemState& CurrentSystem();
inline Registry& CurrentRegistry()
{
    return CurrentSystem().registry;
}

}  // namespace sim
