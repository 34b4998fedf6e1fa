#include "text/TerminalText.h"

namespace vrindel {

std::string printable(std::string_view s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size());
    auto hex = [&](unsigned char c) {
        out += "\\x";
        out += digits[c >> 4];
        out += digits[c & 0xF];
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F)
            hex(c);
        else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0)
            hex(static_cast<unsigned char>(s[++i]));
        else
            out += char(c);
    }
    return out;
}

}  // namespace vrindel
