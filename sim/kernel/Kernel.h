// Internal state of the simulated kernel, one object per area, owned by the
// Machine. Product code never includes this header.
#pragma once

#include <wdm.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace sim {

class Clock;
class Machine;

// Stops the process with a clear message: the stricter-than-Windows checks.
[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string ToUtf8(PCUNICODE_STRING text);
std::string ToUtf8(const std::u16string& text);
std::u16string ToUtf16(const std::string& text);
std::string UpperAscii(std::string text);

// A lock for short bookkeeping sections (a request's levels, the pool's
// block table) that nearly never meet a holder: cheaper than a mutex there.
class ShortLock {
public:
    void lock()
    {
        while (held_.exchange(true, std::memory_order_acquire)) {
            while (held_.load(std::memory_order_relaxed))
                std::this_thread::yield();
        }
    }
    void unlock() { held_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> held_{false};
};

// Per-thread kernel bookkeeping: interrupt level, the driver whose code runs,
// DPCs waiting for the level to drop, the Win32 last error.
struct ThreadState {
    KIRQL irql = PASSIVE_LEVEL;
    PDRIVER_OBJECT driver = nullptr;
    std::vector<PKDPC> deferredDpcs;
    uint32_t lastError = 0;
    uint32_t threadId = 0;  // assigned on first use
    const void* notifying = nullptr;  // the Plug and Play registration whose callback runs here
};
ThreadState& CurrentThread();

// A driver's loaded image, as the kernel's loader entry that
// DRIVER_OBJECT::DriverSection points to. The image goes once the driver's
// unload has run and none of its device objects is left (deleted and
// unreferenced); no code of it may run after that.
struct DriverImage {
    std::string service;
    std::atomic<int> running{0};  // threads now in its code
    std::atomic<bool> unloaded{false};
    std::atomic<bool> gone{false};
};

inline DriverImage* ImageOf(PDRIVER_OBJECT driver)
{
    return driver != nullptr ? static_cast<DriverImage*>(driver->DriverSection) : nullptr;
}

// Runs `call` as code of `driver` (pool blocks it allocates are charged to
// it); `what` names the code for the stop when the driver's image is gone.
class DriverScope {
public:
    explicit DriverScope(PDRIVER_OBJECT driver, const char* what = "code");
    ~DriverScope();
    DriverScope(const DriverScope&) = delete;
    DriverScope& operator=(const DriverScope&) = delete;

private:
    PDRIVER_OBJECT saved_;
    DriverImage* image_;
};

// A mutex as the dispatcher keeps it: SignalState is 1 while it is free and
// drops by one for each acquisition, so the owner may acquire it again.
struct Mutant {
    Mutant()
    {
        header.Type = MutantObject;
        header.SignalState = 1;
    }
    DISPATCHER_HEADER header{};  // Type MutantObject; first, so a wait header leads here
    uint32_t owner = 0;          // thread id, 0 while free
    bool abandoned = false;      // its owner ended without releasing it
};

// The dispatcher lock: every signal state of events, timers, threads and
// other waitable objects changes under it, and every wait sleeps on it.
class Dispatcher {
public:
    explicit Dispatcher(Clock& clock) : clock_(clock) {}

    // Waits for one (any) or all headers; `deadline` in machine time. Returns
    // STATUS_WAIT_0 + index, STATUS_ABANDONED_WAIT_0 + index, or STATUS_TIMEOUT.
    NTSTATUS Wait(DISPATCHER_HEADER* const* objects, size_t count, bool waitAll, std::optional<uint64_t> deadline);
    LONG SetSignal(DISPATCHER_HEADER* object, LONG state);
    LONG ReadSignal(const DISPATCHER_HEADER* object);
    void ClockMoved();

    // False when `thread` does not own the mutex.
    bool ReleaseMutant(Mutant* mutant, uint32_t thread);
    // A thread ends: the mutexes it still owns become free and abandoned.
    void AbandonMutantsOf(uint32_t thread);
    // A mutex goes away (its last handle closed).
    void ForgetMutant(Mutant* mutant);

private:
    bool Satisfied(DISPATCHER_HEADER* const* objects, size_t count, bool waitAll, uint32_t thread, size_t* index) const;
    // True when the object was an abandoned mutex.
    bool Consume(DISPATCHER_HEADER* object, uint32_t thread);

    Clock& clock_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::set<Mutant*> ownedMutants_;  // guarded by lock_
};

// Non-paged and paged pool, each block charged to the driver that allocated it.
class Pool {
public:
    struct Block {
        size_t size;
        ULONG tag;
        PDRIVER_OBJECT owner;
        POOL_TYPE type;
    };

    void* Allocate(size_t size, ULONG tag, PDRIVER_OBJECT owner, POOL_TYPE type);
    Block Free(void* memory, std::optional<ULONG> tag);
    std::vector<Block> BlocksOf(PDRIVER_OBJECT owner);

private:
    ShortLock lock_;
    std::unordered_map<void*, Block> blocks_;
};

// The object namespace: devices, symbolic links (\??\ names) and drivers.
class ObjectNamespace {
public:
    struct Link {
        std::string name;    // as created, without the \??\ prefix
        std::string target;  // as given
    };

    NTSTATUS InsertDevice(const std::string& name, PDEVICE_OBJECT device);
    void RemoveDevice(const std::string& name);
    NTSTATUS InsertDriver(const std::string& name, PDRIVER_OBJECT driver);
    void RemoveDriver(const std::string& name);
    NTSTATUS InsertLink(const std::string& name, const std::string& target);
    NTSTATUS RemoveLink(const std::string& name);
    // Follows symbolic links to a device.
    PDEVICE_OBJECT ResolveDevice(const std::string& name);
    PDRIVER_OBJECT FindDriver(const std::string& name);
    std::optional<std::string> LinkTarget(const std::string& name);
    std::optional<std::string> DeviceName(PDEVICE_OBJECT device);
    std::vector<Link> DosLinks();

    static std::string Normalize(const std::string& name);

private:
    struct Entry {
        std::string displayName;
        PDEVICE_OBJECT device = nullptr;
        PDRIVER_OBJECT driver = nullptr;
        std::optional<std::string> linkTarget;
    };
    std::mutex lock_;
    std::map<std::string, Entry> entries_;  // by upper-cased normalized name
};

// Timers and DPCs. Manual clock: due work runs on the thread that advances
// the clock. Real time: a timer thread queues DPCs to two worker threads.
class TimerEngine {
public:
    TimerEngine(Clock& clock, Dispatcher& dispatcher);
    ~TimerEngine();
    TimerEngine(const TimerEngine&) = delete;
    TimerEngine& operator=(const TimerEngine&) = delete;

    BOOLEAN SetTimer(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc);
    BOOLEAN CancelTimer(PKTIMER timer);
    BOOLEAN InsertDpc(PKDPC dpc, PVOID argument1, PVOID argument2);
    BOOLEAN RemoveDpc(PKDPC dpc);
    void FlushDpcs();
    void AdvanceTicks(uint32_t ticks);
    void RunDeferredDpcs();
    // Stops with a message when a set timer or queued DPC lies in [memory, memory + size).
    void CheckNothingArmedWithin(const void* memory, size_t size, const char* what);
    // Stops with a message when a set timer or queued DPC runs code of `driver`.
    void CheckNothingArmedFor(PDRIVER_OBJECT driver, const char* service);
    void Stop();

private:
    struct Armed {
        uint64_t due;
        LONG period;  // ms, 0 for one-shot
        PKDPC dpc;
        uint64_t sequence;
    };

    // A dequeued DPC's call, taken while the DPC is still under the lock: the
    // DPC may be queued again (new arguments) while this call runs.
    struct DpcCall {
        PKDEFERRED_ROUTINE routine;
        PVOID context;
        PVOID argument1;
        PVOID argument2;
        PVOID ownerDriver;
    };

    std::optional<std::pair<PKTIMER, PKDPC>> TakeNextDueTimer();  // lock held
    void Fire(const std::pair<PKTIMER, PKDPC>& timer);
    void RunTimerThread();
    void RunDpcWorker();
    static DpcCall CallOf(PKDPC dpc);  // lock held
    static void RunDpc(PKDPC dpc, const DpcCall& call);

    Clock& clock_;
    Dispatcher& dispatcher_;
    std::mutex lock_;
    std::mutex advanceLock_;
    std::condition_variable changed_;
    std::map<PKTIMER, Armed> timers_;
    std::vector<PKDPC> dpcQueue_;  // real time: waiting for a worker
    std::set<PKDPC> queued_;       // every queued DPC, either mode
    size_t runningDpcs_ = 0;
    uint64_t sequence_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// System worker threads: the queued work runs at PASSIVE_LEVEL, in queue
// order on one thread, or on several at once.
class SystemWorkQueue {
public:
    explicit SystemWorkQueue(size_t threads);
    ~SystemWorkQueue();
    SystemWorkQueue(const SystemWorkQueue&) = delete;
    SystemWorkQueue& operator=(const SystemWorkQueue&) = delete;

    void Queue(std::function<void()> work);
    // True when it had nothing queued or running; otherwise waits until so.
    bool WaitUntilIdle();
    void Stop();

private:
    void Run();

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    size_t threadCount_;
    size_t running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;  // guarded by lock_ until Stop
};

// The Plug and Play manager's device interfaces and notification
// registrations (DeviceInterfaces.cpp), and the system worker threads that
// deliver its events and run work items (WorkItems.cpp).
class PlugAndPlayManager {
public:
    struct Registration {
        GUID interfaceClass;
        PDRIVER_OBJECT driver;
        PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback;
        PVOID context;
        bool active = true;
        int running = 0;  // callbacks now running
    };
    struct Interface {
        std::string link;  // as registered
        GUID interfaceClass;
        PDEVICE_OBJECT device;
        std::string deviceName;
        bool enabled = false;
    };

    std::mutex lock;
    std::condition_variable callbackEnded;
    std::map<const void*, std::shared_ptr<Registration>> registrations;  // by notification entry
    std::map<std::string, Interface> interfaces;                         // by upper-cased link name
    std::map<PDEVICE_OBJECT, std::string> instances;                     // device instance paths
    uint32_t instancesMade = 0;
    SystemWorkQueue events{1};   // Plug and Play events, delivered in order
    SystemWorkQueue workers{2};  // IoQueueWorkItem

    // Calls the registration's callback for one interface change, unless it
    // was unregistered before.
    void Notify(const std::shared_ptr<Registration>& registration, const GUID& event, const std::string& link);
    // A device goes: its enabled interfaces are disabled as the PnP manager
    // does after removal.
    void DeviceDeleted(PDEVICE_OBJECT device);
    // Stops with a message when `driver` is still registered for notifications.
    void CheckNoRegistrationsOf(PDRIVER_OBJECT driver, const std::string& service);
    void WaitForSystemWork();
    void Stop();
};

struct FileRecord;
struct UserRequest;

// The I/O manager: drivers, devices, file objects and requests.
class IoManager {
public:
    explicit IoManager(Machine& machine) : machine_(machine) {}

    struct DeviceRecord {
        std::unique_ptr<DEVICE_OBJECT> object;
        std::unique_ptr<uint8_t[]> extension;
        size_t extensionSize = 0;
        std::string name;
        PDEVICE_OBJECT attachedTo = nullptr;
        LONG pointerReferences = 0;
        bool deleted = false;
        bool removing = false;  // the PnP manager began its removal: nothing attaches to its stack any more
        std::optional<std::vector<uint8_t>> dacl;  // ObSetSecurityObjectByPointer; none: default security
    };

    struct DriverRecord {
        std::string service;
        std::unique_ptr<DRIVER_OBJECT> object;
        DRIVER_EXTENSION extension{};
        std::u16string name;
        std::u16string registryPath;
        LONG references = 0;
        DriverImage image;
    };

    std::mutex lock;  // guards the maps and the device stacks (AttachedDevice links)
    std::map<PDEVICE_OBJECT, DeviceRecord> devices;
    std::map<std::string, std::unique_ptr<DriverRecord>> drivers;  // by upper-cased service name
    // Unloaded drivers: their objects stay, as devices and routines still name them.
    std::vector<std::unique_ptr<DriverRecord>> unloadedDrivers;
    std::set<std::string> imagesMappedAfterUnload;  // upper-cased service names of unloaded, not yet gone images
    std::map<PFILE_OBJECT, std::shared_ptr<FileRecord>> files;
    std::map<std::string, PDRIVER_INITIALIZE> images;  // by upper-cased file name
    std::vector<std::function<void()>> fileCloseListeners;
    KSPIN_LOCK cancelLock = 0;
    std::atomic<bool> forcePending{false};  // Machine::ForcePendingRequests
    std::atomic<bool> failMappings{false};  // Machine::FailSystemMappings
    std::atomic<bool> standardUser{false};  // Machine::RunAsStandardUser
    std::atomic<uint64_t> executableMappings{0};
    std::function<void(PDEVICE_OBJECT)> attachHook;  // Machine::OnDeviceAttached; set before drivers load
    std::atomic<bool> failCompletionContexts{false};  // Machine::FailCompletionRoutineContexts
    // Plug and Play: devices surprise-removed whose removal waits for their last file to close.
    std::vector<PDEVICE_OBJECT> removalsPending;

    DeviceRecord* FindDevice(PDEVICE_OBJECT device);    // lock held
    PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device);   // lock held
    void ReleaseDeviceIfUnused(PDEVICE_OBJECT device);  // lock held
    // The driver's image goes when its unload has run and no device of it is
    // left; stops with a message if its code still runs then. Lock held.
    void UnmapImageIfUnused(PDRIVER_OBJECT driver);
    bool HasOpenFileOn(PDEVICE_OBJECT device);  // lock held
    // Whether the bottom of the device's stack is being removed (IoAttachDeviceToDeviceStackSafe
    // fails then on Windows). Lock held.
    bool StackBeingRemoved(PDEVICE_OBJECT device);

    // Opens `device` as a file: the access and exclusive checks and IRP_MJ_CREATE to the top of its stack.
    NTSTATUS OpenFile(PDEVICE_OBJECT device, bool overlapped, bool kernel, std::shared_ptr<FileRecord>* file,
                      ACCESS_MASK desiredAccess = FILE_ALL_ACCESS);
    void CleanupFile(const std::shared_ptr<FileRecord>& file);
    void CloseFile(const std::shared_ptr<FileRecord>& file);
    void CancelFileRequests(const std::shared_ptr<FileRecord>& file);
    bool DriverHasOpenFiles(PDRIVER_OBJECT driver);
    void NotifyFileClosed();
    // Sends the removals that waited for the last file on their device (PlugAndPlay.cpp).
    void SendPendingRemovals();

    Machine& machine() { return machine_; }

private:
    NTSTATUS SendSimpleRequest(const std::shared_ptr<FileRecord>& file, UCHAR major);
    Machine& machine_;
};

// A file object with the I/O manager's bookkeeping.
struct FileRecord {
    FILE_OBJECT object{};
    PDEVICE_OBJECT device = nullptr;  // the device that was opened
    bool overlapped = false;
    bool kernel = false;
    std::mutex lock;
    std::set<PIRP> pending;  // requests sent and not yet finished
    KEVENT idle{};           // signalled when no request is pending
    KEVENT completed{};      // signalled at each completion (overlapped waits without an event)
    LONG references = 1;     // kernel file objects: ObReferenceObject counts
    bool closed = false;
};

// A request sent by the I/O manager for a caller: buffers and result.
struct UserRequest {
    std::shared_ptr<FileRecord> file;
    KEVENT done{};
    std::unique_ptr<uint8_t[]> systemBuffer;
    bool copyBack = false;  // buffered output goes back to `output`
    void* output = nullptr;
    ULONG outputLength = 0;
    NTSTATUS status = STATUS_PENDING;
    ULONG_PTR information = 0;
    void* overlapped = nullptr;  // LPOVERLAPPED of the caller
    DISPATCHER_HEADER* callerEvent = nullptr;
    std::shared_ptr<void> callerEventOwner;  // keeps the caller's event alive
    PKEVENT kernelEvent = nullptr;           // IoBuildDeviceIoControlRequest
    PIO_STATUS_BLOCK kernelStatus = nullptr;
};

// The I/O manager's access check of an open (Security.cpp): `desiredAccess`
// with its generic rights mapped as for files, against the opened device's
// DACL and the calling program's groups. Lock held.
NTSTATUS CheckOpenAccess(const IoManager::DeviceRecord& device, ACCESS_MASK* desiredAccess, bool kernel,
                         bool standardUser);
// Whether the simulated Windows is 8 or later: no-execute pool and mappings exist.
bool SystemHasNoExecuteMemory();
// What a system buffer holds before a driver writes it (Files.cpp, Irp.cpp).
void FillUnwritten(uint8_t* buffer, size_t size);

// Request creation and dispatch shared by the user side and IoGetDeviceObjectPointer.
PIRP AllocateRequest(CCHAR stackSize, std::shared_ptr<UserRequest> request);
PIO_STACK_LOCATION FirstStackLocation(PIRP irp);
// Sends `irp` to the top of `file`'s stack; waits when `wait`; returns the dispatch status.
NTSTATUS SendFileRequest(const std::shared_ptr<FileRecord>& file, PIRP irp, bool wait);
std::shared_ptr<UserRequest> RequestOf(PIRP irp);
// The I/O manager's part of completion: results and buffers back to the caller.
void FinishRequest(PIRP irp, UserRequest& request);
// Direct I/O (Mdl.cpp): the caller's buffer described and locked for a
// request; at completion the request's MDLs are unlocked (unmapped) and freed.
PMDL DescribeCallerBuffer(void* buffer, ULONG length, LOCK_OPERATION operation);
void ReleaseRequestMdls(PIRP irp);
// Holds the request's memory across a call that may complete it.
void HoldIrp(PIRP irp);
void ReleaseIrp(PIRP irp);

}  // namespace sim
