// A control device's bounded FIFO of capture records. Every change of links
// and totals, and of the owner's status flags, happens under the list's spin
// lock, so a fetch never copies a node that an addition is dropping.
#pragma once

#include <ntddk.h>

struct RecordNode {
    ULONG consumed;  // output bytes already delivered to a serial-port reader
    ULONG size;      // 40 + data
    PVOID data;      // the record copy, just after the node in the same block
    RecordNode* next;
    RecordNode* prev;
};

// Records of up to this many data bytes (nearly all of a serial port's)
// share one node size, and their nodes are kept for reuse.
constexpr ULONG kSmallRecordDataBytes = 32;

struct RecordList {
    RecordNode* head;
    RecordNode* tail;
    ULONG count;
    ULONG bytes;
    // Small nodes whose records are gone, linked by next: kept while the
    // list and its spares hold fewer than spareLimit nodes, as many as the
    // byte limit lets the list hold, so a busy port allocates nothing once
    // its list has been full.
    RecordNode* spares;
    ULONG spareCount;
    ULONG spareLimit;
    // Dropped since a batched fetch last reported them.
    ULONG droppedRecords;
    ULONG droppedBytes;
    KSPIN_LOCK lock;
    KIRQL savedIrql;
};

// A snapshot of the list for the query request.
struct RecordListState {
    ULONG statusFlags;
    ULONG headSize;
    ULONG count;
    ULONG bytes;
};

void ZR_InitializeList(RecordList* list, ULONG maxBytes);

// Appends a copy of `size` bytes after dropping oldest records while the list
// holds more than maxBytes; a drop sets the data-lost bit in *statusFlags and
// is counted. A record larger than maxBytes is not stored
// (STATUS_BUFFER_OVERFLOW), nor one that finds no memory
// (STATUS_INSUFFICIENT_RESOURCES): it is then the one lost, flagged and
// counted the same way; *dropped tells whether records already in the list
// were dropped.
NTSTATUS ZR_AddBufferCopy(RecordList* list, ULONG consumed, ULONG size, const void* source, ULONG maxBytes,
                          ULONG* statusFlags, bool* dropped);

// Counts a record that never reached the list as lost, as a drop is counted.
void ZR_CountLoss(RecordList* list, const void* record, ULONG size, ULONG* statusFlags);

// Copies the oldest record into output when it fits (room bytes), stamps the
// status flags into its `flags`, clears the data-lost bit and deletes it.
// Returns the bytes copied: 0 when the list is empty or the record does not fit.
ULONG ZR_TakeOldest(RecordList* list, PVOID output, ULONG room, ULONG* statusFlags);

// Moves the oldest records that fit in room bytes, whole and in order, into
// output after a CaptureBatchHeader, each stamped with the status flags as
// ZR_TakeOldest would, and reports the drops counted since the last batch.
// The records are unlinked under the lock and copied after it. Returns the
// bytes written: the header alone when no record fits, 0 when room cannot
// hold the header.
ULONG ZR_TakeBatch(RecordList* list, PVOID output, ULONG room, ULONG* statusFlags);

// Shows the oldest record to visit under the list's lock, so that reading and
// removing it is one step; the node is deleted when visit returns true.
// Returns false when the list is empty.
typedef bool (*RecordVisitor)(RecordNode* node, PVOID context);
bool ZR_VisitOldest(RecordList* list, RecordVisitor visit, PVOID context);

RecordListState ZR_GetState(RecordList* list, const ULONG* statusFlags);
// The device is going away: frees the records and the spare nodes.
void ZR_DeleteList(RecordList* list);
