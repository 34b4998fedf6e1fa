// The JSON reader: nlohmann-json's SAX parser, fed from the input a piece at
// a time, each element of the array one row.

#include <algorithm>
#include <iterator>

#include <nlohmann/json.hpp>

#include "ImportInput.h"
#include "Messages.h"

namespace vrindel::cli::reading {

namespace {

// The input as the parser reads it, a byte at a time but checked a buffered
// piece at a time: the parser's every byte costs a comparison of two
// pointers, and only at the end of a piece, or at the bound of an element,
// is more read or the reading cut. Line breaks are counted when a line is
// asked for, so that each element is reported on the line it begins. An
// element (or the space between two) longer than MaxRowBytes ends the input
// for the parser, and the reading with an error. What the parser has read
// is let go of piece by piece, so an input of any length is read in the
// room of a piece.
class JsonStream {
public:
    explicit JsonStream(Input& in) : in_(in) { atPiece(); }

    bool atEnd() { return at_ == limit_ && stop(); }
    const char& get() const { return *at_; }
    void next() { ++at_; }
    // An element begins or ends here.
    void mark() {
        mark_ = offset();
        markLine_ = line();
        setLimit();
    }

    // The line of the byte the parser reads next, counted from 1.
    std::size_t line() {
        line_ += std::size_t(std::count(counted_, at_, '\n'));
        counted_ = at_;
        return line_;
    }
    // The line of the byte before: the parser knows a number has ended only
    // once it has read the byte after it, which may be a line break.
    std::size_t lineBefore() {
        const std::size_t at = line();
        return at_ != in_.data() && at_[-1] == '\n' ? at - 1 : at;
    }
    // Whether the parser was stopped for an element without an end, and
    // the line that element (or space) began on.
    bool cut() const { return cut_; }
    std::size_t markLine() const { return markLine_; }

private:
    // Where the parser is, counted from the start of the input.
    std::size_t offset() const { return dropped_ + std::size_t(at_ - in_.data()); }
    void atPiece() {
        at_ = counted_ = in_.data();
        setLimit();
    }
    // The parser reads on without a check up to the end of the piece or
    // the byte past the element's bound, whichever comes first.
    void setLimit() {
        const std::size_t past = mark_ + MaxRowBytes + 1;   // the first offset past the bound
        const std::size_t room = past > dropped_ ? past - dropped_ : 0;
        limit_ = in_.data() + std::min(room, in_.size());
    }
    // At the limit: reads the next piece, or ends the input for the parser.
    bool stop() {
        if (cut_)
            return true;
        while (at_ == in_.data() + in_.size()) {
            if (in_.ended())
                return true;
            line();
            dropped_ += in_.size();
            in_.more(in_.size());
            atPiece();
        }
        if (offset() - mark_ > MaxRowBytes) {
            cut_ = true;
            return true;
        }
        return false;
    }

    Input& in_;
    const char* at_ = nullptr;
    const char* limit_ = nullptr;
    const char* counted_ = nullptr;   // the line breaks before here are in line_
    std::size_t dropped_ = 0;         // the bytes let go of before the buffer
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
        : file_(file), stream_(stream), each_(each) {}

    bool null() override { return value(N_("null")); }
    bool boolean(bool) override { return value(N_("a true or false")); }
    bool number_integer(number_integer_t) override { return value(N_("a number"), true); }
    bool number_unsigned(number_unsigned_t) override { return value(N_("a number"), true); }
    bool number_float(number_float_t, const string_t&) override { return value(N_("a number"), true); }
    bool binary(binary_t&) override { return value(N_("binary data")); }
    bool string(string_t& s) override {
        if (inRecord() && row_.problem.empty()) {
            std::string& field = key_ == Key::Name ? row_.name : row_.location;
            bool& seen = key_ == Key::Name ? nameSeen_ : locationSeen_;
            if (seen)
                row_.problem = tr("\"{0}\" is given twice", keyName());
            seen = true;
            field.swap(s);
            return true;
        }
        return value(N_("a string"));
    }
    bool start_object(std::size_t) override { return open(N_("an object")); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(N_("an array")); }
    bool end_array() override { return close(); }
    bool key(string_t& k) override {
        if (depth_ == 2)
            key_ = k == "name" ? Key::Name : k == "location" ? Key::Location : Key::Other;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        // The library's text begins with its own prefix; keep the reason.
        const std::string what = e.what();
        const std::size_t colon = what.find(": ");
        file_.problem = tr("not valid JSON: {0}", colon == std::string::npos ? what : what.substr(colon + 2));
        file_.problemLine = stream_.line();
        return false;
    }

private:
    enum class Key { Name, Location, Other };

    const char* keyName() const { return key_ == Key::Name ? "name" : "location"; }
    // A value directly under "name" or "location" of an element that is an object.
    bool inRecord() const { return depth_ == 2 && object_ && key_ != Key::Other; }

    // A value where a record's text belongs is a problem of that record; a
    // value elsewhere in a record is left alone. A number is only known to
    // have ended at the byte after it.
    bool value(const char* what, bool number = false) {
        if (depth_ <= 1)
            stream_.mark();
        if (depth_ == 0)
            return notArray(number);
        if (depth_ == 1) {
            startRow(row_, number ? stream_.lineBefore() : stream_.line());
            // TRANSLATORS: {0} is a kind of JSON value: null, a number, a string...
            row_.problem = tr("an element is {0}, not an object", _(what));
            each_(row_);
        } else if (inRecord() && row_.problem.empty()) {
            // TRANSLATORS: {0} is the key, "name" or "location"; {1} a kind of JSON value.
            row_.problem = tr("\"{0}\" is {1}, not a string", keyName(), _(what));
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
                startRow(row_, stream_.line());
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
                    row_.problem = tr("no \"{0}\"", nameSeen_ ? "location" : "name");
                object_ = false;
                each_(row_);
            }
            key_ = Key::Other;
        }
        return true;
    }
    bool notArray(bool number = false) {
        file_.problem = _("the file must hold one JSON array of objects with \"name\" and \"location\"");
        file_.problemLine = number ? stream_.lineBefore() : stream_.line();
        return false;
    }

    ImportFile& file_;
    JsonStream& stream_;
    const RowSink& each_;
    ImportRow row_;
    int depth_ = 0;
    bool object_ = false;   // the element being read is an object
    Key key_ = Key::Other;
    bool nameSeen_ = false;
    bool locationSeen_ = false;
};

}  // namespace

ImportFile readJson(Input& input, const RowSink& each) {
    ImportFile file;
    JsonStream stream(input);
    JsonRows rows(file, stream, each);
    const bool ok = nlohmann::json::sax_parse(JsonStreamIterator(&stream), JsonStreamIterator(), &rows);
    if (stream.cut()) {
        file.problem = tr("an element runs on for more than {0} bytes without ending", MaxRowBytes);
        file.problemLine = stream.markLine();
    } else if (!ok && file.problem.empty()) {
        file.problem = _("not valid JSON");
        file.problemLine = stream.line();
    }
    return file;
}

}  // namespace vrindel::cli::reading
