#pragma once
// A record text is what one 32-byte record of the catalogue file holds: at
// most 31 single-byte Windows-1250 characters. The window works in UTF-16;
// these functions are the only place the two meet.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vrindel {

inline constexpr std::size_t MaxTextLength = 31;

struct RecordText {
    std::uint8_t length = 0;
    std::array<char, MaxTextLength> bytes{};

    RecordText() = default;
    // Longer input is cut to its first 31 bytes, as the file would cut it.
    explicit RecordText(std::string_view text);

    std::string_view view() const { return {bytes.data(), length}; }
    std::string str() const { return std::string(view()); }
    bool empty() const { return length == 0; }

    friend bool operator==(const RecordText& a, const RecordText& b) { return a.view() == b.view(); }
};
static_assert(sizeof(RecordText) == 32, "one record text is one file record");

// Windows-1250 to UTF-16. Every byte maps to exactly one code unit; the five
// bytes the code page leaves undefined map to the C1 control of the same
// value, so that any file survives a load and save unchanged.
char16_t fromWindows1250(unsigned char byte);
std::u16string fromWindows1250(std::string_view bytes);

// UTF-16 to Windows-1250; nothing when the character has no byte.
std::optional<unsigned char> toWindows1250(char16_t ch);
// Nothing when any character cannot be stored.
std::optional<std::string> toWindows1250(std::u16string_view text);

// Letter case folded character by character, within the code page: ICU's
// simple case folding of each character, a character whose folded form has
// no byte staying as it is. Two texts that differ only in letter case fold
// to the same bytes.
// A character of the Basic Multilingual Plane (all that Windows-1250 and
// the texts here hold) appended to `out` in UTF-8.
void appendUtf8(std::string& out, char32_t c);

unsigned char foldCase(unsigned char byte);
std::string foldCase(std::string_view text);
// The same as a table of 256 bytes, for loops over many texts.
const unsigned char* caseFoldTable();

// Whether a character can be stored in a record text.
inline bool canStore(char16_t ch) { return toWindows1250(ch).has_value(); }

// The control characters (C0, DEL, C1): a record text may hold them, from a
// file written by other means, but nothing that enters a new text takes
// them, as they would move a terminal's cursor or vanish in the list.
inline bool isControlCharacter(char16_t ch) { return ch < 0x20 || (ch >= 0x7F && ch < 0xA0); }
// The first byte of a Windows-1250 text that is a control character, or
// npos.
std::size_t findControlCharacter(std::string_view bytes);

// UTF-8 convenience for tests and tools.
std::string windows1250ToUtf8(std::string_view bytes);
std::optional<std::string> utf8ToWindows1250(std::string_view utf8);

}  // namespace vrindel
