// The About box: the program's icon, its name and version, and the version
// history, newest first.
#pragma once

#include "Dialog.h"

class AboutDialog : public Dialog {
public:
    AboutDialog();

protected:
    bool OnInitDialog() override;
};
