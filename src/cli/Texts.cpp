#include "Texts.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <array>
#include <cstdint>
#include <cstdio>

#include "Messages.h"
#include "text/RecordText.h"

namespace vrindel::cli {

namespace {

// What can be wrong with a text, a sentence for each of the texts a
// command names: a translation may need another form of the words around
// "name" than around "location".
struct Problems {
    const char* invalid;
    const char* tooLong;
    const char* uncomposable;
    const char* unstorable;
    const char* control;
};

constexpr Problems NameProblems{
    N_("the name is not valid UTF-8"),
    N_("the name is {0} characters long (at most {1})"),
    N_("the name cannot be composed"),
    N_("the name holds {0}, which Windows-1250 cannot store"),
    N_("the name holds a control character ({0}), which the window refuses"),
};
constexpr Problems LocationProblems{
    N_("the location is not valid UTF-8"),
    N_("the location is {0} characters long (at most {1})"),
    N_("the location cannot be composed"),
    N_("the location holds {0}, which Windows-1250 cannot store"),
    N_("the location holds a control character ({0}), which the window refuses"),
};
constexpr Problems NewNameProblems{
    N_("the new name is not valid UTF-8"),
    N_("the new name is {0} characters long (at most {1})"),
    N_("the new name cannot be composed"),
    N_("the new name holds {0}, which Windows-1250 cannot store"),
    N_("the new name holds a control character ({0}), which the window refuses"),
};

const Problems& problemsOf(const char* what) {
    const std::string_view text = what;
    return text == "location" ? LocationProblems : text == "new name" ? NewNameProblems : NameProblems;
}

std::string describe(UChar32 c) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", unsigned(c));
    std::string shown;
    icu::UnicodeString(c).toUTF8String(shown);
    if (c <= 0xFFFF && isControlCharacter(char16_t(c)))
        return code;
    return "\"" + shown + "\" (" + code + ")";
}

// Below U+0300 the code page's byte of each character, 0 for none (U+0000
// is ASCII, never looked up here).
constexpr UChar32 SimpleLimit = 0x300;

const std::array<std::uint8_t, SimpleLimit>& simpleTable() {
    static const std::array<std::uint8_t, SimpleLimit> table = [] {
        std::array<std::uint8_t, SimpleLimit> bytes{};
        for (UChar32 c = 1; c < SimpleLimit; ++c)
            bytes[std::size_t(c)] = toWindows1250(char16_t(c)).value_or(0);
        return bytes;
    }();
    return table;
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
    // composes with: a table alone maps them, with no copy in between.
    // Each character takes at least one byte of UTF-8, so the bytes fit.
    const std::array<std::uint8_t, SimpleLimit>& simpleBytes = simpleTable();
    out.bytes.resize(utf8.size());
    char* const bytes = out.bytes.data();
    std::size_t length = 0;
    bool simple = true;
    const auto* in = reinterpret_cast<const uint8_t*>(utf8.data());
    for (int32_t i = 0, n = int32_t(utf8.size()); i < n;) {
        if (in[i] < 0x80) {   // the same byte in Windows-1250
            if (simple)
                bytes[length++] = char(in[i]);
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(in, i, n, c);
        if (c < 0) {
            out.problem = _(problemsOf(what).invalid);
            out.bytes.clear();
            return;
        }
        if (simple && c < SimpleLimit && simpleBytes[std::size_t(c)] != 0)
            bytes[length++] = char(simpleBytes[std::size_t(c)]);
        else
            simple = false;
    }
    out.bytes.resize(length);
    auto limited = [&] {
        if (out.bytes.size() > MaxTextLength) {
            out.problem = tr(problemsOf(what).tooLong, out.bytes.size(), MaxTextLength);
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
        out.problem = _(problemsOf(what).uncomposable);
        return;
    }
    out.bytes.reserve(std::size_t(text.length()));
    for (int32_t k = 0; k < text.length();) {
        const UChar32 c = text.char32At(k);
        k += U16_LENGTH(c);
        const auto byte = c <= 0xFFFF ? toWindows1250(char16_t(c)) : std::nullopt;
        if (!byte) {
            out.problem = tr(problemsOf(what).unstorable, describe(c));
            out.bytes.clear();
            return;
        }
        out.bytes += char(*byte);
    }
    return limited();
}

std::string controlProblem(std::string_view bytes, const char* what) {
    const std::size_t at = findControlCharacter(bytes);
    if (at == std::string_view::npos)
        return {};
    return tr(problemsOf(what).control, describe(fromWindows1250(static_cast<unsigned char>(bytes[at]))));
}

}  // namespace vrindel::cli
