// The JSON reader: a quick one for the flat arrays nearly every list of
// records is, and the general parser for everything else.

#include <array>
#include <iterator>

#include <nlohmann/json.hpp>

#include "ImportInput.h"

namespace vrindel::cli::reading {

namespace {

// The input as the general parser reads it: from its start, read on as the
// parser asks, counting the line breaks so that each element is reported on
// the line it begins. An element (or the space between two) longer than
// MaxRowBytes ends the input for the parser, and the reading with an error.
class JsonStream {
public:
    explicit JsonStream(Input& in) : in_(in) {}

    bool atEnd() {
        if (cut_)
            return true;
        while (at_ == in_.size()) {
            if (in_.ended())
                return true;
            in_.more(0);
        }
        if (at_ - mark_ > MaxRowBytes) {
            cut_ = true;
            return true;
        }
        return false;
    }
    const char& get() const { return in_.data()[at_]; }
    void next() {
        if (in_.data()[at_] == '\n')
            ++line_;
        ++at_;
    }
    // An element begins or ends here.
    void mark() {
        mark_ = at_;
        markLine_ = line_;
    }

    const std::size_t& line() const { return line_; }
    // Whether the parser was stopped for an element without an end, and
    // the line that element (or space) began on.
    bool cut() const { return cut_; }
    std::size_t markLine() const { return markLine_; }

private:
    Input& in_;
    std::size_t at_ = 0;
    std::size_t line_ = 1;
    std::size_t mark_ = 0;
    std::size_t markLine_ = 1;
    bool cut_ = false;
};

class JsonStreamIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    JsonStreamIterator() = default;   // the end
    explicit JsonStreamIterator(JsonStream* stream) : stream_(stream) {}
    reference operator*() const { return stream_->get(); }
    JsonStreamIterator& operator++() {
        stream_->next();
        return *this;
    }
    JsonStreamIterator operator++(int) {
        JsonStreamIterator before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const JsonStreamIterator& a, const JsonStreamIterator& b) {
        if (a.stream_ && b.stream_)
            return true;   // one stream: one position
        const JsonStreamIterator& at = a.stream_ ? a : b;
        return !at.stream_ || at.stream_->atEnd();
    }

private:
    JsonStream* stream_ = nullptr;
};

class JsonRows : public nlohmann::json_sax<nlohmann::json> {
public:
    JsonRows(ImportFile& file, JsonStream& stream, const RowSink& each)
        : file_(file), stream_(stream), line_(stream.line()), each_(each) {}

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
        if (depth_ <= 1)
            stream_.mark();
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
        if (depth_ <= 1)
            stream_.mark();
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
        if (depth_ <= 1)
            stream_.mark();
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
    JsonStream& stream_;
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
    SimpleJson(Input& in, const RowSink& each) : in_(in), each_(each) {}

    // Whether the whole file was read. The file is read a step at a time:
    // the opening bracket, an element, a comma or the closing bracket, the
    // end. A step that comes to the end of what is buffered is taken again
    // once more is read. One longer than a quarter of MaxRowBytes is left
    // to the general parser, which reports an element without an end: so
    // whatever this reads whole, the general parser reads whole too.
    bool read() {
        enum class Next { Open, FirstElement, Element, Separator, End };
        Next next = Next::Open;
        for (;;) {
            const std::size_t from = std::size_t(at_ - in_.data());
            const std::size_t fromLine = line_;
            bool ok = false;
            Next after = next;
            try {
                space();
                switch (next) {
                case Next::Open:
                    ok = take('[');
                    after = Next::FirstElement;
                    break;
                case Next::FirstElement:
                    if (take(']')) {
                        ok = true;
                        after = Next::End;
                        break;
                    }
                    ok = element();
                    after = Next::Separator;
                    break;
                case Next::Element:
                    ok = element();
                    after = Next::Separator;
                    break;
                case Next::Separator:
                    ok = take(']') || take(',');
                    after = at_[-1] == ']' ? Next::End : Next::Element;
                    break;
                case Next::End:
                    return atEnd();
                }
            } catch (const NeedMore&) {
                if (in_.size() - from > QuickBound)
                    return false;
                in_.more(0);
                at_ = in_.data() + from;
                end_ = in_.data() + in_.size();
                line_ = fromLine;
                continue;
            }
            if (!ok || std::size_t(at_ - in_.data()) - from > QuickBound)
                return false;
            next = after;
        }
    }
    std::size_t rows() const { return rows_; }

private:
    static constexpr std::size_t QuickBound = MaxRowBytes / 4;

    // At the end of the input; NeedMore at the end of the buffer only.
    bool atEnd() const {
        if (at_ != end_)
            return false;
        if (in_.ended())
            return true;
        throw NeedMore{};
    }
    bool take(char c) {
        if (atEnd() || *at_ != c)
            return false;
        ++at_;
        return true;
    }
    void space() {
        for (; !atEnd(); ++at_) {
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
            if (atEnd())
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
            if (end_ - p > std::ptrdiff_t(k))
                return static_cast<unsigned char>(p[k]);
            if (!in_.ended())
                throw NeedMore{};
            return static_cast<unsigned char>(0);
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
        if (atEnd())
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
        if (end_ - at_ < 4) {
            if (!in_.ended())
                throw NeedMore{};
            return false;
        }
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

    Input& in_;
    const char* at_ = in_.data();
    const char* end_ = in_.data() + in_.size();
    const RowSink& each_;
    std::size_t line_ = 1;
    std::size_t rows_ = 0;
    ImportRow row_;
    std::string key_, other_;
};

}  // namespace

ImportFile readGeneralJson(Input& input, const RowSink& each) {
    ImportFile file;
    JsonStream stream(input);
    JsonRows rows(file, stream, each);
    const bool ok = nlohmann::json::sax_parse(JsonStreamIterator(&stream), JsonStreamIterator(), &rows);
    if (stream.cut()) {
        file.problem = "an element runs on for more than " + std::to_string(MaxRowBytes) + " bytes without ending";
        file.problemLine = stream.markLine();
    } else if (!ok && file.problem.empty()) {
        file.problem = "not valid JSON";
        file.problemLine = stream.line();
    }
    return file;
}

ImportFile readJson(Input& input, const RowSink& each) {
    input.keepAll();
    SimpleJson simple(input, each);
    if (simple.read())
        return {};
    std::size_t handedOut = simple.rows();
    return readGeneralJson(input, [&](ImportRow& row) {
        if (handedOut > 0)
            --handedOut;
        else
            each(row);
    });
}

}  // namespace vrindel::cli::reading
