// Decodes fetched capture records: keeps the byte totals and line settings,
// turns status replies into line error codes and driver time stamps into
// millisecond time counters, marks lost data, and hands every record worth
// showing to the record store. No device I/O here.
#pragma once

#include "CaptureRecord.h"
#include "RecordStore.h"

#include <cstdint>
#include <string>

constexpr uint32_t TimeCounterMax = 999999;
// Idle time reported once the idle period passed TimeCounterMax.
constexpr uint32_t IdleSaturatedReport = 1000000;
constexpr uint32_t LostDataMarkerSize = CAPTURE_RECORD_HEADER_SIZE + 1;
// The marker of a captured port that went away (its adapter was unplugged).
constexpr uint8_t LineErrorCode_PortRemoved = 0xFF;
// The marker of a captured port that came back (plugged in again).
constexpr uint8_t LineErrorCode_PortReturned = 0xFE;

// "9600bps 8bit Parity:N Stop:1bit"; a part whose value is -1 is left out.
std::string LineSettingsText(int32_t baudRate, int32_t lineControl);

class RecordDecoder {
public:
    RecordDecoder(RecordStore& store, uint32_t createdTick);

    // Takes ownership of a std::malloc'ed buffer holding size bytes as fetched.
    // Records that do not fit in size bytes are dropped unread.
    void Process(CaptureRecord* record, uint32_t size, uint32_t now);
    // The same for a record inside a buffer the caller keeps and reuses; the
    // store keeps its own copy of what it shows.
    void ProcessInPlace(CaptureRecord* record, uint32_t size, uint32_t now);
    // Nothing pending: returns the idle time to show (IdleSaturatedReport once
    // saturated).
    uint32_t IdleStep(uint32_t now);
    // Counts idle time from now on, as when the monitor window appears.
    void RestartIdle(uint32_t now);

    uint32_t SentTotal() const { return sentTotal_; }
    uint32_t ReceivedTotal() const { return receivedTotal_; }
    uint32_t LostCount() const { return lostCount_; }
    uint32_t RemovalCount() const { return removalCount_; }
    uint32_t ReturnCount() const { return returnCount_; }
    int32_t BaudRate() const { return baudRate_; }
    int32_t LineControl() const { return lineControl_; }
    std::string LineSettings() const { return LineSettingsText(baudRate_, lineControl_); }

private:
    // Marks a loss before it, decodes it; true when the store is to keep it.
    bool Admit(CaptureRecord* record, uint32_t size, uint32_t now);
    void AddMarker(uint32_t now, uint8_t lineErrorCode);
    bool Decode(CaptureRecord& record);
    bool DecodeDeviceControl(CaptureRecord& record);
    void Keep(CaptureRecord& record, uint32_t size, uint32_t now);
    uint32_t TimeCounterFor(uint64_t timestamp) const;

    RecordStore& store_;
    uint32_t sentTotal_ = 0;
    uint32_t receivedTotal_ = 0;
    uint32_t lostCount_ = 0;
    uint32_t removalCount_ = 0;
    uint32_t returnCount_ = 0;
    int32_t baudRate_ = -1;
    int32_t lineControl_ = -1;
    bool havePreviousTimestamp_ = false;
    uint64_t previousTimestamp_ = 0;
    uint32_t lastRecordTick_;
    bool idleSaturated_ = false;
};
