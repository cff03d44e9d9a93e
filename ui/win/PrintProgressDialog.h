// Dialog 143: shown modally while the print thread runs; its bar only shows
// activity. Cancel stops the thread after the page it is drawing; the box
// closes by itself once the thread has ended.
#pragma once

#include "Dialog.h"
#include "PrintLayout.h"

class PrintProgressDialog : public Dialog {
public:
    // `activity`: a string id for the box's text; 0 keeps the printing text.
    explicit PrintProgressDialog(PrintRun& run, UINT activity = 0);

protected:
    bool OnInitDialog() override;
    bool OnTimer(UINT_PTR id) override;
    void OnCommand(UINT id) override;
    void OnClose() override;

private:
    PrintRun& run_;
    UINT activity_;
    int position_ = 0;
};
