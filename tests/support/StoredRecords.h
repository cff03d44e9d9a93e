// The records a monitor's store keeps, oldest first.
#pragma once

#include "RecordStore.h"

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
