// Activity log text: the timestamp, line breaks, the cut at the line buffer
// without splitting a character, the clock text, and the 1000-line bound.
#include "ActivityLogText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const LogTime kTime = {2026, 3, 7, 9, 5, 2};

std::string Message(const char* format, ...) VANTREL_PRINTF_FORMAT(1, 2);
std::string Message(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = FormatLogMessage(format, args);
    va_end(args);
    return message;
}

bool IsWholeUtf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        i += length;
    }
    return true;
}

class VectorLines : public LogLines {
public:
    void InsertAtTop(const std::string& line) override { lines.insert(lines.begin(), line); }
    int Count() const override { return static_cast<int>(lines.size()); }
    void DeleteAt(int index) override { lines.erase(lines.begin() + index); }
    std::vector<std::string> lines;
};

}  // namespace

TEST(ActivityLogText, LineStartsWithTheTimestampAndTheMessageFollowsTheMark)
{
    std::string line = ActivityLogLine(kTime, Message("Program Start (Ver %s)", "1.35"));
    EXPECT_EQ("2026/03/07 09:05:02 >Program Start (Ver 1.35)", line);
    EXPECT_EQ(21u, line.find("Program"));
    // The year is padded with blanks, not zeros.
    EXPECT_EQ(" 987/12/31 23:59:59 >x", ActivityLogLine({987, 12, 31, 23, 59, 59}, "x"));
}

TEST(ActivityLogText, LineBreaksBecomeBlanks)
{
    std::string line = ActivityLogLine(kTime, Message("%s", "キャプチャ起動に失敗しました。\n既に\r\nポート"));
    EXPECT_EQ("2026/03/07 09:05:02 >キャプチャ起動に失敗しました。 既に  ポート", line);
}

TEST(ActivityLogText, LongMessagesAreCutToTheLineBufferAtACharacter)
{
    std::string ascii = Message("%s", std::string(5000, 'a').c_str());
    EXPECT_EQ(ACTIVITY_LOG_LINE_SIZE - 1, ascii.size());
    EXPECT_EQ(ACTIVITY_LOG_LINE_SIZE - 1, ActivityLogLine(kTime, ascii).size());

    std::string japanese;
    for (int i = 0; i < 400; ++i) {
        japanese += "あ";  // three bytes each
    }
    std::string message = Message("%s", japanese.c_str());
    EXPECT_TRUE(IsWholeUtf8(message));
    EXPECT_GT(message.size(), ACTIVITY_LOG_LINE_SIZE - 4);
    std::string line = ActivityLogLine(kTime, message);
    EXPECT_TRUE(IsWholeUtf8(line));
    EXPECT_LE(line.size(), ACTIVITY_LOG_LINE_SIZE - 1);
    EXPECT_GT(line.size(), ACTIVITY_LOG_LINE_SIZE - 4);
}

TEST(ActivityLogText, ClockShowsMinutesOnly)
{
    EXPECT_EQ("2026/03/07 09:05", ClockText(kTime));
    LogTime later = kTime;
    later.second = 59;
    EXPECT_EQ(ClockText(kTime), ClockText(later));
}

TEST(ActivityLogText, NewestLineIsOnTopAndTheOldestGoesBeyondTheLimit)
{
    VectorLines log;
    for (int i = 0; i < ACTIVITY_LOG_MAX_LINES; ++i) {
        AddNewestLine(log, "line " + std::to_string(i));
    }
    ASSERT_EQ(ACTIVITY_LOG_MAX_LINES, log.Count());
    EXPECT_EQ("line 999", log.lines.front());
    EXPECT_EQ("line 0", log.lines.back());

    AddNewestLine(log, "line 1000");
    ASSERT_EQ(ACTIVITY_LOG_MAX_LINES, log.Count());
    EXPECT_EQ("line 1000", log.lines.front());
    EXPECT_EQ("line 1", log.lines.back());
}
