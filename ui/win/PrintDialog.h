// Dialog 144: the printer and its driver settings, all lines or the
// selection, soft layout and the four margins. OK fills the job.
#pragma once

#include "Dialog.h"
#include "PrintJob.h"

#include <string>
#include <vector>

class PrintDialog : public Dialog {
public:
    // `job` comes in with the range and margins to show and leaves filled on OK.
    explicit PrintDialog(PrintJob& job);

protected:
    bool OnInitDialog() override;
    void OnCommand(UINT id) override;

private:
    struct PrinterEntry {
        std::string name;
        std::vector<unsigned char> deviceMode;  // empty when the printer could not be opened
    };

    void AddPrinters(DWORD kind);
    void SelectDefaultPrinter();
    int SelectedPrinter() const;
    void ShowPrinterSettings();
    bool ReadMargin(int edit, uint32_t* value);
    // Shows why the layout cannot print; false when it can.
    bool RefuseLayout(const PrinterMetrics& printer, const PrintMargins& margins, bool softLayout) const;
    void Accept();

    PrintJob& job_;
    std::vector<PrinterEntry> printers_;
};
