// Resident memory of a full record store: how much the process grows while a
// store of 10,000,000 cells fills with Read records of one size (time
// counters 0, so no time cells). Run once per record size, in a fresh process:
//   store_memory_benchmark 1
//   store_memory_benchmark 64
#include "RecordStore.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t StoreCells = 10000000;

long ResidentKilobytes()
{
    long pages = 0;
    long resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(statm);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

int main(int argc, char** argv)
{
    const uint32_t dataBytes = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1;
    if (dataBytes == 0 || dataBytes > StoreCells)
        return 2;
    std::vector<uint8_t> bytes(CAPTURE_RECORD_HEADER_SIZE + dataBytes, 0x5A);
    auto* record = reinterpret_cast<CaptureRecord*>(bytes.data());
    *record = CaptureRecord{};
    record->kind = RecordKind_Read;
    record->dataLength = dataBytes;
    const uint32_t records = StoreCells / dataBytes;

    const long before = ResidentKilobytes();
    auto* store = new RecordStore(StoreCells, 1);
    store->Grow(1);
    for (uint32_t i = 0; i < records; ++i)
        store->AddCopy(*record, static_cast<uint32_t>(bytes.size()));
    const long grown = ResidentKilobytes() - before;

    std::printf("%u records of %u bytes, %u cells displayed: resident growth %ld KB, %.2f bytes per record, "
                "%.3f bytes per data byte\n",
                records, dataBytes, store->DisplayedCells(), grown, grown * 1024.0 / records,
                grown * 1024.0 / (double{1} * records * dataBytes));
    delete store;
    return 0;
}
