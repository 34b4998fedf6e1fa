#include "store/format/CatalogueFiles.h"

#include <cstring>

namespace vrindel {

namespace {

using RecordBuffer = unsigned char[ListRecordSize];

void writeText(FileVar& file, const RecordText& text) {
    // A record text is laid out as a record: its length, then its bytes,
    // zeros after them.
    static_assert(sizeof(RecordText) == ListRecordSize);
    file.writeRecord(&text);
}

}  // namespace

std::string_view recordText(const unsigned char (&record)[ListRecordSize]) {
    // A length above 31 would reach past the record; it is cut to 31.
    std::size_t length = std::min<std::size_t>(record[0], MaxTextLength);
    return {reinterpret_cast<const char*>(record + 1), length};
}

void ensureCatalogueFile(FileVar& listFile, FileMessages& messages) {
    if (listFile.exists())
        return;
    messages.listFileMissing();
    // Created only where nothing is: never over a file that came meanwhile.
    const FileIdentity absent;
    listFile.rewrite(ListRecordSize, 0, &absent);
    listFile.close();
}

void ensureOptionsFile(FileVar& optionsFile) {
    if (optionsFile.exists())
        return;
    const FileIdentity absent;
    saveOptions(optionsFile, Switches{}, &absent);
}

bool readOptions(FileVar& optionsFile, const std::function<void(Switch, bool)>& setSwitch) {
    optionsFile.reset(OptionsRecordSize);
    bool asSaved = optionsFile.sizeInRecords() == 3;
    try {
        for (Switch s : {Switch::Zoradit, Switch::DelPlaceBox, Switch::DelExt}) {
            unsigned char byte = 0;
            optionsFile.readRecord(&byte);
            asSaved = asSaved && byte <= 1;
            setSwitch(s, byte != 0);
        }
    } catch (...) {
        // Whatever is left keeps the value it had.
    }
    optionsFile.close();
    return asSaved;
}

bool readCatalogue(FileVar& listFile, Catalogue& catalogue, FileMessages& messages) {
    listFile.reset(ListRecordSize);
    catalogue.reserve(std::size_t(listFile.sizeInRecords() / 2));
    return readCatalogue(
        listFile, [&](std::string_view name, std::string_view location) { catalogue.appendLoaded(name, location); },
        messages);
}

bool readCatalogue(FileVar& listFile, const std::function<void(std::string_view, std::string_view)>& each,
                   FileMessages& messages) {
    if (!listFile.isOpen())
        listFile.reset(ListRecordSize);
    const ClosingOnError closing(listFile);   // `each` may end the reading
    bool damaged = false;
    std::uint64_t loaded = 0;
    RecordBuffer name{}, location{};
    while (!listFile.eof()) {
        try {
            listFile.readRecord(name);
            listFile.readRecord(location);
        } catch (const IoError&) {
            // A name without its location is not kept: the lists stay
            // aligned and the count counts whole records only.
            damaged = true;
            break;
        }
        each(recordText(name), recordText(location));
        ++loaded;
    }
    // Only a file that ends in a name without its location may stop short
    // of its end; anything else stopped because the system failed a read.
    const bool whole = !damaged || loaded == listFile.sizeInRecords() / 2;
    if (damaged)
        messages.listFileDamaged();
    listFile.close();
    return whole;
}

void readRecords(FileVar& listFile, const std::function<void(std::string_view, std::string_view)>& each) {
    listFile.reset(ListRecordSize);
    const ClosingOnError closing(listFile);
    RecordBuffer name{}, location{};
    while (!listFile.eof()) {
        listFile.readRecord(name);
        if (listFile.eof()) {
            each(recordText(name), {});
            break;
        }
        listFile.readRecord(location);
        each(recordText(name), recordText(location));
    }
    listFile.close();
}

void saveCatalogue(FileVar& listFile, const Catalogue& catalogue,
                   const std::vector<std::pair<RecordText, RecordText>>& more, const FileIdentity* expected) {
    const int count = catalogue.storageCount();
    listFile.rewrite(ListRecordSize, 2 * (std::uint64_t(count) + more.size()), expected);
    for (int j = 0; j < count; ++j) {
        writeText(listFile, catalogue.storageName(j));
        writeText(listFile, catalogue.storageLocation(j));
    }
    for (const auto& [name, location] : more) {
        writeText(listFile, name);
        writeText(listFile, location);
    }
    listFile.close();
}

void saveCatalogue(FileVar& listFile, const Catalogue& catalogue, const MergedRecords& merged,
                   const FileIdentity* expected) {
    listFile.rewrite(ListRecordSize, 2 * merged.count(catalogue), expected);
    merged.forEach(catalogue, [&](const RecordText& name, const RecordText& location) {
        writeText(listFile, name);
        writeText(listFile, location);
    });
    listFile.close();
}

void saveOptions(FileVar& optionsFile, const Switches& switches, const FileIdentity* expected) {
    optionsFile.rewrite(OptionsRecordSize, 3, expected);
    for (bool on : {switches.zoradit, switches.delPlaceBox, switches.delExt}) {
        unsigned char byte = on ? 1 : 0;
        optionsFile.writeRecord(&byte);
    }
    optionsFile.close();
}

}  // namespace vrindel
