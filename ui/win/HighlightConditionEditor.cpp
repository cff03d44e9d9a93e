#include "HighlightConditionEditor.h"

#include "HighlightPattern.h"
#include "ResourceText.h"
#include "WideText.h"
#include "resource.h"

namespace {

constexpr COLORREF kUnusedCustomColour = 0xFFFFFF;

struct TargetEntry {
    UINT text;
    uint32_t target;
};
constexpr TargetEntry kTargets[] = {
    {IDS_TARGET_BOTH, HighlightTarget_Both},
    {IDS_TARGET_SENT, HighlightTarget_Sent},
    {IDS_TARGET_RECEIVED, HighlightTarget_Received},
};

}  // namespace

HighlightConditionEditor::HighlightConditionEditor() : Dialog(IDD_HIGHLIGHT_EDITOR)
{
    customColours_.fill(kUnusedCustomColour);
}

bool HighlightConditionEditor::OnInitDialog()
{
    HWND targets = GetDlgItem(Handle(), IDC_PATTERN_TARGET);
    for (const TargetEntry& entry : kTargets) {
        const LRESULT index =
            SendMessageW(targets, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LoadResourceText(entry.text).c_str()));
        SendMessageW(targets, CB_SETITEMDATA, static_cast<WPARAM>(index), entry.target);
    }
    SendMessageW(targets, CB_SETCURSEL, 0, 0);
    CheckRadioButton(Handle(), IDC_PATTERN_BINARY, IDC_PATTERN_ASCII, IDC_PATTERN_BINARY);
    return true;
}

void HighlightConditionEditor::OnCommand(UINT id)
{
    switch (id) {
    case IDC_PATTERN_COLOUR: ChooseSwatchColour(); break;
    case IDOK: Accept(); break;
    default: Dialog::OnCommand(id); break;
    }
}

void HighlightConditionEditor::OnEditChange(UINT id)
{
    if (id == IDC_PATTERN_TEXT)
        KeepPatternWithinLimit();
}

bool HighlightConditionEditor::OnDrawItem(const DRAWITEMSTRUCT& item)
{
    if (item.CtlID != IDC_PATTERN_SWATCH)
        return false;
    HBRUSH brush = CreateSolidBrush(colour_);
    FillRect(item.hDC, &item.rcItem, brush);
    DeleteObject(brush);
    return true;
}

std::wstring HighlightConditionEditor::PatternText() const
{
    HWND box = GetDlgItem(Handle(), IDC_PATTERN_TEXT);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
    return text;
}

uint32_t HighlightConditionEditor::SelectedTarget() const
{
    HWND targets = GetDlgItem(Handle(), IDC_PATTERN_TARGET);
    const LRESULT index = SendMessageW(targets, CB_GETCURSEL, 0, 0);
    return static_cast<uint32_t>(SendMessageW(targets, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

void HighlightConditionEditor::ChooseSwatchColour()
{
    const std::optional<COLORREF> chosen = ChooseColour(Handle(), colour_, customColours_);
    if (!chosen)
        return;
    colour_ = *chosen;
    HWND swatch = GetDlgItem(Handle(), IDC_PATTERN_SWATCH);
    InvalidateRect(swatch, nullptr, TRUE);
    UpdateWindow(swatch);
}

// The box holds wide characters while the pattern keeps cp932 bytes: a
// paste that does not fit is cut at a whole character and the user told.
// Setting the cut text changes the box again, then within the limit.
void HighlightConditionEditor::KeepPatternWithinLimit()
{
    const std::string text = WideToCp932(PatternText());
    const size_t fit = PatternTextFit(text);
    if (fit == text.size())
        return;
    HWND box = GetDlgItem(Handle(), IDC_PATTERN_TEXT);
    SetWindowTextW(box, Cp932ToWide(std::string_view(text).substr(0, fit)).c_str());
    SendMessageW(box, EM_SETSEL, GetWindowTextLengthW(box), GetWindowTextLengthW(box));
    ShowResourceMessage(Handle(), IDS_PATTERN_CUT, IDS_CONFIRM_CAPTION, MB_OK | MB_ICONEXCLAMATION);
}

void HighlightConditionEditor::Accept()
{
    const HighlightKind kind =
        IsDlgButtonChecked(Handle(), IDC_PATTERN_ASCII) == BST_CHECKED ? HighlightKind_Ascii : HighlightKind_Binary;
    PatternEntry entry = ReadPattern(WideToCp932(PatternText()), kind);
    if (entry.refusal != PatternRefusal::None) {
        const UINT message = entry.refusal == PatternRefusal::Empty ? IDS_NO_PATTERN : IDS_INVALID_PATTERN;
        RefuseField(IDC_PATTERN_TEXT, LoadResourceText(message), LoadResourceText(IDS_CONFIRM_CAPTION));
        return;
    }
    condition_ = entry.condition;
    condition_.target = SelectedTarget();
    condition_.color = colour_;
    displayText_ = std::move(entry.displayText);
    End(IDOK);
}
