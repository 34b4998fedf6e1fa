#pragma once
// The two files: "Zoznam.dat", a bare sequence of 32-byte records (a length
// byte and up to 31 Windows-1250 characters), name and location alternating;
// and "Options.dat", three bytes for the three switches.

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "records/Catalogue.h"
#include "store/format/FileLayer.h"

namespace vrindel {

inline constexpr const char* ListFileName = "Zoznam.dat";
inline constexpr const char* OptionsFileName = "Options.dat";
inline constexpr std::size_t ListRecordSize = 32;
inline constexpr std::size_t OptionsRecordSize = 1;

// The two file messages, in UTF-8, with their caption.
inline constexpr const char* FileMessageCaption = "Vrindel";
inline constexpr const char* ListMissingText = "S\u00fabor so zoznamom sa nena\u0161iel!";
inline constexpr const char* ListDamagedText = "S\u00fabor so z\u00e1znamami je po\u0161koden\u00fd!";

// The window shows the two file messages; the library only says when.
class FileMessages {
public:
    virtual ~FileMessages() = default;
    virtual void listFileMissing() = 0;   // warning icon
    virtual void listFileDamaged() = 0;   // error icon
};

// The switches in the order of their bytes.
enum class Switch { Zoradit, DelPlaceBox, DelExt };

struct Switches {
    bool zoradit = true;
    bool delPlaceBox = false;
    bool delExt = true;
    bool operator==(const Switches&) const = default;
};

// Closes a file that is being read when an error leaves a procedure.
class ClosingOnError {
public:
    explicit ClosingOnError(FileVar& file) : file_(file) {}
    ~ClosingOnError() {
        if (file_.isOpen()) {
            try {
                file_.close();
            } catch (const IoError&) {
            }
        }
    }
    ClosingOnError(const ClosingOnError&) = delete;
    ClosingOnError& operator=(const ClosingOnError&) = delete;

private:
    FileVar& file_;
};

// The text a record of "Zoznam.dat" holds.
std::string_view recordText(const unsigned char (&record)[ListRecordSize]);

// If no "Zoznam.dat" exists: the warning, then an empty file.
void ensureCatalogueFile(FileVar& listFile, FileMessages& messages);
// If no "Options.dat" exists: the defaults 1, 0, 1, silently.
void ensureOptionsFile(FileVar& optionsFile);
// Sets the switches byte by byte, in order. A missing byte, or an error
// raised while a switch reacts, ends the reading silently.
void readOptions(FileVar& optionsFile, const std::function<void(Switch, bool)>& setSwitch);
// Appends every whole record; a damaged file shows its message and keeps
// the records read before the damage. Returns false when the reading broke
// off before the file's last whole record (a read error, not a short file):
// the catalogue in memory is then only part of the one on disk.
bool readCatalogue(FileVar& listFile, Catalogue& catalogue, FileMessages& messages);
// Every record of the file in order, without a model: a name whose location
// is missing at the end comes with an empty location. Read errors are raised.
void readRecords(FileVar& listFile, const std::function<void(std::string_view name, std::string_view location)>& each);
// The catalogue's records in storage order, then `more`. With `expected`,
// the file must still be that one (or still absent), or FileChanged is raised.
void saveCatalogue(FileVar& listFile, const Catalogue& catalogue,
                   const std::vector<std::pair<RecordText, RecordText>>& more = {},
                   const FileIdentity* expected = nullptr);
void saveOptions(FileVar& optionsFile, const Switches& switches, const FileIdentity* expected = nullptr);

}  // namespace vrindel
