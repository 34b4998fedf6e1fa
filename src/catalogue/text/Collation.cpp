#include "text/Collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/ucol.h>
#include <unicode/ucoleitr.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace vrindel {

// --- The tables --------------------------------------------------------------
//
// At secondary strength ICU compares two texts by the sequences of their
// non-zero primary weights, then by the sequences of their non-zero secondary
// weights, the end of a text below every weight. A text's weights are those
// of its characters, read left to right, a pair that ICU reads as one (the
// contraction "ch" in its case forms, "l·") taking the place of its two
// characters. Over Windows-1250 only a few hundred distinct weights occur,
// so each is replaced by its rank among them, one byte that orders as the
// weight does. Should this ICU's collation not fit that shape, there are no
// tables and ICU itself compares.

namespace {

constexpr std::size_t MaxWeights = 4;      // per character or contraction
constexpr std::uint8_t EndOfLevel = 1;     // below every rank
constexpr std::uint8_t FirstRank = 2;

// What one character or one pair contributes to each level.
struct Unit {
    std::uint8_t primaryCount = 0, secondaryCount = 0;
    std::array<std::uint8_t, MaxWeights> primary{}, secondary{};
};

}  // namespace

struct CollationTables {
    std::array<Unit, 256> single;
    // Pairs read as one: pairRow[x] < 0 when none begins with byte x, else
    // the row of pairs whose entry for the next byte is an index into
    // pairUnits, or -1.
    std::array<std::int16_t, 256> pairRow;
    std::vector<std::array<std::int16_t, 256>> pairs;
    std::vector<Unit> pairUnits;
    std::array<unsigned char, 256> fold;
    // The rank of a byte that alone has exactly one weight on the level and
    // begins no pair, else 0: the common case, one look-up.
    std::array<std::uint8_t, 256> onePrimary, oneSecondary;

    // The unit at `at`, which moves past it.
    const Unit& unitAt(const unsigned char*& at, const unsigned char* end) const {
        const unsigned x = *at++;
        const std::int16_t row = pairRow[x];
        if (row >= 0 && at != end) {
            const std::int16_t k = pairs[std::size_t(row)][*at];
            if (k >= 0) {
                ++at;
                return pairUnits[std::size_t(k)];
            }
        }
        return single[x];
    }
};

namespace {

struct CloseCollator {
    void operator()(UCollator* c) const { ucol_close(c); }
};
struct CloseElements {
    void operator()(UCollationElements* e) const { ucol_closeElements(e); }
};

struct Element {
    std::uint32_t primary;
    std::uint16_t secondary;
    bool operator==(const Element&) const = default;
};

// Reads a text's collation elements one at a time. The iterator hands out
// each element as a 32-bit value (16 bits of primary, 8 of secondary, 8 of
// tertiary) followed, when the weights are longer, by a continuation that
// holds their low halves; a continuation is merged into its element, and
// fully ignorable elements are left out.
class ElementReader {
public:
    explicit ElementReader(UCollationElements* it) : it_(it) {}

    bool setText(const char16_t* text, int32_t length) {
        ucol_setText(it_, text, length, &status_);
        hasPending_ = false;
        return ok();
    }
    bool moveTo(int32_t offset) {
        ucol_setOffset(it_, offset, &status_);
        hasPending_ = false;
        return ok();
    }
    bool ok() const { return U_SUCCESS(status_); }

    // False at the end of the text, or on a failure (then !ok()).
    bool next(Element& e) {
        for (;;) {
            std::uint32_t ce;
            if (hasPending_) {
                ce = pending_;
                hasPending_ = false;
            } else if (!fetch(ce)) {
                return false;
            }
            if (isContinuation(ce)) {
                status_ = U_INVALID_FORMAT_ERROR;
                return false;
            }
            e = {ce & 0xFFFF0000u, std::uint16_t(ce & 0xFF00u)};
            std::uint32_t after;
            if (fetch(after)) {
                if (isContinuation(after)) {
                    e.primary |= after >> 16;
                    e.secondary = std::uint16_t(e.secondary | ((after >> 8) & 0xFF));
                } else {
                    pending_ = after;
                    hasPending_ = true;
                }
            }
            if (!ok())
                return false;
            if (e.primary != 0 || e.secondary != 0)
                return true;
        }
    }

private:
    static bool isContinuation(std::uint32_t ce) { return (ce & 0xC0) == 0xC0; }
    bool fetch(std::uint32_t& ce) {
        const int32_t next = ucol_next(it_, &status_);
        ce = std::uint32_t(next);
        return ok() && next != UCOL_NULLORDER;
    }

    UCollationElements* it_;
    UErrorCode status_ = U_ZERO_ERROR;
    std::uint32_t pending_ = 0;
    bool hasPending_ = false;
};

bool elementsOf(ElementReader& reader, std::u16string_view text, std::vector<Element>& out) {
    out.clear();
    if (!reader.setText(text.data(), int32_t(text.size())))
        return false;
    for (Element e; reader.next(e);)
        out.push_back(e);
    return reader.ok();
}

using BytePair = std::array<unsigned char, 2>;

// The pairs of Windows-1250 characters that the collator reads otherwise
// than as their two characters: a contraction ("ch") or a character weighed
// by the one before it ("l·"). One text holding every pair of bytes side by
// side is read once; where its elements part from those of its characters
// read alone, the pairs about that place are tried one by one. Nothing if
// the text cannot be read.
std::optional<std::vector<BytePair>> pairsReadAsOne(ElementReader& reader,
                                                    const std::vector<std::vector<Element>>& singles) {
    // A de Bruijn sequence: the Lyndon words of length 1 and 2 in order.
    std::vector<unsigned char> bytes;
    bytes.reserve(256 * 256 + 1);
    for (int a = 0; a < 256; ++a) {
        bytes.push_back(static_cast<unsigned char>(a));
        for (int b = a + 1; b < 256; ++b) {
            bytes.push_back(static_cast<unsigned char>(a));
            bytes.push_back(static_cast<unsigned char>(b));
        }
    }
    bytes.push_back(bytes.front());
    std::u16string text(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        text[i] = fromWindows1250(bytes[i]);

    std::vector<BytePair> suspects;
    auto suspectAround = [&](std::size_t at) {
        for (std::size_t from = at < 2 ? 0 : at - 2; from <= at + 1 && from + 1 < bytes.size(); ++from)
            suspects.push_back({bytes[from], bytes[from + 1]});
    };
    if (!reader.setText(text.data(), int32_t(text.size())))
        return std::nullopt;
    std::size_t at = 0;
    while (at < bytes.size()) {
        bool same = true;
        for (const Element& expected : singles[bytes[at]]) {
            Element e;
            if (!reader.next(e) || !(e == expected)) {
                same = false;
                break;
            }
        }
        if (same) {
            ++at;
            continue;
        }
        suspectAround(at);
        at += 2;
        if (at < bytes.size() && !reader.moveTo(int32_t(at)))
            return std::nullopt;
    }
    if (Element extra; reader.next(extra))
        suspectAround(bytes.size() - 1);
    if (!reader.ok())
        return std::nullopt;

    std::sort(suspects.begin(), suspects.end());
    suspects.erase(std::unique(suspects.begin(), suspects.end()), suspects.end());
    std::vector<BytePair> pairs;
    std::vector<Element> together;
    for (const BytePair& p : suspects) {
        const char16_t two[2] = {fromWindows1250(p[0]), fromWindows1250(p[1])};
        if (!elementsOf(reader, std::u16string_view(two, 2), together))
            return std::nullopt;
        std::vector<Element> apart = singles[p[0]];
        apart.insert(apart.end(), singles[p[1]].begin(), singles[p[1]].end());
        if (together != apart)
            pairs.push_back(p);
    }
    return pairs;
}

std::unique_ptr<CollationTables> compileTables() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCollator, CloseCollator> collator(ucol_open("sk", &status));
    const char16_t none[1] = {0};
    std::unique_ptr<UCollationElements, CloseElements> it(
        U_SUCCESS(status) ? ucol_openElements(collator.get(), none, 0, &status) : nullptr);
    if (U_FAILURE(status))
        return nullptr;
    ElementReader reader(it.get());

    std::vector<std::vector<Element>> singles(256);
    for (int b = 0; b < 256; ++b) {
        const char16_t one = fromWindows1250(static_cast<unsigned char>(b));
        if (!elementsOf(reader, std::u16string_view(&one, 1), singles[std::size_t(b)]))
            return nullptr;
    }
    const auto pairList = pairsReadAsOne(reader, singles);
    if (!pairList)
        return nullptr;
    // Read left to right, a pair is taken wherever it begins; that is ICU's
    // reading as long as no pair's second character begins another.
    for (const BytePair& first : *pairList)
        for (const BytePair& second : *pairList)
            if (first[1] == second[0])
                return nullptr;
    std::vector<std::vector<Element>> pairs(pairList->size());
    for (std::size_t k = 0; k < pairList->size(); ++k) {
        const char16_t two[2] = {fromWindows1250((*pairList)[k][0]), fromWindows1250((*pairList)[k][1])};
        if (!elementsOf(reader, std::u16string_view(two, 2), pairs[k]))
            return nullptr;
    }

    // Every weight that occurs, to rank.
    std::vector<std::uint32_t> primaries, secondaries;
    for (const auto* group : {&singles, &pairs})
        for (const auto& elements : *group)
            for (const Element& e : elements) {
                if (e.primary)
                    primaries.push_back(e.primary);
                if (e.secondary)
                    secondaries.push_back(e.secondary);
            }
    for (auto* weights : {&primaries, &secondaries}) {
        std::sort(weights->begin(), weights->end());
        weights->erase(std::unique(weights->begin(), weights->end()), weights->end());
        if (weights->size() > 256 - FirstRank)
            return nullptr;
    }
    auto rankOf = [](const std::vector<std::uint32_t>& weights, std::uint32_t w) {
        return std::uint8_t(FirstRank + (std::lower_bound(weights.begin(), weights.end(), w) - weights.begin()));
    };
    auto unitOf = [&](const std::vector<Element>& elements, Unit& unit) {
        for (const Element& e : elements) {
            if (e.primary) {
                if (unit.primaryCount == MaxWeights)
                    return false;
                unit.primary[unit.primaryCount++] = rankOf(primaries, e.primary);
            }
            if (e.secondary) {
                if (unit.secondaryCount == MaxWeights)
                    return false;
                unit.secondary[unit.secondaryCount++] = rankOf(secondaries, e.secondary);
            }
        }
        return true;
    };

    auto tables = std::make_unique<CollationTables>();
    for (int b = 0; b < 256; ++b) {
        if (!unitOf(singles[std::size_t(b)], tables->single[std::size_t(b)]))
            return nullptr;
        tables->fold[std::size_t(b)] = foldCase(static_cast<unsigned char>(b));
    }
    tables->pairRow.fill(-1);
    tables->pairUnits.resize(pairs.size());
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        if (!unitOf(pairs[k], tables->pairUnits[k]))
            return nullptr;
        auto& row = tables->pairRow[(*pairList)[k][0]];
        if (row < 0) {
            row = std::int16_t(tables->pairs.size());
            tables->pairs.emplace_back().fill(-1);
        }
        tables->pairs[std::size_t(row)][(*pairList)[k][1]] = std::int16_t(k);
    }
    for (std::size_t b = 0; b < 256; ++b) {
        const Unit& u = tables->single[b];
        const bool alone = tables->pairRow[b] < 0;
        tables->onePrimary[b] = alone && u.primaryCount == 1 ? u.primary[0] : 0;
        tables->oneSecondary[b] = alone && u.secondaryCount == 1 ? u.secondary[0] : 0;
    }
    return tables;
}

// Compiled on first use; null if this ICU's collation does not fit tables.
const CollationTables* compiledTables() {
    static const std::unique_ptr<CollationTables> tables = compileTables();
    return tables.get();
}

// --- Reading texts through the tables ----------------------------------------------

struct Cursor {
    const unsigned char* at;
    const unsigned char* end;
    const std::uint8_t* weight = nullptr;
    unsigned left = 0;

    explicit Cursor(std::string_view text)
        : at(reinterpret_cast<const unsigned char*>(text.data())), end(at + text.size()) {}

    // The next rank of the level, EndOfLevel after the last.
    template <bool Primary>
    unsigned next(const CollationTables& t) {
        if (left == 0 && at != end) {
            if (const unsigned r = (Primary ? t.onePrimary : t.oneSecondary)[*at]) {
                ++at;
                return r;
            }
        }
        while (left == 0) {
            if (at == end)
                return EndOfLevel;
            const Unit& u = t.unitAt(at, end);
            weight = Primary ? u.primary.data() : u.secondary.data();
            left = Primary ? u.primaryCount : u.secondaryCount;
        }
        --left;
        return *weight++;
    }
};

template <bool Primary>
int compareLevel(const CollationTables& t, std::string_view a, std::string_view b) {
    Cursor ca(a), cb(b);
    for (;;) {
        const unsigned x = ca.next<Primary>(t), y = cb.next<Primary>(t);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == EndOfLevel)
            return 0;
    }
}

// How many leading bytes two texts share, eight at a time.
std::size_t commonPrefix(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t same = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; same + 8 <= n; same += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a.data() + same, 8);
            std::memcpy(&y, b.data() + same, 8);
            if (x != y)
                return same + std::size_t(std::countr_zero(x ^ y) / 8);
        }
    }
    while (same < n && a[same] == b[same])
        ++same;
    return same;
}

int compareFolded(const unsigned char* fold, std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned x = fold[static_cast<unsigned char>(a[i])], y = fold[static_cast<unsigned char>(b[i])];
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// Writes one level of a sort key, its ranks and EndOfLevel, from out[n] on;
// false when room runs out first.
template <bool Primary>
bool writeLevel(const CollationTables& t, std::string_view text, std::uint8_t* out, std::size_t& n,
                std::size_t room) {
    const auto& one = Primary ? t.onePrimary : t.oneSecondary;
    const auto* at = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = at + text.size();
    while (at != end) {
        if (n == room)
            return false;
        if (const std::uint8_t r = one[*at]) {
            out[n++] = r;
            ++at;
            continue;
        }
        const Unit& u = t.unitAt(at, end);
        const std::uint8_t* w = Primary ? u.primary.data() : u.secondary.data();
        for (unsigned k = 0, count = Primary ? u.primaryCount : u.secondaryCount; k < count; ++k) {
            if (n == room)
                return false;
            out[n++] = w[k];
        }
    }
    if (n == room)
        return false;
    out[n++] = EndOfLevel;
    return true;
}

// A sort key: the primary ranks, EndOfLevel, the secondary ranks,
// EndOfLevel, the folded bytes; as much of it as room takes.
std::size_t writeKey(const CollationTables& t, std::string_view text, std::uint8_t* out, std::size_t room) {
    std::size_t n = 0;
    if (writeLevel<true>(t, text, out, n, room) && writeLevel<false>(t, text, out, n, room))
        for (std::size_t i = 0; i < text.size() && n < room; ++i)
            out[n++] = t.fold[static_cast<unsigned char>(text[i])];
    return n;
}

// --- ICU, the reference ------------------------------------------------------------

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

std::unique_ptr<icu::Collator> openSlovak() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale("sk"), status));
    if (U_FAILURE(status) || !collator)
        throw std::runtime_error("cannot open the Slovak collation");
    // Secondary strength: accents count, letter case does not.
    collator->setStrength(icu::Collator::SECONDARY);
    return collator;
}

int foldedTie(std::string_view a, std::string_view b) {
    const std::string fa = foldCase(a), fb = foldCase(b);
    const int c = fa.compare(fb);
    return (c > 0) - (c < 0);
}

}  // namespace

// --- Collation -----------------------------------------------------------------------

Collation::Collation(Engine engine) {
    if (engine == Engine::Tables)
        tables_ = compiledTables();
    if (!tables_)
        collator_ = openSlovak();
}

Collation::Collation(const Collation& other) : tables_(other.tables_) {
    if (other.collator_) {
        collator_.reset(other.collator_->clone());
        if (!collator_)
            throw std::runtime_error("cannot copy the collation");
    }
}

Collation::~Collation() = default;

int Collation::icuCompare(std::string_view a, std::string_view b) const {
    Utf16 ua(a), ub(b);
    UErrorCode status = U_ZERO_ERROR;
    return collator_->compare(ua.units, ua.length, ub.units, ub.length, status);
}

int Collation::compare(std::string_view a, std::string_view b) const {
    if (!tables_) {
        const int c = icuCompare(a, b);
        return c != 0 ? c : foldedTie(a, b);
    }
    // Equal leading bytes weigh alike in both texts, but for a pair that
    // begins in them and ends after them: read from the pair's start then.
    // (That byte was not itself the end of a pair: no pair's second
    // character begins another.)
    const std::size_t same = commonPrefix(a, b);
    if (same == a.size() && same == b.size())
        return 0;
    std::size_t from = same;
    if (from > 0 && tables_->pairRow[static_cast<unsigned char>(a[from - 1])] >= 0)
        --from;
    const std::string_view ra = a.substr(from), rb = b.substr(from);
    if (int c = compareLevel<true>(*tables_, ra, rb))
        return c;
    if (int c = compareLevel<false>(*tables_, ra, rb))
        return c;
    return compareFolded(tables_->fold.data(), a.substr(same), b.substr(same));
}

void Collation::appendSortKey(std::string_view text, std::vector<std::uint8_t>& out) const {
    if (tables_) {
        std::uint8_t key[2 * (MaxWeights * MaxTextLength + 1) + MaxTextLength];
        if (text.size() <= MaxTextLength) {
            out.insert(out.end(), key, key + writeKey(*tables_, text, key, sizeof key));
            return;
        }
        const std::size_t at = out.size();
        out.resize(at + 2 * (MaxWeights * text.size() + 1) + text.size());
        out.resize(at + writeKey(*tables_, text, out.data() + at, out.size() - at));
        return;
    }
    // ICU's key holds no zero byte before its terminator, which becomes the
    // separator before the folded bytes.
    Utf16 u(text);
    const std::size_t at = out.size();
    int32_t room = 128;
    for (;;) {
        out.resize(at + std::size_t(room));
        const int32_t need = collator_->getSortKey(u.units, u.length, out.data() + at, room);
        if (need <= room) {
            out.resize(at + std::size_t(need > 0 ? need : 1));
            out.back() = 0;
            break;
        }
        room = need;
    }
    for (unsigned char b : text)
        out.push_back(foldCase(b));
}

std::size_t Collation::sortKeyPrefix(std::string_view text, std::uint8_t* out, std::size_t room) const {
    if (tables_)
        return writeKey(*tables_, text, out, room);
    std::vector<std::uint8_t> key;
    appendSortKey(text, key);
    const std::size_t n = std::min(room, key.size());
    std::memcpy(out, key.data(), n);
    return n;
}

const Collation& Collation::instance() {
    static const Collation shared;
    return shared;
}

}  // namespace vrindel
