#pragma once
// The order of a whole catalogue's names at once, as start-up needs it, and
// the two-core split the catalogue's bulk work shares.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <thread>
#include <vector>

#include "text/Collation.h"

namespace vrindel {

// The positions 0 to n-1 in the collation's order of name(position), equal
// names in the order of their positions. name() is called from two threads.
std::vector<std::uint32_t> collationOrder(std::size_t n, const std::function<std::string_view(std::size_t)>& name,
                                          const Collation& collation);

inline bool twoCores() {
    return std::thread::hardware_concurrency() > 1;
}

// work(part, from, to) over [0, n) in two halves on two cores, parts 0 and
// 1; on one core once over everything.
template <class Work>
void inTwoHalves(std::size_t n, Work work) {
    if (!twoCores()) {
        work(0u, std::size_t(0), n);
        return;
    }
    std::thread helper(work, 1u, n / 2, n);
    work(0u, std::size_t(0), n / 2);
    helper.join();
}

}  // namespace vrindel
