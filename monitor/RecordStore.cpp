#include "RecordStore.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

const CaptureRecord& RecordOf(const ListNode* node)
{
    return *static_cast<const CaptureRecord*>(node->data);
}

uint32_t CellCount(const ListNode* node)
{
    return static_cast<uint32_t>(node->value);
}

uint32_t TimeCounter(const CaptureRecord& record)
{
    return static_cast<uint32_t>(record.timestamp);
}

// Never more data cells than the block really holds.
uint32_t DataBytesPresent(const CaptureRecord& record, uint32_t size)
{
    const uint32_t length = record.dataLength;  // records lie packed, unaligned, in a fetched batch
    return std::min(length, size - CAPTURE_RECORD_HEADER_SIZE);
}

}  // namespace

RecordStore::RecordStore(uint32_t capacity, uint32_t timeLimit) : capacity_(capacity), timeLimit_(timeLimit) {}

bool RecordStore::HasTimeCell(const CaptureRecord& record) const
{
    return TimeCounter(record) >= timeLimit_;
}

uint32_t RecordStore::DataCells(const ListNode* node) const
{
    return CellCount(node) - (HasTimeCell(RecordOf(node)) ? 1 : 0);
}

void RecordStore::AddCopy(const CaptureRecord& record, uint32_t size)
{
    if (size < CAPTURE_RECORD_HEADER_SIZE)
        return;
    const uint32_t dataCells = DataBytesPresent(record, size);
    const uint32_t cells = dataCells + (HasTimeCell(record) ? 1 : 0);
    if (cells == 0 || !list_.AppendCopy(static_cast<int32_t>(cells), size, &record))
        return;
    index_.push_back(IndexEntry{list_.Tail(), cellsAdded_, receivedAdded_, sentAdded_});
    cellsAdded_ += cells;
    if (record.kind == RecordKind_Read)
        receivedAdded_ += dataCells;
    else if (record.kind == RecordKind_Write)
        sentAdded_ += dataCells;
    Grow(cells);
}

void RecordStore::Add(CaptureRecord* record, uint32_t size)
{
    if (record != nullptr)
        AddCopy(*record, size);
    std::free(record);
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
    totalCells_ = 0;
    list_.Clear();
    index_.clear();
    firstCell_ = 0;
    Grow(1);
}

// Drops whole display lines from the top. Stops when no record is left, so a
// capacity below one line (a settings file may hold 0) cannot run it dry.
void RecordStore::EvictOverCapacity()
{
    while (totalCells_ - firstCell_ > capacity_ && !index_.empty()) {
        const uint32_t headCells = CellCount(index_.front().node);
        if (firstCell_ + CellsPerLine < headCells) {
            firstCell_ += CellsPerLine;
            continue;
        }
        firstCell_ = firstCell_ + CellsPerLine - headCells;
        EvictHead();
        while (!index_.empty() && firstCell_ >= CellCount(index_.front().node)) {
            firstCell_ -= CellCount(index_.front().node);
            EvictHead();
        }
        if (index_.empty())
            firstCell_ = 0;
    }
}

void RecordStore::EvictHead()
{
    ListNode* node = index_.front().node;
    const uint8_t kind = RecordOf(node).kind;
    if (kind == RecordKind_Read)
        receivedBase_ += DataCells(node);
    else if (kind == RecordKind_Write)
        sentBase_ += DataCells(node);
    totalCells_ -= CellCount(node);
    index_.pop_front();
    list_.Remove(node);
}

uint32_t RecordStore::LineCount() const
{
    return static_cast<uint32_t>((uint64_t{DisplayedCells()} + CellsPerLine - 1) / CellsPerLine);
}

// Live monitors look at the newest lines: gallop back from the newest record,
// then bisect, so a pass near the end costs the same in any size of store.
const RecordStore::IndexEntry& RecordStore::EntryHolding(uint64_t cell) const
{
    size_t end = index_.size();  // entries from here on start after the cell
    size_t step = 1;
    size_t begin = 0;
    while (step < end) {
        if (index_[end - step].firstCell <= cell) {
            begin = end - step;
            break;
        }
        end -= step;
        step *= 2;
    }
    auto after = std::upper_bound(index_.begin() + static_cast<std::ptrdiff_t>(begin),
                                  index_.begin() + static_cast<std::ptrdiff_t>(end), cell,
                                  [](uint64_t target, const IndexEntry& entry) { return target < entry.firstCell; });
    return *std::prev(after);
}

CellPosition RecordStore::Locate(uint32_t displayedCell) const
{
    if (index_.empty())
        return CellPosition{CellCursor{nullptr, 0}, receivedBase_, sentBase_};
    const IndexEntry& head = index_.front();
    const uint64_t target = head.firstCell + firstCell_ + displayedCell;
    if (target >= cellsAdded_) {
        return CellPosition{CellCursor{nullptr, 0}, receivedBase_ + (receivedAdded_ - head.receivedBefore),
                            sentBase_ + (sentAdded_ - head.sentBefore)};
    }
    const IndexEntry& entry = EntryHolding(target);
    const uint32_t index = static_cast<uint32_t>(target - entry.firstCell);
    const CaptureRecord& record = RecordOf(entry.node);
    const uint32_t dataBefore = HasTimeCell(record) ? (index == 0 ? 0 : index - 1) : index;
    uint32_t received = receivedBase_ + (entry.receivedBefore - head.receivedBefore);
    uint32_t sent = sentBase_ + (entry.sentBefore - head.sentBefore);
    if (record.kind == RecordKind_Read)
        received += dataBefore;
    else if (record.kind == RecordKind_Write)
        sent += dataBefore;
    return CellPosition{CellCursor{entry.node, index}, received, sent};
}

bool RecordStore::NextCell(CellCursor& cursor, Cell& cell) const
{
    if (cursor.node == nullptr)
        return false;
    const CaptureRecord& record = RecordOf(cursor.node);
    const bool timed = HasTimeCell(record);
    if (timed && cursor.index == 0)
        cell = Cell{CellKind_Time, TimeCounter(record)};
    else
        cell = Cell{record.kind, CaptureRecordData(&record)[cursor.index - (timed ? 1 : 0)]};
    if (++cursor.index >= CellCount(cursor.node)) {
        cursor.node = list_.Next(cursor.node);
        cursor.index = 0;
    }
    return true;
}

void RecordStore::SetGrowListener(std::function<void()> listener)
{
    growListener_ = std::move(listener);
}
