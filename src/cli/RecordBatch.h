#pragma once
// What `import` and `scan` share: records that come from outside (the rows
// of a file, the files of a folder), taken in two steps that each can be
// read on its own:
//
//   1. take()     each row on its own: well formed, storable
//   2. compare()  the rows against the catalogue and each other, by the
//                 catalogue's name match; the rows that pass are appended
//                 and, with --update, names already listed relocated
//
// A row is known by its number; the command says what a number means to a
// person (a line of a file, a path).

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/Catalogue.h"
#include "Texts.h"

namespace vrindel::cli {

class RecordBatch {
public:
    RecordBatch() = default;
    ~RecordBatch();
    RecordBatch(const RecordBatch&) = delete;
    RecordBatch& operator=(const RecordBatch&) = delete;
    // New texts, as the window takes them: no control characters. A file
    // of records keeps every byte, so that an export comes back whole.
    void refuseControlCharacters() { refuseControls_ = true; }

    // Step 1. A row the reader found malformed comes with its problem.
    void take(std::string_view utf8Name, std::string_view utf8Location);
    void reject(std::string problem);
    std::size_t rows() const { return rows_; }

    // Step 2. Finds every row whose name is listed already or twice among
    // the rows, and appends the others to `catalogue` (which must hold only
    // its own records yet): the catalogue is then what to save. With
    // `update`, a row naming a listed record gives that record its location
    // instead of being refused; a second row for the same record is
    // refused. `twice` words the problem of a row whose name an earlier row
    // (given) already had. The rows' texts are let go of as they are
    // appended, so that they and the catalogue never take the room twice.
    void compare(Catalogue& catalogue, bool update, const std::function<std::string(std::size_t first)>& twice);
    // Step 2 with step 1, for rows read after the catalogue: from here on
    // each row is compared as it is taken, and nothing of it is kept unless
    // it changes the catalogue or is refused. endComparing() lets go of the
    // names' table.
    void startComparing(Catalogue& catalogue, bool update, std::function<std::string(std::size_t first)> twice);
    void endComparing();

    // Every row refused, with why, in the order of the rows.
    const std::vector<std::pair<std::size_t, std::string>>& problems() const { return problems_; }
    std::size_t added() const { return added_; }
    // The rows that are added, in their order.
    std::vector<std::size_t> addedRows() const;
    std::size_t relocated() const { return relocated_; }
    // The listed records compare() gave other locations, by storage index
    // (ascending), each with the location it had: what the store needs
    // besides the catalogue to tell this change from another program's.
    std::vector<std::pair<int, std::string_view>> relocatedFrom() const;
    // What compare() changed, in the order of the rows, for a person to
    // look over before it is saved: each row added (`from` null) and each
    // listed record given the row's location (`from` its old one). Texts
    // as stored; `name` of a moved record is the catalogue's own spelling.
    void eachChange(const Catalogue& catalogue,
                    const std::function<void(std::size_t row, std::string_view name, std::string_view location,
                                             const std::string* from)>& each) const;

private:
    struct Comparing;
    void startComparing(Catalogue& catalogue, bool update, std::function<std::string(std::size_t first)> twice,
                        std::size_t rows);
    // Row `r` against the catalogue and the rows before it.
    void decide(std::size_t r, std::string_view name, std::string_view location);
    // Room for `bytes` more bytes of texts, where they stay.
    char* roomFor(std::size_t bytes);
    void letGoOfPieces();
    // A row that compare() does not append; rows come in order.
    void skip(std::size_t row);
    // The row that became the catalogue's `added`-th appended record.
    std::size_t rowOfAdded(std::size_t added) const;

    std::size_t rows_ = 0;
    std::size_t stored_ = 0;   // rows whose texts are in the pieces
    // The storable rows' texts, each as its name's length, the name, its
    // location's length and the location, in Windows-1250, in pieces of
    // their own mapping, which compare() gives back as it goes.
    std::vector<char*> pieces_;
    std::vector<std::size_t> pieceUsed_;
    std::vector<std::pair<std::size_t, std::string>> problems_;
    Converted name_, location_;        // room used again row after row
    bool refuseControls_ = false;

    // The rows compare() did not append, as runs of consecutive rows, each
    // with the count of rows appended before it: an appended record's row
    // is found by a binary search, with nothing kept per row.
    struct Run {
        std::size_t first;
        std::size_t count;
        std::size_t addedBefore;
    };
    std::vector<Run> skipped_;
    std::size_t skippedCount_ = 0;
    int listed_ = 0;   // the catalogue's own records, before the appended ones
    std::size_t added_ = 0;
    std::size_t relocated_ = 0;
    struct Move {
        std::size_t row;
        int record;          // in storage order
        std::string from;    // its location before
    };
    std::vector<Move> moves_;   // in the order of the rows
    std::unique_ptr<Comparing> comparing_;
};

}  // namespace vrindel::cli
