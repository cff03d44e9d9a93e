// The capture items pane: a report list of the capture items, loaded from
// the settings file when made and saved back, with its column widths, when
// destroyed. It carries out the item commands that the main frame routes to
// it and reports each change to the activity log it is given.
#pragma once

#include "CaptureItem.h"
#include "CaptureLog.h"
#include "Window.h"

#include <string>

class CComListView : public Window {
public:
    bool Create(HWND parent, LogLine log);
    HWND List() const { return list_; }
    // Capture start marks the active items and their device objects.
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

protected:
    bool OnCreate() override;
    void OnDestroy() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool InsertColumns();
    std::wstring CellText(int row, CaptureItemColumn column) const;
    void ShowRow(int row, bool newRow);
    void LogItemSaved(int row, bool added) const;
    void ShowContextMenu();
    // Pop-up of the context menu for a right-click at a screen point: 1 on
    // a row, 0 on empty space.
    int ContextMenuPopupAt(POINT screen) const;
    bool WarnIfNothingSelected() const;
    HWND MainWindow() const { return GetAncestor(Handle(), GA_ROOT); }

    HWND list_ = nullptr;
    CaptureItemRows rows_;
    LogLine log_;
};
