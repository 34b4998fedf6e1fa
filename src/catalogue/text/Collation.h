#pragma once
// The one comparison of names: Slovak order (accents significant, "ch" after
// "h"), letter case ignored, and names equal exactly when their case-folded
// texts are equal. Name match is equality under it and sorted order is its
// order, so a name that is "already listed" is exactly one that sorts equal.
//
// ICU's Slovak collation at secondary strength gives the order; where it
// calls two different texts equal (NBSP and space, "…" and "...", ignored
// control characters) the case-folded bytes decide. A record text has only
// 256 possible characters, so the collation elements of each of them and of
// each contraction are read from ICU once per process into tables, and a
// comparison or a sort key is then table look-ups over the bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <unicode/uversion.h>

#include "text/RecordText.h"

U_NAMESPACE_BEGIN
class Collator;
U_NAMESPACE_END

namespace vrindel {

struct CollationTables;

class Collation {
public:
    // Tables: the compiled tables (ICU itself should they fail to compile).
    // Icu: every comparison and key through the ICU collator, the reference
    // the tables are tested and measured against.
    enum class Engine { Tables, Icu };

    explicit Collation(Engine engine = Engine::Tables);
    ~Collation();
    Collation(const Collation& other);             // an independent copy, for another thread
    Collation& operator=(const Collation&) = delete;

    Engine engine() const { return tables_ ? Engine::Tables : Engine::Icu; }

    // <0, 0, >0 for Windows-1250 texts; 0 exactly when foldCase(a) == foldCase(b).
    int compare(std::string_view a, std::string_view b) const;
    bool equal(std::string_view a, std::string_view b) const { return compare(a, b) == 0; }

    // Appends the sort key of a text to out. memcmp of two keys, the shorter
    // first when one begins the other, orders as compare() does. A key may
    // hold zero bytes.
    void appendSortKey(std::string_view text, std::vector<std::uint8_t>& out) const;

    // The first bytes of the sort key, up to room; returns how many were
    // written. Two texts whose prefixes differ order as those prefixes do.
    std::size_t sortKeyPrefix(std::string_view text, std::uint8_t* out, std::size_t room) const;

    // The process-wide instance used by the catalogue on the main thread.
    static const Collation& instance();

private:
    int icuCompare(std::string_view a, std::string_view b) const;

    const CollationTables* tables_ = nullptr;      // shared, compiled once per process
    std::unique_ptr<icu::Collator> collator_;      // when there are no tables
};

}  // namespace vrindel
