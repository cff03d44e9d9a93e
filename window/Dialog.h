// A modal dialog from a resource template of the executable. The dialog
// procedure forwards each message to the C++ object, as Window does.
#pragma once

#include <windows.h>

#include <string>

class Dialog {
public:
    explicit Dialog(UINT templateId) : templateId_(templateId) {}
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    virtual ~Dialog() = default;

    // Returns the value given to End, or -1 when the dialog could not be made.
    INT_PTR RunModal(HWND owner);
    HWND Handle() const { return hwnd_; }

protected:
    virtual bool OnInitDialog() { return true; }
    // False leaves the timer to the default handling.
    virtual bool OnTimer(UINT_PTR) { return false; }
    // OK and Cancel end the dialog unless a dialog says otherwise.
    virtual void OnCommand(UINT id);
    // The text of an edit control changed.
    virtual void OnEditChange(UINT) {}
    // The window goes away, however the dialog ended.
    virtual void OnDestroy() {}
    // A close request (Esc arrives as Cancel, the close box as WM_CLOSE).
    virtual void OnClose() { End(IDCANCEL); }
    // Owner-drawn controls; false leaves the message to the default handling.
    virtual bool OnDrawItem(const DRAWITEMSTRUCT&) { return false; }
    void End(INT_PTR result) { EndDialog(hwnd_, result); }

    // The whole text of a control, in the ANSI code page.
    std::string ControlText(int id) const;
    // A number field and its up-down control: the value and the arrows' range.
    void ShowNumber(int edit, int spin, UINT value, UINT min, UINT max) const;
    // Tells the user why the field's text is refused and puts the focus back
    // into it with the text selected, so the dialog stays open at the field.
    void RefuseField(int id, const std::wstring& message, const std::wstring& caption) const;

private:
    static INT_PTR CALLBACK DialogProcThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND hwnd_ = nullptr;
};
