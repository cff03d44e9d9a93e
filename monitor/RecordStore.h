// The decoded records of one monitor as display cells: a record takes one
// cell per data byte, plus a leading time cell when its time counter reaches
// the time limit. At most `capacity` cells are displayed; whole lines of 16
// cells leave at the top, and the byte counts of the records that leave are
// kept in receivedBase / sentBase.
#pragma once

#include "CaptureRecord.h"
#include "LockedList.h"

#include <cstdint>
#include <deque>
#include <functional>

constexpr uint8_t CellKind_Time =
    0xFF;  // other cells carry RecordKind_Read / RecordKind_Write / RecordKind_DeviceControl (line error)
constexpr uint32_t CellsPerLine = 16;

struct Cell {
    uint8_t kind;
    uint32_t value;  // time counter in ms, or the byte / error code
};

struct CellCursor {
    const ListNode* node;  // nullptr: end
    uint32_t index;
};

struct CellPosition {
    CellCursor cursor;
    uint32_t receivedCount;
    uint32_t sentCount;
};

class RecordStore {
public:
    RecordStore(uint32_t capacity, uint32_t timeLimit);
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Keeps a copy of a record of size bytes whose timestamp already holds
    // its time counter in ms.
    void AddCopy(const CaptureRecord& record, uint32_t size);
    // The same for a std::malloc'ed record, which it frees.
    void Add(CaptureRecord* record, uint32_t size);
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

    // Position of displayed cell n (0 = cell firstCell of the head record), with
    // the received/sent counts of the data cells before it. The reserved idle
    // cell (and anything past the records) gives the end cursor.
    CellPosition Locate(uint32_t displayedCell) const;
    // Yields the cell at the cursor and advances it; false at the end.
    bool NextCell(CellCursor& cursor, Cell& cell) const;

    // Records must enter and leave only through the store: it indexes them.
    LockedList& List() { return list_; }
    const LockedList& List() const { return list_; }
    // Called on every Grow, so the view can drop its line selection.
    void SetGrowListener(std::function<void()> listener);

private:
    // Cumulative offsets of one stored record, for locating cells without
    // walking the list. Byte counts are shown modulo 2^32, so 32 bits suffice.
    struct IndexEntry {
        ListNode* node;
        uint64_t firstCell;
        uint32_t receivedBefore;
        uint32_t sentBefore;
    };

    const IndexEntry& EntryHolding(uint64_t cell) const;  // cell must be stored
    bool HasTimeCell(const CaptureRecord& record) const;
    uint32_t DataCells(const ListNode* node) const;
    void EvictOverCapacity();
    void EvictHead();

    LockedList list_;
    std::deque<IndexEntry> index_;
    uint64_t cellsAdded_ = 0;
    uint32_t receivedAdded_ = 0;
    uint32_t sentAdded_ = 0;

    uint32_t capacity_;
    uint32_t timeLimit_;
    uint32_t totalCells_ = 0;
    uint32_t firstCell_ = 0;
    uint32_t receivedBase_ = 0;
    uint32_t sentBase_ = 0;
    std::function<void()> growListener_;
};
