// System worker threads and work items. IoQueueWorkItem keeps the device
// object referenced until the routine has returned, so that the driver's
// image stays while the routine runs; the routine runs at PASSIVE_LEVEL as
// code of the device's driver.
#include "Kernel.h"

#include "../Machine.h"

#include <new>

struct _IO_WORKITEM {
    PDEVICE_OBJECT device;
    std::atomic<bool> queued{false};
};

namespace sim {

SystemWorkQueue::SystemWorkQueue(size_t threads) : threadCount_(threads) {}

SystemWorkQueue::~SystemWorkQueue()
{
    Stop();
}

void SystemWorkQueue::Queue(std::function<void()> work)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_)
        Fail("work queued to a system worker thread after the machine began to shut down");
    // Started on first use: a machine that never queues work stays one
    // thread (death tests fork it).
    while (threads_.size() < threadCount_)
        threads_.emplace_back([this] { Run(); });
    queue_.push_back(std::move(work));
    changed_.notify_all();
}

bool SystemWorkQueue::WaitUntilIdle()
{
    std::unique_lock<std::mutex> guard(lock_);
    bool wasIdle = queue_.empty() && running_ == 0;
    changed_.wait(guard, [this] { return queue_.empty() && running_ == 0; });
    return wasIdle;
}

void SystemWorkQueue::Stop()
{
    {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return queue_.empty() && running_ == 0; });
        stopping_ = true;
        changed_.notify_all();
    }
    for (std::thread& thread : threads_)
        thread.join();
    threads_.clear();
}

void SystemWorkQueue::Run()
{
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        std::function<void()> work = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        guard.unlock();
        work();
        if (CurrentThread().irql != PASSIVE_LEVEL)
            Fail("a system worker thread's work returned at IRQL %d (must be PASSIVE_LEVEL)", CurrentThread().irql);
        guard.lock();
        --running_;
        changed_.notify_all();
    }
}

void PlugAndPlayManager::WaitForSystemWork()
{
    // Events queue work items and work items may raise events: until both rest.
    for (;;) {
        bool eventsRested = events.WaitUntilIdle();
        if (workers.WaitUntilIdle() && eventsRested)
            return;
    }
}

void PlugAndPlayManager::Stop()
{
    WaitForSystemWork();
    events.Stop();
    workers.Stop();
}

}  // namespace sim

void sim::Machine::WaitForSystemWork()
{
    pnp_->WaitForSystemWork();
}

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT DeviceObject)
{
    if (DeviceObject == nullptr)
        sim::Fail("IoAllocateWorkItem without a device object");
    // From the pool, as the caller's: one never freed shows at its unload.
    void* memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(_IO_WORKITEM), 0x6B576F49);  // "IoWk"
    if (memory == nullptr)
        return nullptr;
    auto* item = new (memory) _IO_WORKITEM;
    item->device = DeviceObject;
    return item;
}

void IoQueueWorkItem(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE WorkerRoutine, WORK_QUEUE_TYPE, PVOID Context)
{
    if (sim::CurrentThread().irql > DISPATCH_LEVEL)
        sim::Fail("IoQueueWorkItem above DISPATCH_LEVEL");
    if (IoWorkItem->queued.exchange(true))
        sim::Fail("IoQueueWorkItem of a work item that is already queued");
    PDEVICE_OBJECT device = IoWorkItem->device;
    ObReferenceObject(device);
    sim::Machine::Current().pnp().workers.Queue([IoWorkItem, WorkerRoutine, Context, device] {
        {
            sim::DriverScope scope(device->DriverObject, "a work item routine");
            IoWorkItem->queued = false;
            WorkerRoutine(device, Context);
        }
        ObDereferenceObject(device);
    });
}

void IoFreeWorkItem(PIO_WORKITEM IoWorkItem)
{
    if (IoWorkItem->queued.load())
        sim::Fail("IoFreeWorkItem of a work item that is still queued");
    IoWorkItem->~_IO_WORKITEM();
    ExFreePoolWithTag(IoWorkItem, 0x6B576F49);
}
