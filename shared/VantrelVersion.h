// The program's version, as the log's start line and the About box show it.
#pragma once

constexpr const char* VANTREL_VERSION = "1.35";
