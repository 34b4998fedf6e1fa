#pragma once
// The two files: "Zoznam.dat", a bare sequence of 32-byte records (a length
// byte and up to 31 Windows-1250 characters), name and location alternating;
// and "Options.dat", three bytes for the three switches. What a caller of
// the store needs of them, without the file layer behind.

#include <cstddef>
#include <string_view>

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

// The text a record of "Zoznam.dat" holds.
std::string_view recordText(const unsigned char (&record)[ListRecordSize]);

}  // namespace vrindel
