// A static splitter of two rows in one column: the panes are children of
// the splitter, and a bar between them is dragged to change the rows.
#pragma once

#include "Window.h"

class Splitter : public Window {
public:
    // Row 0 starts `topHeight` pixels high; row 1 takes the rest.
    bool Create(HWND parent, int topHeight);
    // The panes' parent must be this window.
    void SetPanes(HWND top, HWND bottom);
    void MoveTo(const RECT& area);

    // Current height of row 0 and width of the column.
    int TopHeight() const;
    int ColumnWidth() const;
    static int BarHeight();

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Layout();
    bool IsOnBar(int y) const;
    void StartDrag(int y);
    void Drag(int y);
    int ClientHeight() const;

    HWND top_ = nullptr;
    HWND bottom_ = nullptr;
    int wantedTopHeight_ = 0;
    int dragOffset_ = 0;
    bool dragging_ = false;
};
