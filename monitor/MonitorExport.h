// A paused monitor's lines as a file or the clipboard: the text of the
// printed lines (the same layout pass, on a surface that keeps text), or a
// CSV row per record with its time stamp to the microsecond. Both in UTF-8,
// streamed to a sink in pieces, so that the largest store never needs one
// string of its own size.
#pragma once

#include "MonitorView.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

enum class ExportFormat { Text, Csv };

// Where the bytes go; false ends the export as failed.
class ExportSink {
public:
    virtual bool Write(std::string_view bytes) = 0;

protected:
    ~ExportSink() = default;
};

struct ExportRequest {
    ExportFormat format = ExportFormat::Text;
    LineRange lines{0, 0};
    // A file starts with the byte order mark and a header (text: port, line
    // settings, time of saving and the column heads; CSV: the column names);
    // the clipboard gets the lines alone.
    bool asFile = true;
    std::string portName;      // cp932
    std::string lineSettings;  // cp932
    std::string savedAt;       // "%04d/%02d/%02d %02d:%02d:%02d", local time
    // Added to the driver's UTC time stamps (100-ns units) to give local time.
    int64_t localOffset = 0;
    // Asked between pieces; false cancels.
    std::function<bool()> shouldContinue;
};

enum class ExportResult { Written, Cancelled, WriteFailed };

// Reads the view's store while the monitor is paused.
ExportResult ExportMonitor(const MonitorView& view, const ExportRequest& request, ExportSink& sink);

// cp932 bytes as UTF-8; bytes that are no character become U+FFFD.
std::string Utf8FromCp932(std::string_view text);
