#pragma once
// Searching a whole catalogue as the user types: every name and location is
// folded once (TextSearch's folding, so that it finds exactly what
// vrindel-cli find finds), into one block read front to back, and a text
// that grows by what is typed is looked for only among the records the
// shorter one found.

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
    // The catalogue's records in the order of the given storage indexes. The
    // catalogue must not change while the index is in use.
    SearchIndex(const Catalogue& catalogue, const std::vector<int>& order);
    ~SearchIndex();
    SearchIndex(const SearchIndex&) = delete;
    SearchIndex& operator=(const SearchIndex&) = delete;

    // The records whose name or location contains the text (UTF-8), as
    // positions in the index's order. An empty text finds them all.
    const std::vector<int>& matches(std::string_view utf8);
    int storageIndexAt(int position) const { return order_[std::size_t(position)]; }
    // The same as storage indexes.
    std::vector<int> find(std::string_view utf8);
    std::size_t size() const { return order_.size(); }

private:
    // Folded units as one byte each; 0 separates texts and stands for no
    // unit of any record, so a text holding such a unit finds nothing.
    std::string encode(const std::u16string& folded) const;
    // Which codes a record holds, one bit a code (codes past 128 share).
    struct Mask {
        std::uint64_t low = 0, high = 0;
    };
    static Mask maskOf(std::string_view codes);
    // The records' texts folded into codes, off the caller's thread; and
    // the wait for them.
    void foldTexts();
    void waitForTexts();
    bool bitShared(unsigned char code) const;
    bool contains(std::size_t record, std::string_view wanted) const;

    const Catalogue& catalogue_;
    TextSearch folds_;
    std::vector<int> order_;
    std::u16string alphabet_;                 // unit of each code, code 1 on
    std::vector<std::string> byteCodes_;      // each byte's fold, encoded
    std::string text_;                        // name 0 location 0, record after record
    std::vector<std::uint32_t> starts_;       // where each record begins, and the end
    std::vector<Mask> masks_;                 // per record
    std::future<void> built_;                 // text_, starts_ and masks_
    std::string lastWanted_;
    bool searched_ = false;
    std::vector<int> found_;                  // positions in order_ of the last search
};

}  // namespace vrindel
