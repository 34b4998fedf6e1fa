#pragma once
// What the import readers share: the input read a piece at a time into a
// buffer that keeps only what a reader still needs, and the row handed out.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Formats.h"

namespace vrindel::cli::reading {

using RowSink = std::function<void(ImportRow&)>;

// Thrown by a reader that came to the end of what is buffered before the
// end of the input: the caller reads more and the reader starts again from
// the beginning of the row it was reading. That happens once a buffer's
// length, so a row is never read piecemeal.
struct NeedMore {};

class Input {
public:
    // Reads the first piece, and leaves out a UTF-8 byte order mark.
    explicit Input(ByteSource& source);
    // Reads on until `bytes` are buffered (a whole piece unless told) or the
    // input ends, for a look at the start of the input before any row is read.
    void fill(std::size_t bytes = PieceSize);
    bool byteOrderMark() const { return byteOrderMark_; }

    const char* data() const { return buffer_.data(); }
    std::size_t size() const { return buffer_.size(); }
    bool ended() const { return ended_; }
    // Whether the byte at `at` is there: true when it is buffered, false
    // past the end of the input, NeedMore when it has still to be read.
    bool has(std::size_t at) const {
        if (at < buffer_.size())
            return true;
        if (ended_)
            return false;
        throw NeedMore{};
    }
    // Reads the next piece, first letting go of the bytes before `keep`:
    // every offset into the buffer goes down by `keep`.
    void more(std::size_t keep);

    // A piece of input: large enough that a row seldom spans two, small
    // enough to stay in the cache.
    static constexpr std::size_t PieceSize = 1 << 18;

private:
    void readPiece();   // one more piece onto the end of the buffer

    ByteSource& source_;
    std::string buffer_;
    bool ended_ = false;
    bool byteOrderMark_ = false;
};

inline void startRow(ImportRow& row, std::size_t line) {
    row.line = line;
    row.name.clear();
    row.location.clear();
    row.problem.clear();
}

ImportFile readJson(Input& input, const RowSink& each);

// The rows of a table whose cells come apart already (a workbook's sheet),
// with the header rules of CSV: the first row that is not blank names the
// columns. A row may end before the header's last column (a spreadsheet
// leaves out empty cells at a row's end) but not run past it.
class CellTable {
public:
    explicit CellTable(const RowSink& each);
    ~CellTable();
    CellTable(const CellTable&) = delete;
    CellTable& operator=(const CellTable&) = delete;

    // One row, numbered `line`; its cells are taken. False once nothing
    // after it is read: the header is wrong.
    bool row(std::size_t line, std::vector<std::string>& cells);
    // The file's problem, when the whole file has one (and no header is one).
    ImportFile finish(const std::string& problem = {});

private:
    struct Rows;
    std::unique_ptr<Rows> rows_;
};

// An xlsx or ods file, from the start of the input: read whole, within
// MaxWorkbookBytes, then its first sheet.
ImportFile readWorkbook(Input& input, const RowSink& each);

}  // namespace vrindel::cli::reading
