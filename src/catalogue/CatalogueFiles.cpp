#include "CatalogueFiles.h"

#include <cstring>

namespace vrindel {

namespace {

using RecordBuffer = unsigned char[ListRecordSize];

std::string_view textOf(const RecordBuffer& record) {
    // A length above 31 would reach past the record; it is cut to 31.
    std::size_t length = std::min<std::size_t>(record[0], MaxTextLength);
    return {reinterpret_cast<const char*>(record + 1), length};
}

void writeText(FileVar& file, const RecordText& text) {
    // A record text is laid out as a record: its length, then its bytes,
    // zeros after them.
    static_assert(sizeof(RecordText) == ListRecordSize);
    file.writeRecord(&text);
}

}  // namespace

void ensureCatalogueFile(FileVar& listFile, FileMessages& messages) {
    if (listFile.exists())
        return;
    messages.listFileMissing();
    listFile.rewrite(ListRecordSize);
    listFile.close();
}

void ensureOptionsFile(FileVar& optionsFile) {
    if (optionsFile.exists())
        return;
    saveOptions(optionsFile, Switches{});
}

void readOptions(FileVar& optionsFile, const std::function<void(Switch, bool)>& setSwitch) {
    optionsFile.reset(OptionsRecordSize);
    try {
        for (Switch s : {Switch::Zoradit, Switch::DelPlaceBox, Switch::DelExt}) {
            unsigned char byte = 0;
            optionsFile.readRecord(&byte);
            setSwitch(s, byte != 0);
        }
    } catch (...) {
        // Whatever is left keeps the value it had.
    }
    optionsFile.close();
}

bool readCatalogue(FileVar& listFile, Catalogue& catalogue, FileMessages& messages) {
    listFile.reset(ListRecordSize);
    catalogue.reserve(std::size_t(listFile.sizeInRecords() / 2));
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
        catalogue.appendLoaded(textOf(name), textOf(location));
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

void saveCatalogue(FileVar& listFile, const Catalogue& catalogue) {
    listFile.rewrite(ListRecordSize);
    const int count = catalogue.storageCount();
    for (int j = 0; j < count; ++j) {
        writeText(listFile, catalogue.storageName(j));
        writeText(listFile, catalogue.storageLocation(j));
    }
    listFile.close();
}

void saveOptions(FileVar& optionsFile, const Switches& switches) {
    optionsFile.rewrite(OptionsRecordSize);
    for (bool on : {switches.zoradit, switches.delPlaceBox, switches.delExt}) {
        unsigned char byte = on ? 1 : 0;
        optionsFile.writeRecord(&byte);
    }
    optionsFile.close();
}

}  // namespace vrindel
