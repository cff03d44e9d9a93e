// Capture items in the settings file: sections "Data%d" numbered from 0 in
// list order, their count in DataCount, the list's column widths in "Tab0".
#pragma once

#include "CaptureItem.h"

#include <vector>

constexpr int CAPTURE_COLUMN_DEFAULT_WIDTH = 100;

// Appends one row per stored item; sections with an empty COM are skipped.
void LoadItems(CaptureItemRows& rows);

// Writes the column widths, replaces the old "Data%d" sections by the rows
// renumbered from 0 and writes DataCount. The file takes all of it in one
// step or none of it: false when it could not be saved and holds the old
// items.
bool WriteItems(const CaptureItemRows& rows, const int (&columnWidths)[CaptureItemColumnCount]);

// WriteItems, then empties the rows.
bool SaveItems(CaptureItemRows& rows, const int (&columnWidths)[CaptureItemColumnCount]);

// The items pane's use of the file: it saves only after it has loaded, so a
// pane whose list or columns could not be made, and which never read the
// file, does not replace the stored items by none.
class CaptureItemFile {
public:
    void Load(CaptureItemRows& rows)
    {
        LoadItems(rows);
        loaded_ = true;
    }
    // At a change of the rows.
    bool Save(const CaptureItemRows& rows, const int (&columnWidths)[CaptureItemColumnCount]) const
    {
        return !loaded_ || WriteItems(rows, columnWidths);
    }
    // At the pane's end: Save, then the rows are emptied.
    bool SaveAndClear(CaptureItemRows& rows, const int (&columnWidths)[CaptureItemColumnCount]) const
    {
        if (loaded_)
            return SaveItems(rows, columnWidths);
        rows.Clear();
        return true;
    }

private:
    bool loaded_ = false;
};

constexpr const char* ITEMS_NOT_SAVED_TEXT = "キャプチャアイテムを設定ファイルに保存できませんでした";

int ReadColumnWidth(int column);

// Numbers n below `count`, ascending, for which a section "Data%d" of n
// exists; a huge DataCount then costs only the sections the file holds.
std::vector<int> ExistingDataSections(int count);
