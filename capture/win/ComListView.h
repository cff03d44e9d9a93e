// The capture items pane: the owner-drawn list of the capture items, loaded
// from the settings file when made and saved back, with its column widths,
// at every change of the items and when destroyed. Every row keeps its
// CaptureItem as its row data, so the item commands act on the row's own
// record however the rows were sorted.
// It carries out the item commands that the main frame routes to it and
// reports each change to the activity log it is given.
#pragma once

#include "CaptureItem.h"
#include "CaptureItemStore.h"
#include "CaptureLog.h"
#include "ZrListView.h"

#include <string>

class CComListView : public CzrListView {
public:
    bool Create(HWND parent, LogLine log);
    // In the order the list shows them, which capture start walks and the
    // settings file keeps.
    CaptureItemRows& Rows() { return rows_; }
    const CaptureItemRows& Rows() const { return rows_; }

    // Row -1 adds an item, any other row changes that row's item through
    // the capture settings dialog. True when the dialog ended with OK.
    bool EditItem(int row);
    bool ChangeSelectedItem();
    // True when the user confirmed and the item is gone.
    bool DeleteSelectedItem();
    // -1 when no row is selected.
    int SelectedRow() const;
    // The record a row shows; null for no row.
    CaptureItem* ItemAt(int row) const { return static_cast<CaptureItem*>(GetRowData(row)); }

    void SortByColumn(int column) override;

protected:
    bool OnCreate() override;
    void OnDestroy() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool InsertColumns();
    // A new last row showing the record; -1 when the list refused it.
    int AppendRow(CaptureItem* item);
    void ShowItem(int row, const CaptureItem& item);
    void LogItemSaved(const CaptureItem& item, bool added) const;
    void ShowContextMenu();
    // Pop-up of the context menu for a right-click at a screen point: 1 on
    // a row, 0 on empty space.
    int ContextMenuPopupAt(POINT screen) const;
    bool WarnIfNothingSelected() const;
    void ReadColumnWidths(int (&widths)[CaptureItemColumnCount]) const;
    // A program that ends without its destruction (a crash, a kill) keeps
    // every change made until then.
    void SaveChangedItems() const;
    HWND MainWindow() const { return GetAncestor(Handle(), GA_ROOT); }

    CaptureItemRows rows_;
    CaptureItemFile file_;
    LogLine log_;
};
