#include "search/SearchIndex.h"

#include <algorithm>
#include <array>

#include <unicode/unistr.h>

#include "text/CollationSort.h"

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
    // The records' texts are folded while the dialog opens and the user
    // types: a search waits for them only when it comes first.
    built_ = std::async(std::launch::async, [this] { foldTexts(); });
}

void SearchIndex::foldTexts() {
    const Catalogue& catalogue = catalogue_;
    // Each byte's codes in a table read without a call; a fold longer than
    // the table's room (none Windows-1250 has) takes the string's way.
    struct Codes {
        char bytes[6];
        unsigned char size;
    };
    std::array<Codes, 256> table{};
    for (std::size_t b = 0; b < 256; ++b) {
        const std::string& codes = byteCodes_[b];
        table[b].size = codes.size() <= sizeof table[b].bytes ? static_cast<unsigned char>(codes.size()) : 0;
        std::copy_n(codes.data(), table[b].size, table[b].bytes);
    }
    // Two halves on two cores, each into its own text, joined after.
    const std::size_t n = order_.size();
    std::string texts[2];
    std::vector<std::uint32_t> starts[2];
    masks_.resize(n);
    const auto build = [&](unsigned half, std::size_t from, std::size_t to) {
        std::string& out = texts[half];
        out.reserve((to - from) * 28);
        starts[half].reserve(to - from);
        for (std::size_t k = from; k < to; ++k) {
            const std::size_t start = out.size();
            starts[half].push_back(std::uint32_t(start));
            const int j = order_[k];
            for (const RecordText& t : {catalogue.storageName(j), catalogue.storageLocation(j)}) {
                for (unsigned char b : t.view()) {
                    const Codes& c = table[b];
                    if (c.size != 0 || byteCodes_[b].empty())
                        out.append(c.bytes, c.size);
                    else
                        out += byteCodes_[b];
                }
                out += '\0';
            }
            masks_[k] = maskOf(std::string_view(out.data() + start, out.size() - start));
        }
    };
    if (n < 65536)
        build(0, 0, n);
    else
        inTwoHalves(n, build);
    text_ = std::move(texts[0]);
    starts_ = std::move(starts[0]);
    const auto offset = std::uint32_t(text_.size());
    text_ += texts[1];
    starts_.reserve(n + 1);
    for (std::uint32_t start : starts[1])
        starts_.push_back(offset + start);
    starts_.push_back(std::uint32_t(text_.size()));
}

void SearchIndex::waitForTexts() {
    if (built_.valid())
        built_.get();   // a failure of the folding is the search's
}

SearchIndex::~SearchIndex() {
    if (built_.valid())
        built_.wait();
}

// Code c (1 on) sets bit (c - 1) mod 128; the separator 0 sets none.
SearchIndex::Mask SearchIndex::maskOf(std::string_view codes) {
    Mask m;
    for (unsigned char c : codes) {
        if (c == 0)
            continue;
        const unsigned bit = (c - 1u) % 128u;
        (bit < 64 ? m.low : m.high) |= std::uint64_t(1) << (bit % 64);
    }
    return m;
}

bool SearchIndex::bitShared(unsigned char code) const {
    // Codes 1 to alphabet size are in use.
    const std::size_t used = std::min<std::size_t>(alphabet_.size(), 255);
    const unsigned bit = (code - 1u) % 128u;
    return used > 128 && (bit + 129u <= used || code > 128);
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

std::vector<int> SearchIndex::find(std::string_view utf8) {
    std::vector<int> storage;
    for (int k : matches(utf8))
        storage.push_back(storageIndexAt(k));
    return storage;
}

const std::vector<int>& SearchIndex::matches(std::string_view utf8) {
    // Only the text sought is folded here; the records were folded once.
    const std::string wanted = encode(TextSearch::foldUtf8(utf8));
    const bool shared = alphabet_.size() >= 255;
    std::vector<int> found;
    if (!wanted.empty())
        waitForTexts();
    if (wanted.empty()) {
        // Every record, which needs none of their texts.
        found.resize(order_.size());
        for (std::size_t k = 0; k < found.size(); ++k)
            found[k] = int(k);
    } else if (wanted.find('\0') != std::string::npos) {
        // A unit that no record holds.
    } else if (searched_ && !shared && !lastWanted_.empty() && wanted.find(lastWanted_) != std::string::npos) {
        // Whatever holds the longer text holds the shorter one too.
        const Mask want = maskOf(wanted);
        for (int k : found_) {
            const Mask& has = masks_[std::size_t(k)];
            if ((has.low & want.low) == want.low && (has.high & want.high) == want.high &&
                contains(std::size_t(k), wanted))
                found.push_back(k);
        }
    } else {
        // One pass in two halves. A single unit with a bit of its own is
        // found by the records' masks alone; a longer text is looked for in
        // the block of texts, going on at the next record after each find.
        const bool byMask = wanted.size() == 1 && !bitShared(static_cast<unsigned char>(wanted[0]));
        const Mask want = maskOf(wanted);
        std::vector<int> parts[2];
        const std::size_t n = order_.size();
        auto scan = [&](unsigned part, std::size_t from, std::size_t to) {
            std::vector<int>& out = parts[part];
            if (byMask) {
                for (std::size_t record = from; record < to; ++record) {
                    const Mask& has = masks_[record];
                    if ((has.low & want.low) | (has.high & want.high))
                        out.push_back(int(record));
                }
                return;
            }
            const std::string_view block(text_.data(), starts_[to]);
            std::size_t record = from;
            std::size_t at = starts_[from];
            while (record < to) {
                const std::size_t hit = block.find(wanted, at);
                if (hit == std::string_view::npos)
                    break;
                // Hits come in order: walk to the hit's record.
                while (starts_[record + 1] <= hit)
                    ++record;
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
        const TextSearch search(utf8);
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
    return found_;
}

}  // namespace vrindel
