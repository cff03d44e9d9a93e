// The capture items pane: a report list of the capture items, loaded from
// the settings file when made and saved back, with its column widths, when
// destroyed.
#pragma once

#include "CaptureItem.h"
#include "Window.h"

class CComListView : public Window {
public:
    bool Create(HWND parent);
    HWND List() const { return list_; }
    // Capture start marks the active items and their device objects.
    CaptureItemRows& Rows() { return rows_; }
    const CaptureItemRows& Rows() const { return rows_; }

protected:
    bool OnCreate() override;
    void OnDestroy() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool InsertColumns();
    void ShowRow(int row);

    HWND list_ = nullptr;
    CaptureItemRows rows_;
};
