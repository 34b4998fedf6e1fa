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
    // Room for about `rows` rows, so that a million are not copied as they come.
    void reserve(std::size_t rows);
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
    // (given) already had.
    void compare(Catalogue& catalogue, bool update, const std::function<std::string(std::size_t first)>& twice);

    // Every row refused, with why, in the order of the rows.
    const std::vector<std::pair<std::size_t, std::string>>& problems() const { return problems_; }
    std::size_t added() const { return added_; }
    // The rows that are added, in their order.
    std::vector<std::size_t> addedRows() const;
    std::size_t relocated() const { return relocated_; }
    // What compare() changed, in the order of the rows, for a person to
    // look over before it is saved: each row added (`from` null) and each
    // listed record given the row's location (`from` its old one). Texts
    // as stored; `name` of a moved record is the catalogue's own spelling.
    void eachChange(const Catalogue& catalogue,
                    const std::function<void(std::size_t row, std::string_view name, std::string_view location,
                                             const std::string* from)>& each) const;

private:
    // Room for `bytes` more bytes of texts, where they stay.
    char* roomFor(std::size_t bytes);
    // A row's location is stored after its name, after a byte that holds
    // its length.
    static std::string_view locationAfter(std::string_view name);
    // Refuses or relocates each storable row whose name matches an earlier
    // one; `listed` is the catalogue's own count.
    void dropRepeats(Catalogue& catalogue, int listed, bool update,
                     const std::function<std::string(std::size_t first)>& twice);

    std::size_t rows_ = 0;
    std::vector<std::size_t> rowOf_;          // storable row k -> row
    std::vector<std::string_view> names_;     // storable row k -> its name, in pieces_
    // The storable rows' texts, in pieces that never move, so that a name
    // is held as a view from the start.
    std::vector<std::unique_ptr<char[]>> pieces_;
    std::size_t pieceUsed_ = 0;
    std::vector<std::pair<std::size_t, std::string>> problems_;
    Converted name_, location_;        // room used again row after row
    bool refuseControls_ = false;

    std::vector<bool> drop_;           // storable row k is not added
    std::size_t added_ = 0;
    std::size_t relocated_ = 0;
    struct Move {
        std::size_t row;
        int record;          // in storage order
        std::string from;    // its location before
    };
    std::vector<Move> moves_;   // in the order of the rows
};

}  // namespace vrindel::cli
