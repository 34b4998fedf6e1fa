#include "text/RecordText.h"

#include <algorithm>
#include <cstring>

#include <unicode/uchar.h>

namespace vrindel {

namespace {

// Upper half of Windows-1250. The bytes 0x81, 0x83, 0x88, 0x90 and 0x98 are
// undefined in the code page; they keep their own value as C1 controls.
constexpr char16_t HighHalf[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

RecordText::RecordText(std::string_view text) {
    length = std::uint8_t(std::min(text.size(), MaxTextLength));
    std::memcpy(bytes.data(), text.data(), length);
}

char16_t fromWindows1250(unsigned char byte) {
    return byte < 0x80 ? char16_t(byte) : HighHalf[byte - 0x80];
}

std::u16string fromWindows1250(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out[i] = fromWindows1250(static_cast<unsigned char>(bytes[i]));
    return out;
}

namespace {

// The way back, for every character up to the highest one the code page
// holds: importing a million records converts tens of millions of them.
struct Reverse {
    static constexpr char16_t Limit = 0x2200;
    std::uint8_t byte[Limit] = {};   // 0: none (U+0000 is handled apart)
    Reverse() {
        for (int i = 0; i < 128; ++i)
            byte[HighHalf[i]] = std::uint8_t(0x80 + i);
    }
};

}  // namespace

std::optional<unsigned char> toWindows1250(char16_t ch) {
    if (ch < 0x80)
        return static_cast<unsigned char>(ch);
    static const Reverse reverse;
    if (ch >= Reverse::Limit || reverse.byte[ch] == 0)
        return std::nullopt;
    return reverse.byte[ch];
}

std::optional<std::string> toWindows1250(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t ch : text) {
        auto b = toWindows1250(ch);
        if (!b)
            return std::nullopt;
        out += char(*b);
    }
    return out;
}

namespace {

struct FoldTable {
    unsigned char fold[256];
    FoldTable() {
        for (int b = 0; b < 256; ++b) {
            const UChar32 folded = u_foldCase(fromWindows1250(static_cast<unsigned char>(b)), U_FOLD_CASE_DEFAULT);
            const auto back = folded <= 0xFFFF ? toWindows1250(char16_t(folded)) : std::nullopt;
            fold[b] = back ? *back : static_cast<unsigned char>(b);
        }
    }
};

const FoldTable& foldTable() {
    static const FoldTable table;
    return table;
}

}  // namespace

const unsigned char* caseFoldTable() {
    return foldTable().fold;
}

unsigned char foldCase(unsigned char byte) {
    return foldTable().fold[byte];
}

std::string foldCase(std::string_view text) {
    const auto& f = foldTable().fold;
    std::string out(text);
    for (char& ch : out)
        ch = char(f[static_cast<unsigned char>(ch)]);
    return out;
}

std::string windows1250ToUtf8(std::string_view bytes) {
    std::string out;
    for (unsigned char b : bytes)
        appendUtf8(out, fromWindows1250(b));
    return out;
}

std::optional<std::string> utf8ToWindows1250(std::string_view utf8) {
    std::u16string units;
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char c = utf8[i];
        char32_t cp;
        std::size_t n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
        else return std::nullopt;  // nothing outside the BMP can be stored
        if (i + n > utf8.size())
            return std::nullopt;
        for (std::size_t k = 1; k < n; ++k) {
            unsigned char cc = utf8[i + k];
            if ((cc & 0xC0) != 0x80)
                return std::nullopt;
            cp = (cp << 6) | (cc & 0x3F);
        }
        units += char16_t(cp);
        i += n;
    }
    return toWindows1250(units);
}

std::size_t findControlCharacter(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (isControlCharacter(fromWindows1250(static_cast<unsigned char>(bytes[i]))))
            return i;
    return std::string_view::npos;
}

}  // namespace vrindel
