#pragma once
// Type-ahead in the list: the first display entry, from the top, whose name
// begins with the letters typed so far, letter case ignored.
//
// Case is folded one character at a time by the catalogue's collation: two
// characters fold together when the collation finds them equal. So "c"
// begins "Chata", while "a" does not begin "Ábel" (accents count).
//
// A lookup must not walk a million names per key. The index groups the
// display rows by their first two folded characters (a counting sort in one
// pass, made when first needed); within a group rows stay in display order,
// so the first one is the answer for one or two typed letters. For longer
// prefixes a group is sorted once by its folded names, and the matching rows,
// which are then contiguous, give their smallest row through per-block
// minima. A row inserted or removed is put in or taken out of its group
// (renumbering the others is one pass over plain integers); anything larger
// makes the index to be built again on the next lookup.

#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Catalogue.h"
#include "Collation.h"

class PrefixIndex {
public:
    explicit PrefixIndex(const vrindel::Catalogue& catalogue,
                         const vrindel::Collation& collation = vrindel::Collation::instance());

    // The first display row whose name begins with prefix (Windows-1250),
    // or -1.
    int find(std::string_view prefix);

    // The display list changed: a row was inserted (call after the insert),
    // a row is about to be removed (call before), or anything else happened.
    void inserted(int row);
    void removing(int row);
    void invalidate() { built_ = false; }

    // The folded form of a byte under the collation.
    unsigned char fold(unsigned char byte);

private:
    static constexpr std::uint32_t Width = 257;              // second character, or none
    static constexpr std::uint32_t Buckets = 256 * Width;     // and one more for empty names
    static constexpr std::size_t Block = 64;

    struct Key {
        std::uint32_t row;
        std::uint8_t length;                                   // of rest
        std::array<unsigned char, vrindel::MaxTextLength - 2> rest;
    };
    struct Group {
        std::vector<Key> keys;                                 // by (rest, row)
        std::vector<std::uint32_t> blockMin;
    };

    void buildFoldTable();
    void rebuild();
    std::uint32_t bucketOf(const vrindel::RecordText& name) const;
    const Group& sortedGroup(std::uint32_t bucket);

    const vrindel::Catalogue& catalogue_;
    const vrindel::Collation& collation_;
    std::array<unsigned char, 256> fold_{};
    bool foldReady_ = false;

    bool built_ = false;
    std::vector<std::uint32_t> start_;                         // Buckets + 1 offsets into rows_
    std::vector<std::uint32_t> rows_;
    std::unordered_map<std::uint32_t, Group> groups_;
};
