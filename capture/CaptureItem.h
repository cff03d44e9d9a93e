// One capture item: a COM port to capture and what to do with its data. The
// rows of the capture items list pane each own one record.
#pragma once

#include <stdint.h>

#include "CaptureParameters.h"

#include <memory>
#include <string>
#include <vector>

constexpr size_t CAPTURE_ITEM_TEXT_SIZE = 260;
constexpr size_t CAPTURE_ITEM_DEVICE_OBJECT_SIZE = 16;
// Adding through the dialog is refused once the list holds this many rows.
constexpr int CAPTURE_ITEM_ADD_LIMIT = 25;

// The driver's output forms, under the names the items use.
enum OutputForm : int32_t {
    StandardMonitor = CAPTURE_FORM_STANDARD_MONITOR,
    PortFormat = CAPTURE_FORM_TEXT,
    PortWriteFile = CAPTURE_FORM_WRITTEN_DATA,
    PortReadFile = CAPTURE_FORM_READ_DATA,
    PortSignalSelect = CAPTURE_FORM_SIGNAL_SELECTED,
};

// Zero-filled when created; the texts always hold their terminator.
struct CaptureItem {
    char port[CAPTURE_ITEM_TEXT_SIZE];
    char outputPort[CAPTURE_ITEM_TEXT_SIZE];
    char deviceObject[CAPTURE_ITEM_DEVICE_OBJECT_SIZE];
    int32_t form;
    uint32_t bufferSize;
    int32_t active;
};

// What capture start and stop read of an item.
struct CaptureItemView {
    int32_t form;  // -1 while the item is not active
    const char* port;
    const char* deviceObject;
    const char* outputPort;
    uint32_t bufferSize;
};

// Copies text into a fixed field, cut so that the terminator fits.
void CopyItemText(char* field, size_t fieldSize, const char* text);

// String-table id of the form's text; any value outside 0..3 shows the text of 4.
unsigned OutputFormTextId(int32_t form);

// The items list's form column shows this port before the form's text; the
// standard monitor has no output port to show, so it is empty there.
const char* FormColumnPort(const CaptureItem& item);

enum CaptureItemColumn { ColumnPort = 0, ColumnForm = 1, ColumnSize = 2, CaptureItemColumnCount = 3 };

// The size column's text: the size as the signed number the file stores.
std::string SizeText(const CaptureItem& item);

// The rows of the capture items list, each owning its record, in the order
// the list shows them: capture start and saving walk them from index 0. The
// form column's text comes from the string table, so the window code builds
// it. A list that reorders its rows hands the new order to FollowOrder.
class CaptureItemRows {
public:
    // Index -1 appends a row owning the record; otherwise row `index` takes
    // it over. Returns the row's index, or -1 (no row) when `index` is no
    // row or there is no record.
    int InsertOrUpdateRow(std::unique_ptr<CaptureItem> item, int index);
    int ItemCount() const { return static_cast<int>(rows_.size()); }
    bool CanAdd() const { return ItemCount() < CAPTURE_ITEM_ADD_LIMIT; }
    CaptureItem* Item(int index) const;
    // The port and size columns as the list shows them and the settings file
    // stores them; empty for an index that is no row.
    std::string PortText(int index) const;
    std::string SizeText(int index) const;
    bool GetCaptureItemView(int index, CaptureItemView* view) const;
    // Frees the record; false when no row owns it.
    bool Remove(const CaptureItem* item);
    // Puts the records in the given order, which must name each of them
    // once; false, with the order unchanged, for anything else.
    bool FollowOrder(const std::vector<const CaptureItem*>& order);
    void Clear() { rows_.clear(); }

private:
    bool IsRow(int index) const { return index >= 0 && index < ItemCount(); }

    std::vector<std::unique_ptr<CaptureItem>> rows_;
};

std::unique_ptr<CaptureItem> NewCaptureItem();
