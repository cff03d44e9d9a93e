#include "RecordStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

struct RecordChunk {
    RecordChunk* next;
    uint64_t firstCell;       // cells added before its first record
    uint32_t receivedBefore;  // Read data bytes added before its first record
    uint32_t sentBefore;
    uint32_t room;  // bytes for records
    uint32_t used;

    uint8_t* Records() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* Records() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    const uint8_t* End() const { return Records() + used; }
};

namespace {

constexpr uint32_t KindBytes = 1;
constexpr uint32_t TimeCounterBytes = 3;
constexpr uint32_t TimeCounterMaxStored = (1u << (8 * TimeCounterBytes)) - 1;
constexpr uint8_t LongLength = 0xFF;  // the length follows in 4 bytes
constexpr uint32_t TimestampBytes = 8;
constexpr uint32_t LostDataMarkerBytes = 1;

uint32_t HeaderBytes(uint32_t length)
{
    return KindBytes + TimeCounterBytes + 1 + (length >= LongLength ? 4 : 0) + TimestampBytes;
}

uint32_t EncodedBytes(uint32_t length)
{
    return HeaderBytes(length) + length;
}

void Encode(uint8_t* out, uint8_t kind, uint32_t timeCounter, uint64_t timestamp, const uint8_t* data, uint32_t length)
{
    *out++ = kind;
    for (uint32_t i = 0; i < TimeCounterBytes; ++i)
        *out++ = static_cast<uint8_t>(timeCounter >> (8 * i));
    if (length < LongLength) {
        *out++ = static_cast<uint8_t>(length);
    } else {
        *out++ = LongLength;
        std::memcpy(out, &length, sizeof length);
        out += sizeof length;
    }
    std::memcpy(out, &timestamp, sizeof timestamp);
    if (length != 0)
        std::memcpy(out + sizeof timestamp, data, length);
}

// Never more data cells than the block really holds.
uint32_t DataBytesPresent(const CaptureRecord& record, uint32_t size)
{
    const uint32_t length = record.dataLength;  // records lie packed, unaligned, in a fetched batch
    return std::min(length, size - CAPTURE_RECORD_HEADER_SIZE);
}

// Data bytes count towards their direction; markers and line errors towards none.
void CountData(uint8_t kind, uint32_t bytes, uint32_t& received, uint32_t& sent)
{
    if (kind == RecordKind_Read)
        received += bytes;
    else if (kind == RecordKind_Write)
        sent += bytes;
}

}  // namespace

void* ChunkAllocator::Allocate(size_t bytes)
{
    return std::malloc(bytes);
}

void ChunkAllocator::Free(void* block)
{
    std::free(block);
}

ChunkAllocator& ChunkAllocator::Heap()
{
    static ChunkAllocator heap;
    return heap;
}

RecordStore::RecordStore(uint32_t capacity, uint32_t timeLimit, ChunkAllocator& allocator)
    : allocator_(allocator), capacity_(capacity), timeLimit_(timeLimit)
{}

RecordStore::~RecordStore()
{
    FreeChunks();
    if (spare_ != nullptr)
        allocator_.Free(spare_);
    allocator_.Free(directory_);
}

RecordView RecordStore::Decode(const uint8_t* node) const
{
    RecordView record{};
    const uint8_t* in = node;
    record.node = node;
    record.kind = *in++;
    for (uint32_t i = 0; i < TimeCounterBytes; ++i)
        record.timeCounter |= uint32_t{*in++} << (8 * i);
    record.length = *in++;
    if (record.length == LongLength) {
        std::memcpy(&record.length, in, sizeof record.length);
        in += sizeof record.length;
    }
    std::memcpy(&record.timestamp, in, sizeof record.timestamp);
    record.data = in + sizeof record.timestamp;
    record.cells = CellsOf(record.length, record.timeCounter);
    return record;
}

uint32_t RecordStore::CellsOf(uint32_t length, uint32_t timeCounter) const
{
    return length + (timeCounter >= timeLimit_ ? 1 : 0);
}

void RecordStore::AddCopy(const CaptureRecord& record, uint32_t size)
{
    AddRecord(record, size, static_cast<uint32_t>(record.timestamp), 0);
}

void RecordStore::Add(CaptureRecord* record, uint32_t size)
{
    if (record != nullptr)
        AddCopy(*record, size);
    std::free(record);
}

void RecordStore::AddStamped(const CaptureRecord& record, uint32_t size, uint32_t timeCounter)
{
    AddRecord(record, size, timeCounter, record.timestamp);
}

void RecordStore::AddRecord(const CaptureRecord& record, uint32_t size, uint32_t timeCounter, uint64_t timestamp)
{
    if (size < CAPTURE_RECORD_HEADER_SIZE)
        return;
    const uint32_t length = DataBytesPresent(record, size);
    const uint32_t counter = std::min(timeCounter, TimeCounterMaxStored);
    const uint32_t cells = CellsOf(length, counter);
    if (cells == 0)
        return;
    const bool wasShort = memoryShort_;
    const uint32_t grown = cells + (wasShort ? CellsOf(LostDataMarkerBytes, 0) : 0);
    if (Append(record.kind, counter, timestamp, CaptureRecordData(&record), length))
        Grow(grown);
    else if (!wasShort && memoryShortListener_)
        memoryShortListener_();
}

// Takes the record, after a lost-data marker when records were refused
// before it; false when there is no room for them.
bool RecordStore::Append(uint8_t kind, uint32_t timeCounter, uint64_t timestamp, const uint8_t* data, uint32_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t markerBytes = memoryShort_ ? EncodedBytes(LostDataMarkerBytes) : 0;
    uint8_t* out = Reserve(markerBytes + EncodedBytes(length));
    if (out == nullptr) {
        memoryShort_ = true;
        return false;
    }
    if (memoryShort_) {
        Encode(out, RecordKind_DeviceControl, 0, 0, &LineErrorCode_LostData, LostDataMarkerBytes);
        out += markerBytes;
        ++recordCount_;
        cellsAdded_ += CellsOf(LostDataMarkerBytes, 0);
        memoryShort_ = false;
    }
    Encode(out, kind, timeCounter, timestamp, data, length);
    ++recordCount_;
    cellsAdded_ += CellsOf(length, timeCounter);
    CountData(kind, length, receivedAdded_, sentAdded_);
    return true;
}

// Room for bytes at the end of the newest chunk, or in a new one.
uint8_t* RecordStore::Reserve(uint32_t bytes)
{
    if (HasChunks() && Tail()->room - Tail()->used >= bytes) {
        uint8_t* out = Tail()->Records() + Tail()->used;
        Tail()->used += bytes;
        return out;
    }
    if (!RoomInDirectory())
        return nullptr;
    RecordChunk* chunk = NewChunk(bytes);
    if (chunk == nullptr)
        return nullptr;
    if (HasChunks())
        Tail()->next = chunk;
    directory_[endChunk_++] = chunk;
    chunk->used = bytes;
    return chunk->Records();
}

// The directory keeps the chunks in order for finding a cell by bisection;
// the slots of passed chunks are reused once they are half of it.
bool RecordStore::RoomInDirectory()
{
    if (endChunk_ < directorySlots_)
        return true;
    const size_t live = endChunk_ - firstChunk_;
    if (live >= directorySlots_ / 2) {
        const size_t slots = std::max<size_t>(64, directorySlots_ * 2);
        auto** grown = static_cast<RecordChunk**>(allocator_.Allocate(slots * sizeof(RecordChunk*)));
        if (grown == nullptr)
            return false;
        if (directory_ != nullptr)
            std::memcpy(grown, directory_ + firstChunk_, live * sizeof(RecordChunk*));
        allocator_.Free(directory_);
        directory_ = grown;
        directorySlots_ = slots;
    } else {
        std::memmove(directory_, directory_ + firstChunk_, live * sizeof(RecordChunk*));
    }
    firstChunk_ = 0;
    endChunk_ = live;
    return true;
}

RecordChunk* RecordStore::NewChunk(uint32_t bytes)
{
    const uint64_t wanted = std::max<uint64_t>(ChunkBytes, uint64_t{sizeof(RecordChunk)} + bytes);
    if (wanted > UINT32_MAX)
        return nullptr;
    RecordChunk* chunk = nullptr;
    if (wanted == ChunkBytes && spare_ != nullptr)
        chunk = std::exchange(spare_, nullptr);
    else
        chunk = static_cast<RecordChunk*>(allocator_.Allocate(static_cast<size_t>(wanted)));
    if (chunk == nullptr)
        return nullptr;
    *chunk = RecordChunk{
        nullptr, cellsAdded_, receivedAdded_, sentAdded_, static_cast<uint32_t>(wanted - sizeof(RecordChunk)), 0};
    return chunk;
}

void RecordStore::ReleaseChunk(RecordChunk* chunk)
{
    if (chunk->room + sizeof(RecordChunk) == ChunkBytes && spare_ == nullptr)
        spare_ = chunk;
    else
        allocator_.Free(chunk);
}

void RecordStore::FreeChunks()
{
    while (HasChunks())
        ReleaseChunk(directory_[firstChunk_++]);
    firstChunk_ = endChunk_ = 0;
    lastLocated_ = RecordPlace{};
    headOffset_ = 0;
    recordCount_ = 0;
    cellsAdded_ = headCell_ = 0;
    receivedAdded_ = sentAdded_ = headReceived_ = headSent_ = 0;
}

void RecordStore::Grow(uint32_t cells)
{
    totalCells_ += cells;
    if (growListener_)
        growListener_();
    EvictOverCapacity();
}

void RecordStore::Reset()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        FreeChunks();
        memoryShort_ = false;
    }
    totalCells_ = 0;
    firstCell_ = 0;
    Grow(1);
}

// Drops whole display lines from the top. Stops when no record is left, so a
// capacity below one line (a settings file may hold 0) cannot run it dry.
void RecordStore::EvictOverCapacity()
{
    while (totalCells_ - firstCell_ > capacity_ && recordCount_ != 0) {
        const uint32_t headCells = Decode(Head()->Records() + headOffset_).cells;
        if (firstCell_ + CellsPerLine < headCells) {
            firstCell_ += CellsPerLine;
            continue;
        }
        firstCell_ = firstCell_ + CellsPerLine - headCells;
        EvictHead();
        while (recordCount_ != 0 && firstCell_ >= Decode(Head()->Records() + headOffset_).cells) {
            firstCell_ -= Decode(Head()->Records() + headOffset_).cells;
            EvictHead();
        }
        if (recordCount_ == 0)
            firstCell_ = 0;
    }
}

void RecordStore::EvictHead()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const RecordView record = Decode(Head()->Records() + headOffset_);
    CountData(record.kind, record.length, receivedBase_, sentBase_);
    CountData(record.kind, record.length, headReceived_, headSent_);
    totalCells_ -= record.cells;
    headCell_ += record.cells;
    --recordCount_;
    headOffset_ += EncodedBytes(record.length);
    if (headOffset_ < Head()->used)
        return;
    headOffset_ = 0;
    ReleaseChunk(directory_[firstChunk_++]);
}

uint32_t RecordStore::LineCount() const
{
    return static_cast<uint32_t>((uint64_t{DisplayedCells()} + CellsPerLine - 1) / CellsPerLine);
}

// The last chunk that starts at or before the cell.
const RecordChunk* RecordStore::ChunkHolding(uint64_t cell) const
{
    RecordChunk* const* after =
        std::upper_bound(directory_ + firstChunk_, directory_ + endChunk_, cell,
                         [](uint64_t target, const RecordChunk* chunk) { return target < chunk->firstCell; });
    return *(after - 1);
}

CellPosition RecordStore::Locate(uint32_t displayedCell) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t target = headCell_ + firstCell_ + displayedCell;
    if (recordCount_ == 0 || target >= cellsAdded_) {
        return CellPosition{CellCursor{nullptr, 0, nullptr}, receivedBase_ + (receivedAdded_ - headReceived_),
                            sentBase_ + (sentAdded_ - headSent_)};
    }
    const RecordChunk* chunk = ChunkHolding(target);
    RecordPlace place{
        chunk, chunk->firstCell, chunk->Records(), chunk->firstCell, chunk->receivedBefore, chunk->sentBefore};
    if (lastLocated_.chunk == chunk && lastLocated_.chunkFirstCell == chunk->firstCell && lastLocated_.cell <= target)
        place = lastLocated_;
    RecordView record = Decode(place.node);
    while (place.cell + record.cells <= target) {
        place.cell += record.cells;
        CountData(record.kind, record.length, place.received, place.sent);
        record = Decode(record.data + record.length);
    }
    place.node = record.node;
    lastLocated_ = place;
    uint32_t received = place.received;
    uint32_t sent = place.sent;
    const uint32_t index = static_cast<uint32_t>(target - place.cell);
    const uint32_t dataBefore = record.cells > record.length ? (index == 0 ? 0 : index - 1) : index;
    CountData(record.kind, dataBefore, received, sent);
    return CellPosition{CellCursor{record.node, index, chunk}, receivedBase_ + (received - headReceived_),
                        sentBase_ + (sent - headSent_)};
}

bool RecordStore::NextCell(CellCursor& cursor, Cell& cell) const
{
    if (cursor.node == nullptr)
        return false;
    const RecordView record = Decode(cursor.node);
    const bool timed = record.cells > record.length;
    if (timed && cursor.index == 0)
        cell = Cell{CellKind_Time, record.timeCounter};
    else
        cell = Cell{record.kind, record.data[cursor.index - (timed ? 1 : 0)]};
    if (++cursor.index >= record.cells) {
        RecordWalk walk{cursor.chunk, cursor.node};
        StepPast(record, walk);
        cursor = CellCursor{walk.node, 0, walk.chunk};
    }
    return true;
}

RecordWalk RecordStore::FirstRecord() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (recordCount_ == 0)
        return RecordWalk{nullptr, nullptr};
    return RecordWalk{Head(), Head()->Records() + headOffset_};
}

bool RecordStore::NextRecord(RecordWalk& walk, RecordView& record) const
{
    if (walk.node == nullptr)
        return false;
    record = Decode(walk.node);
    StepPast(record, walk);
    return true;
}

// Records are appended while the walk may be at the newest one: only a
// chunk's end under the mutex tells whether another record follows.
void RecordStore::StepPast(const RecordView& record, RecordWalk& walk) const
{
    walk.node = record.data + record.length;
    std::lock_guard<std::mutex> lock(mutex_);
    if (walk.node >= walk.chunk->End()) {
        walk.chunk = walk.chunk->next;
        walk.node = walk.chunk != nullptr ? walk.chunk->Records() : nullptr;
    }
}

void RecordStore::SetGrowListener(std::function<void()> listener)
{
    growListener_ = std::move(listener);
}

void RecordStore::SetMemoryShortListener(std::function<void()> listener)
{
    memoryShortListener_ = std::move(listener);
}
