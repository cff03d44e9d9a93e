#include "SystemState.h"

#include "../Machine.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace sim {
namespace {

std::string MakeRootFolder()
{
    const char* temp = std::getenv("TMPDIR");
    std::string pattern = std::string(temp && *temp ? temp : "/tmp") + "/vantrel-sim-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("simulated machine: cannot create its root folder");
        std::abort();
    }
    return pattern;
}

}  // namespace

int32_t MachineDriverLoader::LoadDriver(const std::string& serviceName, const std::string& imageName)
{
    PDRIVER_OBJECT driver = nullptr;
    NTSTATUS status = machine_.LoadDriver(serviceName, imageName, &driver);
    if (NT_SUCCESS(status)) {
        std::lock_guard<std::mutex> guard(lock_);
        drivers_[serviceName] = driver;
    }
    return status;
}

bool MachineDriverLoader::DriverHasUnloadRoutine(const std::string& serviceName)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = drivers_.find(serviceName);
    return it != drivers_.end() && static_cast<PDRIVER_OBJECT>(it->second)->DriverUnload != nullptr;
}

bool MachineDriverLoader::DriverHasOpenHandles(const std::string& serviceName)
{
    return machine_.DriverHasOpenHandles(serviceName);
}

void MachineDriverLoader::UnloadDriver(const std::string& serviceName)
{
    machine_.UnloadDriver(serviceName);
    std::lock_guard<std::mutex> guard(lock_);
    drivers_.erase(serviceName);
}

SystemState::SystemState(Machine& machine)
    : rootFolder(MakeRootFolder()), loader(machine), info(rootFolder), services(registry, loader)
{}

SystemState::~SystemState()
{
    std::error_code ignored;
    std::filesystem::remove_all(rootFolder, ignored);
}

void SystemStateDeleter::operator()(SystemState* state) const
{
    delete state;
}

SystemState& Machine::system()
{
    std::call_once(systemOnce_, [this] {
        system_.reset(new SystemState(*this));
        // The listener outlives the state: it asks the machine each time.
        AddFileCloseListener([this] {
            if (system_)
                system_->services.CompletePendingStops();
        });
    });
    return *system_;
}

uint64_t Machine::FileChangesMade()
{
    return system().fileChanges.Made();
}

void Machine::EndFileChangesAfter(uint64_t count)
{
    system().fileChanges.EndAfter(count);
}

void Machine::AllowFileChanges()
{
    system().fileChanges.Allow();
}

SystemState& CurrentSystem()
{
    return Machine::Current().system();
}

}  // namespace sim
