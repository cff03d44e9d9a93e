#include "CaptureItem.h"

#include "resource.h"

#include <algorithm>

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

std::string SizeText(const CaptureItem& item)
{
    char size[16];
    snprintf(size, sizeof size, "%d", static_cast<int32_t>(item.bufferSize));
    return size;
}

std::string CaptureItemRows::SizeText(int index) const
{
    const CaptureItem* item = Item(index);
    return item ? ::SizeText(*item) : std::string();
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

bool CaptureItemRows::Remove(const CaptureItem* item)
{
    auto owner = std::find_if(rows_.begin(), rows_.end(),
                              [item](const std::unique_ptr<CaptureItem>& row) { return row.get() == item; });
    if (owner == rows_.end())
        return false;
    rows_.erase(owner);
    return true;
}

bool CaptureItemRows::FollowOrder(const std::vector<const CaptureItem*>& order)
{
    std::vector<const CaptureItem*> wanted(order);
    std::vector<const CaptureItem*> owned;
    for (const auto& row : rows_)
        owned.push_back(row.get());
    std::sort(wanted.begin(), wanted.end());
    std::sort(owned.begin(), owned.end());
    if (wanted != owned)
        return false;
    std::vector<std::unique_ptr<CaptureItem>> ordered;
    for (const CaptureItem* item : order) {
        auto owner = std::find_if(rows_.begin(), rows_.end(),
                                  [item](const std::unique_ptr<CaptureItem>& row) { return row.get() == item; });
        ordered.push_back(std::move(*owner));
    }
    rows_ = std::move(ordered);
    return true;
}
