// The service control manager of a simulated machine: kernel-driver
// services, their registry entries and the Windows rules for starting and
// stopping a legacy driver (the unload waits for the last open handle on one
// of the driver's own devices).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace sim {

class Registry;

// What the service manager needs of the I/O manager.
class DriverLoader {
public:
    virtual ~DriverLoader() = default;
    // Runs DriverEntry of the image registered under `imageName` (a file name
    // such as "x.sys") with the service's registry path; returns its status,
    // or STATUS_OBJECT_NAME_NOT_FOUND when no such image is registered.
    virtual int32_t LoadDriver(const std::string& serviceName, const std::string& imageName) = 0;
    virtual bool DriverHasUnloadRoutine(const std::string& serviceName) = 0;
    virtual bool DriverHasOpenHandles(const std::string& serviceName) = 0;
    virtual void UnloadDriver(const std::string& serviceName) = 0;
};

struct ServiceConfig {
    std::string name;
    std::string displayName;
    uint32_t type = 0;
    uint32_t startType = 0;
    uint32_t errorControl = 0;
    std::string imagePath;
    std::string loadOrderGroup;
};

struct ServiceStatusInfo {
    uint32_t type = 0;
    uint32_t state = 0;
    uint32_t controlsAccepted = 0;
    uint32_t exitCode = 0;
};

class ServiceManager {
public:
    ServiceManager(Registry& registry, DriverLoader& loader);
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // Without administrator rights the manager and services open only for queries.
    void SetAdministrator(bool administrator);

    // Each call returns a Win32 error code (0 on success), as GetLastError would report it.
    uint32_t OpenManager(const char* database, uint32_t access, uintptr_t& handle);
    uint32_t OpenService(uintptr_t manager, const std::string& name, uint32_t access, uintptr_t& handle);
    uint32_t CreateService(uintptr_t manager, const ServiceConfig& config, uint32_t access, uintptr_t& handle);
    uint32_t Start(uintptr_t service);
    uint32_t Stop(uintptr_t service, ServiceStatusInfo& status);
    uint32_t Query(uintptr_t service, ServiceStatusInfo& status);
    uint32_t Delete(uintptr_t service);
    uint32_t CloseHandle(uintptr_t handle);

    // The I/O manager reports a closed handle: a stop that waited for the
    // last handle to a device of its driver completes now.
    void CompletePendingStops();

private:
    struct Service {
        ServiceConfig config;
        ServiceStatusInfo status;
        bool markedForDelete = false;
        int openHandles = 0;
    };
    struct Handle {
        std::shared_ptr<Service> service;  // null for the manager
        uint32_t access;
    };

    uint32_t GrantedAccess(uint32_t requested, bool forManager) const;
    uint32_t LookupHandle(uintptr_t handle, bool wantManager, uint32_t requiredAccess, Handle& found);
    uintptr_t AddHandle(const std::shared_ptr<Service>& service, uint32_t access);
    std::shared_ptr<Service> FindService(const std::string& name) const;
    void WriteServiceKey(const ServiceConfig& config);
    void RemoveService(const std::shared_ptr<Service>& service);
    void RemoveIfDeleted(const std::shared_ptr<Service>& service);
    void FinishPendingStop(Service& service);

    std::mutex lock_;
    Registry& registry_;
    DriverLoader& loader_;
    bool administrator_ = true;
    std::map<std::string, std::shared_ptr<Service>> services_;  // by upper-cased name
    std::map<uintptr_t, Handle> handles_;
    uintptr_t nextHandle_;
};

}  // namespace sim
