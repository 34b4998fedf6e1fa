#pragma once
// The one comparison of names: Slovak, letter case ignored, accents
// significant. Name match is equality under it and sorted order is its
// order, so a name that is "already listed" is exactly one that sorts equal.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <unicode/uversion.h>

#include "RecordText.h"

U_NAMESPACE_BEGIN
class Collator;
U_NAMESPACE_END

namespace vrindel {

class Collation {
public:
    Collation();
    ~Collation();
    Collation(const Collation& other);             // an independent copy, for another thread
    Collation& operator=(const Collation&) = delete;

    // <0, 0, >0 for Windows-1250 texts.
    int compare(std::string_view a, std::string_view b) const;
    bool equal(std::string_view a, std::string_view b) const { return compare(a, b) == 0; }

    // Appends the sort key of a text (without its terminating zero) to out.
    // memcmp of two keys orders as compare() does.
    void appendSortKey(std::string_view text, std::vector<std::uint8_t>& out) const;

    // The process-wide instance used by the catalogue on the main thread.
    static const Collation& instance();

private:
    std::unique_ptr<icu::Collator> collator_;
};

}  // namespace vrindel
