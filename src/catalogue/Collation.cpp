#include "Collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <stdexcept>

namespace vrindel {

namespace {

struct Utf16 {
    char16_t units[MaxTextLength * 8];
    int32_t length = 0;
    explicit Utf16(std::string_view bytes) {
        // Record texts are at most 31 bytes, but a caller may pass anything.
        if (bytes.size() > sizeof(units) / sizeof(units[0]))
            bytes = bytes.substr(0, sizeof(units) / sizeof(units[0]));
        for (unsigned char b : bytes)
            units[length++] = fromWindows1250(b);
    }
};

}  // namespace

Collation::Collation() {
    UErrorCode status = U_ZERO_ERROR;
    collator_.reset(icu::Collator::createInstance(icu::Locale("sk"), status));
    if (U_FAILURE(status) || !collator_)
        throw std::runtime_error("cannot open the Slovak collation");
    // Secondary strength: accents count, letter case does not.
    collator_->setStrength(icu::Collator::SECONDARY);
}

Collation::Collation(const Collation& other) : collator_(other.collator_->clone()) {
    if (!collator_)
        throw std::runtime_error("cannot copy the collation");
}

Collation::~Collation() = default;

int Collation::compare(std::string_view a, std::string_view b) const {
    Utf16 ua(a), ub(b);
    UErrorCode status = U_ZERO_ERROR;
    return collator_->compare(ua.units, ua.length, ub.units, ub.length, status);
}

void Collation::appendSortKey(std::string_view text, std::vector<std::uint8_t>& out) const {
    Utf16 u(text);
    std::size_t at = out.size();
    int32_t room = 128;
    for (;;) {
        out.resize(at + std::size_t(room));
        int32_t need = collator_->getSortKey(u.units, u.length, out.data() + at, room);
        if (need <= room) {
            out.resize(at + std::size_t(need > 0 ? need - 1 : 0));  // drop the terminating zero
            return;
        }
        room = need;
    }
}

const Collation& Collation::instance() {
    static const Collation shared;
    return shared;
}

}  // namespace vrindel
