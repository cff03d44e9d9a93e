#include "CaptureItem.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr unsigned FORM_TEXT_FIRST_ID = 30000;

const char* const FORM_TEXTS[] = {
    "標準のキャプチャモニタ",
    "ポートへ出力(Format)",
    "ポートへ出力(WriteFile)",
    "ポートへ出力(ReadFile)",
    "ポートへ出力(信号選択)",
};

int32_t ShownForm(int32_t form)
{
    return form >= StandardMonitor && form < PortSignalSelect ? form : PortSignalSelect;
}

}  // namespace

void CopyItemText(char* field, size_t fieldSize, const char* text)
{
    if (fieldSize == 0)
        return;
    size_t length = text ? strnlen(text, fieldSize - 1) : 0;
    if (length > 0)
        memcpy(field, text, length);
    field[length] = '\0';
}

const char* OutputFormText(int32_t form)
{
    return FORM_TEXTS[ShownForm(form)];
}

unsigned OutputFormTextId(int32_t form)
{
    return FORM_TEXT_FIRST_ID + static_cast<unsigned>(ShownForm(form));
}

std::unique_ptr<CaptureItem> NewCaptureItem()
{
    return std::unique_ptr<CaptureItem>(new CaptureItem{});
}

void CaptureItemRows::FillTexts(Row& row)
{
    const CaptureItem& item = *row.item;
    row.texts[ColumnPort] = item.port;
    row.texts[ColumnForm] = item.form == StandardMonitor ? std::string(OutputFormText(item.form))
                                                         : std::string(item.outputPort) + OutputFormText(item.form);
    char size[16];
    snprintf(size, sizeof size, "%d", static_cast<int32_t>(item.bufferSize));
    row.texts[ColumnSize] = size;
}

int CaptureItemRows::InsertOrUpdateRow(std::unique_ptr<CaptureItem> item, int index)
{
    if (!item || (index != -1 && !IsRow(index)))
        return -1;
    if (index == -1) {
        rows_.push_back(Row{});
        index = ItemCount() - 1;
    }
    Row& row = rows_[static_cast<size_t>(index)];
    row.item = std::move(item);
    FillTexts(row);
    return index;
}

CaptureItem* CaptureItemRows::Item(int index) const
{
    return IsRow(index) ? rows_[static_cast<size_t>(index)].item.get() : nullptr;
}

std::string CaptureItemRows::RowText(int index, CaptureItemColumn column) const
{
    if (!IsRow(index) || column < 0 || column >= CaptureItemColumnCount)
        return std::string();
    return rows_[static_cast<size_t>(index)].texts[column];
}

bool CaptureItemRows::GetCaptureItemView(int index, CaptureItemView* view) const
{
    const CaptureItem* item = Item(index);
    if (!item)
        return false;
    view->form = item->active ? item->form : -1;
    view->port = item->port;
    view->deviceObject = item->deviceObject;
    view->outputPort = item->outputPort;
    view->bufferSize = item->bufferSize;
    return true;
}

bool CaptureItemRows::DeleteRow(int index)
{
    if (!IsRow(index))
        return false;
    rows_.erase(rows_.begin() + index);
    return true;
}
