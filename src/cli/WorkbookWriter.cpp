// The xlsx workbook an export writes, and the cell texts both ways.

#include <xlsxwriter.h>

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "Workbook.h"
#include "text/RecordText.h"

namespace vrindel::cli {

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Whether `text` holds _xHHHH_ at `at`.
bool escapeAt(std::string_view text, std::size_t at) {
    if (text.size() - at < 7 || text[at] != '_' || text[at + 1] != 'x' || text[at + 6] != '_')
        return false;
    for (std::size_t k = at + 2; k < at + 6; ++k)
        if (!isHex(text[k]))
            return false;
    return true;
}

}  // namespace

bool startsAsZip(std::string_view bytes) { return bytes.substr(0, 4) == std::string_view("PK\x03\x04", 4); }

std::string escapedForCell(std::string_view utf8) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c < 0x20 && c != '\t' && c != '\n') || escapeAt(utf8, i)) {
            out += "_x00";
            out += digits[c >> 4];
            out += digits[c & 0xF];
            out += '_';
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string unescapedFromCell(std::string_view text) {
    if (text.find("_x") == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (escapeAt(text, i)) {
            unsigned c = 0;
            std::from_chars(text.data() + i + 2, text.data() + i + 6, c, 16);
            appendUtf8(out, char32_t(c));
            i += 7;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string numberText(std::string_view value) {
    std::string_view digits = value;
    while (!digits.empty() && digits.front() == ' ')
        digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == ' ')
        digits.remove_suffix(1);
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    double number = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty())
        return std::string(value);
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, number);
    return std::string(text, written.ptr);
}

struct WorkbookWriter::Book {
    std::string path;
    std::string tmpdir;   // the library's own temporary files, beside ours
    lxw_workbook* workbook = nullptr;
    lxw_worksheet* sheet = nullptr;
    lxw_row_t row = 0;
    bool failed = false;
    int error = 0;

    void cell(lxw_col_t column, std::string_view utf8) {
        const std::string text = escapedForCell(utf8);
        // An empty text is an empty cell, which reads back as one.
        if (!failed && sheet && !text.empty() && worksheet_write_string(sheet, row, column, text.c_str(), nullptr) != LXW_NO_ERROR) {
            failed = true;
            error = EFBIG;
        }
    }
};

WorkbookWriter::WorkbookWriter() : book_(std::make_unique<Book>()) {
    const char* tmp = std::getenv("TMPDIR");
    book_->tmpdir = tmp && *tmp ? tmp : "/tmp";
    std::string path = book_->tmpdir + "/vrindel-export-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        book_->failed = true;
        book_->error = errno;
        return;
    }
    ::close(fd);
    book_->path = path;
    lxw_workbook_options options{};
    // Each row goes to a temporary file as it is written, its texts inline:
    // a sheet held whole took eight times the catalogue, and a table of
    // shared texts would grow with every name, each of them its own.
    options.constant_memory = LXW_TRUE;
    options.tmpdir = book_->tmpdir.data();
    options.use_zip64 = LXW_FALSE;
    book_->workbook = workbook_new_opt(path.c_str(), &options);
    book_->sheet = book_->workbook ? workbook_add_worksheet(book_->workbook, nullptr) : nullptr;
    if (!book_->sheet) {
        book_->failed = true;
        book_->error = ENOMEM;
        return;
    }
    book_->cell(0, "name");
    book_->cell(1, "location");
}

WorkbookWriter::~WorkbookWriter() {
    if (book_->workbook)
        workbook_close(book_->workbook);
    if (!book_->path.empty())
        ::unlink(book_->path.c_str());
}

void WorkbookWriter::record(std::string_view utf8Name, std::string_view utf8Location) {
    ++book_->row;
    book_->cell(0, utf8Name);
    book_->cell(1, utf8Location);
}

bool WorkbookWriter::finish(std::FILE* out) {
    Book& book = *book_;
    if (book.workbook) {
        const lxw_error closed = workbook_close(book.workbook);
        book.workbook = nullptr;
        if (closed != LXW_NO_ERROR && !book.failed) {
            book.failed = true;
            book.error = closed == LXW_ERROR_MEMORY_MALLOC_FAILED ? ENOMEM : EIO;
        }
    }
    if (book.failed) {
        errno = book.error;
        return false;
    }
    std::FILE* in = std::fopen(book.path.c_str(), "rb");
    if (!in)
        return false;
    char piece[1 << 16];
    bool ok = true;
    while (const std::size_t got = std::fread(piece, 1, sizeof piece, in))
        if (std::fwrite(piece, 1, got, out) != got) {
            ok = false;
            break;
        }
    const int readError = std::ferror(in) ? EIO : 0;
    std::fclose(in);
    if (ok && readError) {
        errno = readError;
        ok = false;
    }
    return ok;
}

}  // namespace vrindel::cli
