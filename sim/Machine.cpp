#include "Machine.h"

#include "kernel/Kernel.h"
#include "user/Handles.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

std::atomic<Machine*> g_current{nullptr};

const char16_t ServicesKey[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\";

std::string ImageFileName(const std::string& imagePath)
{
    size_t slash = imagePath.find_last_of("\\/");
    return UpperAscii(slash == std::string::npos ? imagePath : imagePath.substr(slash + 1));
}

NTSTATUS InvalidDeviceRequest(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

// \Device\Null: accepts everything, reads nothing, as on Windows.
NTSTATUS NullDispatch(PDEVICE_OBJECT, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = stack->MajorFunction == IRP_MJ_WRITE ? stack->Parameters.Write.Length : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS NullDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, u"\\Device\\Null");
    RtlInitUnicodeString(&link, u"\\DosDevices\\NUL");
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_NULL, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    for (auto& function : driver->MajorFunction)
        function = NullDispatch;
    return IoCreateSymbolicLink(&link, &name);
}

template <class Work>
void RunOnLoaderThread(PDRIVER_OBJECT driver, const char* what, Work work)
{
    std::thread loader([driver, what, &work] {
        DriverScope scope(driver, what);
        work();
    });
    loader.join();
}

// A service stop waits for the unload routine for ever on Windows; here an
// unload that has not returned after a minute of machine or host time stops
// the test.
constexpr uint64_t UnloadLimitSeconds = 60;

void RunUnloadRoutine(Clock& clock, PDRIVER_OBJECT driver, const std::string& service)
{
    std::mutex lock;
    std::condition_variable changed;
    bool returned = false;
    std::thread loader([&] {
        {
            DriverScope scope(driver, "DriverUnload");
            driver->DriverUnload(driver);
        }
        std::lock_guard<std::mutex> guard(lock);
        returned = true;
        changed.notify_all();
    });
    const uint64_t machineStart = clock.Now();
    const auto hostStart = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> guard(lock);
    while (!changed.wait_for(guard, std::chrono::milliseconds(20), [&] { return returned; })) {
        bool machineLate = clock.Now() - machineStart > UnloadLimitSeconds * 10000000;
        bool hostLate = std::chrono::steady_clock::now() - hostStart > std::chrono::seconds(UnloadLimitSeconds);
        if (machineLate || hostLate)
            Fail("the unload routine of driver %s has not returned after %llu s: its service stop never ends",
                 service.c_str(), static_cast<unsigned long long>(UnloadLimitSeconds));
    }
    guard.unlock();
    loader.join();
}

// Other threads may be leaving the driver's code as its unload returns (the
// last instructions after a count was lowered); code still in it after this
// long is code of an unloaded driver.
void WaitForCodeToLeave(const DriverImage& image)
{
    const auto start = std::chrono::steady_clock::now();
    while (image.running.load() != 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

Machine::Machine(ClockMode mode)
    : clock_(std::make_unique<Clock>(mode)), dispatcher_(std::make_unique<Dispatcher>(*clock_)),
      pool_(std::make_unique<Pool>()), names_(std::make_unique<ObjectNamespace>()),
      timers_(std::make_unique<TimerEngine>(*clock_, *dispatcher_)), io_(std::make_unique<IoManager>(*this)),
      handles_(std::make_unique<HandleTable>()), pnp_(std::make_unique<PlugAndPlayManager>())
{
    Machine* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this))
        Fail("a second Machine was created while one exists; one machine per process at a time");
    CreateNullDevice();
}

Machine::~Machine()
{
    pnp_->Stop();
    handles_->WaitForThreads();
    timers_->Stop();
    g_current.store(nullptr);
}

Machine& Machine::Current()
{
    Machine* machine = g_current.load();
    if (machine == nullptr)
        Fail("a Windows call was made while no sim::Machine exists");
    return *machine;
}

void Machine::CreateNullDevice()
{
    NTSTATUS status = StartDriver("Null", NullDriverEntry);
    if (!NT_SUCCESS(status))
        Fail("the null device could not be created (0x%08X)", static_cast<unsigned>(status));
}

void Machine::AdvanceTicks(uint32_t ticks)
{
    timers_->AdvanceTicks(ticks);
}

void Machine::SetTickCount(uint32_t ms)
{
    clock_->SetTickCount(ms);
}

void Machine::RegisterDriverImage(const std::string& imageName, PDRIVER_INITIALIZE entry)
{
    std::lock_guard<std::mutex> guard(io_->lock);
    io_->images[ImageFileName(imageName)] = entry;
}

NTSTATUS Machine::StartDriver(const std::string& serviceName, PDRIVER_INITIALIZE entry, PDRIVER_OBJECT* driver)
{
    RegisterDriverImage(serviceName + ".sys", entry);
    return LoadDriver(serviceName, serviceName + ".sys", driver);
}

// An unloaded driver's image stays while a device of it is referenced (a
// late completion routine); the same image is not loaded a second time
// meanwhile. Lock held.
bool Machine::ImageStillMapped(const std::string& serviceName)
{
    return io_->imagesMappedAfterUnload.count(UpperAscii(serviceName)) != 0;
}

NTSTATUS Machine::LoadDriver(const std::string& serviceName, const std::string& imagePath, PDRIVER_OBJECT* driver)
{
    auto record = std::make_unique<IoManager::DriverRecord>();
    PDRIVER_INITIALIZE entry = nullptr;
    {
        std::lock_guard<std::mutex> guard(io_->lock);
        auto image = io_->images.find(ImageFileName(imagePath));
        if (image == io_->images.end())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        if (io_->drivers.count(UpperAscii(serviceName)) != 0 || ImageStillMapped(serviceName))
            return STATUS_IMAGE_ALREADY_LOADED;
        entry = image->second;
    }
    record->service = serviceName;
    record->name = u"\\Driver\\" + ToUtf16(serviceName);
    record->registryPath = ServicesKey + ToUtf16(serviceName);
    record->object = std::make_unique<DRIVER_OBJECT>();
    record->image.service = serviceName;
    PDRIVER_OBJECT object = record->object.get();
    object->DriverSection = &record->image;
    object->Type = 4;
    object->Size = sizeof(DRIVER_OBJECT);
    object->DriverExtension = &record->extension;
    record->extension.DriverObject = object;
    RtlInitUnicodeString(&object->DriverName, record->name.c_str());
    RtlInitUnicodeString(&record->extension.ServiceKeyName, record->registryPath.c_str());
    object->DriverInit = entry;
    for (auto& function : object->MajorFunction)
        function = InvalidDeviceRequest;

    NTSTATUS status = names_->InsertDriver(ToUtf8(record->name), object);
    if (!NT_SUCCESS(status))
        return status;
    {
        std::lock_guard<std::mutex> guard(io_->lock);
        io_->drivers[UpperAscii(serviceName)] = std::move(record);
    }
    UNICODE_STRING registryPath;
    std::u16string registryPathText = ServicesKey + ToUtf16(serviceName);
    RtlInitUnicodeString(&registryPath, registryPathText.c_str());
    RunOnLoaderThread(object, "DriverEntry", [&] { status = entry(object, &registryPath); });

    if (!NT_SUCCESS(status)) {
        if (object->DeviceObject != nullptr)
            Fail("driver %s failed DriverEntry (0x%08X) but left devices behind", serviceName.c_str(),
                 static_cast<unsigned>(status));
        names_->RemoveDriver(ToUtf8(&object->DriverName));
        std::lock_guard<std::mutex> guard(io_->lock);
        io_->drivers.erase(UpperAscii(serviceName));
        return status;
    }
    {
        // Devices made during DriverEntry are ready once it returns.
        std::lock_guard<std::mutex> guard(io_->lock);
        for (PDEVICE_OBJECT device = object->DeviceObject; device != nullptr; device = device->NextDevice)
            device->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    if (driver != nullptr)
        *driver = object;
    return status;
}

PDRIVER_OBJECT Machine::LoadedDriverObject(const std::string& serviceName)
{
    std::lock_guard<std::mutex> guard(io_->lock);
    auto found = io_->drivers.find(UpperAscii(serviceName));
    return found == io_->drivers.end() ? nullptr : found->second->object.get();
}

bool Machine::UnloadDriver(const std::string& serviceName)
{
    PDRIVER_OBJECT object = LoadedDriverObject(serviceName);
    if (object == nullptr)
        return false;
    if (object->DriverUnload == nullptr)
        return false;
    RunUnloadRoutine(*clock_, object, serviceName);
    pnp_->CheckNoRegistrationsOf(object, serviceName);
    timers_->FlushDpcs();
    timers_->CheckNothingArmedFor(object, serviceName.c_str());

    if (object->DeviceObject != nullptr)
        Fail("driver %s unloaded with a device still present", serviceName.c_str());
    auto leaks = pool_->BlocksOf(object);
    if (!leaks.empty()) {
        std::fprintf(stderr, "sim: driver %s unloaded with %zu pool block(s) not freed:\n", serviceName.c_str(),
                     leaks.size());
        for (const auto& block : leaks) {
            const char* tag = reinterpret_cast<const char*>(&block.tag);
            std::fprintf(stderr, "sim:   tag '%c%c%c%c' size %zu\n", tag[0], tag[1], tag[2], tag[3], block.size);
        }
        Fail("pool leak at unload of driver %s", serviceName.c_str());
    }
    names_->RemoveDriver(ToUtf8(&object->DriverName));
    WaitForCodeToLeave(*ImageOf(object));
    std::lock_guard<std::mutex> guard(io_->lock);
    CheckNothingAttachedToDeletedDevices(object, serviceName);
    auto record = io_->drivers.find(UpperAscii(serviceName));
    record->second->image.unloaded = true;
    io_->unloadedDrivers.push_back(std::move(record->second));
    io_->drivers.erase(record);
    io_->imagesMappedAfterUnload.insert(UpperAscii(serviceName));
    io_->UnmapImageIfUnused(object);
    return true;
}

// A deleted device that a device above still points to would receive that
// device's requests after its driver is gone. Lock held.
void Machine::CheckNothingAttachedToDeletedDevices(PDRIVER_OBJECT driver, const std::string& serviceName)
{
    for (const auto& entry : io_->devices) {
        if (entry.first->DriverObject == driver && entry.first->AttachedDevice != nullptr)
            Fail("driver %s unloaded while its deleted device %s still has a device attached above it (the "
                 "driver above never detached)",
                 serviceName.c_str(), entry.second.name.c_str());
    }
}

bool Machine::IsDriverLoaded(const std::string& serviceName)
{
    std::lock_guard<std::mutex> guard(io_->lock);
    return io_->drivers.count(UpperAscii(serviceName)) != 0;
}

void Machine::HideSystemRoutine(const std::string& name)
{
    std::lock_guard<std::mutex> guard(hiddenRoutinesLock_);
    hiddenRoutines_.insert(name);
}

bool Machine::IsSystemRoutineHidden(const std::string& name)
{
    std::lock_guard<std::mutex> guard(hiddenRoutinesLock_);
    return hiddenRoutines_.count(name) != 0;
}

bool Machine::DriverHasOpenHandles(const std::string& serviceName)
{
    PDRIVER_OBJECT object = LoadedDriverObject(serviceName);
    if (object == nullptr)
        return false;
    return io_->DriverHasOpenFiles(object);
}

std::vector<ULONG> Machine::PoolTagsOf(const std::string& serviceName)
{
    std::vector<ULONG> tags;
    PDRIVER_OBJECT object = LoadedDriverObject(serviceName);
    if (object != nullptr) {
        for (const Pool::Block& block : pool_->BlocksOf(object))
            tags.push_back(block.tag);
    }
    return tags;
}

void Machine::ForcePendingRequests(bool on)
{
    io_->forcePending = on;
}

void Machine::FailSystemMappings(bool on)
{
    io_->failMappings = on;
}

void Machine::RunAsStandardUser(bool on)
{
    io_->standardUser = on;
}

void Machine::OnDeviceAttached(std::function<void(PDEVICE_OBJECT)> hook)
{
    std::lock_guard<std::mutex> guard(io_->lock);
    io_->attachHook = std::move(hook);
}

std::vector<POOL_TYPE> Machine::PoolTypesOf(const std::string& serviceName)
{
    std::vector<POOL_TYPE> types;
    PDRIVER_OBJECT object = LoadedDriverObject(serviceName);
    if (object != nullptr) {
        for (const Pool::Block& block : pool_->BlocksOf(object))
            types.push_back(block.type);
    }
    return types;
}

uint64_t Machine::ExecutableMappingsMade()
{
    return io_->executableMappings.load();
}

void Machine::FailCompletionRoutineContexts(bool on)
{
    io_->failCompletionContexts = on;
}

void Machine::AddFileCloseListener(std::function<void()> listener)
{
    std::lock_guard<std::mutex> guard(io_->lock);
    io_->fileCloseListeners.push_back(std::move(listener));
}

}  // namespace sim
