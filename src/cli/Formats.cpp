#include "Formats.h"

#include <algorithm>
#include <cctype>

#include "text/CsvField.h"
#include "text/RecordText.h"
#include "Workbook.h"

namespace vrindel::cli {

const std::map<std::string, Format>& formatNames() {
    static const std::map<std::string, Format> names{
        {"text", Format::Text}, {"csv", Format::Csv}, {"tsv", Format::Tsv}, {"json", Format::Json},
        {"xlsx", Format::Xlsx}, {"ods", Format::Ods}};
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
    if (ext == "xlsx")
        return Format::Xlsx;
    if (ext == "ods")
        return Format::Ods;
    return std::nullopt;
}

bool needsApostrophe(std::string_view text) {
    const std::size_t first = text.find_first_not_of('\'');
    if (first == std::string_view::npos)
        return false;
    switch (text[first]) {
    case '=': case '+': case '-': case '@': case '\t': case '\r': return true;
    default: return false;
    }
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

RecordWriter::RecordWriter(Format format, std::FILE* out, CsvStyle csv) : format_(format), csv_(csv), out_(out) {
    buffer_.reserve(BufferSize + 1024);
    if (format_ == Format::Csv) {
        if (csv_.byteOrderMark)
            buffer_ += "\xEF\xBB\xBF";
        buffer_ += "name";
        buffer_ += csv_.delimiter;
        buffer_ += "location\r\n";
    } else if (format_ == Format::Tsv) {
        buffer_ += "name\tlocation\n";
    } else if (format_ == Format::Json) {
        buffer_ += "[";
    } else if (isWorkbook(format_)) {
        workbook_ = std::make_unique<WorkbookWriter>();
    }
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
        // The same quoting as the conflict files the window writes.
        if (csv_.formulasAsText && needsApostrophe(s)) {
            asText_.assign(1, '\'');
            asText_ += s;
            appendCsvField(buffer_, asText_, csv_.quoteFor);
        } else {
            appendCsvField(buffer_, s, csv_.quoteFor);
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
    case Format::Xlsx:
    case Format::Ods:
        break;   // cells, not bytes: see record()
    }
}

void RecordWriter::record(std::string_view name, std::string_view location) {
    utf8_ = windows1250ToUtf8(name);
    switch (format_) {
    case Format::Xlsx:
    case Format::Ods:
        workbook_->record(utf8_, windows1250ToUtf8(location));
        break;
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
        buffer_ += csv_.delimiter;
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
    if (workbook_ && !workbook_->finish(out_))
        failed_ = true;
    if (format_ == Format::Json)
        buffer_ += first_ ? "]\n" : "\n]\n";
    if (!failed_ && !buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size())
        failed_ = true;
    buffer_.clear();
    if (std::fflush(out_) != 0)
        failed_ = true;
    return !failed_;
}

}  // namespace vrindel::cli
