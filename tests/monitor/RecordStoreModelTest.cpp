// The packed store against a plain model of the display it must give: one
// entry per record, whole lines evicted from the top, the evicted bytes
// counted per direction.
#include "RecordStore.h"
#include "TestRecords.h"

#include "SerialIoctl.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

namespace {

struct ModelRecord {
    uint8_t kind;
    uint32_t timeCounter;
    std::vector<uint8_t> data;
};

class DisplayModel {
public:
    DisplayModel(uint32_t capacity, uint32_t timeLimit) : capacity_(capacity), timeLimit_(timeLimit) {}

    void Add(const ModelRecord& record)
    {
        records_.push_back(record);
        total_ += CellCount(record);
        while (total_ - first_ > capacity_ && !records_.empty()) {
            first_ += CellsPerLine;
            while (!records_.empty() && first_ >= CellCount(records_.front())) {
                first_ -= CellCount(records_.front());
                total_ -= CellCount(records_.front());
                const auto bytes = static_cast<uint32_t>(records_.front().data.size());
                if (records_.front().kind == RecordKind_Read)
                    receivedBase += bytes;
                else if (records_.front().kind == RecordKind_Write)
                    sentBase += bytes;
                records_.pop_front();
            }
        }
        if (records_.empty())
            first_ = 0;
    }

    std::vector<Cell> Displayed() const
    {
        std::vector<Cell> cells;
        for (const ModelRecord& record : records_) {
            for (const Cell& cell : Cells(record))
                cells.push_back(cell);
        }
        cells.erase(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(first_));
        return cells;
    }

    // The byte counters at the first displayed cell: the bases plus the
    // hidden bytes of a head record that straddles the top line.
    void CountersAtTop(uint32_t& received, uint32_t& sent) const
    {
        received = receivedBase;
        sent = sentBase;
        if (records_.empty())
            return;
        const ModelRecord& head = records_.front();
        const auto hidden = static_cast<uint32_t>(first_ - (first_ > 0 && head.timeCounter >= timeLimit_ ? 1 : 0));
        (head.kind == RecordKind_Read ? received : sent) += head.kind == RecordKind_DeviceControl ? 0 : hidden;
    }

    uint32_t receivedBase = 0;
    uint32_t sentBase = 0;

private:
    uint64_t CellCount(const ModelRecord& record) const
    {
        return record.data.size() + (record.timeCounter >= timeLimit_ ? 1 : 0);
    }
    std::vector<Cell> Cells(const ModelRecord& record) const
    {
        std::vector<Cell> cells;
        if (record.timeCounter >= timeLimit_)
            cells.push_back(Cell{CellKind_Time, record.timeCounter});
        for (uint8_t byte : record.data)
            cells.push_back(Cell{record.kind, byte});
        return cells;
    }

    std::deque<ModelRecord> records_;
    uint64_t total_ = 1;  // the idle cell
    uint64_t first_ = 0;
    uint32_t capacity_;
    uint32_t timeLimit_;
};

ModelRecord RandomRecord(std::mt19937& random)
{
    const uint32_t pick = random() % 20;
    const uint32_t timeCounter = random() % 3 == 0 ? 0 : random() % 2000;
    if (pick == 0)
        return ModelRecord{RecordKind_DeviceControl, 0, {0}};  // lost data
    if (pick == 1)
        return ModelRecord{RecordKind_DeviceControl, timeCounter, {1, 9, 10}};
    const uint32_t length = pick == 2 ? 17000 + random() % 3000 : pick < 6 ? 200 + random() % 120 : 1 + random() % 8;
    std::vector<uint8_t> data(length);
    for (uint8_t& byte : data)
        byte = static_cast<uint8_t>(random());
    return ModelRecord{pick % 2 ? RecordKind_Read : RecordKind_Write, timeCounter, data};
}

void ExpectSameDisplay(const RecordStore& store, const DisplayModel& model)
{
    const std::vector<Cell> expected = model.Displayed();
    ASSERT_EQ(store.DisplayedCells(), expected.size() + 1);
    CellCursor cursor = store.Locate(0).cursor;
    uint32_t received = 0;
    uint32_t sent = 0;
    model.CountersAtTop(received, sent);
    for (uint32_t n = 0; n < expected.size(); ++n) {
        if (n % CellsPerLine == 0) {
            CellPosition line = store.Locate(n);
            ASSERT_EQ(line.receivedCount, received) << "line " << n / CellsPerLine;
            ASSERT_EQ(line.sentCount, sent) << "line " << n / CellsPerLine;
            Cell first{};
            ASSERT_TRUE(store.NextCell(line.cursor, first));
            ASSERT_EQ(first.value, expected[n].value) << "line " << n / CellsPerLine;
        }
        Cell cell{};
        ASSERT_TRUE(store.NextCell(cursor, cell));
        ASSERT_EQ(cell.kind, expected[n].kind) << "cell " << n;
        ASSERT_EQ(cell.value, expected[n].value) << "cell " << n;
        received += cell.kind == RecordKind_Read ? 1 : 0;
        sent += cell.kind == RecordKind_Write ? 1 : 0;
    }
    Cell past{};
    EXPECT_FALSE(store.NextCell(cursor, past));
    EXPECT_EQ(store.ReceivedBase(), model.receivedBase);
    EXPECT_EQ(store.SentBase(), model.sentBase);
}

}  // namespace

TEST(RecordStoreModel, AFullStoreShowsWhatTheModelShows)
{
    for (const uint32_t capacity : {5000u, 40000u}) {
        std::mt19937 random(capacity);
        RecordStore store(capacity, 1000);
        store.Grow(1);
        DisplayModel model(capacity, 1000);
        for (int i = 0; i < 4000; ++i) {
            const ModelRecord record = RandomRecord(random);
            TestRecord r = record.kind == RecordKind_DeviceControl
                               ? MakeControlRecord(IOCTL_SERIAL_GET_COMMSTATUS, 0,
                                                   static_cast<uint32_t>(record.data.size()), record.data,
                                                   record.timeCounter)
                               : MakeDataRecord(record.kind, record.data, record.timeCounter);
            store.Add(r.record, r.size);
            model.Add(record);
            if (i % 97 == 0) {
                ASSERT_NO_FATAL_FAILURE(ExpectSameDisplay(store, model)) << "after record " << i;
            }
        }
        ASSERT_NO_FATAL_FAILURE(ExpectSameDisplay(store, model));
    }
}
