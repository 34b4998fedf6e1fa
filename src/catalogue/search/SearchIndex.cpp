#include "search/SearchIndex.h"

#include <algorithm>

#include "text/CollationSort.h"

namespace vrindel {

SearchIndex::SearchIndex(const Catalogue& catalogue, Order order)
    : SearchIndex(catalogue, order == Order::Name ? Kind::Name : Kind::Storage, {}) {}

SearchIndex::SearchIndex(const Catalogue& catalogue, std::vector<int> order)
    : SearchIndex(catalogue, Kind::Given, std::move(order)) {}

SearchIndex::SearchIndex(const Catalogue& catalogue, Kind kind, std::vector<int> order)
    : catalogue_(catalogue),
      folds_(std::string_view()),
      kind_(kind),
      order_(std::move(order)),
      size_(kind == Kind::Given ? order_.size() : std::size_t(catalogue.storageCount())),
      listed_((std::size_t(catalogue.storageCount()) + 63) / 64, 0),
      byteCodes_(256) {
    // Windows-1250 folds to far fewer than 255 distinct units; should a
    // unit not get a code of its own it shares the last, and a match is
    // then checked the long way (TextSearch).
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
        singleCode_[std::size_t(b)] = codes.size() == 1 ? static_cast<unsigned char>(codes[0]) : 0;
    }
    for (std::size_t b = 0; b < 256; ++b)
        byteBits_[b] = maskOf(byteCodes_[b]);
    if (kind_ == Kind::Given) {
        for (int j : order_)
            listed_[std::size_t(j) / 64] |= std::uint64_t(1) << (std::size_t(j) % 64);
    } else {
        for (std::size_t j = 0; j < size_; ++j)
            listed_[j / 64] |= std::uint64_t(1) << (j % 64);
    }
    // The masks are made while the dialog opens and the user types: a
    // search waits for them only when it comes first.
    built_ = std::async(std::launch::async, [this] { buildMasks(); });
}

SearchIndex::~SearchIndex() {
    if (built_.valid())
        built_.wait();
}

std::uint32_t SearchIndex::bitOf(unsigned char code) const {
    const char16_t unit = code >= 1 && code <= alphabet_.size() ? alphabet_[code - 1u] : u'\0';
    if (unit >= u'a' && unit <= u'z')
        return std::uint32_t(1) << (unit - u'a');
    return std::uint32_t(1) << (26 + code % 6);
}

bool SearchIndex::ownBit(unsigned char code) const {
    // Codes are given out below 255 only when the alphabet is small enough
    // for each unit to have its own (else a code is shared, see matches()).
    const char16_t unit = code >= 1 && code <= alphabet_.size() ? alphabet_[code - 1u] : u'\0';
    return unit >= u'a' && unit <= u'z' && alphabet_.size() < 255;
}

std::uint32_t SearchIndex::maskOf(std::string_view codes) const {
    std::uint32_t mask = 0;
    for (const unsigned char code : codes)
        mask |= bitOf(code);
    return mask;
}

void SearchIndex::buildMasks() {
    const std::size_t n = std::size_t(catalogue_.storageCount());
    masks_.resize(n);
    const auto build = [&](unsigned, std::size_t from, std::size_t to) {
        for (std::size_t j = from; j < to; ++j) {
            const auto [name, location] = catalogue_.storedTexts(int(j));
            std::uint32_t mask = 0;
            for (const unsigned char b : name)
                mask |= byteBits_[b];
            for (const unsigned char b : location)
                mask |= byteBits_[b];
            masks_[j] = mask;
        }
    };
    if (n < 65536)
        build(0, 0, n);
    else
        inTwoHalves(n, build);
}

void SearchIndex::waitForMasks() {
    if (built_.valid())
        built_.get();   // a failure of the build is the search's
}

int SearchIndex::storageIndexAt(int position) const {
    switch (kind_) {
    case Kind::Given:
        return order_[std::size_t(position)];
    case Kind::Storage:
        return position;
    case Kind::Name:
        break;
    }
    return catalogue_.storageInNameOrderAt(position);
}

void SearchIndex::inListOrder(std::vector<int>& found, std::size_t count) const {
    const auto marked = [&](std::size_t j) { return (lastFound_[j / 64] >> (j % 64) & 1) != 0; };
    const auto walk = [&](const std::vector<int>& order) {
        for (std::size_t k = 0; k < order.size(); ++k)
            if (marked(std::size_t(order[k])))
                found.push_back(int(k));
    };
    if (kind_ == Kind::Given)
        return walk(order_);
    if (kind_ == Kind::Storage) {
        for (std::size_t w = 0; w < lastFound_.size(); ++w)
            for (std::uint64_t bits = lastFound_[w]; bits != 0; bits &= bits - 1)
                found.push_back(int(w * 64 + std::size_t(__builtin_ctzll(bits))));
        return;
    }
    // Name order. A few records are each looked for in it, a search each,
    // as a longer text typed finds them.
    const std::size_t n = size_;
    if (n == 0)
        return;
    if (count < n / 256) {
        for (std::size_t w = 0; w < lastFound_.size(); ++w)
            for (std::uint64_t bits = lastFound_[w]; bits != 0; bits &= bits - 1)
                found.push_back(catalogue_.nameOrderPosition(int(w * 64 + std::size_t(__builtin_ctzll(bits)))));
        std::sort(found.begin(), found.end());
        return;
    }
    // Many: the records' keys marked, read back in name order. Keys run
    // nearly without gaps; spread far apart (after records put back between
    // two), the list of records in name order is made instead.
    const std::uint32_t first = catalogue_.storageKey(0);
    const std::size_t range = std::size_t(catalogue_.storageKey(int(n - 1)) - first) + 1;
    if (range > 4 * n)
        return walk(catalogue_.storageInNameOrder());
    std::vector<std::uint64_t> keys((range + 63) / 64, 0);
    for (std::size_t w = 0; w < lastFound_.size(); ++w) {
        for (std::uint64_t bits = lastFound_[w]; bits != 0; bits &= bits - 1) {
            const std::size_t key = catalogue_.storageKey(int(w * 64 + std::size_t(__builtin_ctzll(bits)))) - first;
            keys[key / 64] |= std::uint64_t(1) << (key % 64);
        }
    }
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t key = catalogue_.nameOrderKey(int(k)) - first;
        if (keys[key / 64] >> (key % 64) & 1)
            found.push_back(int(k));
    }
}

std::string SearchIndex::encode(const std::u16string& folded) const {
    std::string out;
    for (char16_t unit : folded) {
        const std::size_t at = alphabet_.find(unit);
        out += at == std::u16string::npos ? '\0' : char(std::min<std::size_t>(at + 1, 255));
    }
    return out;
}

bool SearchIndex::holds(std::string_view text, std::string_view wanted) const {
    // Folded into room for three units a byte; a text that needs more
    // (none in Windows-1250) takes a string.
    char room[3 * MaxTextLength];
    std::size_t size = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (singleCode_[b] != 0 && size < sizeof room) {
            room[size++] = char(singleCode_[b]);
        } else if (size + byteCodes_[b].size() <= sizeof room) {
            std::copy(byteCodes_[b].begin(), byteCodes_[b].end(), room + size);
            size += byteCodes_[b].size();
        } else {
            std::string folded(room, size);
            for (; i < text.size(); ++i)
                folded += byteCodes_[static_cast<unsigned char>(text[i])];
            return folded.find(wanted) != std::string::npos;
        }
    }
    return std::string_view(room, size).find(wanted) != std::string_view::npos;
}

void SearchIndex::scan(std::string_view wanted, bool narrow, std::size_t from, std::size_t to,
                       std::vector<std::uint64_t>& hits) const {
    const auto found = [&](std::size_t j) { hits[j / 64] |= std::uint64_t(1) << (j % 64); };
    // Nothing before the first byte whose fold holds the text's first unit
    // can start a match: most records are settled by that look alone.
    std::array<bool, 256> starts{};
    for (std::size_t b = 0; b < 256; ++b)
        starts[b] = byteCodes_[b].find(wanted[0]) != std::string::npos;
    const auto first = [&](std::string_view text) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        std::size_t at = 0;
        while (at < text.size() && !starts[bytes[at]])
            ++at;
        return at;
    };
    const bool single = wanted.size() == 1;
    const std::uint32_t want = maskOf(wanted);
    const bool byMask = single && ownBit(static_cast<unsigned char>(wanted[0]));
    const auto visit = [&](std::size_t j) {
        if ((masks_[j] & want) != want)
            return;
        if (byMask) {
            found(j);
            return;
        }
        const auto [name, location] = catalogue_.storedTexts(int(j));
        const std::size_t inName = first(name);
        bool holding = inName < name.size() && (single || holds(name.substr(inName), wanted));
        if (!holding) {
            const std::size_t inLocation = first(location);
            holding = inLocation < location.size() && (single || holds(location.substr(inLocation), wanted));
        }
        if (holding)
            found(j);
    };
    if (!narrow) {
        for (std::size_t j = from; j < to; ++j)
            if (listed_[j / 64] >> (j % 64) & 1)
                visit(j);
        return;
    }
    for (std::size_t w = from / 64; w * 64 < to; ++w) {
        for (std::uint64_t bits = lastFound_[w]; bits != 0; bits &= bits - 1) {
            const std::size_t j = w * 64 + std::size_t(__builtin_ctzll(bits));
            if (j >= from && j < to)
                visit(j);
        }
    }
}

std::vector<int> SearchIndex::find(std::string_view utf8) {
    std::vector<int> storage(matches(utf8));
    for (std::size_t k = 0; k < storage.size(); ++k)
        storage[k] = storageIndexAt(foundAt(k));
    return storage;
}

std::size_t SearchIndex::matches(std::string_view utf8) {
    // Only the text sought is folded here; the records are folded as read.
    const std::string wanted = encode(TextSearch::foldUtf8(utf8));
    const bool shared = alphabet_.size() >= 255;
    const std::size_t n = std::size_t(catalogue_.storageCount());
    // The last search's list goes first: two at once would cost a list of
    // every record more at the peak.
    std::vector<int>().swap(found_);
    std::vector<int> found;
    all_ = wanted.empty();
    if (!all_)
        waitForMasks();
    if (all_) {
        // Every record, which needs none of their texts.
        lastFound_.clear();
    } else {
        // Storage order, in two halves: the records lie in that order. A
        // text that grows what the last search looked for is looked for
        // only among what that one found: whatever holds the longer text
        // holds the shorter one too.
        const bool narrow = searched_ && !shared && !lastWanted_.empty() && wanted.find(lastWanted_) != std::string::npos;
        // The finds as a bit a record, each half writing its own words.
        std::vector<std::uint64_t> hits((n + 63) / 64, 0);
        if (wanted.find('\0') == std::string::npos) {   // else a unit that no record holds
            const auto part = [&](unsigned, std::size_t fromWord, std::size_t toWord) {
                scan(wanted, narrow, fromWord * 64, std::min(toWord * 64, n), hits);
            };
            if (n < 65536)
                part(0, 0, hits.size());
            else
                inTwoHalves(hits.size(), part);
        }
        if (shared) {
            // Codes shared by several units may match more than the text.
            const TextSearch search(utf8);
            for (std::size_t w = 0; w < hits.size(); ++w) {
                for (std::uint64_t bits = hits[w]; bits != 0; bits &= bits - 1) {
                    const int j = int(w * 64 + std::size_t(__builtin_ctzll(bits)));
                    const auto [name, location] = catalogue_.storedTexts(j);
                    if (!search.foundIn(name) && !search.foundIn(location))
                        hits[w] &= ~(std::uint64_t(1) << (j % 64));
                }
            }
        }
        // The hits in the list's order: a bit a record, read in that order
        // (a table from record to place would cost a number a record).
        lastFound_ = std::move(hits);
        std::size_t count = 0;
        for (const std::uint64_t word : lastFound_)
            count += std::size_t(__builtin_popcountll(word));
        found.reserve(count);
        inListOrder(found, count);
    }
    found_ = std::move(found);
    lastWanted_ = wanted;
    searched_ = true;
    return all_ ? size_ : found_.size();
}

}  // namespace vrindel
