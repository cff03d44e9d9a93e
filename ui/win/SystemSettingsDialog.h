// Dialog 140: the monitors' refresh period (Timer) and the lower limit from
// which their time counters show (Limit). OK stores both.
#pragma once

#include "Dialog.h"
#include "SettingRange.h"

#include <stdint.h>

class SystemSettingsDialog : public Dialog {
public:
    SystemSettingsDialog();

protected:
    bool OnInitDialog() override;
    void OnCommand(UINT id) override;

private:
    bool ReadField(int edit, SettingRange range, uint32_t* value);
    void Save();
};
