#include "text/CsvField.h"

#include <cstdint>

namespace vrindel {

void appendCsvField(std::string& out, std::string_view utf8, std::string_view separators) {
    // Every character that calls for quotes is ASCII below '@', so one bit
    // each in a word, and a field is looked through once: an export of a
    // million records calls this two million times.
    std::uint64_t special = (1ull << '"') | (1ull << '\r') | (1ull << '\n');
    bool other = false;
    for (const char c : separators) {
        if (static_cast<unsigned char>(c) < 64)
            special |= 1ull << static_cast<unsigned char>(c);
        else
            other = true;
    }
    bool quote = false;
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 64 && ((special >> b) & 1)) {
            quote = true;
            break;
        }
    }
    if (!quote && other)
        quote = utf8.find_first_of(separators) != std::string_view::npos;
    if (!quote) {
        out += utf8;
        return;
    }
    out += '"';
    for (char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace vrindel
