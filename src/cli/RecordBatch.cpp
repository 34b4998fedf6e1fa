#include "RecordBatch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "Messages.h"

namespace vrindel::cli {

namespace {

// Large enough that a million rows take few pieces, small enough to waste
// little of the last one.
constexpr std::size_t PieceSize = 1 << 20;

}  // namespace

void RecordBatch::reserve(std::size_t rows) {
    rowOf_.reserve(rows);
    names_.reserve(rows);
}

void RecordBatch::take(std::string_view utf8Name, std::string_view utf8Location) {
    const std::size_t r = rows_++;
    toRecordText(utf8Name, "name", name_);
    toRecordText(utf8Location, "location", location_);
    if (refuseControls_ && name_.problem.empty())
        name_.problem = controlProblem(name_.bytes, "name");
    if (!name_.problem.empty() || !location_.problem.empty()) {
        problems_.emplace_back(r, !name_.problem.empty() ? name_.problem : location_.problem);
        return;
    }
    const std::string& name = name_.bytes;
    const std::string& location = location_.bytes;
    char* const at = roomFor(name.size() + 1 + location.size());
    std::memcpy(at, name.data(), name.size());
    at[name.size()] = char(location.size());
    std::memcpy(at + name.size() + 1, location.data(), location.size());
    names_.emplace_back(at, name.size());
    rowOf_.push_back(r);
}

void RecordBatch::reject(std::string problem) { problems_.emplace_back(rows_++, std::move(problem)); }

char* RecordBatch::roomFor(std::size_t bytes) {
    if (pieces_.empty() || PieceSize - pieceUsed_ < bytes) {
        pieces_.emplace_back(new char[PieceSize]);
        pieceUsed_ = 0;
    }
    char* const at = pieces_.back().get() + pieceUsed_;
    pieceUsed_ += bytes;
    return at;
}

std::string_view RecordBatch::locationAfter(std::string_view name) {
    const char* const at = name.data() + name.size();
    return std::string_view(at + 1, std::uint8_t(*at));
}

void RecordBatch::compare(Catalogue& catalogue, bool update,
                          const std::function<std::string(std::size_t first)>& twice) {
    const std::size_t badRows = problems_.size();
    dropRepeats(catalogue, catalogue.storageCount(), update, twice);
    if (problems_.size() > badRows)   // in the order of the rows
        std::inplace_merge(problems_.begin(), problems_.begin() + std::ptrdiff_t(badRows), problems_.end(),
                           [](const auto& a, const auto& b) { return a.first < b.first; });

    added_ = std::size_t(std::count(drop_.begin(), drop_.end(), false));
    catalogue.reserve(added_);
    for (std::size_t k = 0; k < names_.size(); ++k)
        if (!drop_[k])
            catalogue.appendLoaded(names_[k], locationAfter(names_[k]));
}

void RecordBatch::dropRepeats(Catalogue& catalogue, int listed, bool update,
                              const std::function<std::string(std::size_t first)>& twice) {
    // The first of equal names among the rows stays; so does the
    // catalogue's own record, which an update reaches by its name.
    drop_.assign(rowOf_.size(), false);
    std::unordered_map<int, std::size_t> updatedBy;   // listed record -> row that moved it
    for (const auto& [later, first] : catalogue.repeatedNames(names_)) {
        if (later < listed)
            continue;   // the catalogue's own, not these rows'
        const std::size_t k = std::size_t(later - listed);
        drop_[k] = true;
        if (first >= listed) {
            problems_.emplace_back(rowOf_[k], twice(rowOf_[std::size_t(first - listed)]));
        } else if (!update) {
            problems_.emplace_back(rowOf_[k],
                                   tr("the name is already listed (as \"{0}\"); --update changes its location",
                                      printable(windows1250ToUtf8(catalogue.storageName(first).view()))));
        } else if (const auto [it, isNew] = updatedBy.emplace(first, rowOf_[k]); !isNew) {
            problems_.emplace_back(rowOf_[k], twice(it->second));
        } else if (const RecordText location(locationAfter(names_[k])); !(catalogue.storageLocation(first) == location)) {
            moves_.push_back({rowOf_[k], first, std::string(catalogue.storageLocation(first).view())});
            catalogue.relocateAtStorage(first, location.view());
            ++relocated_;
        }
    }
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
    for (std::size_t k = 0; k < rowOf_.size(); ++k) {
        if (drop_[k])
            continue;
        movesBefore(rowOf_[k]);
        each(rowOf_[k], names_[k], locationAfter(names_[k]), nullptr);
    }
    movesBefore(rows_);
}

std::vector<std::size_t> RecordBatch::addedRows() const {
    std::vector<std::size_t> rows;
    rows.reserve(added_);
    for (std::size_t k = 0; k < rowOf_.size(); ++k)
        if (!drop_[k])
            rows.push_back(rowOf_[k]);
    return rows;
}

}  // namespace vrindel::cli
