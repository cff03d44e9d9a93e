// The records a monitor's store keeps, oldest first.
#pragma once

#include "RecordStore.h"

#include <cstdint>
#include <vector>

inline std::vector<RecordView> StoredRecords(const RecordStore& store)
{
    std::vector<RecordView> records;
    RecordWalk walk = store.FirstRecord();
    RecordView record;
    while (store.NextRecord(walk, record))
        records.push_back(record);
    return records;
}

// A record copied out of the store, so it outlives the store's chunks.
struct RecordCopy {
    uint8_t kind;
    uint32_t timeCounter;
    std::vector<uint8_t> data;
};

inline std::vector<RecordCopy> StoredRecordCopies(const RecordStore& store)
{
    std::vector<RecordCopy> copies;
    for (const RecordView& record : StoredRecords(store))
        copies.push_back(RecordCopy{record.kind, record.timeCounter,
                                    std::vector<uint8_t>(record.data, record.data + record.length)});
    return copies;
}
