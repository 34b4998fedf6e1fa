#include "RecordBatch.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "Messages.h"

namespace vrindel::cli {

namespace {

// Large enough that a million rows take few pieces, small enough to waste
// little of the last one. Each is a mapping of its own, so that one let go
// of goes back to the system at once and not to a heap that keeps it.
constexpr std::size_t PieceSize = 1 << 20;

// Names match when their case-folded bytes are equal (the collation's
// promise): a hash of those bytes finds a match without a sort.
std::uint32_t foldedHash(std::string_view name, const unsigned char* fold) {
    std::uint32_t h = 2166136261u;   // FNV-1a
    for (const char c : name)
        h = (h ^ fold[static_cast<unsigned char>(c)]) * 16777619u;
    return h;
}

bool sameFolded(std::string_view a, std::string_view b, const unsigned char* fold) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold[static_cast<unsigned char>(a[i])] != fold[static_cast<unsigned char>(b[i])])
            return false;
    return true;
}

}  // namespace

// Named, not anonymous: what a comparison holds is a member of the batch.
namespace comparing {

// The names of the catalogue, its own and those appended, by their folded
// hash: a slot holds the storage index + 1 of the first record of that
// name and what room is left of its hash, a quarter or more of the slots
// free. Four bytes a slot (five bits of the hash) while the indexes fit in
// 27 bits, eight (the whole hash) beyond: told the most there may be, or
// widened when an index comes that needs it. Sized for the names it is
// told of, it doubles when more come.
class NameTable {
public:
    NameTable(const Catalogue& catalogue, std::size_t names, std::size_t most)
        : catalogue_(catalogue), fold_(caseFoldTable()), narrow_(most < NarrowIndexes) {
        std::size_t slots = 16;
        while (slots < names + names / 3)
            slots <<= 1;
        resize(slots);
    }

    // The first record whose name matches, or -1; otherwise `name` is
    // taken as the record at storage index `j`.
    int findOrAdd(std::string_view name, int j) {
        if (narrow_ && std::size_t(j) + 1 > NarrowIndexes)
            widen();
        if (used_ >= size_ - size_ / 4)
            grow();
        const std::uint32_t h = foldedHash(name, fold_);
        for (std::size_t at = slotOf(h);; at = (at + 1) & mask_) {
            const std::uint64_t slot = get(at);
            if (slot == 0) {
                put(at, narrow_ ? (std::uint64_t(h >> 27) << 27) | std::uint32_t(j + 1)
                                : (std::uint64_t(h) << 32) | std::uint32_t(j + 1));
                ++used_;
                return -1;
            }
            if ((narrow_ ? slot >> 27 : slot >> 32) != (narrow_ ? h >> 27 : h))
                continue;
            const int first = indexOf(slot);
            if (sameFolded(catalogue_.storageName(first).view(), name, fold_))
                return first;
        }
    }

private:
    static constexpr std::size_t NarrowIndexes = (std::size_t(1) << 27) - 1;

    std::size_t slotOf(std::uint32_t h) const { return (h * 0x9E3779B1u) & mask_; }
    int indexOf(std::uint64_t slot) const { return int(narrow_ ? slot & NarrowIndexes : std::uint32_t(slot)) - 1; }
    std::uint64_t get(std::size_t at) const { return narrow_ ? narrowSlots_[at] : wideSlots_[at]; }
    void put(std::size_t at, std::uint64_t slot) {
        if (narrow_)
            narrowSlots_[at] = std::uint32_t(slot);
        else
            wideSlots_[at] = slot;
    }
    void resize(std::size_t slots) {
        if (narrow_)
            narrowSlots_.assign(slots, 0);
        else
            wideSlots_.assign(slots, 0);
        size_ = slots;
        mask_ = slots - 1;
    }

    // Every record in the table is in the catalogue by now: a narrow slot's
    // hash is worked out again from its name.
    void grow() {
        std::vector<std::uint32_t> narrow;
        std::vector<std::uint64_t> wide;
        narrow.swap(narrowSlots_);
        wide.swap(wideSlots_);
        const std::size_t old = size_;
        resize(old * 2);
        for (std::size_t k = 0; k < old; ++k) {
            const std::uint64_t slot = narrow_ ? narrow[k] : wide[k];
            if (slot == 0)
                continue;
            const std::uint32_t h = narrow_ ? foldedHash(catalogue_.storageName(indexOf(slot)).view(), fold_)
                                            : std::uint32_t(slot >> 32);
            std::size_t at = slotOf(h);
            while (get(at) != 0)
                at = (at + 1) & mask_;
            put(at, slot);
        }
    }

    void widen() {
        std::vector<std::uint32_t> narrow;
        narrow.swap(narrowSlots_);
        narrow_ = false;
        resize(size_);
        for (const std::uint32_t slot : narrow) {
            if (slot == 0)
                continue;
            const std::uint32_t index = slot & NarrowIndexes;
            const std::uint32_t h = foldedHash(catalogue_.storageName(int(index) - 1).view(), fold_);
            std::size_t at = slotOf(h);
            while (get(at) != 0)
                at = (at + 1) & mask_;
            put(at, (std::uint64_t(h) << 32) | index);
        }
    }

    const Catalogue& catalogue_;
    const unsigned char* fold_;
    bool narrow_;
    std::vector<std::uint32_t> narrowSlots_;
    std::vector<std::uint64_t> wideSlots_;
    std::size_t size_ = 0;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
};

// The row that first named each listed record, for an update: four bytes a
// record (eight once the rows outnumber what four bytes count, told or
// found on the way), none for an import that refuses listed names.
class FirstRows {
public:
    FirstRows(std::size_t records, std::size_t rows) {
        if (rows < UINT32_MAX)
            small_.assign(records, 0);
        else
            large_.assign(records, 0);
    }
    // The row that named record `j` before `row`, or `row` itself, now
    // the first.
    std::size_t firstOr(int j, std::size_t row) {
        if (large_.empty() && row + 1 >= UINT32_MAX) {
            large_.assign(small_.begin(), small_.end());
            std::vector<std::uint32_t>().swap(small_);
        }
        return large_.empty() ? firstOr(small_, j, row) : firstOr(large_, j, row);
    }

private:
    template <typename T>
    static std::size_t firstOr(std::vector<T>& rows, int j, std::size_t row) {
        T& first = rows[std::size_t(j)];
        if (first == 0)
            first = T(row + 1);
        return std::size_t(first) - 1;
    }

    std::vector<std::uint32_t> small_;
    std::vector<std::size_t> large_;
};

}  // namespace comparing

struct RecordBatch::Comparing {
    Comparing(Catalogue& catalogue, bool update, std::function<std::string(std::size_t first)> twice,
              std::size_t names, std::size_t most, std::size_t rows)
        : catalogue(catalogue),
          update(update),
          twice(std::move(twice)),
          listed(catalogue.storageCount()),
          names(catalogue, names, most),
          updatedBy(update ? std::size_t(listed) : 0, rows) {}

    Catalogue& catalogue;
    const bool update;
    const std::function<std::string(std::size_t first)> twice;
    const int listed;
    comparing::NameTable names;
    comparing::FirstRows updatedBy;
};

RecordBatch::~RecordBatch() { letGoOfPieces(); }

void RecordBatch::letGoOfPieces() {
    for (char*& piece : pieces_)
        if (piece)
            ::munmap(std::exchange(piece, nullptr), PieceSize);
}

void RecordBatch::take(std::string_view utf8Name, std::string_view utf8Location) {
    const std::size_t r = rows_++;
    toRecordText(utf8Name, "name", name_);
    toRecordText(utf8Location, "location", location_);
    if (refuseControls_ && name_.problem.empty())
        name_.problem = controlProblem(name_.bytes, "name");
    if (!name_.problem.empty() || !location_.problem.empty()) {
        problems_.emplace_back(r, !name_.problem.empty() ? name_.problem : location_.problem);
        if (comparing_)
            skip(r);
        return;
    }
    const std::string& name = name_.bytes;
    const std::string& location = location_.bytes;
    if (comparing_) {
        decide(r, name, location);
        return;
    }
    char* const at = roomFor(2 + name.size() + location.size());
    at[0] = char(name.size());
    std::memcpy(at + 1, name.data(), name.size());
    at[1 + name.size()] = char(location.size());
    std::memcpy(at + 2 + name.size(), location.data(), location.size());
    ++stored_;
}

void RecordBatch::reject(std::string problem) {
    const std::size_t r = rows_++;
    problems_.emplace_back(r, std::move(problem));
    if (comparing_)
        skip(r);
}

char* RecordBatch::roomFor(std::size_t bytes) {
    if (pieces_.empty() || PieceSize - pieceUsed_.back() < bytes) {
        void* piece = ::mmap(nullptr, PieceSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (piece == MAP_FAILED)
            throw std::bad_alloc();
        pieces_.push_back(static_cast<char*>(piece));
        pieceUsed_.push_back(0);
    }
    char* const at = pieces_.back() + pieceUsed_.back();
    pieceUsed_.back() += bytes;
    return at;
}

void RecordBatch::skip(std::size_t row) {
    if (!skipped_.empty() && skipped_.back().first + skipped_.back().count == row)
        ++skipped_.back().count;
    else
        skipped_.push_back({row, 1, row - skippedCount_});
    ++skippedCount_;
}

std::size_t RecordBatch::rowOfAdded(std::size_t added) const {
    // The last run with no more appended rows before it than `added`: the
    // row comes after it, past every row skipped up to its end.
    auto run = std::upper_bound(skipped_.begin(), skipped_.end(), added,
                                [](std::size_t a, const Run& r) { return a < r.addedBefore; });
    if (run == skipped_.begin())
        return added;
    --run;
    return added + (run->first - run->addedBefore) + run->count;
}

void RecordBatch::startComparing(Catalogue& catalogue, bool update,
                                 std::function<std::string(std::size_t first)> twice) {
    startComparing(catalogue, update, std::move(twice), 0);
}

void RecordBatch::startComparing(Catalogue& catalogue, bool update,
                                 std::function<std::string(std::size_t first)> twice, std::size_t rows) {
    // The first of equal names among the rows stays; so does the
    // catalogue's own record, which an update reaches by its name.
    const int listed = catalogue.storageCount();
    listed_ = listed;
    // The rows of an update name listed records, mostly: room for them all
    // as new records would be made by copying the catalogue's, and would
    // stay unused. The catalogue and the table grow if new ones come.
    const bool fewNew = update && listed > 0;
    comparing_ = std::make_unique<Comparing>(catalogue, update, std::move(twice),
                                             std::size_t(listed) + (fewNew ? 0 : stored_),
                                             std::size_t(listed) + stored_, rows);
    for (int j = 0; j < listed; ++j)
        comparing_->names.findOrAdd(catalogue.storageName(j).view(), j);
    if (!fewNew)
        catalogue.reserve(stored_);
}

void RecordBatch::endComparing() { comparing_.reset(); }

void RecordBatch::decide(std::size_t r, std::string_view name, std::string_view location) {
    Comparing& c = *comparing_;
    Catalogue& catalogue = c.catalogue;
    const int first = c.names.findOrAdd(name, catalogue.storageCount());
    if (first < 0) {
        catalogue.appendLoaded(name, location);
        ++added_;
        return;
    }
    skip(r);
    if (first >= c.listed) {
        problems_.emplace_back(r, c.twice(rowOfAdded(std::size_t(first - c.listed))));
    } else if (!c.update) {
        problems_.emplace_back(r, tr("the name is already listed (as \"{0}\"); --update changes its location",
                                     printable(windows1250ToUtf8(catalogue.storageName(first).view()))));
    } else if (const std::size_t earlier = c.updatedBy.firstOr(first, r); earlier != r) {
        problems_.emplace_back(r, c.twice(earlier));
    } else if (!(catalogue.storageLocation(first) == RecordText(location))) {
        moves_.push_back({r, first, std::string(catalogue.storageLocation(first).view())});
        catalogue.relocateAtStorage(first, location);
        ++relocated_;
    }
}

void RecordBatch::compare(Catalogue& catalogue, bool update,
                          const std::function<std::string(std::size_t first)>& twice) {
    startComparing(catalogue, update, twice, rows_);
    const std::size_t badRows = problems_.size();
    std::size_t bad = 0, piece = 0, at = 0;
    for (std::size_t r = 0; r < rows_; ++r) {
        if (bad < badRows && problems_[bad].first == r) {
            ++bad;
            skip(r);
            continue;
        }
        if (at == pieceUsed_[piece]) {
            ::munmap(std::exchange(pieces_[piece], nullptr), PieceSize);
            ++piece;
            at = 0;
        }
        const char* const text = pieces_[piece] + at;
        const std::string_view name(text + 1, std::uint8_t(text[0]));
        const std::string_view location(text + 2 + name.size(), std::uint8_t(text[1 + name.size()]));
        at += 2 + name.size() + location.size();
        decide(r, name, location);
    }
    letGoOfPieces();
    endComparing();
    if (problems_.size() > badRows)   // in the order of the rows
        std::inplace_merge(problems_.begin(), problems_.begin() + std::ptrdiff_t(badRows), problems_.end(),
                           [](const auto& a, const auto& b) { return a.first < b.first; });
}

void RecordBatch::eachChange(const Catalogue& catalogue,
                             const std::function<void(std::size_t row, std::string_view name,
                                                      std::string_view location, const std::string* from)>& each) const {
    std::vector<const Move*> moves;
    moves.reserve(moves_.size());
    for (const Move& move : moves_)
        moves.push_back(&move);
    std::sort(moves.begin(), moves.end(), [](const Move* a, const Move* b) { return a->row < b->row; });
    auto move = moves.begin();
    auto movesBefore = [&](std::size_t row) {
        for (; move != moves.end() && (*move)->row < row; ++move)
            each((*move)->row, catalogue.storageName((*move)->record).view(),
                 catalogue.storageLocation((*move)->record).view(), &(*move)->from);
    };
    for (std::size_t a = 0; a < added_; ++a) {
        const std::size_t row = rowOfAdded(a);
        movesBefore(row);
        const RecordText name = catalogue.storageName(listed_ + int(a));
        const RecordText location = catalogue.storageLocation(listed_ + int(a));
        each(row, name.view(), location.view(), nullptr);
    }
    movesBefore(rows_);
}

std::vector<std::pair<int, std::string_view>> RecordBatch::relocatedFrom() const {
    std::vector<std::pair<int, std::string_view>> moved;
    moved.reserve(moves_.size());
    for (const Move& move : moves_)
        moved.emplace_back(move.record, move.from);
    std::sort(moved.begin(), moved.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return moved;
}

std::vector<std::size_t> RecordBatch::addedRows() const {
    std::vector<std::size_t> rows;
    rows.reserve(added_);
    for (std::size_t a = 0; a < added_; ++a)
        rows.push_back(rowOfAdded(a));
    return rows;
}

}  // namespace vrindel::cli
