// Activity-log lines from the capture steps. The log is a window of the main
// frame; the steps hand their lines (UTF-8) to whatever the caller passes.
#pragma once

#include <functional>
#include <string>

using LogLine = std::function<void(const std::string& line)>;
