// Dialog 135: the port to capture, the output form, the output port for the
// port forms and the capture buffer size of one capture item.
#pragma once

#include "Dialog.h"

#include <stdint.h>

#include <string>
#include <vector>

// Filled by the caller before the dialog runs, read back after OK.
struct CaptureSettingsData {
    std::string port;
    int32_t form = 0;
    std::string outputPort;
    uint32_t size = 0;
};

class CaptureSettingsDialog : public Dialog {
public:
    explicit CaptureSettingsDialog(const CaptureSettingsData& data);

    const CaptureSettingsData& Data() const { return data_; }

protected:
    bool OnInitDialog() override;
    void OnCommand(UINT id) override;

private:
    void FillCapturePorts();
    void FillOutputForms();
    void FillOutputPorts();
    void InitBufferSize();
    void EnableOutputPortByForm();
    bool ReadBufferSize();
    std::string SelectedEntry(int control, const std::vector<std::string>& entries) const;

    CaptureSettingsData data_;
    std::vector<std::string> capturePorts_;
    std::vector<std::string> outputPorts_;
};
