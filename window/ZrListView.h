// A report list that draws its rows itself. The view is a small child window
// hosting the system list control, so that the list's notifications and its
// owner-draw requests reach the view; a pane derives from it.
//
// Each row inserted with InsertRow gets a record (the caller's data pointer
// and the row's image) owned by the view. Rows are drawn black on white,
// selected ones white on dark blue (the first cell only, unless whole-row
// selection is on); texts that do not fit are cut with "...". A click on a
// column header sorts by that column, ascending, or descending when the rows
// were already ascending. Image lists attached to the list stay the caller's.
//
// A derived view that overrides OnCreate, OnDestroy or HandleMessage calls
// this class's version: OnCreate first, OnDestroy last (it destroys the list).
#pragma once

#include "Window.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

class CzrListView : public Window {
public:
    ~CzrListView() override;

    // `listStyle` adds styles to the list control (LVS_SINGLESEL, say).
    bool Create(HWND parent, DWORD listStyle = 0);
    HWND List() const { return list_; }

    // format: LVCFMT_LEFT, LVCFMT_RIGHT or LVCFMT_CENTER. The new column's
    // index, or -1.
    int InsertColumn(int column, const std::wstring& heading, int format, int width);
    // image: index in the small image list, -1 for none. The new row's
    // index, or -1.
    int InsertRow(int index, const std::wstring& text, int image = -1);
    bool SetCellText(int row, int column, const std::wstring& text);
    bool SetRowData(int row, void* data);
    // Null for a row without a record.
    void* GetRowData(int row) const;
    bool DeleteRow(int row);
    void DeleteAllRows();
    int RowCount() const;
    // Selects the row, gives it the focus and scrolls it into view.
    void SelectRow(int row);

    // Whole-row selection is on only for exactly LVS_EX_FULLROWSELECT.
    void SetExtendedStyle(DWORD exStyle);
    bool WholeRowSelection() const { return wholeRow_; }

    // state: ODS_SELECTED and ODS_FOCUS; rect: the row in the list.
    void DrawRow(HDC dc, int row, UINT state, const RECT& rect) const;
    // Run on a click on a column header.
    virtual void SortByColumn(int column);

protected:
    bool OnCreate() override;
    void OnDestroy() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct RowRecord {
        void* data = nullptr;
        int image = -1;
    };

    RowRecord* RecordOf(int row) const;
    std::wstring TextAt(int row, int column) const;
    bool OnDrawItem(const DRAWITEMSTRUCT& item) const;
    // The small image list when the row has an image to draw from it.
    HIMAGELIST RowImages(const RowRecord* record) const;
    // Column 0's cell starts `imageWidth` to the right of the row.
    void DrawCells(HDC dc, int row, const RECT& rect, int imageWidth, bool selected) const;
    void DrawCell(HDC dc, int row, int column, const RECT& cell, int format, bool selected) const;
    // Detaches the image lists, destroys the list, frees the records.
    void ReleaseList();

    HWND list_ = nullptr;
    DWORD listStyle_ = 0;
    bool wholeRow_ = false;
    std::vector<std::unique_ptr<RowRecord>> records_;
};
