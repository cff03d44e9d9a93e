#include "RecordStream.h"

#include "CaptureIoctl.h"

#include <cstdlib>
#include <utility>

RecordStream::RecordStream(RecordStore& store, uint32_t createdTick, IdleReport idleReport)
    : decoder_(store, createdTick), idleReport_(std::move(idleReport))
{}

RecordStream::~RecordStream()
{
    Close();
}

bool RecordStream::Open(const char* path)
{
    Close();
    device_ = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return IsOpen();
}

void RecordStream::Close()
{
    if (!IsOpen())
        return;
    CloseHandle(device_);
    device_ = INVALID_HANDLE_VALUE;
}

void RecordStream::TogglePause()
{
    running_ = IsOpen() ? !running_ : false;
}

void RecordStream::Stop()
{
    Close();
    running_ = false;
}

bool RecordStream::PollDevice(uint32_t now)
{
    if (!running_ || !IsOpen())
        return false;
    bool announced = false;
    uint32_t failedFetches = 0;
    uint32_t size = 0;
    while (QueryNextSize(size)) {
        if (size == 0) {
            const uint32_t idleMs = decoder_.IdleStep(now);
            if (idleReport_)
                idleReport_(idleMs);
            break;
        }
        announced = true;
        if (!FetchAndProcess(size, now) && ++failedFetches >= MaxFailedFetchesPerTick)
            break;
    }
    return announced;
}

bool RecordStream::QueryNextSize(uint32_t& size) const
{
    CaptureQueryReply reply{};
    DWORD returned = 0;
    if (!DeviceIoControl(device_, IOCTL_CAPTURE_QUERY, nullptr, 0, &reply, sizeof reply, &returned, nullptr))
        return false;
    // The size is the second word: a shorter reply carries none.
    if (returned < 2 * sizeof(uint32_t))
        return false;
    size = reply.nextRecordSize;
    return true;
}

// Returns false when no usable record came back.
bool RecordStream::FetchAndProcess(uint32_t size, uint32_t now)
{
    auto* record = static_cast<CaptureRecord*>(std::malloc(size));
    if (record == nullptr)
        return false;
    DWORD returned = 0;
    if (!DeviceIoControl(device_, IOCTL_CAPTURE_FETCH, nullptr, 0, record, size, &returned, nullptr)) {
        std::free(record);
        return false;
    }
    const uint32_t received = returned < size ? returned : size;
    decoder_.Process(record, received, now);
    return received >= CAPTURE_RECORD_HEADER_SIZE;
}
