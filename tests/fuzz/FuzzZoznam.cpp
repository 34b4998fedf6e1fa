// Arbitrary bytes as "Zoznam.dat": read them as start-up does, then save and
// read again. Nothing may crash or leak, the three lists must stay aligned
// with the count, every whole record must come through as the file holds it
// (a length above 31 cut to 31), and a save then load must give back exactly
// what the first load gave.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records/Catalogue.h"
#include "store/format/CatalogueFiles.h"
#include "text/Collation.h"
#include "FuzzSupport.h"

using namespace vrindel;
using vrindel::fuzz::check;

namespace {

class CountingMessages : public FileMessages {
public:
    void listFileMissing() override { ++missing; }
    void listFileDamaged() override { ++damaged; }
    int missing = 0;
    int damaged = 0;
};

void checkAligned(const Catalogue& catalogue) {
    check(catalogue.storageCount() == catalogue.displayCount(), "the display and storage lists differ in length");
    check(catalogue.storageCount() == catalogue.recordCount(), "the count is not the lists' length");
}

std::string_view textAt(std::string_view file, std::size_t record) {
    std::string_view r = file.substr(record * ListRecordSize, ListRecordSize);
    std::size_t length = std::min<std::size_t>(static_cast<unsigned char>(r[0]), MaxTextLength);
    return r.substr(1, length);
}

void load(const std::string& path, Catalogue& catalogue, CountingMessages& messages) {
    FileVar file;
    file.assign(path);
    readCatalogue(file, catalogue, messages);
    check(!file.isOpen(), "the catalogue file was left open");
}

std::string save(const std::string& path, const Catalogue& catalogue) {
    FileVar file;
    file.assign(path);
    saveCatalogue(file, catalogue);
    check(!file.isOpen(), "the catalogue file was left open");
    auto bytes = fuzz::getBytes(path);
    check(bytes.has_value(), "the saved catalogue file is missing");
    return *bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzz::scratch().file(ListFileName);
    const std::string saved = fuzz::scratch().file("Saved.dat");
    fuzz::putBytes(input, data, size);
    const std::string_view file(reinterpret_cast<const char*>(data), size);

    // Start-up's way: sorted view on, as the options are by default.
    Catalogue first;
    first.setSorted(true);
    CountingMessages messages;
    load(input, first, messages);
    checkAligned(first);

    // Whole pairs of records load; an odd record at the end is damage and
    // a trailing part of a record is ignored.
    const std::size_t records = size / ListRecordSize;
    check(std::size_t(first.storageCount()) == records / 2, "not every whole record was loaded");
    check(messages.damaged == (records % 2 == 1 ? 1 : 0), "damage reported wrongly");
    check(messages.missing == 0, "a present file was reported missing");
    for (int j = 0; j < first.storageCount(); ++j) {
        check(first.storageName(j).view() == textAt(file, 2 * std::size_t(j)), "a name differs from the file");
        check(first.storageLocation(j).view() == textAt(file, 2 * std::size_t(j) + 1), "a location differs from the file");
    }

    // The display list holds the same names, in name order.
    std::vector<std::string> shown, stored;
    for (int i = 0; i < first.displayCount(); ++i) {
        shown.push_back(first.displayAt(i).str());
        stored.push_back(first.storageName(i).str());
        if (i > 0)
            check(Collation::instance().compare(shown[std::size_t(i) - 1], shown.back()) <= 0, "the sorted view is out of order");
        check(first.locationOfDisplay(i).view() == first.storageLocation(first.findInStorage(shown.back())).view(),
              "a display entry shows another record's location");
    }
    std::sort(shown.begin(), shown.end());
    std::sort(stored.begin(), stored.end());
    check(shown == stored, "the display list and the storage list hold different names");

    // Save, load: the same records, byte for byte; the file as the format
    // writes it: 64 bytes a record, zeros after each text.
    const std::string once = save(saved, first);
    check(once.size() == std::size_t(first.storageCount()) * 2 * ListRecordSize, "the saved file has the wrong size");
    for (std::size_t r = 0; r < once.size() / ListRecordSize; ++r) {
        std::string_view record = std::string_view(once).substr(r * ListRecordSize, ListRecordSize);
        std::size_t length = static_cast<unsigned char>(record[0]);
        check(length <= MaxTextLength, "a saved length is above 31");
        check(record.substr(1 + length).find_first_not_of('\0') == std::string_view::npos,
              "a saved record has bytes after its text");
    }

    Catalogue second;
    CountingMessages quiet;
    load(saved, second, quiet);
    checkAligned(second);
    check(quiet.damaged == 0 && quiet.missing == 0, "a saved file does not load cleanly");
    check(second.storageCount() == first.storageCount(), "the reloaded catalogue has another size");
    for (int j = 0; j < second.storageCount(); ++j) {
        check(second.storageName(j).view() == first.storageName(j).view(), "a name changed through save and load");
        check(second.storageLocation(j).view() == first.storageLocation(j).view(),
              "a location changed through save and load");
    }
    check(save(saved, second) == once, "a second save wrote other bytes");
    return 0;
}
