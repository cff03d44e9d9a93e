// A simulated Windows machine: one object namespace, one I/O manager, one
// clock, pool and timer engine, and the handle table of its programs. A test
// owns exactly one Machine at a time; while it lives, the Win32 and kernel
// calls of this process act on it.
#pragma once

#include <wdm.h>

#include "Clock.h"

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace sim {

class Dispatcher;
class Pool;
class ObjectNamespace;
class TimerEngine;
class IoManager;
class HandleTable;
class PlugAndPlayManager;
struct SystemState;
struct SystemStateDeleter {
    void operator()(SystemState* state) const;
};

class Machine {
public:
    explicit Machine(ClockMode mode = ClockMode::Manual);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    static Machine& Current();  // stops the process when no machine exists

    // Clock
    ClockMode Mode() const { return clock_->Mode(); }
    // Manual mode: moves time forward by `ticks` x 10 ms, firing what falls due
    // (timers, their DPCs, timed waits) on the calling thread, in due order.
    void AdvanceTicks(uint32_t ticks);
    void SetTickCount(uint32_t ms);

    // Drivers. An image is a DriverEntry linked into the test, found by its
    // file name (any directory part of an image path is ignored).
    void RegisterDriverImage(const std::string& imageName, PDRIVER_INITIALIZE entry);
    // Creates the DRIVER_OBJECT and runs DriverEntry on a loader thread with the
    // registry path \Registry\Machine\System\CurrentControlSet\Services\<serviceName>.
    // STATUS_OBJECT_NAME_NOT_FOUND when no image of that name is registered.
    NTSTATUS LoadDriver(const std::string& serviceName, const std::string& imagePath, PDRIVER_OBJECT* driver = nullptr);
    // Registers "<serviceName>.sys" and loads it: the short form for in-test drivers.
    NTSTATUS StartDriver(const std::string& serviceName, PDRIVER_INITIALIZE entry, PDRIVER_OBJECT* driver = nullptr);
    // Runs DriverUnload on a loader thread, then checks that the driver left no
    // devices, pool blocks, timers or DPCs behind. False if it is not loaded.
    bool UnloadDriver(const std::string& serviceName);
    bool IsDriverLoaded(const std::string& serviceName);
    // Whether a file object is open on one of the driver's own devices, or a
    // device is attached above one of them: what defers a legacy driver's
    // unload. A file opened on a port that the driver filters is the port's.
    bool DriverHasOpenHandles(const std::string& serviceName);
    // Tags of the pool blocks the driver holds now, as a pool dump lists them.
    std::vector<ULONG> PoolTagsOf(const std::string& serviceName);
    // Called after every close of a file object (a deferred unload may now proceed).
    void AddFileCloseListener(std::function<void()> listener);
    // As Driver Verifier's forced pending I/O: a request that a driver completes
    // while its dispatch routine still runs answers its caller STATUS_PENDING,
    // and the caller's completion routine runs afterwards from a DPC (at
    // DISPATCH_LEVEL, after the caller's level has dropped below it).
    void ForcePendingRequests(bool on);
    // While on, every MmMapLockedPagesSpecifyCache fails as when the system
    // has no page table entries left (MmGetSystemAddressForMdlSafe gives NULL).
    void FailSystemMappings(bool on);

    // Driver lifetime and Plug and Play (sim/kernel/PlugAndPlay.cpp).
    // Removes a device as Windows does when its adapter is unplugged:
    // IRP_MN_SURPRISE_REMOVAL now, then IRP_MN_REMOVE_DEVICE once no file is
    // open on the device, both sent to the top of its stack from a system
    // thread. False when no device has that name.
    bool UnplugDevice(const std::string& deviceName);
    // Waits until the Plug and Play events delivered so far and the work
    // items queued so far (and the ones these queued) have run.
    void WaitForSystemWork();
    // While on, IoSetCompletionRoutineEx finds no room for its context.
    void FailCompletionRoutineContexts(bool on);

    // MmGetSystemRoutineAddress finds no routine of this name from now on, as
    // on a Windows version that does not export it.
    void HideSystemRoutine(const std::string& name);
    bool IsSystemRoutineHidden(const std::string& name);

    // Security and the system's own rules for drivers.
    // Programs from now on run as a user without the Administrators group
    // (or, with false, as an elevated administrator: the default). Their
    // opens are checked against the device's DACL; kernel opens are not.
    void RunAsStandardUser(bool on);
    // Called inside IoAttachDeviceToDeviceStack(Safe) once the new device is
    // the top of the stack, as another thread's request could arrive there.
    // Set it before the attaching driver loads.
    void OnDeviceAttached(std::function<void(PDEVICE_OBJECT top)> hook);
    // Whether `data` begins with what system buffers hold before a driver
    // writes them: bytes that nobody wrote.
    static bool LooksUnwritten(const void* data, size_t size);
    // Pool types of the driver's blocks now, and the system mappings that
    // did not ask for no-execute (MdlMappingNoExecute), since the start.
    std::vector<POOL_TYPE> PoolTypesOf(const std::string& serviceName);
    uint64_t ExecutableMappingsMade();

    // File changes of the programs: profile writes, copies, moves, deletions
    // and attribute changes, counted from the machine's start. After
    // EndFileChangesAfter(n) the next n go ahead and every later one fails
    // with no effect, as when the process is ended at that moment, until
    // AllowFileChanges.
    uint64_t FileChangesMade();
    void EndFileChangesAfter(uint64_t count);
    void AllowFileChanges();

    // Areas of the machine, for the simulation's own code.
    Clock& clock() { return *clock_; }
    Dispatcher& dispatcher() { return *dispatcher_; }
    Pool& pool() { return *pool_; }
    ObjectNamespace& names() { return *names_; }
    TimerEngine& timers() { return *timers_; }
    IoManager& io() { return *io_; }
    HandleTable& handles() { return *handles_; }
    PlugAndPlayManager& pnp() { return *pnp_; }

    // Registry, service manager, mutexes, profile files and system facts
    // (sim/system); made on first use, torn down before the areas above.
    SystemState& system();

private:
    // The driver object of a loaded service, or null.
    PDRIVER_OBJECT LoadedDriverObject(const std::string& serviceName);
    bool ImageStillMapped(const std::string& serviceName);
    void CheckNothingAttachedToDeletedDevices(PDRIVER_OBJECT driver, const std::string& serviceName);
    void CreateNullDevice();

    std::unique_ptr<Clock> clock_;
    std::unique_ptr<Dispatcher> dispatcher_;
    std::unique_ptr<Pool> pool_;
    std::unique_ptr<ObjectNamespace> names_;
    std::unique_ptr<TimerEngine> timers_;
    std::unique_ptr<IoManager> io_;
    std::unique_ptr<HandleTable> handles_;
    std::unique_ptr<PlugAndPlayManager> pnp_;
    std::mutex hiddenRoutinesLock_;
    std::set<std::string> hiddenRoutines_;
    std::once_flag systemOnce_;
    std::unique_ptr<SystemState, SystemStateDeleter> system_;
};

}  // namespace sim
