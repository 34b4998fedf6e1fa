#include "PrefixIndex.h"

#include <algorithm>
#include <cstring>

PrefixIndex::PrefixIndex(const vrindel::Catalogue& catalogue, const vrindel::Collation& collation)
    : catalogue_(catalogue), collation_(collation) {}

void PrefixIndex::buildFoldTable() {
    // Each byte folds to the smallest byte the collation finds equal to it.
    for (int b = 0; b < 256; ++b) {
        fold_[std::size_t(b)] = static_cast<unsigned char>(b);
        const char bc = static_cast<char>(b);
        for (int c = 0; c < b; ++c) {
            if (fold_[std::size_t(c)] != c)
                continue;
            const char cc = static_cast<char>(c);
            if (collation_.equal(std::string_view(&bc, 1), std::string_view(&cc, 1))) {
                fold_[std::size_t(b)] = static_cast<unsigned char>(c);
                break;
            }
        }
    }
    foldReady_ = true;
}

unsigned char PrefixIndex::fold(unsigned char byte) {
    if (!foldReady_)
        buildFoldTable();
    return fold_[byte];
}

std::uint32_t PrefixIndex::bucketOf(const vrindel::RecordText& name) const {
    if (name.length == 0)
        return Buckets;
    const std::uint32_t first = fold_[static_cast<unsigned char>(name.bytes[0])];
    const std::uint32_t second = name.length > 1 ? fold_[static_cast<unsigned char>(name.bytes[1])] : Width - 1;
    return first * Width + second;
}

void PrefixIndex::rebuild() {
    if (!foldReady_)
        buildFoldTable();
    const int n = catalogue_.displayCount();
    std::vector<std::uint32_t> bucketOfRow(static_cast<std::size_t>(n));
    start_.assign(Buckets + 2, 0);
    for (int row = 0; row < n; ++row) {
        const std::uint32_t bucket = bucketOf(catalogue_.displayAt(row));
        bucketOfRow[std::size_t(row)] = bucket;
        ++start_[bucket + 1];
    }
    for (std::uint32_t b = 0; b <= Buckets; ++b)
        start_[b + 1] += start_[b];
    rows_.assign(std::size_t(n), 0);
    std::vector<std::uint32_t> next(start_.begin(), start_.end() - 1);
    for (int row = 0; row < n; ++row)
        rows_[next[bucketOfRow[std::size_t(row)]]++] = std::uint32_t(row);
    groups_.clear();
    built_ = true;
}

const PrefixIndex::Group& PrefixIndex::sortedGroup(std::uint32_t bucket) {
    auto found = groups_.find(bucket);
    if (found != groups_.end())
        return found->second;

    Group group;
    const std::uint32_t from = start_[bucket], to = start_[bucket + 1];
    group.keys.reserve(to - from);
    for (std::uint32_t k = from; k < to; ++k) {
        const vrindel::RecordText name = catalogue_.displayAt(int(rows_[k]));
        Key key{rows_[k], std::uint8_t(name.length - 2), {}};
        for (std::size_t i = 2; i < name.length; ++i)
            key.rest[i - 2] = fold_[static_cast<unsigned char>(name.bytes[i])];
        group.keys.push_back(key);
    }
    std::sort(group.keys.begin(), group.keys.end(), [](const Key& a, const Key& b) {
        const int c = std::memcmp(a.rest.data(), b.rest.data(), std::min(a.length, b.length));
        if (c != 0)
            return c < 0;
        if (a.length != b.length)
            return a.length < b.length;
        return a.row < b.row;
    });
    for (std::size_t at = 0; at < group.keys.size(); at += Block) {
        const std::size_t end = std::min(group.keys.size(), at + Block);
        std::uint32_t least = group.keys[at].row;
        for (std::size_t k = at + 1; k < end; ++k)
            least = std::min(least, group.keys[k].row);
        group.blockMin.push_back(least);
    }
    return groups_.emplace(bucket, std::move(group)).first->second;
}

void PrefixIndex::inserted(int row) {
    if (!built_)
        return;
    groups_.clear();
    const auto r = std::uint32_t(row);
    for (std::uint32_t& other : rows_)
        other += other >= r ? 1 : 0;
    const std::uint32_t bucket = bucketOf(catalogue_.displayAt(row));
    const auto from = rows_.begin() + std::ptrdiff_t(start_[bucket]);
    const auto to = rows_.begin() + std::ptrdiff_t(start_[bucket + 1]);
    rows_.insert(std::lower_bound(from, to, r), r);
    for (std::uint32_t b = bucket + 1; b < start_.size(); ++b)
        ++start_[b];
}

void PrefixIndex::removing(int row) {
    if (!built_)
        return;
    groups_.clear();
    const auto r = std::uint32_t(row);
    const std::uint32_t bucket = bucketOf(catalogue_.displayAt(row));
    const auto from = rows_.begin() + std::ptrdiff_t(start_[bucket]);
    const auto to = rows_.begin() + std::ptrdiff_t(start_[bucket + 1]);
    const auto at = std::lower_bound(from, to, r);
    if (at == to || *at != r) {
        // Not where it belongs: start afresh rather than answer wrongly.
        built_ = false;
        return;
    }
    rows_.erase(at);
    for (std::uint32_t b = bucket + 1; b < start_.size(); ++b)
        --start_[b];
    for (std::uint32_t& other : rows_)
        other -= other > r ? 1 : 0;
}

int PrefixIndex::find(std::string_view prefix) {
    if (prefix.empty() || prefix.size() > vrindel::MaxTextLength)
        return -1;
    if (!built_)
        rebuild();
    std::array<unsigned char, vrindel::MaxTextLength> folded{};
    for (std::size_t i = 0; i < prefix.size(); ++i)
        folded[i] = fold_[static_cast<unsigned char>(prefix[i])];

    auto firstRow = [&](std::uint32_t bucket) -> std::int64_t {
        return start_[bucket] < start_[bucket + 1] ? std::int64_t(rows_[start_[bucket]]) : -1;
    };

    if (prefix.size() == 1) {
        // Rows in display order within each group: the first of each group
        // whose first character matches, and the least of those.
        std::int64_t best = -1;
        for (std::uint32_t second = 0; second < Width; ++second) {
            const std::int64_t row = firstRow(folded[0] * Width + second);
            if (row >= 0 && (best < 0 || row < best))
                best = row;
        }
        return int(best);
    }

    const std::uint32_t bucket = folded[0] * Width + folded[1];
    if (prefix.size() == 2)
        return int(firstRow(bucket));

    const Group& group = sortedGroup(bucket);
    const unsigned char* rest = folded.data() + 2;
    const std::size_t length = prefix.size() - 2;
    const auto& keys = group.keys;
    auto lo = std::partition_point(keys.begin(), keys.end(), [&](const Key& k) {
        const int c = std::memcmp(k.rest.data(), rest, std::min<std::size_t>(k.length, length));
        return c < 0 || (c == 0 && k.length < length);
    });
    auto hi = std::partition_point(lo, keys.end(), [&](const Key& k) {
        return k.length >= length && std::memcmp(k.rest.data(), rest, length) == 0;
    });
    if (lo == hi)
        return -1;

    std::size_t a = std::size_t(lo - keys.begin()), b = std::size_t(hi - keys.begin());
    std::uint32_t best = keys[a].row;
    while (a < b && a % Block != 0)
        best = std::min(best, keys[a++].row);
    while (a + Block <= b) {
        best = std::min(best, group.blockMin[a / Block]);
        a += Block;
    }
    while (a < b)
        best = std::min(best, keys[a++].row);
    return int(best);
}
