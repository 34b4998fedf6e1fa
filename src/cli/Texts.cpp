#include "Texts.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdio>

#include "RecordText.h"

namespace vrindel::cli {

namespace {

std::string describe(UChar32 c) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", unsigned(c));
    std::string shown;
    icu::UnicodeString(c).toUTF8String(shown);
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return code;
    return "\"" + shown + "\" (" + code + ")";
}

}  // namespace

Converted toRecordText(std::string_view utf8, const char* what) {
    Converted out;
    toRecordText(utf8, what, out);
    return out;
}

void toRecordText(std::string_view utf8, const char* what, Converted& out) {
    out.bytes.clear();
    out.problem.clear();
    // Nearly every text holds only characters below U+0300, which nothing
    // composes with: the table alone maps them, with no copy in between.
    bool simple = true;
    for (int32_t i = 0, n = int32_t(utf8.size()); i < n;) {
        if (static_cast<unsigned char>(utf8[std::size_t(i)]) < 0x80) {   // the same byte in Windows-1250
            if (simple)
                out.bytes += utf8[std::size_t(i)];
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(reinterpret_cast<const uint8_t*>(utf8.data()), i, n, c);
        if (c < 0) {
            out.problem = std::string("the ") + what + " is not valid UTF-8";
            out.bytes.clear();
            return;
        }
        const auto byte = simple && c < 0x300 ? toWindows1250(char16_t(c)) : std::nullopt;
        if (byte)
            out.bytes += char(*byte);
        else
            simple = false;
    }
    auto limited = [&] {
        if (out.bytes.size() > MaxTextLength) {
            out.problem = std::string("the ") + what + " is " + std::to_string(out.bytes.size()) +
                          " characters long (at most " + std::to_string(MaxTextLength) + ")";
            out.bytes.clear();
        }
    };
    if (simple)
        return limited();

    out.bytes.clear();
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), int32_t(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status) && nfc->spanQuickCheckYes(text, status) < text.length() && U_SUCCESS(status))
        text = nfc->normalize(text, status);
    if (U_FAILURE(status)) {
        out.problem = std::string("the ") + what + " cannot be composed";
        return;
    }
    out.bytes.reserve(std::size_t(text.length()));
    for (int32_t k = 0; k < text.length();) {
        const UChar32 c = text.char32At(k);
        k += U16_LENGTH(c);
        const auto byte = c <= 0xFFFF ? toWindows1250(char16_t(c)) : std::nullopt;
        if (!byte) {
            out.problem = std::string("the ") + what + " holds " + describe(c) + ", which Windows-1250 cannot store";
            out.bytes.clear();
            return;
        }
        out.bytes += char(*byte);
    }
    return limited();
}

}  // namespace vrindel::cli
