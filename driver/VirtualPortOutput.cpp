// The renderer's consumption of the record list: each step looks at the head
// record under the list's lock and decides whether it is used up.
#include "FilterDriver.h"

#include "SerialIoctl.h"

namespace {

constexpr ULONG kHandFlowWantsWrites = 0x10;
constexpr ULONG kHandFlowWantsReads = 0x08;

ULONG Smaller(ULONG a, ULONG b)
{
    return a < b ? a : b;
}

const CaptureRecord* RecordOf(const RecordNode* node)
{
    return static_cast<const CaptureRecord*>(node->data);
}

bool IsWholeRecord(const RecordNode* node)
{
    return node->data != nullptr && node->size >= CAPTURE_RECORD_HEADER_SIZE;
}

// ----- form 1: text lines -----

struct TextStep {
    ControlExtension* control;
    UCHAR* output;
    ULONG room;
    ULONG written;
};

const UCHAR* PortNameOf(ControlExtension* control, const CaptureRecord* record)
{
    return record->portIndex < control->portCount ? control->portNames[record->portIndex] : nullptr;
}

bool HasTextFor(const FormattedText* text, const RecordNode* node)
{
    return text->size != 0 && text->node == node && node->consumed != 0;
}

bool PrepareText(ControlExtension* control, const RecordNode* node)
{
    FormattedText* text = &control->formatted;
    DiscardFormattedText(text);
    const CaptureRecord* record = RecordOf(node);
    ULONG size = FormattedTextSize(record, node->size);
    text->text = static_cast<char*>(ExAllocatePoolWithTag(g_NonPagedPool, size, kPoolTag));
    if (text->text == nullptr)
        return false;
    RenderFormattedText(record, node->size, PortNameOf(control, record), text->text);
    text->size = size;
    text->node = node;
    return true;
}

bool DeliverText(RecordNode* node, PVOID context)
{
    auto* step = static_cast<TextStep*>(context);
    FormattedText* text = &step->control->formatted;
    if (!IsWholeRecord(node))
        return true;
    if (!HasTextFor(text, node) && !PrepareText(step->control, node))
        return true;  // no memory for its text: the record is dropped
    ULONG count = Smaller(text->size - node->consumed, step->room - step->written);
    RtlCopyMemory(step->output + step->written, text->text + node->consumed, count);
    step->written += count;
    node->consumed += count;
    if (node->consumed < text->size)
        return false;
    DiscardFormattedText(text);
    return true;
}

ULONG RenderText(ControlExtension* control, UCHAR* output, ULONG room)
{
    TextStep step = {control, output, room, 0};
    while (step.written < room && ZR_VisitOldest(&control->records, DeliverText, &step)) {
    }
    return step.written;
}

// ----- forms 2 to 4: raw data -----

struct RawStep {
    UCHAR* output;
    ULONG room;
    ULONG written;
    bool wantReads;
    bool wantWrites;
    UCHAR direction;  // kind of the data delivered by this call; 0 = none yet
    bool finished;
    ULONG lineErrors;  // error word of a status record that ends the call
};

bool IsWanted(const RawStep* step, UCHAR kind)
{
    return (kind == RecordKind_Read && step->wantReads) || (kind == RecordKind_Write && step->wantWrites);
}

ULONG ErrorWordOf(const CaptureRecord* record)
{
    const UCHAR* data = CaptureRecordData(record);
    return static_cast<ULONG>(data[0]) | static_cast<ULONG>(data[1]) << 8 | static_cast<ULONG>(data[2]) << 16 |
           static_cast<ULONG>(data[3]) << 24;
}

// A status reply that reported line errors; 0 for any other record.
ULONG LineErrorsOf(const CaptureRecord* record, ULONG recordSize)
{
    if (record->kind != RecordKind_DeviceControl || record->ioControlCode != IOCTL_SERIAL_GET_COMMSTATUS ||
        record->dataLength < SERIAL_STATUS_SIZE || recordSize - CAPTURE_RECORD_HEADER_SIZE < SERIAL_STATUS_SIZE)
        return 0;
    return ErrorWordOf(record);
}

bool DeliverData(RawStep* step, RecordNode* node, const CaptureRecord* record)
{
    if (step->direction != 0 && step->direction != record->kind) {
        step->finished = true;  // one direction per call
        return false;
    }
    if (step->written == step->room) {
        step->finished = true;
        return false;
    }
    ULONG length = Smaller(record->dataLength, node->size - CAPTURE_RECORD_HEADER_SIZE);
    if (node->consumed >= length)
        return true;
    ULONG count = Smaller(length - node->consumed, step->room - step->written);
    RtlCopyMemory(step->output + step->written, CaptureRecordData(record) + node->consumed, count);
    step->written += count;
    node->consumed += count;
    step->direction = record->kind;
    return node->consumed == length;
}

bool DeliverRaw(RecordNode* node, PVOID context)
{
    auto* step = static_cast<RawStep*>(context);
    if (!IsWholeRecord(node))
        return true;
    const CaptureRecord* record = RecordOf(node);
    if (IsWanted(step, record->kind) && record->dataLength != 0)
        return DeliverData(step, node, record);
    step->lineErrors = LineErrorsOf(record, node->size);
    step->finished = step->lineErrors != 0;
    return true;
}

ULONG RenderRaw(ControlExtension* control, UCHAR* output, ULONG room, bool wantReads, bool wantWrites)
{
    RawStep step = {output, room, 0, wantReads, wantWrites, 0, false, 0};
    while (!step.finished && ZR_VisitOldest(&control->records, DeliverRaw, &step)) {
    }
    if (step.lineErrors != 0)
        RaiseLineError(control, step.lineErrors);
    if (step.written != 0 && control->outputForm == CAPTURE_FORM_SIGNAL_SELECTED)
        control->port.modemStatus |= step.direction == RecordKind_Write ? kModemSentData : kModemReceivedData;
    return step.written;
}

}  // namespace

void DiscardFormattedText(FormattedText* text)
{
    if (text->text != nullptr)
        ExFreePoolWithTag(text->text, kPoolTag);
    text->text = nullptr;
    text->size = 0;
    text->node = nullptr;
}

ULONG ComFunc_ReadDataGet(ControlExtension* control, UCHAR* output, ULONG room)
{
    switch (control->outputForm) {
    case CAPTURE_FORM_TEXT: return RenderText(control, output, room);
    case CAPTURE_FORM_WRITTEN_DATA: return RenderRaw(control, output, room, false, true);
    case CAPTURE_FORM_SIGNAL_SELECTED: {
        ULONG handShake = control->port.handFlow.ControlHandShake;
        return RenderRaw(control, output, room, (handShake & kHandFlowWantsReads) != 0,
                         (handShake & kHandFlowWantsWrites) != 0);
    }
    default:  // CAPTURE_FORM_READ_DATA and any form beyond the known ones
        return RenderRaw(control, output, room, true, false);
    }
}
