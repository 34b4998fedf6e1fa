#include "RecordBatch.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "Messages.h"

namespace vrindel::cli {

void RecordBatch::reserve(std::size_t rows) {
    rowOf_.reserve(rows);
    texts_.reserve(rows * 16);
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
    for (const Converted* text : {&name_, &location_}) {
        texts_ += char(text->bytes.size());
        texts_ += text->bytes;
    }
    rowOf_.push_back(r);
}

void RecordBatch::reject(std::string problem) { problems_.emplace_back(rows_++, std::move(problem)); }

std::vector<std::string_view> RecordBatch::rowNames() const {
    std::vector<std::string_view> names;
    names.reserve(rowOf_.size());
    for (std::size_t at = 0; at < texts_.size();) {
        names.emplace_back(texts_.data() + at + 1, std::uint8_t(texts_[at]));
        at += 1 + names.back().size();
        at += 1 + std::uint8_t(texts_[at]);
    }
    return names;
}

std::string_view RecordBatch::locationAfter(std::string_view name) {
    const char* const at = name.data() + name.size();
    return std::string_view(at + 1, std::uint8_t(*at));
}

void RecordBatch::compare(Catalogue& catalogue, bool update,
                          const std::function<std::string(std::size_t first)>& twice) {
    const std::vector<std::string_view> names = rowNames();
    const std::size_t badRows = problems_.size();
    dropRepeats(catalogue, catalogue.storageCount(), names, update, twice);
    if (problems_.size() > badRows)   // in the order of the rows
        std::inplace_merge(problems_.begin(), problems_.begin() + std::ptrdiff_t(badRows), problems_.end(),
                           [](const auto& a, const auto& b) { return a.first < b.first; });

    added_ = std::size_t(std::count(drop_.begin(), drop_.end(), false));
    catalogue.reserve(added_);
    for (std::size_t k = 0; k < names.size(); ++k)
        if (!drop_[k])
            catalogue.appendLoaded(names[k], locationAfter(names[k]));
}

void RecordBatch::dropRepeats(Catalogue& catalogue, int listed, const std::vector<std::string_view>& names,
                              bool update, const std::function<std::string(std::size_t first)>& twice) {
    // The first of equal names among the rows stays; so does the
    // catalogue's own record, which an update reaches by its name.
    drop_.assign(rowOf_.size(), false);
    std::unordered_map<int, std::size_t> updatedBy;   // listed record -> row that moved it
    for (const auto& [later, first] : catalogue.repeatedNames(names)) {
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
        } else if (const RecordText location(locationAfter(names[k])); !(catalogue.storageLocation(first) == location)) {
            catalogue.relocateAtStorage(first, location.view());
            ++relocated_;
        }
    }
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
