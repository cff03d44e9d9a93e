#include "CaptureItem.h"

#include "resource.h"

#include <stdio.h>
#include <string.h>

namespace {

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

unsigned OutputFormTextId(int32_t form)
{
    return IDS_FORM_STANDARD_MONITOR + static_cast<unsigned>(ShownForm(form));
}

const char* FormColumnPort(const CaptureItem& item)
{
    return item.form == StandardMonitor ? "" : item.outputPort;
}

std::unique_ptr<CaptureItem> NewCaptureItem()
{
    return std::unique_ptr<CaptureItem>(new CaptureItem{});
}

int CaptureItemRows::InsertOrUpdateRow(std::unique_ptr<CaptureItem> item, int index)
{
    if (!item || (index != -1 && !IsRow(index)))
        return -1;
    if (index == -1) {
        rows_.push_back(std::move(item));
        return ItemCount() - 1;
    }
    rows_[static_cast<size_t>(index)] = std::move(item);
    return index;
}

CaptureItem* CaptureItemRows::Item(int index) const
{
    return IsRow(index) ? rows_[static_cast<size_t>(index)].get() : nullptr;
}

std::string CaptureItemRows::PortText(int index) const
{
    const CaptureItem* item = Item(index);
    return item ? std::string(item->port) : std::string();
}

std::string CaptureItemRows::SizeText(int index) const
{
    const CaptureItem* item = Item(index);
    if (!item)
        return std::string();
    char size[16];
    snprintf(size, sizeof size, "%d", static_cast<int32_t>(item->bufferSize));
    return size;
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
