// A monitor saved as CSV and as text: the CSV read back gives every kept
// record, the text gives the printed lines.
#include "MonitorExport.h"

#include "CsvReader.h"
#include "RecordDecoder.h"
#include "RecordingSurface.h"
#include "StoredRecords.h"
#include "TestRecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

namespace {

constexpr uint64_t kStart = 133485408000000000ull;  // 2024-01-01 00:00 UTC
constexpr int64_t kJapan = 9ll * 3600 * 10000000;
constexpr uint64_t kMs = 10000;

struct StringSink : ExportSink {
    bool Write(std::string_view bytes) override
    {
        if (failAfter == 0)
            return false;
        --failAfter;
        text.append(bytes);
        return true;
    }
    std::string text;
    int failAfter = -1;
};

std::vector<uint8_t> Bytes(std::string_view text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

// A store of 4 lines that has evicted its first records and keeps two-byte
// text, quotes and commas, control bytes, line errors and a loss.
class MonitorExportTest : public ::testing::Test {
protected:
    MonitorExportTest() : store_(64, 1) { view_ = std::make_unique<MonitorView>(store_, screen_, MonitorColors{}); }

    void SetUp() override
    {
        Add(RecordKind_Write, Bytes("evicted!"), 0, 999999);
        Add(RecordKind_Read, Bytes("\x82\xA0\x82\xA2 a,\"q\""), 2 * kMs, 2);
        Add(RecordKind_DeviceControl, {1, 9}, 3 * kMs, 1);
        TestRecord marker = MakeControlRecord(0, 0, 1, {LineErrorCode_LostData});
        store_.Add(marker.record, LostDataMarkerSize);
        Add(RecordKind_Write, {'\r', '\n', '\\', 0xB1, 0x00, 0x82}, 12345678, 1234);
        Add(RecordKind_Read, Bytes("0123456789ABCDEFGHIJ0123456789ABCDEFGHIJ"), 12345678 + 5 * kMs, 5);
        ASSERT_GT(store_.FirstCell() + store_.ReceivedBase() + store_.SentBase(), 0u) << "nothing was evicted";
    }

    void Add(uint8_t kind, const std::vector<uint8_t>& data, uint64_t sinceStart, uint32_t counter)
    {
        TestRecord record = MakeDataRecord(kind, data, kStart + sinceStart);
        store_.AddStamped(*record.record, record.size, counter);
        std::free(record.record);
    }

    std::string Export(ExportFormat format, LineRange lines, bool asFile = true)
    {
        ExportRequest request;
        request.format = format;
        request.lines = lines;
        request.asFile = asFile;
        request.portName = "COM11";
        request.lineSettings = "9600bps 8bit Parity:N Stop:1bit";
        request.savedAt = "2024/01/02 03:04:05";
        request.localOffset = kJapan;
        StringSink sink;
        EXPECT_EQ(ExportResult::Written, ExportMonitor(*view_, request, sink));
        return sink.text;
    }

    LineRange AllLines() const { return LineRange{0, view_->LineCount()}; }

    RecordStore store_;
    RecordingSurface screen_;
    std::unique_ptr<MonitorView> view_;
};

std::string HexOf(const RecordView& record)
{
    char digits[4];
    std::string hex;
    for (uint32_t i = 0; i < record.length; ++i)
        hex.append(digits, snprintf(digits, sizeof digits, " %02X", record.data[i]));
    return hex.substr(1);
}

TEST_F(MonitorExportTest, TheCsvReadBackGivesEveryKeptRecordExactly)
{
    const std::string text = Export(ExportFormat::Csv, AllLines());
    ASSERT_EQ(0u, text.rfind("\xEF\xBB\xBF", 0)) << "UTF-8 with a byte order mark";
    const std::vector<CsvRecord> rows = ReadCsv(text.substr(3));
    const std::vector<RecordView> records = StoredRecords(store_);
    ASSERT_EQ(records.size() + 1, rows.size());
    EXPECT_EQ((CsvRecord{"日時", "間隔(ms)", "方向", "バイト数", "データ(16進)", "データ(テキスト)", "回線エラー"}),
              rows[0]);
    const std::map<uint8_t, std::string> direction = {
        {RecordKind_Write, "送信"}, {RecordKind_Read, "受信"}, {RecordKind_DeviceControl, "異常"}};
    const std::map<uint8_t, std::string> errorName = {{1, "BRK"}, {9, "RXO"}, {LineErrorCode_LostData, "BUF"}};
    for (size_t i = 0; i < records.size(); ++i) {
        const CsvRecord& row = rows[i + 1];
        ASSERT_EQ(7u, row.size()) << i;
        EXPECT_EQ(direction.at(records[i].kind), row[2]) << i;
        if (records[i].kind == RecordKind_DeviceControl) {
            std::string errors;
            for (uint32_t k = 0; k < records[i].length; ++k)
                errors += (k == 0 ? "" : " ") + errorName.at(records[i].data[k]);
            EXPECT_EQ(errors, row[6]) << i;
            EXPECT_EQ("", row[4]) << i;
        } else {
            EXPECT_EQ(std::to_string(records[i].length), row[3]) << i;
            EXPECT_EQ(HexOf(records[i]), row[4]) << i;
        }
        EXPECT_EQ(records[i].timestamp == 0, row[0].empty()) << "a loss has no time: " << i;
    }
    // The first kept record lost its predecessor to eviction.
    EXPECT_EQ((CsvRecord{"2024/01/01 09:00:00.002000", "", "受信", "10", "82 A0 82 A2 20 61 2C 22 71 22",
                         "あい a,\"q\"", ""}),
              rows[1]);
    EXPECT_EQ("1.000", rows[2][1]) << "milliseconds since the previous record";
    EXPECT_EQ((CsvRecord{"2024/01/01 09:00:01.234567", "1231.568", "送信", "6", "0D 0A 5C B1 00 82",
                         "\\r\\n\\\\ｱ\\x00\\x82", ""}),
              rows[4]);
}

// The printed page's texts of one line and row, left to right, as the
// print pass draws them below its 35-pixel header.
std::map<std::pair<int, int>, std::string> PrintedRows(const MonitorView& view)
{
    RecordingSurface page;
    PaintRequest request;
    request.y0 = 35;
    request.height = 20 + 40 * static_cast<int>(view.LineCount());
    request.printColours = true;
    view.PaintLines(page, request);
    const std::map<int, int> rowOf = {{6, 0}, {8, 1}, {13, 1}, {19, 2}, {16, 3}, {20, 3}};
    std::map<std::pair<int, int>, std::map<int, std::string>> cells;
    std::string glyph;
    for (const SurfaceOp& op : page.ops) {
        const int top = op.y - 35 - 14;
        if (op.kind == SurfaceOpKind::GlyphText)
            glyph = op.text;
        else if (op.kind == SurfaceOpKind::Text)
            cells[{top / 40, rowOf.at(top % 40)}][op.x] = op.text;
        else if (op.kind == SurfaceOpKind::GlyphCopy && op.rect.x == 0)
            cells[{top / 40, rowOf.at(top % 40)}][op.x] = glyph;
    }
    std::map<std::pair<int, int>, std::string> rows;
    for (const auto& [place, texts] : cells) {
        for (const auto& [x, text] : texts)
            rows[place] += Utf8FromCp932(text);
    }
    return rows;
}

TEST_F(MonitorExportTest, TheTextIsThePrintedLinesUnderAHeader)
{
    std::istringstream text(Export(ExportFormat::Text, AllLines()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        ASSERT_EQ('\r', line.back());
        line.pop_back();
        lines.push_back(line);
    }
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("\xEF\xBB\xBFVantrelログ  2024/01/02 03:04:05", lines[0]);
    EXPECT_EQ("Port:COM11  9600bps 8bit Parity:N Stop:1bit", lines[1]);
    EXPECT_EQ("Counter    Binary Data" + std::string(54, ' ') + "Ascii Data", lines[2]);

    // Every non-empty row of the page, in order, its texts without the blanks between.
    std::vector<std::string> printed;
    for (const auto& row : PrintedRows(*view_))
        printed.push_back(row.second);
    std::vector<std::string> saved(lines.begin() + 3, lines.end());
    for (std::string& line : saved)
        line.erase(std::remove(line.begin(), line.end(), ' '), line.end());
    EXPECT_EQ(printed, saved);
    EXPECT_NE(std::string::npos, lines[3].find(",\"q\"")) << lines[3];
    EXPECT_EQ(std::string(27, ' ') + "000 BRK RXO BUF 001" + std::string(25, ' ') + "000       EEE", lines[4])
        << "time counters and line errors in the cells of their records";
}

TEST_F(MonitorExportTest, ASelectionGivesItsLinesAndTheRecordsWithCellsOnThem)
{
    const uint32_t end = view_->LineCount();
    EXPECT_EQ(Export(ExportFormat::Text, AllLines(), false),
              Export(ExportFormat::Text, {0, 1}, false) + Export(ExportFormat::Text, {1, end}, false));
    // The parts meet in the record that the line boundary cuts, if any.
    std::vector<CsvRecord> head = ReadCsv(Export(ExportFormat::Csv, {0, 1}, false));
    const std::vector<CsvRecord> tail = ReadCsv(Export(ExportFormat::Csv, {1, end}, false));
    ASSERT_FALSE(head.empty());
    ASSERT_FALSE(tail.empty());
    head.insert(head.end(), tail.begin() + (head.back() == tail[0] ? 1 : 0), tail.end());
    EXPECT_EQ(ReadCsv(Export(ExportFormat::Csv, AllLines(), false)), head);
}

TEST_F(MonitorExportTest, AFailingSinkOrACancelEndsTheExport)
{
    for (ExportFormat format : {ExportFormat::Text, ExportFormat::Csv}) {
        ExportRequest request;
        request.format = format;
        request.lines = AllLines();
        StringSink failing;
        failing.failAfter = 0;
        EXPECT_EQ(ExportResult::WriteFailed, ExportMonitor(*view_, request, failing));
        request.shouldContinue = [] { return false; };
        StringSink cancelled;
        EXPECT_EQ(ExportResult::Cancelled, ExportMonitor(*view_, request, cancelled));
        EXPECT_TRUE(cancelled.text.empty());
    }
}

}  // namespace
