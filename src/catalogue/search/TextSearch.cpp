#include "search/TextSearch.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <stdexcept>

#include "text/RecordText.h"

namespace vrindel {

std::u16string TextSearch::fold(std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
    if (U_FAILURE(status))
        throw std::runtime_error("cannot open the Unicode decomposition");
    // Decompose, fold case, decompose again (folding can compose), and
    // keep what is not a mark.
    icu::UnicodeString s(false, text.data(), int32_t(text.size()));
    icu::UnicodeString decomposed = nfkd->normalize(s, status);
    decomposed.foldCase();
    decomposed = nfkd->normalize(decomposed, status);
    if (U_FAILURE(status))
        throw std::runtime_error("cannot decompose a text");
    std::u16string out;
    for (int32_t k = 0; k < decomposed.length();) {
        UChar32 c = decomposed.char32At(k);
        k += U16_LENGTH(c);
        const int8_t type = u_charType(c);
        if (type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_COMBINING_SPACING_MARK)
            continue;
        if (c <= 0xFFFF) {
            out += char16_t(c);
        } else {
            out += char16_t(U16_LEAD(c));
            out += char16_t(U16_TRAIL(c));
        }
    }
    return out;
}

std::u16string TextSearch::foldUtf8(std::string_view utf8) {
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), int32_t(utf8.size())));
    return fold(std::u16string_view(text.getBuffer(), std::size_t(text.length())));
}

TextSearch::TextSearch(std::string_view utf8) : wanted_(foldUtf8(utf8)) {
    for (int b = 0; b < 256; ++b) {
        const char16_t ch = fromWindows1250(static_cast<unsigned char>(b));
        byteFolds_[std::size_t(b)] = fold(std::u16string_view(&ch, 1));
    }
}

bool TextSearch::foundIn(std::string_view recordText) const {
    if (wanted_.empty())
        return true;
    std::u16string folded;
    folded.reserve(recordText.size() + 8);
    for (unsigned char b : recordText)
        folded += byteFolds_[b];
    return folded.find(wanted_) != std::u16string::npos;
}

}  // namespace vrindel
