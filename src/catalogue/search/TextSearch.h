#pragma once
// Searching inside names and locations as a person expects: letter case and
// accents ignored ("sa" finds "Šachy", "cist" finds "Čistiareň"), even
// where the catalogue's own comparison sorts an accented letter apart.

#include <array>
#include <string>
#include <string_view>

namespace vrindel {

class TextSearch {
public:
    // The text sought, in UTF-8. An empty text is found in every text.
    explicit TextSearch(std::string_view utf8);

    // Whether a Windows-1250 record text contains the text sought.
    bool foundIn(std::string_view recordText) const;

    // The folded form: compatibility decomposition, marks dropped, case
    // folded. Exposed for the query side only.
    static std::u16string fold(std::u16string_view text);
    static std::u16string foldUtf8(std::string_view utf8);

    // What each Windows-1250 byte folds to: a record text contains the
    // text sought when the concatenation of its bytes' folds contains it
    // (SearchIndex keeps those folds ready).
    const std::u16string& byteFold(unsigned char b) const { return byteFolds_[b]; }

private:
    std::u16string wanted_;
    // Each Windows-1250 byte folded once; a byte may fold to several units.
    std::array<std::u16string, 256> byteFolds_;
};

}  // namespace vrindel
