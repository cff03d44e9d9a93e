#include "RecordStream.h"

#include "CaptureIoctl.h"

#include <cstdlib>
#include <cstring>
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
    return batched_ ? DrainInBatches(now) : DrainOneByOne(now);
}

bool RecordStream::DrainInBatches(uint32_t now)
{
    bool announced = false;
    for (uint32_t batches = 0; batches < MaxBatchesPerTick; ++batches) {
        switch (FetchAndProcessBatch(now, announced)) {
        case Batch::Drained: return announced;
        case Batch::More: break;
        case Batch::Unsupported: batched_ = false; return DrainOneByOne(now) || announced;
        }
    }
    return announced;
}

RecordStream::Batch RecordStream::FetchAndProcessBatch(uint32_t now, bool& announced)
{
    if (batch_.size() < BatchBufferSize)
        batch_.resize(BatchBufferSize);
    DWORD returned = 0;
    ++requests_;
    if (!DeviceIoControl(device_, IOCTL_CAPTURE_FETCH_BATCH, nullptr, 0, batch_.data(),
                         static_cast<DWORD>(batch_.size()), &returned, nullptr))
        return GetLastError() == ERROR_INVALID_FUNCTION ? Batch::Unsupported : Batch::Drained;
    // A driver without the code refuses it, or completes it with nothing.
    if (returned < sizeof(CaptureBatchHeader))
        return Batch::Unsupported;
    CaptureBatchHeader header;
    std::memcpy(&header, batch_.data(), sizeof header);
    droppedRecords_ += header.droppedRecords;
    droppedBytes_ += header.droppedBytes;
    if (header.recordCount == 0 && header.nextRecordSize == 0) {
        ReportIdle(now);
        return Batch::Drained;
    }
    announced = true;
    ProcessBatch(header, returned, now);
    if (header.nextRecordSize == 0) {
        ReportIdle(now);
        return Batch::Drained;
    }
    // A record larger than the buffer: room for it in the next request.
    if (header.recordCount == 0)
        batch_.resize(sizeof(CaptureBatchHeader) + static_cast<size_t>(header.nextRecordSize));
    return Batch::More;
}

// The records lie one after the other; each one's size follows from its header.
void RecordStream::ProcessBatch(const CaptureBatchHeader& header, uint32_t returned, uint32_t now)
{
    uint32_t offset = sizeof(CaptureBatchHeader);
    for (uint32_t i = 0; i < header.recordCount && returned - offset >= CAPTURE_RECORD_HEADER_SIZE; ++i) {
        auto* record = reinterpret_cast<CaptureRecord*>(batch_.data() + offset);
        const uint32_t size = CAPTURE_RECORD_HEADER_SIZE + CaptureRecordPayloadLength(*record);
        if (size < CAPTURE_RECORD_HEADER_SIZE || size > returned - offset)
            return;
        decoder_.ProcessInPlace(record, size, now);
        offset += size;
    }
}

bool RecordStream::DrainOneByOne(uint32_t now)
{
    bool announced = false;
    uint32_t failedFetches = 0;
    uint32_t size = 0;
    while (QueryNextSize(size)) {
        if (size == 0) {
            ReportIdle(now);
            break;
        }
        announced = true;
        if (!FetchAndProcess(size, now) && ++failedFetches >= MaxFailedFetchesPerTick)
            break;
    }
    return announced;
}

void RecordStream::ReportIdle(uint32_t now)
{
    const uint32_t idleMs = decoder_.IdleStep(now);
    if (idleReport_)
        idleReport_(idleMs);
}

bool RecordStream::QueryNextSize(uint32_t& size)
{
    CaptureQueryReply reply{};
    DWORD returned = 0;
    ++requests_;
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
    ++requests_;
    if (!DeviceIoControl(device_, IOCTL_CAPTURE_FETCH, nullptr, 0, record, size, &returned, nullptr)) {
        std::free(record);
        return false;
    }
    const uint32_t received = returned < size ? returned : size;
    decoder_.Process(record, received, now);
    return received >= CAPTURE_RECORD_HEADER_SIZE;
}
