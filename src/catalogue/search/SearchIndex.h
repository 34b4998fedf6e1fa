#pragma once
// Searching a whole catalogue as the user types, with TextSearch's folding
// (so that it finds exactly what vrindel-cli find finds). The records' texts
// are read where the catalogue keeps them, folded a byte at a time from a
// table as they are read: a folded copy of every text would cost more than
// the texts themselves. A 4-byte mask a record of the codes it holds finds a
// letter alone and keeps anything longer to the records that may hold it.
// Records are read in storage order, the order they lie in, and a text that
// grows by what is typed is looked for only among those the shorter found.

#include <array>
#include <cstdint>
#include <future>
#include <string>
#include <string_view>
#include <vector>

#include "records/Catalogue.h"
#include "search/TextSearch.h"

namespace vrindel {

class SearchIndex {
public:
    // The catalogue's records in storage order or in name order (the
    // window's two orders), which cost no list of the records; or in the
    // order of the given storage indexes. The catalogue must not change
    // while the index is in use.
    enum class Order { Storage, Name };
    SearchIndex(const Catalogue& catalogue, Order order);
    SearchIndex(const Catalogue& catalogue, std::vector<int> order);
    ~SearchIndex();
    SearchIndex(const SearchIndex&) = delete;
    SearchIndex& operator=(const SearchIndex&) = delete;

    // Looks for the records whose name or location contains the text
    // (UTF-8); returns how many there are. An empty text finds them all.
    std::size_t matches(std::string_view utf8);
    // The last search's k-th find, in the index's order, as a position in
    // it: every record after an empty text, which needs no list of them.
    int foundAt(std::size_t k) const { return all_ ? int(k) : found_[k]; }
    int storageIndexAt(int position) const;
    // The same as storage indexes.
    std::vector<int> find(std::string_view utf8);
    std::size_t size() const { return size_; }

private:
    // Folded units as one byte each; 0 separates texts and stands for no
    // unit of any record, so a text holding such a unit finds nothing.
    std::string encode(const std::u16string& folded) const;
    // Whether a record's text holds the encoded text.
    bool holds(std::string_view text, std::string_view wanted) const;
    // Bit of a code in a record's mask: a letter a to z one of its own, any
    // other code one of six shared bits.
    std::uint32_t bitOf(unsigned char code) const;
    bool ownBit(unsigned char code) const;
    std::uint32_t maskOf(std::string_view codes) const;
    // The records' masks, off the caller's thread; and the wait for them.
    void buildMasks();
    void waitForMasks();
    // The last search's records (lastFound_, `count` of them) as positions
    // in the list.
    void inListOrder(std::vector<int>& found, std::size_t count) const;
    // Marks in `hits` the records among [from, to) that hold the text: of
    // every one, or of those the last search found.
    void scan(std::string_view wanted, bool narrow, std::size_t from, std::size_t to,
              std::vector<std::uint64_t>& hits) const;

    const Catalogue& catalogue_;
    TextSearch folds_;
    enum class Kind { Given, Storage, Name };
    SearchIndex(const Catalogue& catalogue, Kind kind, std::vector<int> order);

    Kind kind_;
    std::vector<int> order_;                 // given, else empty
    std::size_t size_ = 0;
    std::vector<std::uint64_t> listed_;      // one bit a storage index, set for those in order_
    std::u16string alphabet_;                // unit of each code, code 1 on
    std::vector<std::string> byteCodes_;     // each byte's fold, encoded
    // The same as a table read without a call: one code where the fold is
    // one unit (all but a few bytes), else 0 and byteCodes_ is read.
    std::array<unsigned char, 256> singleCode_{};
    std::array<std::uint32_t, 256> byteBits_{};   // the bits of each byte's fold
    // Which codes a record holds, 4 bytes a record in storage order: a
    // letter is found by the masks alone, anything else is looked for only
    // in the records whose mask holds all its codes.
    std::vector<std::uint32_t> masks_;
    std::future<void> built_;
    std::string lastWanted_;
    bool searched_ = false;
    std::vector<std::uint64_t> lastFound_;   // one bit a storage index, of the last search
    bool all_ = false;                       // the last search found every record
    std::vector<int> found_;                 // else its finds, positions in order_
};

}  // namespace vrindel
