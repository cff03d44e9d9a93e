// The decoded records of one monitor as display cells: a record takes one
// cell per data byte, plus a leading time cell when its time counter reaches
// the time limit. At most `capacity` cells are displayed; whole lines of 16
// cells leave at the top, and the byte counts of the records that leave are
// kept in receivedBase / sentBase.
//
// Records lie packed, oldest first, in chunks of ChunkBytes, each one only
// what the display, printing, highlighting and eviction need:
//   kind (1 byte: the record's kind, or a marker's), time counter in ms
//   (3 bytes), data length (1 byte, or 255 and 4 more), the driver's time
//   stamp (8 bytes), the data.
// A chunk goes as soon as the head of the display has passed all of it; a
// directory of the chunks, with the cell and byte sums each starts at, finds
// any cell by bisection and a walk of one chunk.
// When no chunk can be had the store refuses records, tells its listener
// once, and puts a lost-data marker before the first record it takes again.
#pragma once

#include "CaptureRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

constexpr uint8_t CellKind_Time =
    0xFF;  // other cells carry RecordKind_Read / RecordKind_Write / RecordKind_DeviceControl (line error)
constexpr uint32_t CellsPerLine = 16;
constexpr uint8_t LineErrorCode_LostData = 0;

struct Cell {
    uint8_t kind;
    uint32_t value;  // time counter in ms, or the byte / error code
};

struct RecordChunk;

struct CellCursor {
    const uint8_t* node;  // the record in its chunk; nullptr: end
    uint32_t index;
    const RecordChunk* chunk;
};

struct CellPosition {
    CellCursor cursor;
    uint32_t receivedCount;
    uint32_t sentCount;
};

// One stored record as the store gives it back.
struct RecordView {
    const uint8_t* node;  // identifies the record, as CellCursor::node does
    uint8_t kind;
    uint32_t timeCounter;  // ms
    uint64_t timestamp;    // system time (100 ns) as the driver stamped it; 0 for markers
    uint32_t length;
    const uint8_t* data;
    uint32_t cells;
};

// Walks the stored records, oldest first.
struct RecordWalk {
    const RecordChunk* chunk;
    const uint8_t* node;
};

// Where the store's chunks come from; tests make it fail.
class ChunkAllocator {
public:
    virtual ~ChunkAllocator() = default;
    virtual void* Allocate(size_t bytes);
    virtual void Free(void* block);
    static ChunkAllocator& Heap();
};

class RecordStore {
public:
    RecordStore(uint32_t capacity, uint32_t timeLimit, ChunkAllocator& allocator = ChunkAllocator::Heap());
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Keeps a record of size bytes whose timestamp already holds its time
    // counter in ms (markers, records built by hand).
    void AddCopy(const CaptureRecord& record, uint32_t size);
    // The same for a std::malloc'ed record, which it frees.
    void Add(CaptureRecord* record, uint32_t size);
    // Keeps a record as fetched, its timestamp the driver's system time.
    void AddStamped(const CaptureRecord& record, uint32_t size, uint32_t timeCounter);
    void Grow(uint32_t cells);
    // Empties the display down to the idle cell; the byte bases stay.
    void Reset();

    uint32_t TotalCells() const { return totalCells_; }
    uint32_t FirstCell() const { return firstCell_; }
    uint32_t ReceivedBase() const { return receivedBase_; }
    uint32_t SentBase() const { return sentBase_; }
    uint32_t Capacity() const { return capacity_; }
    uint32_t TimeLimit() const { return timeLimit_; }
    uint32_t DisplayedCells() const { return totalCells_ - firstCell_; }
    uint32_t LineCount() const;
    uint32_t RecordCount() const { return recordCount_; }

    // Position of displayed cell n (0 = cell firstCell of the head record), with
    // the received/sent counts of the data cells before it. The reserved idle
    // cell (and anything past the records) gives the end cursor.
    CellPosition Locate(uint32_t displayedCell) const;
    // Yields the cell at the cursor and advances it; false at the end.
    bool NextCell(CellCursor& cursor, Cell& cell) const;

    RecordWalk FirstRecord() const;
    // Yields the record at the walk and advances it; false after the newest.
    bool NextRecord(RecordWalk& walk, RecordView& record) const;

    // Called on every Grow, so the view can drop its line selection.
    void SetGrowListener(std::function<void()> listener);
    // Called when the store starts refusing records for want of memory.
    void SetMemoryShortListener(std::function<void()> listener);

    // Two pages less the heap's own header, so chunks pack the heap's pages.
    static constexpr uint32_t ChunkBytes = 8192 - 16;

private:
    void AddRecord(const CaptureRecord& record, uint32_t size, uint32_t timeCounter, uint64_t timestamp);
    uint32_t CellsOf(uint32_t length, uint32_t timeCounter) const;
    bool Append(uint8_t kind, uint32_t timeCounter, uint64_t timestamp, const uint8_t* data, uint32_t length);
    uint8_t* Reserve(uint32_t bytes);
    RecordChunk* NewChunk(uint32_t bytes);
    void ReleaseChunk(RecordChunk* chunk);
    void FreeChunks();
    RecordView Decode(const uint8_t* node) const;
    void StepPast(const RecordView& record, RecordWalk& walk) const;
    const RecordChunk* ChunkHolding(uint64_t cell) const;
    void EvictOverCapacity();
    void EvictHead();

    // A record's start with the sums of the cells and bytes before it.
    struct RecordPlace {
        const RecordChunk* chunk;
        uint64_t chunkFirstCell;  // tells a reused chunk from the one it was
        const uint8_t* node;
        uint64_t cell;
        uint32_t received;
        uint32_t sent;
    };

    ChunkAllocator& allocator_;
    mutable std::mutex mutex_;  // the print thread reads while the monitor is paused
    bool HasChunks() const { return endChunk_ != firstChunk_; }
    RecordChunk* Head() const { return directory_[firstChunk_]; }
    RecordChunk* Tail() const { return directory_[endChunk_ - 1]; }
    bool RoomInDirectory();

    RecordChunk** directory_ = nullptr;  // the chunks in order, from firstChunk_ to endChunk_
    size_t directorySlots_ = 0;
    size_t firstChunk_ = 0;
    size_t endChunk_ = 0;
    RecordChunk* spare_ = nullptr;  // the last chunk freed, kept for the next
    uint32_t headOffset_ = 0;       // of the head record in the head chunk
    uint32_t recordCount_ = 0;
    bool memoryShort_ = false;
    // Screen and print passes move forward through the store: the next
    // search in the same chunk goes on from the record found last.
    mutable RecordPlace lastLocated_{};

    // Cells and data bytes of every record added, and those before the head
    // record: chunks carry the same sums, so cells are found without a walk
    // of the whole store. Byte counts are shown modulo 2^32.
    uint64_t cellsAdded_ = 0;
    uint32_t receivedAdded_ = 0;
    uint32_t sentAdded_ = 0;
    uint64_t headCell_ = 0;
    uint32_t headReceived_ = 0;
    uint32_t headSent_ = 0;

    uint32_t capacity_;
    uint32_t timeLimit_;
    uint32_t totalCells_ = 0;
    uint32_t firstCell_ = 0;
    uint32_t receivedBase_ = 0;
    uint32_t sentBase_ = 0;
    std::function<void()> growListener_;
    std::function<void()> memoryShortListener_;
};
