// Dialog 145: one new highlight condition. The target, Binary or ASCII, the
// pattern text and a colour from the system's colour chooser; OK yields the
// condition and the text of its row.
#pragma once

#include "ColourChooser.h"
#include "Dialog.h"
#include "HighlightCondition.h"

#include <string>

class HighlightConditionEditor : public Dialog {
public:
    HighlightConditionEditor();

    // Valid after OK.
    const HighlightCondition& Condition() const { return condition_; }
    // In the Japanese code page.
    const std::string& DisplayText() const { return displayText_; }

protected:
    bool OnInitDialog() override;
    void OnCommand(UINT id) override;
    void OnEditChange(UINT id) override;
    bool OnDrawItem(const DRAWITEMSTRUCT& item) override;

private:
    std::wstring PatternText() const;
    uint32_t SelectedTarget() const;
    void ChooseSwatchColour();
    void KeepPatternWithinLimit();
    void Accept();

    COLORREF colour_ = 0;
    CustomColours customColours_;
    HighlightCondition condition_{};
    std::string displayText_;
};
