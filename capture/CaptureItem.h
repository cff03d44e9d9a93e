// One capture item: a COM port to capture and what to do with its data. The
// rows of the capture items list pane each own one record.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

constexpr size_t CAPTURE_ITEM_TEXT_SIZE = 260;
constexpr size_t CAPTURE_ITEM_DEVICE_OBJECT_SIZE = 16;
// Adding through the dialog is refused once the list holds this many rows.
constexpr int CAPTURE_ITEM_ADD_LIMIT = 25;

enum OutputForm : int32_t {
    StandardMonitor = 0,
    PortFormat = 1,
    PortWriteFile = 2,
    PortReadFile = 3,
    PortSignalSelect = 4,
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

// The form's text (UTF-8); any value outside 0..3 shows the text of 4.
const char* OutputFormText(int32_t form);
// String-table id of that text.
unsigned OutputFormTextId(int32_t form);

enum CaptureItemColumn { ColumnPort = 0, ColumnForm = 1, ColumnSize = 2, CaptureItemColumnCount = 3 };

// The rows of the capture items list with their column texts, which always
// mirror the records because every change goes through InsertOrUpdateRow.
class CaptureItemRows {
public:
    // Index -1 appends a row owning the record; otherwise row `index` takes
    // it over. Returns the row index, -1 for an index that is no row.
    int InsertOrUpdateRow(std::unique_ptr<CaptureItem> item, int index);
    int ItemCount() const { return static_cast<int>(rows_.size()); }
    bool CanAdd() const { return ItemCount() < CAPTURE_ITEM_ADD_LIMIT; }
    CaptureItem* Item(int index) const;
    // Empty for an index that is no row.
    std::string RowText(int index, CaptureItemColumn column) const;
    bool GetCaptureItemView(int index, CaptureItemView* view) const;
    bool DeleteRow(int index);
    void Clear() { rows_.clear(); }

private:
    struct Row {
        std::unique_ptr<CaptureItem> item;
        std::string texts[CaptureItemColumnCount];
    };
    bool IsRow(int index) const { return index >= 0 && index < ItemCount(); }
    static void FillTexts(Row& row);

    std::vector<Row> rows_;
};

std::unique_ptr<CaptureItem> NewCaptureItem();
