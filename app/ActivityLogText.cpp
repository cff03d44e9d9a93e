#include "ActivityLogText.h"

#include <stdio.h>

namespace {

bool IsUtf8Continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Cuts to at most maxBytes without leaving half a multibyte character.
void CutAtCharacter(std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return;
    }
    size_t end = maxBytes;
    while (end > 0 && IsUtf8Continuation(text[end])) {
        --end;
    }
    text.resize(end);
}

void BlankLineBreaks(std::string& text)
{
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
}

}  // namespace

std::string FormatLogMessage(const char* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) {
        return std::string();
    }
    std::string message(static_cast<size_t>(length), '\0');
    vsnprintf(&message[0], message.size() + 1, format, args);
    CutAtCharacter(message, ACTIVITY_LOG_LINE_SIZE - 1);
    return message;
}

std::string ActivityLogLine(const LogTime& time, const std::string& message)
{
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%4d/%02d/%02d %02d:%02d:%02d >", time.year, time.month, time.day, time.hour,
             time.minute, time.second);
    std::string line = stamp + message;
    CutAtCharacter(line, ACTIVITY_LOG_LINE_SIZE - 1);
    BlankLineBreaks(line);
    return line;
}

std::string ClockText(const LogTime& time)
{
    char text[64];
    snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d", time.year, time.month, time.day, time.hour, time.minute);
    return text;
}

void AddNewestLine(LogLines& lines, const std::string& line)
{
    lines.InsertAtTop(line);
    while (lines.Count() > ACTIVITY_LOG_MAX_LINES) {
        lines.DeleteAt(ACTIVITY_LOG_MAX_LINES);
    }
}
