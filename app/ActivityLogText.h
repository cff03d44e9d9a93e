// Text of the activity log: timestamped lines, newest first, a bounded
// number of them. The log window holds the lines; this holds the rules.
#pragma once

#include <stdarg.h>
#include <stddef.h>

#include <string>

#if defined(__MINGW32__)
#define VANTREL_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(gnu_printf, formatIndex, firstArg)))
#else
#define VANTREL_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#endif

constexpr int ACTIVITY_LOG_MAX_LINES = 1000;
// A whole line, terminator included, fits in this many bytes.
constexpr size_t ACTIVITY_LOG_LINE_SIZE = 1024;

struct LogTime {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// The message of a log line, UTF-8, cut at a character boundary so that it
// fits in a line buffer.
std::string FormatLogMessage(const char* format, va_list args);

// "%4d/%02d/%02d %02d:%02d:%02d >" directly followed by the message, with
// every CR and LF turned into a blank, cut to fit in a line buffer.
std::string ActivityLogLine(const LogTime& time, const std::string& message);

// The status bar clock: "%04d/%02d/%02d %02d:%02d", no seconds.
std::string ClockText(const LogTime& time);

// The lines as the log window shows them, index 0 at the top.
class LogLines {
public:
    virtual ~LogLines() = default;
    virtual void InsertAtTop(const std::string& line) = 0;
    virtual int Count() const = 0;
    virtual void DeleteAt(int index) = 0;
};

// Puts the line at the top and drops the oldest beyond the limit.
void AddNewestLine(LogLines& lines, const std::string& line);
