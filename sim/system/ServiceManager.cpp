#include "ServiceManager.h"

#include <windows.h>

#include "AnsiText.h"
#include "CodePage.h"
#include "Registry.h"

#include <vector>

namespace sim {
namespace {

constexpr uintptr_t kFirstHandle = 0x5C0004;
const char16_t* const kServicesPath = u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services";

std::string UpperName(const std::string& name)
{
    std::string upper = name;
    bool trailByte = false;
    for (char& c : upper) {
        if (!trailByte && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        trailByte = !trailByte && IsCp932LeadByte(static_cast<unsigned char>(c));
    }
    return upper;
}

// The service loads the file its image path names; only the name is looked up.
std::string ImageFileName(const ServiceConfig& config)
{
    if (config.imagePath.empty())
        return config.name + ".sys";
    size_t slash = config.imagePath.find_last_of("\\/");
    return slash == std::string::npos ? config.imagePath : config.imagePath.substr(slash + 1);
}

// The errors StartService reports for the statuses a DriverEntry returns.
uint32_t Win32ErrorOfDriverStatus(int32_t status)
{
    switch (static_cast<uint32_t>(status)) {
    case 0xC0000001u: return ERROR_GEN_FAILURE;          // STATUS_UNSUCCESSFUL
    case 0xC0000002u: return ERROR_INVALID_FUNCTION;     // STATUS_NOT_IMPLEMENTED
    case 0xC000000Du: return ERROR_INVALID_PARAMETER;    // STATUS_INVALID_PARAMETER
    case 0xC000000Eu: return ERROR_FILE_NOT_FOUND;       // STATUS_NO_SUCH_DEVICE
    case 0xC0000017u: return ERROR_NOT_ENOUGH_MEMORY;    // STATUS_NO_MEMORY
    case 0xC0000022u: return ERROR_ACCESS_DENIED;        // STATUS_ACCESS_DENIED
    case 0xC0000034u: return ERROR_FILE_NOT_FOUND;       // STATUS_OBJECT_NAME_NOT_FOUND
    case 0xC0000035u: return ERROR_ALREADY_EXISTS;       // STATUS_OBJECT_NAME_COLLISION
    case 0xC000003Au: return ERROR_PATH_NOT_FOUND;       // STATUS_OBJECT_PATH_NOT_FOUND
    case 0xC000009Au: return ERROR_NO_SYSTEM_RESOURCES;  // STATUS_INSUFFICIENT_RESOURCES
    case 0xC00000BBu: return ERROR_NOT_SUPPORTED;        // STATUS_NOT_SUPPORTED
    case 0xC0000010u: return ERROR_INVALID_FUNCTION;     // STATUS_INVALID_DEVICE_REQUEST
    default: return ERROR_MR_MID_NOT_FOUND;              // what Windows reports for an unmapped status
    }
}

uint32_t MapGenericAccess(uint32_t access, bool forManager)
{
    uint32_t all = forManager ? SC_MANAGER_ALL_ACCESS : SERVICE_ALL_ACCESS;
    uint32_t read = forManager ? (READ_CONTROL | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS)
                               : (READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                                  SERVICE_ENUMERATE_DEPENDENTS);
    uint32_t write = forManager ? (READ_CONTROL | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG)
                                : (READ_CONTROL | SERVICE_CHANGE_CONFIG);
    uint32_t execute =
        forManager
            ? (READ_CONTROL | SC_MANAGER_CONNECT | SC_MANAGER_LOCK)
            : (READ_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL);
    uint32_t mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
    if (access & GENERIC_READ)
        mapped |= read;
    if (access & GENERIC_WRITE)
        mapped |= write;
    if (access & GENERIC_EXECUTE)
        mapped |= execute;
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED))
        mapped |= all;
    return mapped;
}

void SetDword(Registry& registry, const RegistryKeyPtr& key, const char16_t* name, uint32_t value)
{
    registry.SetValue(key, name, REG_DWORD, reinterpret_cast<const uint8_t*>(&value), sizeof value);
}

void SetText(Registry& registry, const RegistryKeyPtr& key, const char16_t* name, uint32_t type,
             const std::string& text)
{
    std::u16string wide = AnsiToWide(text.c_str(), text.size() + 1);
    registry.SetValue(key, name, type, reinterpret_cast<const uint8_t*>(wide.data()), wide.size() * 2);
}

}  // namespace

ServiceManager::ServiceManager(Registry& registry, DriverLoader& loader)
    : registry_(registry), loader_(loader), nextHandle_(kFirstHandle)
{}

void ServiceManager::SetAdministrator(bool administrator)
{
    std::lock_guard<std::mutex> guard(lock_);
    administrator_ = administrator;
}

uint32_t ServiceManager::GrantedAccess(uint32_t requested, bool forManager) const
{
    uint32_t access = MapGenericAccess(requested, forManager);
    if (administrator_)
        return access;
    uint32_t allowed = forManager ? MapGenericAccess(GENERIC_READ | SC_MANAGER_CONNECT, true)
                                  : MapGenericAccess(GENERIC_READ | SERVICE_USER_DEFINED_CONTROL, false);
    if (requested & MAXIMUM_ALLOWED)
        return allowed;
    return (access & ~allowed) ? 0 : access;
}

uintptr_t ServiceManager::AddHandle(const std::shared_ptr<Service>& service, uint32_t access)
{
    uintptr_t handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = Handle{service, access};
    if (service)
        ++service->openHandles;
    return handle;
}

uint32_t ServiceManager::LookupHandle(uintptr_t handle, bool wantManager, uint32_t requiredAccess, Handle& found)
{
    auto it = handles_.find(handle);
    if (it == handles_.end() || (it->second.service == nullptr) != wantManager)
        return ERROR_INVALID_HANDLE;
    if ((it->second.access & requiredAccess) != requiredAccess)
        return ERROR_ACCESS_DENIED;
    found = it->second;
    return ERROR_SUCCESS;
}

std::shared_ptr<ServiceManager::Service> ServiceManager::FindService(const std::string& name) const
{
    auto it = services_.find(UpperName(name));
    return it == services_.end() ? nullptr : it->second;
}

uint32_t ServiceManager::OpenManager(const char* database, uint32_t access, uintptr_t& handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (database && !EqualsIgnoreCaseAnsi(database, SERVICES_ACTIVE_DATABASEA))
        return ERROR_DATABASE_DOES_NOT_EXIST;
    uint32_t granted = GrantedAccess(access, true);
    if (!granted && access)
        return ERROR_ACCESS_DENIED;
    handle = AddHandle(nullptr, granted);
    return ERROR_SUCCESS;
}

uint32_t ServiceManager::OpenService(uintptr_t manager, const std::string& name, uint32_t access, uintptr_t& handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    Handle owner;
    if (uint32_t error = LookupHandle(manager, true, SC_MANAGER_CONNECT, owner))
        return error;
    std::shared_ptr<Service> service = FindService(name);
    if (!service)
        return ERROR_SERVICE_DOES_NOT_EXIST;
    uint32_t granted = GrantedAccess(access, false);
    if (!granted && access)
        return ERROR_ACCESS_DENIED;
    handle = AddHandle(service, granted);
    return ERROR_SUCCESS;
}

void ServiceManager::WriteServiceKey(const ServiceConfig& config)
{
    RegistryKeyPtr services = registry_.KeyAt(kServicesPath);
    RegistryKeyPtr key;
    bool created = false;
    if (!services || registry_.Create(services, AnsiToWide(config.name), false, key, created) != RegistryResult::Ok)
        return;
    SetDword(registry_, key, u"Type", config.type);
    SetDword(registry_, key, u"Start", config.startType);
    SetDword(registry_, key, u"ErrorControl", config.errorControl);
    SetText(registry_, key, u"ImagePath", REG_EXPAND_SZ, config.imagePath);
    SetText(registry_, key, u"DisplayName", REG_SZ, config.displayName);
    if (!config.loadOrderGroup.empty())
        SetText(registry_, key, u"Group", REG_SZ, config.loadOrderGroup);
}

uint32_t ServiceManager::CreateService(uintptr_t manager, const ServiceConfig& config, uint32_t access,
                                       uintptr_t& handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    Handle owner;
    if (uint32_t error = LookupHandle(manager, true, SC_MANAGER_CREATE_SERVICE, owner))
        return error;
    if (config.name.empty() || config.name.find_first_of("\\/") != std::string::npos)
        return ERROR_INVALID_NAME;
    if (std::shared_ptr<Service> existing = FindService(config.name))
        return existing->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
    for (const auto& entry : services_)
        if (!config.displayName.empty() && EqualsIgnoreCaseAnsi(entry.second->config.displayName, config.displayName))
            return ERROR_DUPLICATE_SERVICE_NAME;
    auto service = std::make_shared<Service>();
    service->config = config;
    if (service->config.displayName.empty())
        service->config.displayName = config.name;
    service->status = ServiceStatusInfo{config.type, SERVICE_STOPPED, 0, ERROR_SERVICE_NEVER_STARTED};
    services_[UpperName(config.name)] = service;
    WriteServiceKey(service->config);
    handle = AddHandle(service, GrantedAccess(access, false));
    return ERROR_SUCCESS;
}

uint32_t ServiceManager::Start(uintptr_t serviceHandle)
{
    std::unique_lock<std::mutex> guard(lock_);
    Handle handle;
    if (uint32_t error = LookupHandle(serviceHandle, false, SERVICE_START, handle))
        return error;
    Service& service = *handle.service;
    FinishPendingStop(service);
    if (service.markedForDelete)
        return ERROR_SERVICE_MARKED_FOR_DELETE;
    if (service.config.startType == SERVICE_DISABLED)
        return ERROR_SERVICE_DISABLED;
    if (service.status.state != SERVICE_STOPPED)
        return ERROR_SERVICE_ALREADY_RUNNING;
    // DriverEntry runs without the manager's lock: a driver that opens and
    // closes a device while loading reaches CompletePendingStops.
    service.status.state = SERVICE_START_PENDING;
    guard.unlock();
    int32_t status = loader_.LoadDriver(service.config.name, ImageFileName(service.config));
    guard.lock();
    if (status < 0) {
        service.status.state = SERVICE_STOPPED;
        service.status.exitCode = Win32ErrorOfDriverStatus(status);
        return service.status.exitCode;
    }
    service.status.state = SERVICE_RUNNING;
    service.status.controlsAccepted = SERVICE_ACCEPT_STOP;
    service.status.exitCode = ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

uint32_t ServiceManager::Stop(uintptr_t serviceHandle, ServiceStatusInfo& status)
{
    std::lock_guard<std::mutex> guard(lock_);
    Handle handle;
    if (uint32_t error = LookupHandle(serviceHandle, false, SERVICE_STOP, handle))
        return error;
    Service& service = *handle.service;
    FinishPendingStop(service);
    status = service.status;
    if (service.status.state == SERVICE_STOPPED)
        return ERROR_SERVICE_NOT_ACTIVE;
    if (service.status.state != SERVICE_RUNNING)
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    if (!loader_.DriverHasUnloadRoutine(service.config.name))
        return ERROR_INVALID_SERVICE_CONTROL;
    service.status.controlsAccepted = 0;
    service.status.state = SERVICE_STOP_PENDING;
    // A legacy driver unloads only when no handle refers to one of its devices.
    FinishPendingStop(service);
    status = service.status;
    return ERROR_SUCCESS;
}

void ServiceManager::FinishPendingStop(Service& service)
{
    if (service.status.state != SERVICE_STOP_PENDING || loader_.DriverHasOpenHandles(service.config.name))
        return;
    loader_.UnloadDriver(service.config.name);
    service.status.state = SERVICE_STOPPED;
}

// Called by the kernel side as a file closes, on whatever thread closed it:
// that thread never waits for the service manager (it may be a system thread
// that a driver's unload, run by a stop in progress, waits for). A busy
// service manager finishes pending stops at its next call.
void ServiceManager::CompletePendingStops()
{
    std::unique_lock<std::mutex> guard(lock_, std::try_to_lock);
    if (!guard.owns_lock())
        return;
    std::vector<std::shared_ptr<Service>> services;
    for (auto& entry : services_)
        services.push_back(entry.second);
    for (const auto& service : services) {
        FinishPendingStop(*service);
        RemoveIfDeleted(service);
    }
}

uint32_t ServiceManager::Query(uintptr_t serviceHandle, ServiceStatusInfo& status)
{
    std::lock_guard<std::mutex> guard(lock_);
    Handle handle;
    if (uint32_t error = LookupHandle(serviceHandle, false, SERVICE_QUERY_STATUS, handle))
        return error;
    FinishPendingStop(*handle.service);
    status = handle.service->status;
    return ERROR_SUCCESS;
}

uint32_t ServiceManager::Delete(uintptr_t serviceHandle)
{
    std::lock_guard<std::mutex> guard(lock_);
    Handle handle;
    if (uint32_t error = LookupHandle(serviceHandle, false, DELETE, handle))
        return error;
    if (handle.service->markedForDelete)
        return ERROR_SERVICE_MARKED_FOR_DELETE;
    handle.service->markedForDelete = true;
    return ERROR_SUCCESS;
}

void ServiceManager::RemoveService(const std::shared_ptr<Service>& service)
{
    services_.erase(UpperName(service->config.name));
    RegistryKeyPtr key;
    RegistryKeyPtr services = registry_.KeyAt(kServicesPath);
    if (services && registry_.Open(services, AnsiToWide(service->config.name), key) == RegistryResult::Ok)
        registry_.DeleteTree(key);
}

// A deleted service goes once it is stopped and nobody holds it, also when
// its deferred stop completes after its last handle closed.
void ServiceManager::RemoveIfDeleted(const std::shared_ptr<Service>& service)
{
    if (service->markedForDelete && service->openHandles == 0 && service->status.state == SERVICE_STOPPED)
        RemoveService(service);
}

uint32_t ServiceManager::CloseHandle(uintptr_t handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = handles_.find(handle);
    if (it == handles_.end())
        return ERROR_INVALID_HANDLE;
    std::shared_ptr<Service> service = it->second.service;
    handles_.erase(it);
    if (!service)
        return ERROR_SUCCESS;
    --service->openHandles;
    FinishPendingStop(*service);
    RemoveIfDeleted(service);
    return ERROR_SUCCESS;
}

}  // namespace sim
