// Loads a catalogue sorted, as start-up does, and exits: its parent reads
// the peak resident size of this fresh process.
#include <cstdio>

#include "BenchData.h"
#include "store/format/CatalogueFiles.h"

namespace {
struct NoMessages : vrindel::FileMessages {
    void listFileMissing() override {}
    void listFileDamaged() override {}
};
}  // namespace

// Usage: load_memory <Zoznam.dat> ; prints the peak in kB.
int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    vrindel::Catalogue catalogue;
    catalogue.setSorted(true);
    NoMessages messages;
    vrindel::FileVar file;
    file.assign(argv[1]);
    vrindel::readCatalogue(file, catalogue, messages);
    catalogue.setSelection(0);
    // An empty file gives the yardstick the others are set against.
    if (catalogue.displayCount() != catalogue.recordCount())
        return 1;
    std::printf("%ld\n", vrindel::bench::peakKilobytes());
    return 0;
}
