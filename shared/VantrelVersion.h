// The program's version, as the log's start line, the About box and the
// version resources of the program and both driver images show it. Read by
// the resource compiler too: plain macros, the C++ constant hidden from it.
#pragma once

#define VANTREL_VERSION_MAJOR 1
#define VANTREL_VERSION_MINOR 35
#define VANTREL_VERSION_TEXT  "1.35"

#ifndef RC_INVOKED
constexpr const char* VANTREL_VERSION = VANTREL_VERSION_TEXT;
#endif
