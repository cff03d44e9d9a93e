// The monitor's reading side: drains the records queued on its capture device
// once per refresh tick and hands them to the decoder, which fills the store.
#pragma once

#include "CaptureIoctl.h"
#include "RecordDecoder.h"
#include "RecordStore.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A fetch that fails (or cannot get its buffer) leaves the record queued in
// the device; after this many in one tick the rest waits for the next tick.
constexpr uint32_t MaxFailedFetchesPerTick = 4;
// The batch buffer: thousands of small records per request.
constexpr uint32_t BatchBufferSize = 64 * 1024;
// Bounds one tick's drain, far above what any serial link delivers in a tick.
constexpr uint32_t MaxBatchesPerTick = 1024;

class RecordStream {
public:
    using IdleReport = std::function<void(uint32_t idleMs)>;

    // createdTick: tick count when the monitor window was created.
    RecordStream(RecordStore& store, uint32_t createdTick, IdleReport idleReport);
    ~RecordStream();
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // Opens the capture device exclusively; on failure the stream stays closed.
    bool Open(const char* path);
    void Close();
    bool IsOpen() const { return device_ != INVALID_HANDLE_VALUE; }

    // One refresh tick; now = GetTickCount at its start. Returns whether at
    // least one record was announced.
    bool PollDevice(uint32_t now);

    bool Running() const { return running_; }
    // The pause command: toggles with a device open; without one it can only pause.
    void TogglePause();
    // The stop notification: the device closes and reading never resumes.
    void Stop();
    void RestartIdle(uint32_t now) { decoder_.RestartIdle(now); }

    uint32_t SentTotal() const { return decoder_.SentTotal(); }
    uint32_t ReceivedTotal() const { return decoder_.ReceivedTotal(); }
    uint32_t LostCount() const { return decoder_.LostCount(); }
    uint32_t RemovalCount() const { return decoder_.RemovalCount(); }
    uint32_t ReturnCount() const { return decoder_.ReturnCount(); }
    // Device requests made so far: the cost of draining.
    uint64_t Requests() const { return requests_; }
    // What the device dropped for lack of room, as batched fetches reported it.
    uint64_t DroppedRecords() const { return droppedRecords_; }
    uint64_t DroppedBytes() const { return droppedBytes_; }
    int32_t BaudRate() const { return decoder_.BaudRate(); }
    int32_t LineControl() const { return decoder_.LineControl(); }
    std::string LineSettings() const { return decoder_.LineSettings(); }

private:
    enum class Batch { Drained, More, Unsupported };
    bool DrainInBatches(uint32_t now);
    Batch FetchAndProcessBatch(uint32_t now, bool& announced);
    void ProcessBatch(const CaptureBatchHeader& header, uint32_t returned, uint32_t now);
    bool DrainOneByOne(uint32_t now);
    bool QueryNextSize(uint32_t& size);
    bool FetchAndProcess(uint32_t size, uint32_t now);
    void ReportIdle(uint32_t now);

    RecordDecoder decoder_;
    IdleReport idleReport_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    bool running_ = true;
    // Cleared for good when the driver does not know the batched fetch.
    bool batched_ = true;
    std::vector<uint8_t> batch_;
    uint64_t requests_ = 0;
    uint64_t droppedRecords_ = 0;
    uint64_t droppedBytes_ = 0;
};
