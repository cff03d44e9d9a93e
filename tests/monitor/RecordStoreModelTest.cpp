// The packed store against a plain model: a queue of records, whole lines
// evicted from the top, evicted bytes counted per direction.
#include "RecordStore.h"
#include "StoredRecords.h"
#include "TestRecords.h"
#include "SerialIoctl.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

namespace {

constexpr uint32_t Limit = 1000;

using ModelRecord = RecordCopy;

uint32_t Cells(const ModelRecord& record)
{
    return static_cast<uint32_t>(record.data.size()) + (record.timeCounter >= Limit ? 1 : 0);
}

struct DisplayModel {
    explicit DisplayModel(uint32_t capacityCells) : capacity(capacityCells) {}
    void Add(const ModelRecord& record)
    {
        records.push_back(record);
        total += Cells(record);
        while (total - first > capacity && !records.empty()) {
            for (first += CellsPerLine; !records.empty() && first >= Cells(records.front()); records.pop_front()) {
                first -= Cells(records.front());
                total -= Cells(records.front());
                Count(records.front(), records.front().data.size(), receivedBase, sentBase);
            }
        }
        first = records.empty() ? 0 : first;
    }
    static void Count(const ModelRecord& record, size_t bytes, uint32_t& received, uint32_t& sent)
    {
        (record.kind == RecordKind_Read ? received : sent) +=
            record.kind == RecordKind_DeviceControl ? 0 : static_cast<uint32_t>(bytes);
    }

    uint32_t capacity;
    std::deque<ModelRecord> records;
    uint32_t total = 1;  // the idle cell
    uint32_t first = 0;
    uint32_t receivedBase = 0;
    uint32_t sentBase = 0;
};

ModelRecord RandomRecord(std::mt19937& random)
{
    const uint32_t pick = random() % 20;
    const uint32_t timeCounter = random() % 3 == 0 ? 0 : random() % 2000;
    if (pick < 2)  // lost data, line errors
        return ModelRecord{RecordKind_DeviceControl, pick * timeCounter,
                           pick == 0 ? std::vector<uint8_t>{0} : std::vector<uint8_t>{1, 9, 10}};
    const uint32_t length = pick == 2 ? 17000 + random() % 3000 : pick < 6 ? 200 + random() % 120 : 1 + random() % 8;
    std::vector<uint8_t> data(length);
    for (uint8_t& byte : data)
        byte = static_cast<uint8_t>(random());
    return ModelRecord{pick % 2 ? RecordKind_Read : RecordKind_Write, timeCounter, data};
}

// Every displayed cell, and the byte counters at the start of every line.
void ExpectSameDisplay(const RecordStore& store, const DisplayModel& model)
{
    std::vector<Cell> expected;
    for (const ModelRecord& record : model.records) {
        if (record.timeCounter >= Limit)
            expected.push_back(Cell{CellKind_Time, record.timeCounter});
        for (uint8_t byte : record.data)
            expected.push_back(Cell{record.kind, byte});
    }
    expected.erase(expected.begin(), expected.begin() + model.first);
    ASSERT_EQ(store.DisplayedCells(), expected.size() + 1);
    uint32_t received = model.receivedBase;
    uint32_t sent = model.sentBase;
    if (!model.records.empty()) {  // the hidden bytes of a head record straddling the top line
        const ModelRecord& head = model.records.front();
        DisplayModel::Count(head, model.first - (model.first > 0 && head.timeCounter >= Limit ? 1 : 0), received, sent);
    }
    CellCursor cursor = store.Locate(0).cursor;
    Cell cell{};
    for (uint32_t n = 0; n < expected.size(); ++n) {
        if (n % CellsPerLine == 0) {
            CellPosition line = store.Locate(n);
            ASSERT_EQ(line.receivedCount, received) << "line " << n / CellsPerLine;
            ASSERT_EQ(line.sentCount, sent) << "line " << n / CellsPerLine;
            ASSERT_TRUE(store.NextCell(line.cursor, cell));
            ASSERT_EQ(cell.value, expected[n].value) << "line " << n / CellsPerLine;
        }
        ASSERT_TRUE(store.NextCell(cursor, cell));
        ASSERT_EQ(cell.kind, expected[n].kind) << "cell " << n;
        ASSERT_EQ(cell.value, expected[n].value) << "cell " << n;
        received += cell.kind == RecordKind_Read ? 1 : 0;
        sent += cell.kind == RecordKind_Write ? 1 : 0;
    }
    EXPECT_FALSE(store.NextCell(cursor, cell));
    EXPECT_EQ(store.ReceivedBase(), model.receivedBase);
    EXPECT_EQ(store.SentBase(), model.sentBase);
}

}  // namespace

TEST(RecordStoreModel, AFullStoreShowsWhatTheModelShows)
{
    for (const uint32_t capacity : {5000u, 40000u}) {
        std::mt19937 random(capacity);
        RecordStore store(capacity, Limit);
        store.Grow(1);
        DisplayModel model(capacity);
        for (int i = 0; i < 4000; ++i) {
            const ModelRecord record = RandomRecord(random);
            const auto length = static_cast<uint32_t>(record.data.size());
            TestRecord r =
                record.kind != RecordKind_DeviceControl
                    ? MakeDataRecord(record.kind, record.data, record.timeCounter)
                    : MakeControlRecord(IOCTL_SERIAL_GET_COMMSTATUS, 0, length, record.data, record.timeCounter);
            store.Add(r.record, r.size);
            model.Add(record);
            if (i % 97 == 0 || i == 3999) {
                ASSERT_NO_FATAL_FAILURE(ExpectSameDisplay(store, model)) << "after record " << i;
            }
        }
    }
}
