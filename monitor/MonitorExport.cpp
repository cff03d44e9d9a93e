#include "MonitorExport.h"

#include "Cp932.h"
#include "MonitorGeometry.h"

#include <windows.h>
// Surface::DrawText, not the user32 macro of that name.
#undef DrawText

#include <cstdio>
#include <vector>

namespace {

using namespace MonitorGeometry;

constexpr size_t kSinkPieceBytes = 64 * 1024;
constexpr uint32_t kRecordsBetweenChecks = 4096;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kLineEnd[] = "\r\n";
constexpr UINT kJapaneseCodePage = 932;

// Text rows of one display line, top to bottom: received data; seconds of
// the time counters and line errors; milliseconds; sent data.
constexpr size_t kRowsPerLine = 4;
// Columns of the text rows: counter, row label, 16 hexadecimal cells of
// four (time counters and line error codes take three), then the text column.
constexpr size_t kLabelColumn = 9;
constexpr size_t kHexColumn = 11;
constexpr size_t kHexCellColumns = 4;
constexpr size_t kTextColumn = kHexColumn + kHexCellColumns * CellsPerLine + 1;

// "Vantrelログ" in cp932, as the printed page header.
constexpr char kTitle[] = "Vantrel\x83\x8D\x83\x4F";

void AppendUtf8(std::string& out, uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void AppendUtf16AsUtf8(std::string& out, const WCHAR* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        uint32_t code = static_cast<uint16_t>(text[i]);
        const bool highSurrogate = code >= 0xD800 && code < 0xDC00;
        if (highSurrogate && i + 1 < length && static_cast<uint16_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<uint16_t>(text[i + 1]) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint16_t>(text[++i]) - 0xDC00);
        }
        AppendUtf8(out, code);
    }
}

bool IsAscii(std::string_view text)
{
    for (char c : text) {
        if (static_cast<uint8_t>(c) >= 0x80)
            return false;
    }
    return true;
}

void AppendCp932AsUtf8(std::string& out, std::string_view text)
{
    if (IsAscii(text)) {
        out.append(text);
        return;
    }
    const int length = MultiByteToWideChar(kJapaneseCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<WCHAR> wide(static_cast<size_t>(length > 0 ? length : 0));
    if (length > 0)
        MultiByteToWideChar(kJapaneseCodePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    AppendUtf16AsUtf8(out, wide.data(), wide.size());
}

// Collects what it is given and hands the sink pieces of about 64 KB.
class PieceWriter {
public:
    PieceWriter(ExportSink& sink, const std::function<bool()>& shouldContinue)
        : sink_(sink), shouldContinue_(shouldContinue)
    {
        buffer_.reserve(kSinkPieceBytes + 4096);
    }

    std::string& Buffer() { return buffer_; }

    // Hands a full piece on; false when the sink failed or the user cancelled.
    bool Step()
    {
        if (buffer_.size() >= kSinkPieceBytes && !Flush())
            return false;
        if (shouldContinue_ && !shouldContinue_()) {
            cancelled_ = true;
            return false;
        }
        return true;
    }

    ExportResult Finish()
    {
        if (!cancelled_ && shouldContinue_ && !shouldContinue_())
            cancelled_ = true;
        if (cancelled_)
            return ExportResult::Cancelled;
        return failed_ || !Flush() ? ExportResult::WriteFailed : ExportResult::Written;
    }

private:
    bool Flush()
    {
        if (!failed_ && !buffer_.empty() && !sink_.Write(buffer_))
            failed_ = true;
        buffer_.clear();
        return !failed_;
    }

    ExportSink& sink_;
    const std::function<bool()>& shouldContinue_;
    std::string buffer_;
    bool failed_ = false;
    bool cancelled_ = false;
};

// A surface that keeps the texts a layout pass draws as rows of characters,
// one column per text cell and four per hexadecimal cell.
class TextPage : public Surface {
public:
    explicit TextPage(uint32_t lines) : rows_(lines * kRowsPerLine) {}

    static size_t ColumnOf(int x)
    {
        if (x < LABEL_X)
            return 0;
        if (x < HEX_COLUMN_X)
            return kLabelColumn;
        if (x < TEXT_COLUMN_X)
            return kHexColumn + kHexCellColumns * static_cast<size_t>((x - HEX_COLUMN_X) / HEX_CELL_WIDTH);
        return kTextColumn + static_cast<size_t>((x - TEXT_COLUMN_X) / TEXT_CELL_WIDTH);
    }

    static void Put(std::string& row, size_t column, std::string_view text)
    {
        if (row.size() < column + text.size())
            row.resize(column + text.size(), ' ');
        row.replace(column, text.size(), text);
    }

    void FillRect(const Rect&, Color) override {}
    void DrawLine(int, int, int, int, int, Color) override {}
    int TextWidth(Font, std::string_view) override { return 0; }
    void FillGlyphBox(Color) override {}

    void DrawText(int x, int y, Font, Color, Color, std::string_view text) override
    {
        if (std::string* row = RowAt(y))
            Put(*row, ColumnOf(x), text);
    }

    void DrawGlyphBoxText(int, int, Color, Color, std::string_view text) override { glyph_.assign(text); }

    // The whole character goes to the lead byte's cell; its right half adds
    // nothing, as the two bytes take two columns.
    void CopyFromGlyphBox(const Rect& source, int x, int y) override
    {
        std::string* row = RowAt(y);
        if (source.x == 0 && row != nullptr)
            Put(*row, ColumnOf(x), glyph_);
    }

    // The first `lines` lines, each row without its trailing blanks; the
    // rows between the data rows only where they hold something.
    void AppendLines(std::string& out, uint32_t lines) const
    {
        for (size_t row = 0; row < lines * kRowsPerLine; ++row) {
            std::string_view text = rows_[row];
            const size_t end = text.find_last_not_of(' ');
            text = end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
            const bool dataRow = row % kRowsPerLine == 0 || row % kRowsPerLine == kRowsPerLine - 1;
            if (text.empty() && !dataRow)
                continue;
            AppendCp932AsUtf8(out, text);
            out += kLineEnd;
        }
    }

private:
    std::string* RowAt(int y)
    {
        if (y < HEADER_HEIGHT)
            return nullptr;
        const size_t line = static_cast<size_t>((y - HEADER_HEIGHT) / LINE_HEIGHT);
        size_t row;
        switch ((y - HEADER_HEIGHT) % LINE_HEIGHT) {
        case RECEIVED_ROW: row = 0; break;
        case SECONDS_ROW:
        case LINE_ERROR_ROW: row = 1; break;
        case MILLISECONDS_ROW: row = 2; break;
        case SENT_ROW:
        case SENT_COUNTER_ROW: row = 3; break;
        default: return nullptr;
        }
        const size_t index = line * kRowsPerLine + row;
        return index < rows_.size() ? &rows_[index] : nullptr;
    }

    std::vector<std::string> rows_;
    std::string glyph_;
};

void AppendTextHeader(std::string& out, const ExportRequest& request)
{
    AppendCp932AsUtf8(out, std::string(kTitle) + "  " + request.savedAt);
    out += kLineEnd;
    AppendCp932AsUtf8(out, "Port:" + request.portName + (request.lineSettings.empty() ? "" : "  ") +
                               request.lineSettings);
    out += kLineEnd;
    std::string heads;
    TextPage::Put(heads, TextPage::ColumnOf(COUNTER_X), "Counter");
    TextPage::Put(heads, TextPage::ColumnOf(HEX_COLUMN_X), "Binary Data");
    TextPage::Put(heads, TextPage::ColumnOf(TEXT_COLUMN_X), "Ascii Data");
    out += heads + kLineEnd;
}

// The lines by the layout pass the printer uses, a page's most at a time.
ExportResult ExportText(const MonitorView& view, const ExportRequest& request, PieceWriter& writer)
{
    if (request.asFile)
        AppendTextHeader(writer.Buffer(), request);
    uint32_t first = request.lines.first;
    const uint32_t end = std::min(request.lines.end, view.LineCount());
    while (first < end) {
        const uint32_t lines = std::min(end - first, MAX_LINES_PER_PASS);
        TextPage page(lines);
        PaintRequest pass;
        pass.height = static_cast<int>(lines) * LINE_HEIGHT + 20;
        pass.firstLine = first;
        pass.lineLimit = lines;
        pass.printColours = true;
        const PaintResult drawn = view.PaintLines(page, pass);
        page.AppendLines(writer.Buffer(), drawn.linesDrawn);
        if (drawn.linesDrawn == 0 || !writer.Step())
            break;
        first = drawn.nextLine;
    }
    return writer.Finish();
}

// Days since 1970-01-01 as a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int* year, unsigned* month, unsigned* day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    *year = static_cast<int>(static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0));
}

// "2026/12/09 14:05:52.123456" of a system time stamp moved to local time.
void AppendLocalTime(std::string& out, uint64_t stamp, int64_t localOffset)
{
    constexpr int64_t kUnitsPerSecond = 10000000;
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    const int64_t local = static_cast<int64_t>(stamp) + localOffset;
    const int64_t seconds = local / kUnitsPerSecond - kSecondsFrom1601To1970;
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t ofDay = seconds - days * 86400;
    int year;
    unsigned month, day;
    CivilFromDays(days, &year, &month, &day);
    char text[64];
    snprintf(text, sizeof text, "%04d/%02u/%02u %02d:%02d:%02d.%06d", year, month, day, static_cast<int>(ofDay / 3600),
             static_cast<int>(ofDay / 60 % 60), static_cast<int>(ofDay % 60),
             static_cast<int>(local % kUnitsPerSecond / 10));
    out += text;
}

// The text column of a record: characters as the monitor shows them, two-byte
// characters decoded, other bytes escaped.
void AppendRecordText(std::string& out, const uint8_t* data, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t byte = data[i];
        if (i + 1 < length && Cp932IsDisplayablePair(byte, data[i + 1])) {
            AppendCp932AsUtf8(out, std::string_view(reinterpret_cast<const char*>(data + i), 2));
            ++i;
        } else if (byte == '\\') {
            out += "\\\\";
        } else if (byte >= 0x20 && byte <= 0x7E) {
            out += static_cast<char>(byte);
        } else if (byte >= 0xA1 && byte <= 0xDF) {
            AppendUtf8(out, 0xFF61 + (byte - 0xA1u));  // one-byte katakana
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
}

// RFC 4180: a field with a comma, a quote or a line break goes in quotes,
// its quotes doubled.
void AppendField(std::string& out, std::string_view field)
{
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(field);
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

const char* DirectionOf(uint8_t kind)
{
    switch (kind) {
    case RecordKind_Write: return "送信";
    case RecordKind_Read: return "受信";
    default: return "異常";
    }
}

class CsvRow {
public:
    explicit CsvRow(std::string& out) : out_(out) {}
    ~CsvRow() { out_ += kLineEnd; }
    std::string& Field()
    {
        if (fields_++ > 0)
            out_ += ',';
        return out_;
    }
    void Field(std::string_view text) { AppendField(Field(), text); }

private:
    std::string& out_;
    int fields_ = 0;
};

void AppendCsvRecord(std::string& out, const RecordView& record, uint64_t previousStamp, int64_t localOffset)
{
    const bool data = record.kind == RecordKind_Read || record.kind == RecordKind_Write;
    CsvRow row(out);
    std::string& stamp = row.Field();
    if (record.timestamp != 0)
        AppendLocalTime(stamp, record.timestamp, localOffset);
    std::string& interval = row.Field();
    if (record.timestamp != 0 && previousStamp != 0) {
        char text[32];
        const int64_t units = static_cast<int64_t>(record.timestamp - previousStamp);
        snprintf(text, sizeof text, "%.3f", static_cast<double>(units) / 10000.0);
        interval += text;
    }
    row.Field(DirectionOf(record.kind));
    row.Field(std::to_string(data ? record.length : 0));
    std::string& hex = row.Field();
    std::string text;
    std::string errors;
    for (uint32_t i = 0; data && i < record.length; ++i) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        if (i > 0)
            hex += ' ';
        hex += kDigits[record.data[i] >> 4];
        hex += kDigits[record.data[i] & 0xF];
    }
    if (data)
        AppendRecordText(text, record.data, record.length);
    for (uint32_t i = 0; !data && i < record.length; ++i) {
        if (i > 0)
            errors += ' ';
        AppendCp932AsUtf8(errors, LineErrorText(record.data[i]));
    }
    row.Field(text);
    row.Field(errors);
}

// The records with a cell on the chosen lines.
ExportResult ExportCsv(const MonitorView& view, const ExportRequest& request, PieceWriter& writer)
{
    const RecordStore& store = view.Store();
    if (request.asFile)
        writer.Buffer() += std::string("日時,間隔(ms),方向,バイト数,データ(16進),データ(テキスト),回線エラー") + kLineEnd;
    const uint32_t displayed = store.DisplayedCells();
    const uint64_t firstCell = uint64_t{request.lines.first} * CellsPerLine;
    const uint64_t endCell = uint64_t{request.lines.end} * CellsPerLine;
    if (request.lines.end <= request.lines.first || firstCell >= displayed)
        return writer.Finish();
    const CellCursor start = store.Locate(static_cast<uint32_t>(firstCell)).cursor;
    const CellCursor stop = store.Locate(static_cast<uint32_t>(std::min<uint64_t>(endCell, displayed))).cursor;
    // A record cut by the end of the range has cells on it.
    const uint8_t* end = stop.node != nullptr && stop.index == 0 ? stop.node : nullptr;
    const uint8_t* last = stop.node != nullptr && stop.index != 0 ? stop.node : nullptr;
    // The time since the previous record counts records before the range too.
    RecordWalk walk = store.FirstRecord();
    RecordView record;
    uint64_t previousStamp = 0;
    while (walk.node != start.node && store.NextRecord(walk, record)) {
        if (record.timestamp != 0)
            previousStamp = record.timestamp;
    }
    uint32_t sinceCheck = 0;
    while (walk.node != nullptr && walk.node != end && store.NextRecord(walk, record)) {
        AppendCsvRecord(writer.Buffer(), record, previousStamp, request.localOffset);
        if (record.timestamp != 0)
            previousStamp = record.timestamp;
        if (record.node == last)
            break;
        if (++sinceCheck == kRecordsBetweenChecks || writer.Buffer().size() >= kSinkPieceBytes) {
            sinceCheck = 0;
            if (!writer.Step())
                break;
        }
    }
    return writer.Finish();
}

}  // namespace

std::string Utf8FromCp932(std::string_view text)
{
    std::string out;
    AppendCp932AsUtf8(out, text);
    return out;
}

ExportResult ExportMonitor(const MonitorView& view, const ExportRequest& request, ExportSink& sink)
{
    PieceWriter writer(sink, request.shouldContinue);
    if (request.asFile)
        writer.Buffer() += kByteOrderMark;
    return request.format == ExportFormat::Text ? ExportText(view, request, writer)
                                                : ExportCsv(view, request, writer);
}
