#include "Formats.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>

#include <nlohmann/json.hpp>

#include "RecordText.h"

namespace vrindel::cli {

const std::map<std::string, Format>& formatNames() {
    static const std::map<std::string, Format> names{
        {"text", Format::Text}, {"csv", Format::Csv}, {"tsv", Format::Tsv}, {"json", Format::Json}};
    return names;
}

std::optional<Format> formatOfFile(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos)
        return std::nullopt;
    std::string ext(path.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == "csv")
        return Format::Csv;
    if (ext == "tsv" || ext == "tab")
        return Format::Tsv;
    if (ext == "json")
        return Format::Json;
    return std::nullopt;
}

// --- Writing ------------------------------------------------------------------------------

namespace {

constexpr std::size_t BufferSize = 1 << 16;
constexpr std::size_t TextColumns = 32;   // room for the longest name and a space

void appendHex(std::string& out, const char* prefix, unsigned value) {
    static const char digits[] = "0123456789abcdef";
    out += prefix;
    out += digits[(value >> 4) & 0xF];
    out += digits[value & 0xF];
}

// The two-byte UTF-8 form of U+0080..U+009F, the C1 controls.
bool isC1(std::string_view s, std::size_t i) {
    return static_cast<unsigned char>(s[i]) == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0;
}

}  // namespace

RecordWriter::RecordWriter(Format format, std::FILE* out) : format_(format), out_(out) {
    buffer_.reserve(BufferSize + 1024);
    if (format_ == Format::Csv)
        buffer_ += "name,location\r\n";
    else if (format_ == Format::Tsv)
        buffer_ += "name\tlocation\n";
    else if (format_ == Format::Json)
        buffer_ += "[";
}

RecordWriter::~RecordWriter() = default;

void RecordWriter::field(std::string_view s) {
    switch (format_) {
    case Format::Text:
        // For people at a terminal: control characters are shown, never sent.
        for (std::size_t i = 0; i < s.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c < 0x20 || c == 0x7F)
                appendHex(buffer_, "\\x", c);
            else if (isC1(s, i))
                appendHex(buffer_, "\\x", static_cast<unsigned char>(s[++i]));
            else
                buffer_ += char(c);
        }
        break;
    case Format::Csv:
        if (s.find_first_of(",\"\r\n") == std::string_view::npos) {
            buffer_ += s;
        } else {
            buffer_ += '"';
            for (char c : s) {
                if (c == '"')
                    buffer_ += '"';
                buffer_ += c;
            }
            buffer_ += '"';
        }
        break;
    case Format::Tsv:
        for (char c : s) {
            switch (c) {
            case '\\': buffer_ += "\\\\"; break;
            case '\t': buffer_ += "\\t"; break;
            case '\n': buffer_ += "\\n"; break;
            case '\r': buffer_ += "\\r"; break;
            default: buffer_ += c;
            }
        }
        break;
    case Format::Json:
        buffer_ += '"';
        for (std::size_t i = 0; i < s.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            switch (c) {
            case '"': buffer_ += "\\\""; break;
            case '\\': buffer_ += "\\\\"; break;
            case '\n': buffer_ += "\\n"; break;
            case '\r': buffer_ += "\\r"; break;
            case '\t': buffer_ += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F)
                    appendHex(buffer_, "\\u00", c);
                else if (isC1(s, i))
                    appendHex(buffer_, "\\u00", static_cast<unsigned char>(s[++i]));
                else
                    buffer_ += char(c);
            }
        }
        buffer_ += '"';
        break;
    }
}

void RecordWriter::record(std::string_view name, std::string_view location) {
    utf8_ = windows1250ToUtf8(name);
    switch (format_) {
    case Format::Text: {
        const std::size_t before = buffer_.size();
        field(utf8_);
        std::size_t columns = 0;
        for (std::size_t i = before; i < buffer_.size(); ++i)
            columns += (static_cast<unsigned char>(buffer_[i]) & 0xC0) != 0x80;
        buffer_.append(columns < TextColumns ? TextColumns - columns : 1, ' ');
        field(windows1250ToUtf8(location));
        buffer_ += '\n';
        break;
    }
    case Format::Csv:
        field(utf8_);
        buffer_ += ',';
        field(windows1250ToUtf8(location));
        buffer_ += "\r\n";
        break;
    case Format::Tsv:
        field(utf8_);
        buffer_ += '\t';
        field(windows1250ToUtf8(location));
        buffer_ += '\n';
        break;
    case Format::Json:
        buffer_ += first_ ? "\n  {\"name\": " : ",\n  {\"name\": ";
        field(utf8_);
        buffer_ += ", \"location\": ";
        field(windows1250ToUtf8(location));
        buffer_ += '}';
        break;
    }
    first_ = false;
    flushIfFull();
}

void RecordWriter::flushIfFull() {
    if (buffer_.size() < BufferSize)
        return;
    if (!failed_ && std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size())
        failed_ = true;
    buffer_.clear();
}

bool RecordWriter::finish() {
    if (format_ == Format::Json)
        buffer_ += first_ ? "]\n" : "\n]\n";
    if (!failed_ && !buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size())
        failed_ = true;
    buffer_.clear();
    if (std::fflush(out_) != 0)
        failed_ = true;
    return !failed_;
}

// --- Reading ------------------------------------------------------------------------------

namespace {

std::string lowerTrimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
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
            const std::string h = lowerTrimmed(header.text[k]);
            if (h == "name" && name == std::string::npos)
                name = k;
            else if (h == "location" && location == std::string::npos)
                location = k;
        }
        return name != std::string::npos && location != std::string::npos;
    }

    void fill(ImportRow& row, Fields& fields) const {
        if (!row.problem.empty())
            return;
        if (fields.count != count) {
            row.problem = std::to_string(fields.count) + (fields.count == 1 ? " field" : " fields") +
                          " where the header has " + std::to_string(count);
            return;
        }
        row.name.swap(fields.text[name]);
        row.location.swap(fields.text[location]);
    }
};

const char* const HeaderProblem = "the first line must be a header naming the columns \"name\" and \"location\"";

std::string_view withoutBom(std::string_view data) {
    if (data.substr(0, 3) == "\xEF\xBB\xBF")
        data.remove_prefix(3);
    return data;
}

using RowSink = std::function<void(ImportRow&)>;

void startRow(ImportRow& row, std::size_t line) {
    row.line = line;
    row.name.clear();
    row.location.clear();
    row.problem.clear();
}

// The lines of a CSV or TSV file once split into fields: the first names
// the columns, every later one is a record.
class TableRows {
public:
    explicit TableRows(const RowSink& each) : each_(each) {}

    // False when the header is wrong: nothing after it is read.
    bool take(ImportRow& row, Fields& fields) {
        if (haveHeader_) {
            columns_.fill(row, fields);
            each_(row);
            return true;
        }
        if (!row.problem.empty() || !columns_.read(fields)) {
            fail(row.line);
            return false;
        }
        haveHeader_ = true;
        return true;
    }

    ImportFile finish() {
        if (!haveHeader_ && file_.problem.empty())
            fail(1);
        return std::move(file_);
    }

private:
    void fail(std::size_t line) {
        file_.problem = HeaderProblem;
        file_.problemLine = line;
    }

    const RowSink& each_;
    Columns columns_;
    bool haveHeader_ = false;
    ImportFile file_;
};

ImportFile readCsv(std::string_view data, const RowSink& each) {
    TableRows rows(each);
    std::size_t pos = 0, line = 1;
    const std::size_t size = data.size();
    Fields fields;
    ImportRow row;

    auto atLineEnd = [&](std::size_t p) {
        return p >= size || data[p] == '\n' || (data[p] == '\r' && p + 1 < size && data[p + 1] == '\n');
    };
    auto skipLineEnd = [&] {
        if (pos < size && data[pos] == '\r')
            ++pos;
        if (pos < size && data[pos] == '\n') {
            ++pos;
            ++line;
        }
    };

    while (pos < size) {
        if (atLineEnd(pos)) {   // a blank line holds no record
            skipLineEnd();
            continue;
        }
        startRow(row, line);
        fields.count = 0;
        for (;;) {
            std::string& value = fields.next();
            if (data[pos] == '"') {
                ++pos;
                bool closed = false;
                while (pos < size) {
                    // Everything up to the next quote is the field's.
                    const std::size_t quote = std::min(data.find('"', pos), size);
                    line += std::size_t(std::count(data.begin() + std::ptrdiff_t(pos),
                                                   data.begin() + std::ptrdiff_t(quote), '\n'));
                    value.append(data.substr(pos, quote - pos));
                    pos = quote;
                    if (pos == size)
                        break;
                    if (pos + 1 < size && data[pos + 1] == '"') {
                        value += '"';
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    closed = true;
                    break;
                }
                if (!closed) {
                    row.problem = "a quoted field is not closed";
                } else if (pos < size && data[pos] != ',' && !atLineEnd(pos)) {
                    row.problem = "text after a field's closing quote";
                    while (pos < size && data[pos] != '\n')
                        ++pos;
                }
            } else {
                const std::size_t from = pos;
                while (pos < size && data[pos] != ',' && !atLineEnd(pos))
                    ++pos;
                value.assign(data.substr(from, pos - from));
                if (value.find('"') != std::string::npos && row.problem.empty())
                    row.problem = "a quote inside a field that is not quoted";
            }
            if (pos < size && data[pos] == ',' && row.problem.empty()) {
                ++pos;
                if (pos >= size || atLineEnd(pos)) {   // a last field left empty
                    fields.next();
                    break;
                }
                continue;
            }
            break;
        }
        skipLineEnd();

        if (!rows.take(row, fields))
            break;
    }
    return rows.finish();
}

ImportFile readTsv(std::string_view data, const RowSink& each) {
    TableRows rows(each);
    Fields fields;
    std::size_t line = 0;
    ImportRow row;
    for (std::size_t pos = 0; pos < data.size();) {
        std::size_t end = data.find('\n', pos);
        if (end == std::string_view::npos)
            end = data.size();
        std::string_view text = data.substr(pos, end - pos);
        pos = end + 1;
        ++line;
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        if (text.empty())
            continue;

        startRow(row, line);
        fields.count = 0;
        std::string* field = &fields.next();
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '\t') {
                field = &fields.next();
            } else if (c != '\\') {
                *field += c;
            } else if (i + 1 == text.size()) {
                row.problem = "a backslash at the end of the line";
            } else {
                switch (text[++i]) {
                case '\\': *field += '\\'; break;
                case 't': *field += '\t'; break;
                case 'n': *field += '\n'; break;
                case 'r': *field += '\r'; break;
                default:
                    if (row.problem.empty())
                        row.problem = std::string("an unknown escape \"\\") + text[i] + "\"";
                }
            }
        }
        if (!rows.take(row, fields))
            break;
    }
    return rows.finish();
}

// An iterator over the data that counts the line breaks the JSON parser has
// read, so that each element is reported on the line it begins.
class LineCountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    LineCountingIterator(const char* at, std::size_t* line) : at_(at), line_(line) {}
    reference operator*() const { return *at_; }
    LineCountingIterator& operator++() {
        if (*at_ == '\n')
            ++*line_;
        ++at_;
        return *this;
    }
    LineCountingIterator operator++(int) {
        LineCountingIterator before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const LineCountingIterator& a, const LineCountingIterator& b) { return a.at_ == b.at_; }

private:
    const char* at_;
    std::size_t* line_;
};

class JsonRows : public nlohmann::json_sax<nlohmann::json> {
public:
    JsonRows(ImportFile& file, const std::size_t& line, const RowSink& each) : file_(file), line_(line), each_(each) {}

    bool null() override { return value("null"); }
    bool boolean(bool) override { return value("a true or false"); }
    bool number_integer(number_integer_t) override { return value("a number"); }
    bool number_unsigned(number_unsigned_t) override { return value("a number"); }
    bool number_float(number_float_t, const string_t&) override { return value("a number"); }
    bool binary(binary_t&) override { return value("binary data"); }
    bool string(string_t& s) override {
        if (inRecord() && row_.problem.empty()) {
            std::string& field = key_ == Key::Name ? row_.name : row_.location;
            bool& seen = key_ == Key::Name ? nameSeen_ : locationSeen_;
            if (seen)
                row_.problem = std::string("\"") + keyName() + "\" is given twice";
            seen = true;
            field.swap(s);
            return true;
        }
        return value("a string");
    }
    bool start_object(std::size_t) override { return open("an object"); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open("an array"); }
    bool end_array() override { return close(); }
    bool key(string_t& k) override {
        if (depth_ == 2)
            key_ = k == "name" ? Key::Name : k == "location" ? Key::Location : Key::Other;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        file_.problem = "not valid JSON: ";
        // The library's text begins with its own prefix; keep the reason.
        std::string what = e.what();
        const std::size_t colon = what.find(": ");
        file_.problem += colon == std::string::npos ? what : what.substr(colon + 2);
        file_.problemLine = line_;
        return false;
    }

private:
    enum class Key { Name, Location, Other };

    const char* keyName() const { return key_ == Key::Name ? "name" : "location"; }
    // A value directly under "name" or "location" of an element that is an object.
    bool inRecord() const { return depth_ == 2 && object_ && key_ != Key::Other; }

    // A value where a record's text belongs is a problem of that record; a
    // value elsewhere in a record is left alone.
    bool value(const char* what) {
        if (depth_ == 0)
            return notArray();
        if (depth_ == 1) {
            startRow(row_, line_);
            row_.problem = std::string("an element is ") + what + ", not an object";
            each_(row_);
        } else if (inRecord() && row_.problem.empty()) {
            row_.problem = std::string("\"") + keyName() + "\" is " + what + ", not a string";
        }
        return true;
    }
    bool open(const char* what) {
        if (depth_ == 0) {
            if (std::string_view(what) != "an array")
                return notArray();
        } else if (depth_ == 1) {
            if (std::string_view(what) == "an array") {
                value(what);
            } else {
                startRow(row_, line_);
                object_ = true;
                nameSeen_ = locationSeen_ = false;
                key_ = Key::Other;
            }
        } else if (depth_ == 2) {
            value(what);
        }
        ++depth_;
        return true;
    }
    bool close() {
        --depth_;
        if (depth_ == 1) {
            if (object_) {
                if (row_.problem.empty() && (!nameSeen_ || !locationSeen_))
                    row_.problem = std::string("no \"") + (nameSeen_ ? "location" : "name") + "\"";
                object_ = false;
                each_(row_);
            }
            key_ = Key::Other;
        }
        return true;
    }
    bool notArray() {
        file_.problem = "the file must hold one JSON array of objects with \"name\" and \"location\"";
        file_.problemLine = line_;
        return false;
    }

    ImportFile& file_;
    const std::size_t& line_;
    const RowSink& each_;
    ImportRow row_;
    int depth_ = 0;
    bool object_ = false;   // the element being read is an object
    Key key_ = Key::Other;
    bool nameSeen_ = false;
    bool locationSeen_ = false;
};

// The JSON this program writes, and nearly every list of records, is one
// array of flat objects whose values are strings, each with one "name" and
// one "location". This reads exactly that and nothing more, several times
// faster than the general parser. At anything else (an error, a number, a
// missing key...) it stops, and the general parser reads the file from the
// start, its first rows being the ones already handed out: whatever is read
// here, the general parser reads the same, so every message stays its.
// The bytes a JSON string holds as they are: ASCII but for controls, quote
// and backslash.
constexpr std::array<bool, 256> PlainInString = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c)
        plain[std::size_t(c)] = c != '"' && c != '\\';
    return plain;
}();

class SimpleJson {
public:
    SimpleJson(std::string_view data, const RowSink& each)
        : at_(data.data()), end_(data.data() + data.size()), each_(each) {}

    // Whether the whole file was read.
    bool read() {
        space();
        if (!take('['))
            return false;
        space();
        if (take(']'))
            return finished();
        for (;;) {
            if (!element())
                return false;
            space();
            if (take(']'))
                return finished();
            if (!take(','))
                return false;
            space();
        }
    }
    std::size_t rows() const { return rows_; }

private:
    bool finished() {
        space();
        return at_ == end_;
    }
    bool take(char c) {
        if (at_ == end_ || *at_ != c)
            return false;
        ++at_;
        return true;
    }
    void space() {
        for (; at_ != end_; ++at_) {
            if (*at_ == '\n')
                ++line_;
            else if (*at_ != ' ' && *at_ != '\t' && *at_ != '\r')
                break;
        }
    }

    bool element() {
        startRow(row_, line_);
        if (!take('{'))
            return false;
        bool name = false, location = false;
        do {
            space();
            if (!string(key_))
                return false;
            space();
            if (!take(':'))
                return false;
            space();
            bool* seen = key_ == "name" ? &name : key_ == "location" ? &location : nullptr;
            std::string& value = !seen ? other_ : seen == &name ? row_.name : row_.location;
            if (!string(value) || (seen && *seen))
                return false;
            if (seen)
                *seen = true;
            space();
        } while (take(','));
        if (!take('}') || !name || !location)
            return false;
        each_(row_);
        ++rows_;
        return true;
    }

    // A string, its escapes undone; false at anything the general parser
    // might see otherwise.
    bool string(std::string& out) {
        out.clear();
        if (!take('"'))
            return false;
        for (;;) {
            // Plain ASCII and well-formed UTF-8 go in one piece.
            const char* p = at_;
            for (;;) {
                while (p != end_ && PlainInString[static_cast<unsigned char>(*p)])
                    ++p;
                const std::size_t n = p != end_ && static_cast<unsigned char>(*p) >= 0x80 ? utf8Length(p) : 0;
                if (n == 0)
                    break;
                p += n;
            }
            out.append(at_, std::size_t(p - at_));
            at_ = p;
            if (at_ == end_)
                return false;
            if (*at_ == '"') {
                ++at_;
                return true;
            }
            if (*at_ != '\\' || !escape(out))
                return false;   // a control character, malformed UTF-8, an escape the general parser judges
        }
    }

    // The length of the well-formed UTF-8 sequence at p (RFC 3629), 0 if
    // it is not one.
    std::size_t utf8Length(const char* p) const {
        auto byte = [&](std::size_t k) {
            return end_ - p > std::ptrdiff_t(k) ? static_cast<unsigned char>(p[k]) : 0u;
        };
        auto in = [](unsigned b, unsigned low, unsigned high) { return b >= low && b <= high; };
        const unsigned b0 = byte(0), b1 = byte(1);
        if (in(b0, 0xC2, 0xDF))
            return in(b1, 0x80, 0xBF) ? 2 : 0;
        if (in(b0, 0xE0, 0xEF)) {
            const bool second = b0 == 0xE0 ? in(b1, 0xA0, 0xBF) : b0 == 0xED ? in(b1, 0x80, 0x9F) : in(b1, 0x80, 0xBF);
            return second && in(byte(2), 0x80, 0xBF) ? 3 : 0;
        }
        if (in(b0, 0xF0, 0xF4)) {
            const bool second = b0 == 0xF0 ? in(b1, 0x90, 0xBF) : b0 == 0xF4 ? in(b1, 0x80, 0x8F) : in(b1, 0x80, 0xBF);
            return second && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
        }
        return 0;
    }

    bool escape(std::string& out) {
        ++at_;   // the backslash
        if (at_ == end_)
            return false;
        const char c = *at_++;
        switch (c) {
        case '"': out += '"'; return true;
        case '\\': out += '\\'; return true;
        case '/': out += '/'; return true;
        case 'b': out += '\b'; return true;
        case 'f': out += '\f'; return true;
        case 'n': out += '\n'; return true;
        case 'r': out += '\r'; return true;
        case 't': out += '\t'; return true;
        case 'u': break;
        default: return false;
        }
        unsigned code = 0;
        if (!hex(code))
            return false;
        if (code >= 0xDC00 && code <= 0xDFFF)
            return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (!take('\\') || !take('u') || !hex(low) || low < 0xDC00 || low > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
        return true;
    }

    bool hex(unsigned& code) {
        if (end_ - at_ < 4)
            return false;
        for (int k = 0; k < 4; ++k) {
            const char c = *at_++;
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                            : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return false;
            code = code * 16 + unsigned(digit);
        }
        return true;
    }

    const char* at_;
    const char* const end_;
    const RowSink& each_;
    std::size_t line_ = 1;
    std::size_t rows_ = 0;
    ImportRow row_;
    std::string key_, other_;
};

ImportFile readGeneralJson(std::string_view data, const RowSink& each) {
    ImportFile file;
    std::size_t line = 1;
    JsonRows rows(file, line, each);
    const char* begin = data.data();
    const char* end = data.data() + data.size();
    const bool ok =
        nlohmann::json::sax_parse(LineCountingIterator(begin, &line), LineCountingIterator(end, &line), &rows);
    if (!ok && file.problem.empty()) {
        file.problem = "not valid JSON";
        file.problemLine = line;
    }
    return file;
}

ImportFile readJson(std::string_view data, const RowSink& each) {
    SimpleJson simple(data, each);
    if (simple.read())
        return {};
    std::size_t handedOut = simple.rows();
    return readGeneralJson(data, [&](ImportRow& row) {
        if (handedOut > 0)
            --handedOut;
        else
            each(row);
    });
}

}  // namespace

ImportFile readRecords(Format format, std::string_view data, const std::function<void(ImportRow&)>& each) {
    data = withoutBom(data);
    switch (format) {
    case Format::Csv: return readCsv(data, each);
    case Format::Tsv: return readTsv(data, each);
    case Format::Json: return readJson(data, each);
    case Format::Text: break;
    }
    ImportFile file;
    file.problem = "plain text cannot be imported; use CSV, TSV or JSON";
    return file;
}

ImportFile readRecords(Format format, std::string_view data) {
    std::vector<ImportRow> rows;
    ImportFile file = readRecords(format, data, [&](ImportRow& row) { rows.push_back(row); });
    file.rows = std::move(rows);
    return file;
}

ImportFile readJsonByGeneralParser(std::string_view data) {
    std::vector<ImportRow> rows;
    ImportFile file = readGeneralJson(withoutBom(data), [&](ImportRow& row) { rows.push_back(row); });
    file.rows = std::move(rows);
    return file;
}

}  // namespace vrindel::cli
