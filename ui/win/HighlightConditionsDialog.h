// Dialog 146: the highlight conditions of one monitor in a list, with their
// colour swatches. New conditions come from the editor; existing ones can
// only be deleted. However the dialog closes, its rows become the monitor's
// conditions, top to bottom.
#pragma once

#include "Dialog.h"
#include "HighlightConditionList.h"

#include <commctrl.h>

#include <string>
#include <vector>

class HighlightConditionsDialog : public Dialog {
public:
    // At most `limit` rows.
    HighlightConditionsDialog(HighlightConditionList& conditions, uint32_t limit);

protected:
    bool OnInitDialog() override;
    void OnCommand(UINT id) override;
    void OnDestroy() override;

private:
    struct Row {
        HighlightCondition condition;
        std::string text;  // cp932
    };

    HWND List() const;
    bool SetUpList();
    // False when the list control refused the row.
    bool AddRow(Row row);
    void AddFromEditor();
    void DeleteSelected();

    HighlightConditionList& conditions_;
    uint32_t limit_;
    std::vector<Row> rows_;
    HIMAGELIST swatches_ = nullptr;  // the list control's, freed with it
    bool loaded_ = false;
};
