#include "store/merge/BaseRecords.h"

#include <algorithm>
#include <cstring>

#include "text/RecordText.h"

namespace vrindel {

namespace {

constexpr std::uint64_t Prime = 0x9E3779B97F4A7C15ull;

std::uint64_t mix(std::uint64_t h, std::uint64_t word) {
    h = (h ^ word) * Prime;
    return h ^ (h >> 31);
}

// A record text is laid out as its record, its length first and zeros
// after it, so that the pair ("ab", "c") and ("a", "bc") hash apart; it is
// hashed eight bytes a step.
std::uint64_t hashLayout(std::uint64_t h, const unsigned char (&bytes)[32]) {
    for (std::size_t at = 0; at < sizeof bytes; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at, 8);
        h = mix(h, word);
    }
    return h;
}

const unsigned char (&layout(const RecordText& text))[32] {
    static_assert(sizeof(RecordText) == 32);
    return *reinterpret_cast<const unsigned char(*)[32]>(&text);
}

// Least significant byte first, a pass a byte: a million hashes sort in a
// few milliseconds, well under a comparison sort, which the close would feel.
template <typename Word>
void radixSort(std::vector<Word>& words) {
    std::vector<Word> other(words.size());
    for (unsigned shift = 0; shift < 8 * sizeof(Word); shift += 8) {
        std::size_t counts[257] = {};
        for (const Word w : words)
            ++counts[((w >> shift) & 0xFF) + 1];
        for (std::size_t i = 1; i < 257; ++i)
            counts[i] += counts[i - 1];
        for (const Word w : words)
            other[counts[(w >> shift) & 0xFF]++] = w;
        words.swap(other);
    }
}

}  // namespace

std::uint64_t BaseRecords::recordHash(const RecordText& name, const RecordText& location) {
    return hashLayout(hashLayout(Prime, layout(name)), layout(location));
}

std::uint64_t BaseRecords::recordHash(std::string_view name, std::string_view location) {
    return recordHash(RecordText(name), RecordText(location));
}

std::uint32_t BaseRecords::nameHash(const RecordText& name) {
    // Letter case folded, as names match.
    const unsigned char* fold = caseFoldTable();
    unsigned char folded[32] = {};
    const std::string_view text = name.view();
    folded[0] = static_cast<unsigned char>(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        folded[i + 1] = fold[static_cast<unsigned char>(text[i])];
    const std::uint64_t h = hashLayout(Prime, folded);
    return std::uint32_t(h ^ (h >> 32));
}

std::uint32_t BaseRecords::nameHash(std::string_view name) { return nameHash(RecordText(name)); }

std::uint64_t BaseRecords::keyOf(const RecordText& name, const RecordText& location) {
    const std::uint64_t record = recordHash(name, location);
    return std::uint64_t(nameHash(name)) << 32 | std::uint32_t(record ^ (record >> 32));
}

void BaseRecords::clear() {
    keys_.clear();
    sorted_ = true;
}

void BaseRecords::reserve(std::size_t records) {
    keys_.reserve(records);
}

void BaseRecords::add(const RecordText& name, const RecordText& location) {
    keys_.push_back(keyOf(name, location));
    sorted_ = false;
}

void BaseRecords::add(std::string_view name, std::string_view location) { add(RecordText(name), RecordText(location)); }

void BaseRecords::sortOnce() const {
    if (sorted_)
        return;
    radixSort(keys_);
    sorted_ = true;
}

void BaseRecords::writeTo(std::string& out) const {
    const std::uint64_t count = keys_.size();
    out.append(reinterpret_cast<const char*>(&count), sizeof count);
    out.append(reinterpret_cast<const char*>(keys_.data()), keys_.size() * sizeof(std::uint64_t));
}

bool BaseRecords::readFrom(std::string_view& in) {
    constexpr std::size_t PerRecord = sizeof(std::uint64_t);
    std::uint64_t count;
    if (in.size() < sizeof count)
        return false;
    std::memcpy(&count, in.data(), sizeof count);
    if (count > (in.size() - sizeof count) / PerRecord)
        return false;
    const std::size_t n = std::size_t(count);
    const char* at = in.data() + sizeof count;
    keys_.resize(n);
    if (n)
        std::memcpy(keys_.data(), at, n * sizeof(std::uint64_t));
    sorted_ = false;
    in.remove_prefix(sizeof count + n * PerRecord);
    return true;
}

bool BaseRecords::hasRecord(std::string_view name, std::string_view location) const {
    sortOnce();
    return std::binary_search(keys_.begin(), keys_.end(), keyOf(RecordText(name), RecordText(location)));
}

bool BaseRecords::hasName(std::string_view name) const {
    sortOnce();
    const std::uint64_t first = std::uint64_t(nameHash(name)) << 32;
    const auto it = std::lower_bound(keys_.begin(), keys_.end(), first);
    return it != keys_.end() && (*it >> 32) == (first >> 32);
}

}  // namespace vrindel
