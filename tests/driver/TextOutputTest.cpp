// The form-1 text of single records: line layout, request names, parameter
// texts, and records whose lengths disagree with their size.
#include "FilterDriver.h"
#include "SerialIoctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const UCHAR kCom1[8] = {'C', 'O', 'M', '1', 0, 0, 0, 0};

std::vector<uint8_t> MakeRecord(uint8_t kind, uint32_t code, uint32_t inputLength, uint32_t dataLength,
                                const std::vector<uint8_t>& data)
{
    CaptureRecord header{};
    header.kind = kind;
    header.ioControlCode = code;
    header.inputLength = inputLength;
    header.dataLength = dataLength;
    std::vector<uint8_t> bytes(CAPTURE_RECORD_HEADER_SIZE + data.size());
    memcpy(bytes.data(), &header, sizeof header);
    if (!data.empty())
        memcpy(bytes.data() + CAPTURE_RECORD_HEADER_SIZE, data.data(), data.size());
    return bytes;
}

std::vector<uint8_t> Dwords(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> bytes;
    for (uint32_t v : values) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    return bytes;
}

std::string Render(const std::vector<uint8_t>& record, const UCHAR* portName = kCom1)
{
    auto size = static_cast<ULONG>(record.size());
    const auto* header = reinterpret_cast<const CaptureRecord*>(record.data());
    std::string text(FormattedTextSize(header, size), '\0');
    RenderFormattedText(header, size, portName, text.data());
    return text;
}

std::string Line(const std::string& text, size_t k)
{
    return text.substr(80 * k, 80);
}

// The parameter text on line 0 from column 22 (or another), trailing spaces cut.
std::string Parameters(const std::string& text, size_t column = 22)
{
    std::string line = Line(text, 0).substr(column, 78 - column);
    return line.substr(0, line.find_last_not_of(' ') + 1);
}

std::string Control(uint32_t code, std::vector<uint8_t> data, bool set)
{
    auto length = static_cast<uint32_t>(data.size());
    return Render(MakeRecord(RecordKind_DeviceControl, code, set ? length : 0, set ? 0 : length, data));
}

TEST(TextOutputTest, ATwentyByteWriteIsThreeLinesOfEightyBytes)
{
    std::string data = "0123456789ABCDEFGHIJ";
    std::string text = Render(MakeRecord(RecordKind_Write, 0, 0, 20, std::vector<uint8_t>(data.begin(), data.end())));
    ASSERT_EQ(240u, text.size());
    // The count ends at column 30, "byte" follows from column 31.
    EXPECT_EQ("COM1   WriteFile             20byte" + std::string(43, ' ') + "\r\n", Line(text, 0));
    EXPECT_EQ("00000000 30 31 32 33 34 35 36 37-38 39 41 42 43 44 45 46 0123456789ABCDEF" + std::string(5, ' ') +
                  "\r\n",
              Line(text, 1));
    EXPECT_EQ("00000010 47 48 49 4A" + std::string(36, ' ') + " GHIJ" + std::string(17, ' ') + "\r\n", Line(text, 2));
}

TEST(TextOutputTest, DisplayCharactersAndOffsetsOfLongData)
{
    std::vector<uint8_t> data(40);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i == 0   ? 0x1F
                                       : i == 1 ? 0x7F
                                       : i == 2 ? 0xA1
                                       : i == 3 ? 0xDF
                                       : i == 4 ? 0xE0
                                                : 'a');
    std::string text = Render(MakeRecord(RecordKind_Read, 0, 0, 40, data));
    ASSERT_EQ(4u * 80, text.size());
    EXPECT_EQ("ReadFile", Line(text, 0).substr(7, 8));
    EXPECT_EQ("40byte", Line(text, 0).substr(29, 6));
    EXPECT_EQ(std::string(".") + "." + "\xA1" + "\xDF" + "." + "aaaaaaaaaaa", Line(text, 1).substr(57, 16));
    EXPECT_EQ("00000020", Line(text, 3).substr(0, 8));
    EXPECT_EQ(' ', Line(text, 3)[32]) << "eight bytes: no separator";
    EXPECT_EQ("61 61 61 61 61 61 61 61", Line(text, 3).substr(9, 23));
}

TEST(TextOutputTest, RequestNamesByKindAndCode)
{
    const std::pair<uint8_t, const char*> kinds[] = {{0, "CreateFile"}, {2, "CloseHandle"}, {5, "QueryInfo"},
                                                     {6, "SetInfo"},    {9, "Flush"},       {18, "CleanUp"},
                                                     {7, "Unknown"}};
    for (const auto& [kind, name] : kinds) {
        std::string text = Render(MakeRecord(kind, 0, 0, 0, {}));
        ASSERT_EQ(80u, text.size());
        EXPECT_EQ(std::string("COM1   ") + name, Line(text, 0).substr(0, 7 + strlen(name)));
    }
    EXPECT_EQ("SetBreakOn", Control(IOCTL_SERIAL_SET_BREAK_ON, {}, true).substr(7, 10));
    EXPECT_EQ("Unknown ", Control(IOCTL_SERIAL_LSRMST_INSERT, {}, true).substr(7, 8));
    EXPECT_EQ("Unknown ", Control(0x001B00A0, {}, true).substr(7, 8));
    EXPECT_EQ("SetFifoCtrl", Control(IOCTL_SERIAL_SET_FIFO_CONTROL, Dwords({0xC1}), true).substr(7, 11));
    std::vector<uint8_t> removal = MakeRecord(RecordKind_PlugAndPlay, 0, 0, 0, {});
    removal[1] = CAPTURE_PNP_SURPRISE_REMOVAL;
    EXPECT_EQ("COM1   PortRemoved ", Line(Render(removal), 0).substr(0, 19));
    removal[1] = CAPTURE_PNP_START_DEVICE;
    EXPECT_EQ("COM1   PortReturned ", Line(Render(removal), 0).substr(0, 20));
}

TEST(TextOutputTest, LineSettingsTexts)
{
    EXPECT_EQ("8Bits Nparity 1StopBits", Parameters(Control(IOCTL_SERIAL_SET_LINE_CONTROL, {0, 0, 8}, true)));
    EXPECT_EQ("7Bits Eparity 1.5StopBits", Parameters(Control(IOCTL_SERIAL_GET_LINE_CONTROL, {1, 2, 7}, false)));
    EXPECT_EQ("5Bits ?parity ?StopBits", Parameters(Control(IOCTL_SERIAL_SET_LINE_CONTROL, {3, 5, 5}, true)));
    EXPECT_EQ("115200bps", Parameters(Control(IOCTL_SERIAL_SET_BAUD_RATE, Dwords({115200}), true)));
    EXPECT_EQ("InFA0H Out0H", Parameters(Control(IOCTL_SERIAL_SET_QUEUE_SIZE, Dwords({4000, 0}), true)));
    EXPECT_EQ("eof26 err0 brk0 evn13 xon17 xof19",
              Parameters(Control(IOCTL_SERIAL_SET_CHARS, {26, 0, 0, 13, 17, 19}, true)));
    EXPECT_EQ("80000009H 40H xo2000 xf1000",
              Parameters(Control(IOCTL_SERIAL_GET_HANDFLOW, Dwords({0x80000009, 0x40, 2000, 1000}), false)));
    EXPECT_EQ("1BH", Parameters(Control(IOCTL_SERIAL_IMMEDIATE_CHAR, {0x1B}, true)));
}

TEST(TextOutputTest, TimeoutsWriteMaxdword)
{
    EXPECT_EQ("MAXDWORD 0 0 0 0",
              Parameters(Control(IOCTL_SERIAL_SET_TIMEOUTS, Dwords({0xFFFFFFFF, 0, 0, 0, 0}), true)));
    EXPECT_EQ("10 MAXDWORD 4294967294 1 2",
              Parameters(Control(IOCTL_SERIAL_GET_TIMEOUTS, Dwords({10, 0xFFFFFFFF, 0xFFFFFFFE, 1, 2}), false)));
}

TEST(TextOutputTest, StatusAndMaskTexts)
{
    std::vector<uint8_t> status = Dwords({0x10, 0, 7, 0});
    status.push_back(1);
    status.push_back(0);
    status.resize(20);
    EXPECT_EQ("Er10H Ho0H In7H Out0H T F", Parameters(Control(IOCTL_SERIAL_GET_COMMSTATUS, status, false)));
    EXPECT_EQ("MaskBits181H", Parameters(Control(IOCTL_SERIAL_SET_WAIT_MASK, Dwords({0x181}), true)));
    EXPECT_EQ("Mask1H", Parameters(Control(IOCTL_SERIAL_WAIT_ON_MASK, Dwords({1}), false)));
    EXPECT_EQ("MaskFH", Parameters(Control(IOCTL_SERIAL_PURGE, Dwords({15}), true)));
    EXPECT_EQ("ModemStatus30H", Parameters(Control(IOCTL_SERIAL_GET_MODEMSTATUS, Dwords({0x30}), false)));
    EXPECT_EQ("DTR/RTSstatus3H", Parameters(Control(IOCTL_SERIAL_GET_DTRRTS, Dwords({3}), false)));
    EXPECT_EQ("Size24", Parameters(Control(IOCTL_SERIAL_CONFIG_SIZE, Dwords({24}), false)));
    std::vector<uint8_t> config = Dwords({0x18, 0x0001, 0x2});
    config.resize(24);
    EXPECT_EQ("Size18H Version1H SubType2H", Parameters(Control(IOCTL_SERIAL_GET_COMMCONFIG, config, false)));
}

TEST(TextOutputTest, StatisticsStartAtColumnSixteen)
{
    std::string text = Control(IOCTL_SERIAL_GET_STATS, Dwords({0x100, 0x2A, 0, 1, 0xFFFFFFFF, 9}), false);
    EXPECT_EQ("GetStats", Line(text, 0).substr(7, 8));
    EXPECT_EQ(std::string(1, ' '), Line(text, 0).substr(15, 1));
    EXPECT_EQ("100H 2AH 0H 1H FFFFFFFFH 9H", Parameters(text, 16));
}

TEST(TextOutputTest, HexAndDecimalHaveNoLeadingZeros)
{
    char out[12];
    EXPECT_EQ("0H", std::string(out, ComFuncSub_HexToText(out, 0)));
    EXPECT_EQ("ABCH", std::string(out, ComFuncSub_HexToText(out, 0xABC)));
    EXPECT_EQ("FFFFFFFFH", std::string(out, ComFuncSub_HexToText(out, 0xFFFFFFFF)));
    EXPECT_EQ("0", std::string(out, ComFuncSub_DecimalToText(out, 0)));
    EXPECT_EQ("4294967295", std::string(out, ComFuncSub_DecimalToText(out, 0xFFFFFFFF)));
}

TEST(TextOutputTest, ShortParametersAndLyingLengthsNeverReadPastTheRecord)
{
    // Below the minimum: the name only.
    EXPECT_EQ("", Parameters(Control(IOCTL_SERIAL_SET_TIMEOUTS, Dwords({1, 2, 3, 4}), true)));
    EXPECT_EQ("", Parameters(Control(IOCTL_SERIAL_SET_LINE_CONTROL, {0, 0}, true)));
    // A length that claims more than the record carries: the text is left out.
    EXPECT_EQ("", Parameters(Render(MakeRecord(RecordKind_DeviceControl, IOCTL_SERIAL_GET_STATS, 0, 24, Dwords({1})))));
    // A write whose dataLength says 1000 but carries 3 bytes shows 3.
    std::vector<uint8_t> lying = MakeRecord(RecordKind_Write, 0, 0, 1000, {'a', 'b', 'c'});
    std::string text = Render(lying);
    ASSERT_EQ(160u, text.size());
    EXPECT_EQ(" 3byte", Line(text, 0).substr(29, 6));
    EXPECT_EQ("61 62 63 ", Line(text, 1).substr(9, 9));
    // A port index outside the table: no name.
    EXPECT_EQ("       WriteFile", Render(lying, nullptr).substr(0, 16));
}

}  // namespace
