#include "RecordStore.h"
#include "StoredRecords.h"
#include "TestRecords.h"

#include "SerialIoctl.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

constexpr uint32_t Timed = 999999;  // a time counter that always earns a time cell
constexpr uint32_t Untimed = 0;     // below the default limit of 1

void AddData(RecordStore& store, uint8_t kind, uint32_t bytes, uint32_t timeCounter, uint8_t first = 0)
{
    std::vector<uint8_t> data(bytes);
    for (uint32_t i = 0; i < bytes; ++i)
        data[i] = static_cast<uint8_t>(first + i);
    TestRecord r = MakeDataRecord(kind, data, timeCounter);
    store.Add(r.record, r.size);
}

void AddLineErrors(RecordStore& store, const std::vector<uint8_t>& codes, uint32_t timeCounter)
{
    TestRecord r =
        MakeControlRecord(IOCTL_SERIAL_GET_COMMSTATUS, 0, static_cast<uint32_t>(codes.size()), codes, timeCounter);
    store.Add(r.record, r.size);
}

// A store as the view sees it: the idle cell reserved.
struct ViewedStore : RecordStore {
    explicit ViewedStore(uint32_t capacity, uint32_t timeLimit = 1) : RecordStore(capacity, timeLimit) { Grow(1); }
};

std::vector<Cell> CellsFrom(const RecordStore& store, CellCursor cursor, size_t most)
{
    std::vector<Cell> cells;
    Cell cell;
    while (cells.size() < most && store.NextCell(cursor, cell))
        cells.push_back(cell);
    return cells;
}

// The plain way to find displayed cell n: walk from the head, summing cell
// counts and the bytes of each direction.
struct WalkedPosition {
    const uint8_t* node;
    uint32_t index;
    uint32_t received;
    uint32_t sent;
};

WalkedPosition WalkTo(const RecordStore& store, uint32_t displayedCell)
{
    uint32_t remaining = store.FirstCell() + displayedCell;
    uint32_t received = store.ReceivedBase();
    uint32_t sent = store.SentBase();
    for (const RecordView& stored : StoredRecords(store)) {
        const uint32_t cells = stored.cells;
        const bool timed = stored.timeCounter >= store.TimeLimit();
        const uint32_t before = remaining < cells ? remaining : cells;
        const uint32_t dataBefore = timed ? (before == 0 ? 0 : before - 1) : before;
        if (stored.kind == RecordKind_Read)
            received += dataBefore;
        if (stored.kind == RecordKind_Write)
            sent += dataBefore;
        if (remaining < cells)
            return WalkedPosition{stored.node, remaining, received, sent};
        remaining -= cells;
    }
    return WalkedPosition{nullptr, 0, received, sent};
}

void ExpectLocateMatchesWalk(const RecordStore& store)
{
    for (uint32_t n = 0; n < store.DisplayedCells(); ++n) {
        const CellPosition located = store.Locate(n);
        const WalkedPosition walked = WalkTo(store, n);
        ASSERT_EQ(located.cursor.node, walked.node) << "cell " << n;
        if (walked.node != nullptr) {
            ASSERT_EQ(located.cursor.index, walked.index) << "cell " << n;
        }
        ASSERT_EQ(located.receivedCount, walked.received) << "cell " << n;
        ASSERT_EQ(located.sentCount, walked.sent) << "cell " << n;
    }
}

}  // namespace

TEST(RecordStoreCells, TimeCellComesFirstOnlyFromTheTimeLimitOn)
{
    ViewedStore store(10000, 1000);
    AddData(store, RecordKind_Read, 2, 1000, 0x41);  // at the limit: time cell
    AddData(store, RecordKind_Write, 1, 999, 0x61);  // below: data only
    AddLineErrors(store, {3, 9}, 1234);

    EXPECT_EQ(store.TotalCells(), 1u + 3 + 1 + 3);
    const std::vector<Cell> cells = CellsFrom(store, store.Locate(0).cursor, 100);
    ASSERT_EQ(cells.size(), 7u);
    const uint8_t kinds[] = {CellKind_Time, RecordKind_Read,          RecordKind_Read,         RecordKind_Write,
                             CellKind_Time, RecordKind_DeviceControl, RecordKind_DeviceControl};
    const uint32_t values[] = {1000, 0x41, 0x42, 0x61, 1234, 3, 9};
    for (size_t i = 0; i < cells.size(); ++i) {
        EXPECT_EQ(cells[i].kind, kinds[i]) << i;
        EXPECT_EQ(cells[i].value, values[i]) << i;
    }
    EXPECT_EQ(store.Locate(7).cursor.node, nullptr);  // the idle cell
    EXPECT_EQ(store.LineCount(), 1u);
}

TEST(RecordStoreCells, EmptyStoreIsOneLineWithTheIdleCell)
{
    RecordStore store(10000, 1);
    EXPECT_EQ(store.TotalCells(), 0u);
    store.Grow(1);
    EXPECT_EQ(store.TotalCells(), 1u);
    EXPECT_EQ(store.DisplayedCells(), 1u);
    EXPECT_EQ(store.LineCount(), 1u);
    const CellPosition idle = store.Locate(0);
    EXPECT_EQ(idle.cursor.node, nullptr);
    EXPECT_EQ(idle.receivedCount, 0u);
    EXPECT_EQ(idle.sentCount, 0u);
}

TEST(RecordStoreCells, RecordsWithoutCellsOrWithShortBlocksStayInBounds)
{
    ViewedStore store(10000);
    AddData(store, RecordKind_Read, 0, Untimed);  // nothing to show
    EXPECT_EQ(store.RecordCount(), 0u);

    TestRecord overstated = MakeDataRecord(RecordKind_Write, {1, 2}, Untimed);
    overstated.record->dataLength = 500;  // claims more than the block holds
    store.Add(overstated.record, overstated.size);
    EXPECT_EQ(store.TotalCells(), 3u);
    EXPECT_EQ(CellsFrom(store, store.Locate(0).cursor, 100).size(), 2u);
    EXPECT_EQ(store.Locate(2).sentCount, 2u);
}

TEST(RecordStoreEviction, OversizedRecordHidesOneLineInsideIt)
{
    ViewedStore store(10000);
    AddData(store, RecordKind_Read, 9999, Timed);
    EXPECT_EQ(store.TotalCells(), 10001u);
    EXPECT_EQ(store.FirstCell(), 16u);
    EXPECT_EQ(store.DisplayedCells(), 9985u);
    EXPECT_EQ(store.RecordCount(), 1u);

    // Displayed cell 0 is cell 16 of the record: data byte 15, after 15 bytes.
    const CellPosition first = store.Locate(0);
    EXPECT_EQ(first.cursor.index, 16u);
    EXPECT_EQ(first.receivedCount, 15u);
    Cell cell;
    CellCursor cursor = first.cursor;
    ASSERT_TRUE(store.NextCell(cursor, cell));
    EXPECT_EQ(cell.value, 15u);
}

TEST(RecordStoreEviction, DroppingALineCanRemoveTheHeadAndLandInsideTheNext)
{
    ViewedStore store(20);
    AddData(store, RecordKind_Read, 9, Timed);   // 10 cells
    AddData(store, RecordKind_Write, 9, Timed);  // 10 cells: 21 in all
    EXPECT_EQ(store.RecordCount(), 1u);
    EXPECT_EQ(store.FirstCell(), 6u);
    EXPECT_EQ(store.TotalCells(), 11u);
    EXPECT_EQ(store.ReceivedBase(), 9u);
    EXPECT_EQ(store.SentBase(), 0u);
    // Cell 6 of the write record: its 6th data byte, 5 sent before it.
    const CellPosition first = store.Locate(0);
    EXPECT_EQ(first.cursor.index, 6u);
    EXPECT_EQ(first.sentCount, 5u);
    EXPECT_EQ(first.receivedCount, 9u);
}

TEST(RecordStoreEviction, LineErrorRecordsAddToNeitherBase)
{
    ViewedStore store(16);
    AddLineErrors(store, {1, 3, 7, 9, 10}, Timed);  // 6 cells
    AddData(store, RecordKind_Read, 15, Untimed);   // 15 cells: 22 in all
    EXPECT_EQ(store.ReceivedBase(), 0u);
    EXPECT_EQ(store.SentBase(), 0u);
    EXPECT_EQ(store.FirstCell(), 10u);
    EXPECT_EQ(store.RecordCount(), 1u);
}

TEST(RecordStoreEviction, WholeRecordsBehindTheNewTopLineAreFreed)
{
    ViewedStore store(16);
    for (int i = 0; i < 5; ++i)
        AddData(store, RecordKind_Write, 3, Untimed);  // 15 cells + idle: full
    EXPECT_EQ(store.RecordCount(), 5u);
    AddData(store, RecordKind_Read, 2, Untimed);  // its first byte ends the top line
    EXPECT_EQ(store.RecordCount(), 1u);
    EXPECT_EQ(store.SentBase(), 15u);
    EXPECT_EQ(store.ReceivedBase(), 0u);
    EXPECT_EQ(store.FirstCell(), 1u);
    EXPECT_EQ(store.DisplayedCells(), 2u);
    const CellPosition first = store.Locate(0);
    EXPECT_EQ(first.cursor.index, 1u);
    EXPECT_EQ(first.receivedCount, 1u);
    EXPECT_EQ(first.sentCount, 15u);
}

TEST(RecordStoreEviction, RecordOfExactlyTheTopLineLeavesWhole)
{
    ViewedStore store(16);
    AddData(store, RecordKind_Read, 16, Untimed);
    EXPECT_EQ(store.RecordCount(), 0u);
    EXPECT_EQ(store.FirstCell(), 0u);
    EXPECT_EQ(store.TotalCells(), 1u);
    EXPECT_EQ(store.ReceivedBase(), 16u);
}

TEST(RecordStoreEviction, CapacityBelowOneLineNeverRunsDry)
{
    for (uint32_t capacity : {0u, 1u, 5u}) {
        ViewedStore store(capacity);
        for (int i = 0; i < 10; ++i)
            AddData(store, RecordKind_Read, 3, Timed);
        EXPECT_EQ(store.ReceivedBase(), 30u) << capacity;
        EXPECT_EQ(store.RecordCount(), 0u) << capacity;
        EXPECT_EQ(store.TotalCells(), 1u) << capacity;
        EXPECT_EQ(store.FirstCell(), 0u) << capacity;
        EXPECT_EQ(store.Locate(0).receivedCount, 30u) << capacity;
    }
}

TEST(RecordStoreEviction, ResetLeavesOneEmptyLineAndKeepsTheBases)
{
    ViewedStore store(32);
    for (int i = 0; i < 6; ++i) {
        AddData(store, RecordKind_Read, 7, Timed);
        AddData(store, RecordKind_Write, 4, Untimed);
    }
    ASSERT_GT(store.ReceivedBase(), 0u);
    ASSERT_GT(store.SentBase(), 0u);
    const uint32_t received = store.ReceivedBase();
    const uint32_t sent = store.SentBase();

    store.Reset();
    EXPECT_EQ(store.TotalCells(), 1u);
    EXPECT_EQ(store.FirstCell(), 0u);
    EXPECT_EQ(store.LineCount(), 1u);
    EXPECT_EQ(store.RecordCount(), 0u);
    EXPECT_EQ(store.ReceivedBase(), received);
    EXPECT_EQ(store.SentBase(), sent);
    EXPECT_EQ(store.Locate(0).receivedCount, received);

    AddData(store, RecordKind_Read, 2, Untimed);
    EXPECT_EQ(store.Locate(2).receivedCount, received + 2);
}

TEST(RecordStoreEviction, GrowNotifiesTheListenerEveryTime)
{
    RecordStore store(10000, 1);
    int calls = 0;
    store.SetGrowListener([&calls] { ++calls; });
    store.Grow(1);
    AddData(store, RecordKind_Read, 1, Untimed);
    store.Reset();
    EXPECT_EQ(calls, 3);
}

// Many records of every kind and size, with eviction going on: locating any
// displayed cell agrees with walking the list from the head.
TEST(RecordStoreLocate, AgreesWithAWalkFromTheHead)
{
    std::mt19937 random(12345);
    for (uint32_t capacity : {40u, 100u, 1000u}) {
        ViewedStore store(capacity, 50);
        for (int i = 0; i < 300; ++i) {
            const uint32_t pick = random() % 10;
            const uint32_t counter = random() % 100;
            if (pick == 0)
                AddLineErrors(store, {static_cast<uint8_t>(random() % 11)}, counter);
            else
                AddData(store, pick % 2 ? RecordKind_Read : RecordKind_Write, 1 + random() % (pick == 9 ? 70 : 8),
                        counter);
            if (i % 37 == 0)
                ExpectLocateMatchesWalk(store);
        }
        ExpectLocateMatchesWalk(store);
    }
}

TEST(RecordStoreLocate, IteratesAcrossRecordsFromAnyCell)
{
    ViewedStore store(10000);
    AddData(store, RecordKind_Read, 3, Timed, 0x10);     // T 10 11 12
    AddData(store, RecordKind_Write, 2, Untimed, 0x20);  // 20 21
    const std::vector<Cell> cells = CellsFrom(store, store.Locate(2).cursor, 100);
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].value, 0x11u);
    EXPECT_EQ(cells[2].kind, RecordKind_Write);
    EXPECT_EQ(cells[3].value, 0x21u);
    const CellPosition atWrite = store.Locate(5);
    EXPECT_EQ(atWrite.receivedCount, 3u);
    EXPECT_EQ(atWrite.sentCount, 1u);
}
