// The CSV and TSV readers, the input they share with the JSON reader, and
// the way into all three.

#include <unicode/coll.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "ImportInput.h"
#include "Messages.h"
#include "text/RecordText.h"
#include "Workbook.h"

namespace vrindel::cli {

namespace reading {

Input::Input(ByteSource& source) : source_(source) {
    buffer_.reserve(PieceSize + MaxRowBytes);
    while (buffer_.size() < 3 && !ended_)
        more(0);
    if (buffer_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        buffer_.erase(0, 3);
        byteOrderMark_ = true;
    }
}

void Input::fill(std::size_t bytes) {
    while (buffer_.size() < bytes && !ended_)
        readPiece();
}

void Input::more(std::size_t keep) {
    buffer_.erase(0, keep);
    readPiece();
}

void Input::readPiece() {
    const std::size_t had = buffer_.size();
    buffer_.resize(had + PieceSize);
    const std::size_t got = source_.read(buffer_.data() + had, PieceSize);
    buffer_.resize(had + got);
    ended_ = got == 0;
}

}  // namespace reading

namespace {

using reading::Input;
using reading::NeedMore;
using reading::RowSink;
using reading::startRow;

enum class Column { Name, Location, Other };

// What a header cell names: English or Slovak, in any case, with or without
// accents ("Názov", "NAZOV", "položka"), by ICU's Slovak collation at primary
// strength, which tells letters apart and nothing else.
Column columnNamed(std::string_view cell) {
    while (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t'))
        cell.remove_prefix(1);
    while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\t'))
        cell.remove_suffix(1);
    if (cell.empty() || cell.size() > 32)
        return Column::Other;
    static const std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(icu::Locale("sk"), status));
        if (U_FAILURE(status))
            c.reset();
        else
            c->setStrength(icu::Collator::PRIMARY);
        return c;
    }();
    static const std::pair<const char*, Column> names[] = {
        {"name", Column::Name}, {"názov", Column::Name}, {"položka", Column::Name},
        {"location", Column::Location}, {"umiestnenie", Column::Location}};
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(cell.data(), int32_t(cell.size())));
    for (const auto& [known, column] : names) {
        if (!collator) {   // no collation data: English in any ASCII case
            if (text.caseCompare(icu::UnicodeString::fromUTF8(known), U_FOLD_CASE_DEFAULT) == 0)
                return column;
            continue;
        }
        UErrorCode status = U_ZERO_ERROR;
        if (collator->compare(text, icu::UnicodeString::fromUTF8(known), status) == UCOL_EQUAL && U_SUCCESS(status))
            return column;
    }
    return Column::Other;
}

// The fields of one row; their strings are used again row after row.
struct Fields {
    std::vector<std::string> text;
    std::size_t count = 0;

    std::string& next() {
        if (count == text.size())
            text.emplace_back();
        std::string& field = text[count++];
        field.clear();
        return field;
    }
};

// The header's columns: where "name" and "location" are, and how many
// fields a row must have. Other columns are allowed and left out.
struct Columns {
    std::size_t name = std::string::npos;
    std::size_t location = std::string::npos;
    std::size_t count = 0;

    bool read(const Fields& header) {
        count = header.count;
        for (std::size_t k = 0; k < header.count; ++k) {
            const Column column = columnNamed(header.text[k]);
            if (column == Column::Name && name == std::string::npos)
                name = k;
            else if (column == Column::Location && location == std::string::npos)
                location = k;
        }
        return name != std::string::npos && location != std::string::npos;
    }

    void fill(ImportRow& row, Fields& fields) const {
        if (!row.problem.empty())
            return;
        if (fields.count != count) {
            row.problem = trn("{0} field where the header has {1}", "{0} fields where the header has {1}", fields.count,
                              fields.count, count);
            return;
        }
        row.name.swap(fields.text[name]);
        row.location.swap(fields.text[location]);
    }
};

// Worded when they happen, in the language of the messages.
std::string headerProblem() {
    return _("the first line must be a header naming the columns \"name\" and \"location\" "
             "(or \"názov\" and \"umiestnenie\")");
}
std::string fieldTooLong() { return tr("a field longer than {0} bytes", MaxFieldBytes); }
std::string rowTooLong() { return tr("a row runs on for more than {0} bytes without ending", MaxRowBytes); }

// Whether a file that does not say how its bytes are text (no byte order
// mark, no --encoding) is UTF-8 or Windows-1250, from what its bytes show as
// they are read: a sequence that is not UTF-8 is Windows-1250's; a UTF-8
// sequence of a letter Windows-1250 has (Š, č, ľ...) is UTF-8's, for a
// Windows-1250 file holds one only by a rare chance; any other UTF-8
// sequence tells nothing, as a pair of Windows-1250 capitals ("ÚŽ") may
// make one. The first that tells decides; a later line that tells the other
// way makes the file mixed, and nothing of it is imported: read either way,
// some of its lines would come in garbled.
//
// The rows of the first piece are read once all of it has been looked at,
// so there the first telling sequence anywhere decides; past it, rows are
// read as they come, and so a sequence that tells nothing decides for
// UTF-8, as its row is read. What is decided depends on the bytes alone,
// not on how the input comes in.
class EncodingWatch {
public:
    enum class Claim { None, Utf8, Windows1250 };

    // A file that says (or is told) its encoding is never looked at.
    explicit EncodingWatch(Claim told = Claim::None) : claim_(told), told_(told != Claim::None) {}

    bool windows1250() const { return claim_ == Claim::Windows1250; }

    // The first piece, before any row is read: `in` holds all of it and the
    // bytes that end a sequence started there.
    void lookAtFirstPiece(const Input& in) {
        lookTo(in, std::min(in.size(), Input::PieceSize), true);
        if (claim_ == Claim::None && neutralLine_ != 0)
            decide(Claim::Utf8, neutralLine_);
    }
    // Up to `to`, an offset into the buffer of `in` just past a row.
    void lookTo(const Input& in, std::size_t to) { lookTo(in, to, false); }
    // The buffer of `in` let go of its first `bytes` bytes.
    void dropped(std::size_t bytes) { at_ -= std::min(at_, bytes); }

    // The line where the file turned out mixed, 0 while it has not; and why.
    std::size_t mixedLine() const { return mixedLine_; }
    std::string mixedProblem() const {
        if (claimLine_ == mixedLine_)
            return _("mixed encodings: this line is part UTF-8, part not (--encoding says which the file is)");
        return claim_ == Claim::Utf8
                   ? tr("mixed encodings: line {0} is UTF-8, this line is not (--encoding says which the file is)",
                        claimLine_)
                   : tr("mixed encodings: line {0} is Windows-1250, this line UTF-8 (--encoding says which the file "
                        "is)",
                        claimLine_);
    }

private:
    void decide(Claim claim, std::size_t line) {
        claim_ = claim;
        claimLine_ = line;
    }

    void lookTo(const Input& in, std::size_t to, bool firstPiece) {
        if (told_ || mixedLine_ != 0)
            return;
        const auto* s = reinterpret_cast<const std::uint8_t*>(in.data());
        const int32_t size = int32_t(in.size());
        const std::size_t end = std::min(to, in.size());
        while (at_ < end) {
            if (s[at_] < 0x80) {
                line_ += s[at_] == '\n';
                ++at_;
                continue;
            }
            int32_t i = int32_t(at_);
            UChar32 c;
            U8_NEXT(s, i, size, c);
            if (c < 0 && !in.ended() && int32_t(at_) + 4 > size && i == size)
                return;   // cut off by the end of what is read: looked at with the rest
            at_ = std::size_t(i);
            Claim tells = Claim::None;
            if (c < 0)
                tells = Claim::Windows1250;
            else if (c <= 0xFFFF && canStore(char16_t(c)))
                tells = Claim::Utf8;
            if (claim_ == Claim::None) {
                if (tells != Claim::None)
                    decide(tells, line_);
                else if (!firstPiece)
                    decide(Claim::Utf8, line_);
                else if (neutralLine_ == 0)
                    neutralLine_ = line_;
            } else if (tells != Claim::None && tells != claim_) {
                mixedLine_ = line_;
                return;
            }
        }
    }

    Claim claim_;
    bool told_;
    std::size_t at_ = 0;            // the next byte to look at, in the buffer
    std::size_t line_ = 1;          // the line it is on
    std::size_t claimLine_ = 0;     // where the claim was decided
    std::size_t neutralLine_ = 0;   // the first line of the first piece with a sequence that tells nothing
    std::size_t mixedLine_ = 0;
};

EncodingWatch watchEncoding(Input& in, Encoding encoding) {
    if (encoding != Encoding::Auto)
        return EncodingWatch(encoding == Encoding::Windows1250 ? EncodingWatch::Claim::Windows1250
                                                               : EncodingWatch::Claim::Utf8);
    if (in.byteOrderMark())
        return EncodingWatch(EncodingWatch::Claim::Utf8);
    in.fill(Input::PieceSize + 3);   // the rest of a sequence that starts in the first piece
    EncodingWatch watch;
    watch.lookAtFirstPiece(in);
    return watch;
}

// The lines of a CSV or TSV file once split into fields: the first names
// the columns, every later one is a record.
class TableRows {
public:
    TableRows(const RowSink& each, const EncodingWatch& encoding, bool spreadsheet)
        : each_(each), encoding_(encoding), spreadsheet_(spreadsheet) {}

    // False when the header is wrong: nothing after it is read.
    bool take(ImportRow& row, Fields& fields) {
        if (encoding_.windows1250() && row.problem.empty())
            for (std::size_t k = 0; k < fields.count; ++k)
                fields.text[k] = windows1250ToUtf8(fields.text[k]);
        if (haveHeader_) {
            columns_.fill(row, fields);
            if (spreadsheet_ && row.problem.empty()) {
                textOfCell(row.name);
                textOfCell(row.location);
            }
            malformed_ = !row.problem.empty();
            each_(row);
            return true;
        }
        if (!row.problem.empty() || !columns_.read(fields)) {
            fail(row.line, headerProblem());
            return false;
        }
        haveHeader_ = true;
        return true;
    }

    void fail(std::size_t line, const std::string& problem) {
        file_.problem = problem;
        file_.problemLine = line;
    }

    // Whether the last row taken was malformed.
    bool malformed() const { return malformed_; }

    ImportFile finish() {
        if (!haveHeader_ && file_.problem.empty())
            fail(1, headerProblem());
        return std::move(file_);
    }

private:
    // A cell the export put behind an apostrophe, lest it be a formula.
    static void textOfCell(std::string& cell) {
        if (!cell.empty() && cell.front() == '\'' && needsApostrophe(std::string_view(cell).substr(1)))
            cell.erase(0, 1);
    }

    const RowSink& each_;
    const EncodingWatch& encoding_;
    bool spreadsheet_;
    Columns columns_;
    bool haveHeader_ = false;
    bool malformed_ = false;
    ImportFile file_;
};

// What reading at a row's start found.
enum class Step { Row, Blank, TooLong };

// Where the reading goes on when the row just read turns out malformed:
// a quote that ran past a line break may have been typed by mistake, and
// then the lines it swallowed are rows of their own.
struct Resume {
    std::size_t pos = std::string::npos;
    std::size_t line = 0;
};

// One CSV row read from where it starts: its fields, each quoted or plain,
// and the line break that ends it. Where the row starts stays with the
// caller until the row is read: a NeedMore on the way starts it again.
class CsvRowReader {
public:
    CsvRowReader(const Input& in, std::size_t pos, std::size_t line, char delimiter)
        : in_(in), data_(in.data()), pos_(pos), line_(line), start_(pos), delimiter_(delimiter) {}

    // The row, or the blank line, and where the reading goes on after it;
    // TooLong when the row runs past its bound.
    Step read(Fields& fields, ImportRow& row, Resume& resume);
    std::size_t pos() const { return pos_; }
    std::size_t line() const { return line_; }

private:
    bool atLineEnd(std::size_t p) const {
        return !in_.has(p) || data_[p] == '\n' || (data_[p] == '\r' && in_.has(p + 1) && data_[p + 1] == '\n');
    }
    // Past the line break at pos_.
    void skipLineEnd() {
        if (in_.has(pos_) && data_[pos_] == '\r')
            ++pos_;
        if (in_.has(pos_) && data_[pos_] == '\n') {
            ++pos_;
            ++line_;
        }
    }
    bool pastLineBreak();
    // A malformed row: the rest of its line is the row's.
    Step restOfLine() { return pastLineBreak() ? Step::Row : Step::TooLong; }
    // The field from the quote at pos_; a Step when the row ends with it.
    std::optional<Step> quotedField(std::string& value, ImportRow& row, Resume& resume);
    bool toClosingQuote(std::string& value);
    void plainField(std::string& value, ImportRow& row);

    const Input& in_;
    const char* const data_;
    std::size_t pos_, line_;
    const std::size_t start_;
    const char delimiter_;
};

Step CsvRowReader::read(Fields& fields, ImportRow& row, Resume& resume) {
    if (atLineEnd(pos_)) {   // a blank line holds no record
        skipLineEnd();
        return Step::Blank;
    }
    startRow(row, line_);
    resume = {};
    fields.count = 0;
    for (;;) {
        std::string& value = fields.next();
        if (data_[pos_] == '"') {
            if (const std::optional<Step> ended = quotedField(value, row, resume))
                return *ended;
        } else {
            plainField(value, row);
        }
        if (pos_ - start_ > MaxRowBytes)
            return Step::TooLong;
        if (!row.problem.empty())
            return restOfLine();
        if (!in_.has(pos_) || data_[pos_] != delimiter_)
            break;
        ++pos_;
        if (atLineEnd(pos_)) {   // a last field left empty
            fields.next();
            break;
        }
    }
    skipLineEnd();
    return Step::Row;
}

// Past the next line break from pos_, or to the end; false when the row
// has none within its bound.
bool CsvRowReader::pastLineBreak() {
    const std::size_t bound = start_ + MaxRowBytes;
    for (;;) {
        const std::size_t limit = std::min(in_.size(), bound);
        if (pos_ < limit) {
            if (const void* nl = std::memchr(data_ + pos_, '\n', limit - pos_)) {
                pos_ = std::size_t(static_cast<const char*>(nl) - data_) + 1;
                ++line_;
                return true;
            }
            pos_ = limit;
        }
        if (pos_ >= bound)
            return false;
        if (!in_.has(pos_))
            return true;
    }
}

std::optional<Step> CsvRowReader::quotedField(std::string& value, ImportRow& row, Resume& resume) {
    const std::size_t quoteAt = pos_, quoteLine = line_;
    ++pos_;
    const bool closed = toClosingQuote(value);
    if (line_ != quoteLine && resume.pos == std::string::npos) {
        resume.pos = std::size_t(static_cast<const char*>(std::memchr(data_ + quoteAt, '\n', pos_ - quoteAt)) - data_) + 1;
        resume.line = quoteLine + 1;
    }
    if (!closed) {
        row.problem = value.size() > MaxFieldBytes ? tr("a quoted field is not closed within {0} bytes", MaxFieldBytes)
                                                   : std::string(_("a quoted field is not closed"));
        if (resume.pos != std::string::npos)
            return Step::Row;
        pos_ = quoteAt;   // the rest of its line is the row's
        line_ = quoteLine;
        return restOfLine();
    }
    if (!atLineEnd(pos_) && data_[pos_] != delimiter_)
        row.problem = _("text after a field's closing quote");
    return std::nullopt;
}

// The field's text up to its closing quote, and past the quote; false when
// the quote is not closed within the field's bound or the input.
bool CsvRowReader::toClosingQuote(std::string& value) {
    while (value.size() <= MaxFieldBytes && in_.has(pos_)) {
        // Everything up to the next quote is the field's, looked for no
        // further than one byte past the field's bound, so that what is
        // read does not depend on where the input was cut.
        const std::size_t ahead = std::min(in_.size() - pos_, MaxFieldBytes + 1 - value.size());
        const void* q = std::memchr(data_ + pos_, '"', ahead);
        const std::size_t quote = q ? std::size_t(static_cast<const char*>(q) - data_) : pos_ + ahead;
        line_ += std::size_t(std::count(data_ + pos_, data_ + quote, '\n'));
        value.append(data_ + pos_, quote - pos_);
        pos_ = quote;
        if (value.size() > MaxFieldBytes || !in_.has(pos_))
            continue;   // the loop's condition ends it or reads on
        if (in_.has(pos_ + 1) && data_[pos_ + 1] == '"') {
            value += '"';
            pos_ += 2;
            continue;
        }
        ++pos_;
        return true;
    }
    return false;
}

void CsvRowReader::plainField(std::string& value, ImportRow& row) {
    const std::size_t from = pos_;
    std::size_t pos = pos_;
    for (; in_.has(pos); ++pos) {
        const char c = data_[pos];
        if (c == delimiter_ || c == '\n' || (c == '\r' && in_.has(pos + 1) && data_[pos + 1] == '\n'))
            break;
        if (pos - from == MaxFieldBytes) {
            row.problem = fieldTooLong();
            break;
        }
    }
    pos_ = pos;
    if (row.problem.empty()) {
        value.assign(data_ + from, pos - from);
        if (value.find('"') != std::string::npos)
            row.problem = _("a quote inside a field that is not quoted");
    }
}

// Reads one CSV row from `rowPos`, or the blank line there. `rowPos` and
// `rowLine` move on only when it returns; NeedMore leaves them where the
// row starts.
Step csvRow(const Input& in, std::size_t& rowPos, std::size_t& rowLine, Fields& fields, ImportRow& row,
            Resume& resume, char delimiter) {
    CsvRowReader reader(in, rowPos, rowLine, delimiter);
    const Step step = reader.read(fields, row, resume);
    if (step != Step::TooLong) {
        rowPos = reader.pos();
        rowLine = reader.line();
    }
    return step;
}

// One TSV line from `rowPos`, as csvRow.
Step tsvRow(const Input& in, std::size_t& rowPos, std::size_t& rowLine, Fields& fields, ImportRow& row, Resume&) {
    const char* const data = in.data();
    const std::size_t pos = rowPos;
    const std::size_t limit = std::min(in.size(), pos + MaxRowBytes + 1);
    const void* nl = std::memchr(data + pos, '\n', limit - pos);
    std::size_t end = in.size();
    if (nl)
        end = std::size_t(static_cast<const char*>(nl) - data);
    else if (in.size() - pos > MaxRowBytes)
        return Step::TooLong;
    else if (!in.ended())
        throw NeedMore{};
    std::string_view text(data + pos, end - pos);
    rowPos = nl ? end + 1 : end;
    const std::size_t line = rowLine++;
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    if (text.empty())
        return Step::Blank;

    startRow(row, line);
    fields.count = 0;
    std::string* field = &fields.next();
    for (std::size_t i = 0; i < text.size() && row.problem.empty(); ++i) {
        const char c = text[i];
        if (c == '\t') {
            field = &fields.next();
        } else if (c != '\\') {
            *field += c;
        } else if (i + 1 == text.size()) {
            row.problem = _("a backslash at the end of the line");
        } else {
            switch (text[++i]) {
            case '\\': *field += '\\'; break;
            case 't': *field += '\t'; break;
            case 'n': *field += '\n'; break;
            case 'r': *field += '\r'; break;
            default: row.problem = tr("an unknown escape \"\\{0}\"", text[i]);
            }
        }
        if (field->size() > MaxFieldBytes)
            row.problem = fieldTooLong();
    }
    return Step::Row;
}

template <typename ReadRow>
ImportFile readTable(Input& in, const RowSink& each, EncodingWatch& encoding, bool spreadsheet, ReadRow readRow) {
    TableRows rows(each, encoding, spreadsheet);
    Fields fields;
    ImportRow row;
    Resume resume;
    std::size_t pos = 0, line = 1;
    for (;;) {
        Step step;
        try {
            if (!in.has(pos))
                break;
            step = readRow(in, pos, line, fields, row, resume);
        } catch (const NeedMore&) {
            in.more(pos);
            encoding.dropped(pos);
            pos = 0;
            continue;
        }
        encoding.lookTo(in, pos);
        if (encoding.mixedLine() != 0) {
            rows.fail(encoding.mixedLine(), encoding.mixedProblem());
            break;
        }
        if (step == Step::TooLong) {
            rows.fail(line, rowTooLong());
            break;
        }
        if (step == Step::Blank)
            continue;
        if (!rows.take(row, fields))
            break;
        if (rows.malformed() && resume.pos != std::string::npos) {
            pos = resume.pos;
            line = resume.line;
        }
    }
    return rows.finish();
}

// The whole of a string, as one piece.
class StringSource : public ByteSource {
public:
    explicit StringSource(std::string_view data) : data_(data) {}
    std::size_t read(char* into, std::size_t room) override {
        const std::size_t n = std::min(room, data_.size());
        std::memcpy(into, data_.data(), n);
        data_.remove_prefix(n);
        return n;
    }

private:
    std::string_view data_;
};

}  // namespace

namespace reading {

struct CellTable::Rows {
    explicit Rows(const RowSink& each) : table(each, utf8, false) {}

    EncodingWatch utf8{EncodingWatch::Claim::Utf8};   // the cells are UTF-8 already
    TableRows table;
    Fields fields;
    ImportRow row;
    std::size_t width = 0;   // the header's cells; 0 before the header
    std::size_t cells = 0;   // in all rows so far
};

CellTable::CellTable(const RowSink& each) : rows_(std::make_unique<Rows>(each)) {}
CellTable::~CellTable() = default;

bool CellTable::row(std::size_t line, std::vector<std::string>& cells) {
    rows_->cells += cells.size();
    if (rows_->cells > MaxSheetCells) {
        rows_->table.fail(line, tr("a sheet of more than {0} cells", MaxSheetCells));
        return false;
    }
    while (!cells.empty() && cells.back().empty())
        cells.pop_back();
    if (cells.empty())
        return true;   // a blank row holds no record
    Rows& r = *rows_;
    startRow(r.row, line);
    r.fields.count = 0;
    for (std::string& cell : cells) {
        if (cell.size() > MaxFieldBytes && r.row.problem.empty())
            r.row.problem = fieldTooLong();
        r.fields.next().swap(cell);
    }
    while (r.fields.count < r.width)
        r.fields.next();
    if (!r.table.take(r.row, r.fields))
        return false;
    if (r.width == 0)
        r.width = r.fields.count;
    return true;
}

ImportFile CellTable::finish(const std::string& problem) {
    if (!problem.empty())
        rows_->table.fail(0, problem);
    return rows_->table.finish();
}

}  // namespace reading

char sniffDelimiter(std::string_view headerLine) {
    std::size_t comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (const char c : headerLine) {
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == '\n')
            break;
        else if (c == ',')
            ++comma;
        else if (c == ';')
            ++semicolon;
        else if (c == '\t')
            ++tab;
    }
    if (semicolon > comma && semicolon >= tab)
        return ';';
    if (tab > comma && tab > semicolon)
        return '\t';
    return ',';
}

ImportFile readRecords(Format format, ByteSource& source, const std::function<void(ImportRow&)>& each,
                       const TableDialect& dialect) {
    if (format == Format::Text) {
        ImportFile file;
        file.problem = _("plain text cannot be imported; use CSV, TSV or JSON");
        return file;
    }
    Input in(source);
    in.fill(4);
    // A zip archive begins with its own signature: after a byte order mark
    // the same bytes are text that happens to begin so.
    if (isWorkbook(format) || (!in.byteOrderMark() && startsAsZip(std::string_view(in.data(), in.size()))))
        return reading::readWorkbook(in, each);
    switch (format) {
    case Format::Csv: {
        EncodingWatch encoding = watchEncoding(in, dialect.encoding);
        char delimiter = dialect.delimiter;
        if (delimiter == 0) {
            in.fill();   // the header line is within the first piece, or too long to be one
            delimiter = sniffDelimiter(std::string_view(in.data(), std::min(in.size(), MaxRowBytes)));
        }
        return readTable(in, each, encoding, delimiter == ';',
                         [delimiter](const Input& input, std::size_t& pos, std::size_t& line, Fields& fields,
                                     ImportRow& row, Resume& resume) {
                             return csvRow(input, pos, line, fields, row, resume, delimiter);
                         });
    }
    case Format::Tsv: {
        EncodingWatch encoding = watchEncoding(in, dialect.encoding);
        return readTable(in, each, encoding, false, tsvRow);
    }
    case Format::Json: return reading::readJson(in, each);
    case Format::Text:
    case Format::Xlsx:
    case Format::Ods: break;
    }
    return {};
}

ImportFile readRecords(Format format, std::string_view data, const std::function<void(ImportRow&)>& each,
                       const TableDialect& dialect) {
    StringSource source(data);
    return readRecords(format, source, each, dialect);
}

ImportFile readRecords(Format format, std::string_view data, const TableDialect& dialect) {
    std::vector<ImportRow> rows;
    ImportFile file = readRecords(format, data, [&](ImportRow& row) { rows.push_back(row); }, dialect);
    file.rows = std::move(rows);
    return file;
}

}  // namespace vrindel::cli
