#include "SearchIndex.h"

#include <algorithm>

#include "CollationSort.h"

namespace vrindel {

SearchIndex::SearchIndex(const Catalogue& catalogue, const std::vector<int>& order)
    : catalogue_(catalogue), folds_(std::string_view()), order_(order), byteCodes_(256) {
    // Windows-1250 folds to far fewer than 255 distinct units; should a
    // unit not get a code of its own it shares the last, and a match is
    // then checked the long way (contains()).
    for (int b = 0; b < 256; ++b) {
        std::string& codes = byteCodes_[std::size_t(b)];
        for (char16_t unit : folds_.byteFold(static_cast<unsigned char>(b))) {
            std::size_t at = alphabet_.find(unit);
            if (at == std::u16string::npos) {
                alphabet_ += unit;
                at = alphabet_.size() - 1;
            }
            codes += char(std::min<std::size_t>(at + 1, 255));
        }
    }
    starts_.reserve(order_.size() + 1);
    text_.reserve(order_.size() * 20);
    for (int j : order_) {
        starts_.push_back(std::uint32_t(text_.size()));
        for (const RecordText& t : {catalogue.storageName(j), catalogue.storageLocation(j)}) {
            for (unsigned char b : t.view())
                text_ += byteCodes_[b];
            text_ += '\0';
        }
    }
    starts_.push_back(std::uint32_t(text_.size()));
}

std::string SearchIndex::encode(const std::u16string& folded) const {
    std::string out;
    for (char16_t unit : folded) {
        const std::size_t at = alphabet_.find(unit);
        out += at == std::u16string::npos ? '\0' : char(std::min<std::size_t>(at + 1, 255));
    }
    return out;
}

bool SearchIndex::contains(std::size_t record, std::string_view wanted) const {
    const std::string_view texts(text_.data() + starts_[record], starts_[record + 1] - starts_[record]);
    return texts.find(wanted) != std::string_view::npos;
}

const std::vector<int>& SearchIndex::find(std::string_view utf8) {
    const TextSearch search(utf8);
    const std::string wanted = encode(search.folded());
    const bool shared = alphabet_.size() >= 255;
    std::vector<int> found;
    if (wanted.find('\0') != std::string::npos) {
        // A unit that no record holds.
    } else if (searched_ && !shared && !lastWanted_.empty() && wanted.find(lastWanted_) != std::string::npos) {
        // Whatever holds the longer text holds the shorter one too.
        for (int k : found_)
            if (contains(std::size_t(k), wanted))
                found.push_back(k);
    } else {
        // One pass over the block in two halves: find the text, note its
        // record, go on at the next record.
        std::vector<int> parts[2];
        const std::size_t n = order_.size();
        auto scan = [&](unsigned part, std::size_t from, std::size_t to) {
            std::vector<int>& out = parts[part];
            const std::string_view block(text_.data(), starts_[to]);
            std::size_t record = from;
            std::size_t at = starts_[from];
            while (record < to) {
                const std::size_t hit = block.find(wanted, at);
                if (hit == std::string_view::npos)
                    break;
                record = std::size_t(std::upper_bound(starts_.begin() + std::ptrdiff_t(record),
                                                      starts_.begin() + std::ptrdiff_t(to) + 1, std::uint32_t(hit)) -
                                     starts_.begin()) - 1;
                out.push_back(int(record));
                ++record;
                at = starts_[record];
            }
        };
        if (n < 65536)
            scan(0, 0, n);
        else
            inTwoHalves(n, scan);
        found = std::move(parts[0]);
        found.insert(found.end(), parts[1].begin(), parts[1].end());
    }
    if (shared) {
        // Codes shared by several units may match more than the text.
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [&](int k) {
                                       const int j = order_[std::size_t(k)];
                                       return !search.foundIn(catalogue_.storageName(j).view()) &&
                                              !search.foundIn(catalogue_.storageLocation(j).view());
                                   }),
                    found.end());
    }
    found_ = std::move(found);
    lastWanted_ = wanted;
    searched_ = true;
    result_.clear();
    result_.reserve(found_.size());
    for (int k : found_)
        result_.push_back(order_[std::size_t(k)]);
    return result_;
}

}  // namespace vrindel
