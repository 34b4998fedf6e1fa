#include "text/CollationSort.h"

#include <algorithm>
#include <array>
#include <memory>

namespace vrindel {

// The names are sorted on the first 16 bytes of their sort keys, by radix:
// the keys are made straight into buckets by their first byte (few buckets
// keep the scattered writes in cache), each bucket is spread by the next
// byte and so on while it is large, and small ones are sorted by
// comparison, names whose 16 bytes agree compared whole. Both cores share
// each step.
std::vector<std::uint32_t> collationOrder(std::size_t n, const std::function<std::string_view(std::size_t)>& name,
                                          const Collation& collation) {
    // 20 bytes, not 24: start-up's peak memory holds one of these a name.
    struct [[gnu::packed, gnu::aligned(4)]] Keyed {
        std::uint64_t head;
        std::uint64_t tail;
        std::uint32_t index;    // of the name
    };
    static_assert(sizeof(Keyed) == 20);
    constexpr unsigned KeyBytes = 16;
    auto byteOf = [](const Keyed& k, unsigned d) {
        return std::size_t(d < 8 ? (k.head >> (56 - 8 * d)) & 0xFF : (k.tail >> (56 - 8 * (d - 8))) & 0xFF);
    };

    const unsigned parts = twoCores() ? 2 : 1;
    // A copy shares the compiled tables; without them it is a collator of its own.
    const Collation second(collation);
    const Collation* collations[2] = {&collation, &second};

    // How many keys begin with each byte; then the keys, each straight into
    // its bucket (a bucket holds the first part's names before the second's,
    // so in order of position).
    std::array<std::uint32_t, 256> next[2] = {};
    inTwoHalves(n, [&](unsigned part, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            std::uint8_t first = 0;
            collations[part]->sortKeyPrefix(name(i), &first, 1);
            ++next[part][first];
        }
    });
    std::array<std::uint32_t, 257> start;
    std::uint32_t at = 0;
    for (std::size_t b = 0; b < 256; ++b) {
        start[b] = at;
        at += next[0][b] + next[1][b];
        next[1][b] = start[b] + next[0][b];
        next[0][b] = start[b];
    }
    start[256] = at;
    const auto keyed = std::make_unique_for_overwrite<Keyed[]>(n);
    inTwoHalves(n, [&](unsigned part, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            std::uint8_t key[KeyBytes] = {};
            collations[part]->sortKeyPrefix(name(i), key, sizeof key);
            Keyed k{0, 0, std::uint32_t(i)};
            for (std::size_t b = 0; b < 8; ++b) {
                k.head = (k.head << 8) | key[b];
                k.tail = (k.tail << 8) | key[b + 8];
            }
            keyed[next[part][key[0]]++] = k;
        }
    });

    // Each part sorts the buckets of about half of the names.
    std::size_t middle = 0;
    while (middle < 256 && start[middle] < n / parts)
        ++middle;
    inTwoHalves(n, [&](unsigned part, std::size_t, std::size_t) {
        const Collation& coll = *collations[part];
        auto less = [&](const Keyed& a, const Keyed& b) {
            if (a.head != b.head)
                return a.head < b.head;
            if (a.tail != b.tail)
                return a.tail < b.tail;
            const int c = coll.compare(name(a.index), name(b.index));
            return c != 0 ? c < 0 : a.index < b.index;
        };
        std::vector<Keyed> spare;
        // Keys in [first, last) agree on their first d bytes.
        auto sortFrom = [&](auto& self, Keyed* first, Keyed* last, unsigned d) -> void {
            const std::size_t size = std::size_t(last - first);
            if (size < 64 || d == KeyBytes) {
                std::sort(first, last, less);
                return;
            }
            std::array<std::uint32_t, 257> ends{};
            for (const Keyed* k = first; k != last; ++k)
                ++ends[byteOf(*k, d) + 1];
            for (std::size_t b = 1; b < ends.size(); ++b)
                ends[b] += ends[b - 1];
            spare.resize(size);
            for (const Keyed* k = first; k != last; ++k)
                spare[ends[byteOf(*k, d)]++] = *k;
            std::copy(spare.begin(), spare.end(), first);
            // ends[b] is now where the keys with byte b end.
            std::uint32_t begin = 0;
            for (std::size_t b = 0; b < 256; ++b) {
                if (ends[b] - begin > 1)
                    self(self, first + begin, first + ends[b], d + 1);
                begin = ends[b];
            }
        };
        const std::size_t from = part == 0 ? 0 : middle, to = part == 0 && parts > 1 ? middle : 256;
        for (std::size_t b = from; b < to; ++b)
            if (start[b + 1] - start[b] > 1)
                sortFrom(sortFrom, keyed.get() + start[b], keyed.get() + start[b + 1], 1);
    });

    std::vector<std::uint32_t> order(n);
    inTwoHalves(n, [&](unsigned, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            order[i] = keyed[i].index;
    });
    return order;
}

}  // namespace vrindel
