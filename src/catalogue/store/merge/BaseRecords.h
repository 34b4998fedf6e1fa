#pragma once
// The common version of a three-way merge: the catalogue as this program
// last read or wrote it, kept as eight bytes a record rather than a second
// copy: a hash of its name (letter case folded, as names match) above one of
// the whole record. A record is found by its exact bytes; a name as the
// window's name match finds it.
//
// A false "this record was there" (which could drop a record) needs both
// hashes to match another record's: for a name the base never had, about
// one in 2^64 a record held; for a record whose name it had under another
// location, one in 2^32 a record of that name. The 32-bit name hash errs,
// rarely, only towards "this name was there", which sends a record to the
// conflict file instead of merging it: announced, never lost.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/RecordText.h"

namespace vrindel {

class BaseRecords {
public:
    // Forgets every record: the next ones build a new base.
    void clear();
    void reserve(std::size_t records);
    void add(std::string_view name, std::string_view location);
    void add(const RecordText& name, const RecordText& location);

    bool hasRecord(std::string_view name, std::string_view location) const;
    bool hasName(std::string_view name) const;
    std::size_t size() const { return keys_.size(); }

    // Its hashes appended to `out`, eight bytes a record, to be read back
    // by readFrom(), on this computer (in its byte order) only.
    void writeTo(std::string& out) const;
    // Takes the place of every record with the ones `in` begins with and
    // moves `in` past them; false, with `in` and the records as they were,
    // where `in` holds too few bytes.
    bool readFrom(std::string_view& in);

    static std::uint64_t recordHash(std::string_view name, std::string_view location);
    static std::uint64_t recordHash(const RecordText& name, const RecordText& location);
    static std::uint32_t nameHash(std::string_view name);
    static std::uint32_t nameHash(const RecordText& name);

private:
    // Kept in the order the records came and sorted at the first look-up:
    // a catalogue that nobody else touched never pays for the sort.
    void sortOnce() const;

    static std::uint64_t keyOf(const RecordText& name, const RecordText& location);

    mutable std::vector<std::uint64_t> keys_;   // name hash above record hash
    mutable bool sorted_ = true;
};

}  // namespace vrindel
