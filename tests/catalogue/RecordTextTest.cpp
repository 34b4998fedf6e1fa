// Record texts: Windows-1250 in the files, UTF-16 in the window. Every byte
// must come back as it went in, whatever wrote the file.

#include <gtest/gtest.h>

#include <iconv.h>

#include <cerrno>
#include <set>

#include "text/RecordText.h"
#include "TestSupport.h"

namespace vrindel {
namespace {

using test::cp;

std::string allBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    return bytes;
}

TEST(RecordTextConversion, EveryByteSurvivesTheWayToUtf16AndBack) {
    std::set<char16_t> seen;
    for (int b = 0; b < 256; ++b) {
        const char16_t ch = fromWindows1250(static_cast<unsigned char>(b));
        seen.insert(ch);
        auto back = toWindows1250(ch);
        ASSERT_TRUE(back.has_value()) << "byte " << b;
        EXPECT_EQ(*back, b) << "byte " << b;
        EXPECT_TRUE(canStore(ch)) << "byte " << b;
    }
    EXPECT_EQ(seen.size(), 256u) << "two bytes share one character";

    const std::string bytes = allBytes();
    const std::u16string units = fromWindows1250(bytes);
    ASSERT_EQ(units.size(), 256u);
    EXPECT_EQ(toWindows1250(units), bytes);
    EXPECT_EQ(utf8ToWindows1250(windows1250ToUtf8(bytes)), bytes);
}

// The table is our own; the C library's converter is an independent
// witness for every byte the code page defines.
TEST(RecordTextConversion, AgreesWithTheSystemConverterAndKeepsTheUndefinedBytes) {
    iconv_t toUnicode = iconv_open("UTF-32LE", "CP1250");
    iconv_t fromUnicode = iconv_open("CP1250", "UTF-32LE");
    if (toUnicode == iconv_t(-1) || fromUnicode == iconv_t(-1))
        GTEST_SKIP() << "the system has no CP1250 converter";

    std::set<int> undefined;
    for (int b = 0; b < 256; ++b) {
        char in = char(b);
        unsigned char out[8] = {};
        char* inPtr = &in;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t inLeft = 1, outLeft = sizeof out;
        iconv(toUnicode, nullptr, nullptr, nullptr, nullptr);
        if (iconv(toUnicode, &inPtr, &inLeft, &outPtr, &outLeft) == std::size_t(-1)) {
            ASSERT_EQ(errno, EILSEQ) << "byte " << b;
            undefined.insert(b);
            continue;
        }
        ASSERT_EQ(sizeof out - outLeft, 4u) << "byte " << b;
        const char32_t expected = char32_t(out[0] | (out[1] << 8) | (out[2] << 16) | (out[3] << 24));
        EXPECT_EQ(char32_t(fromWindows1250(static_cast<unsigned char>(b))), expected) << "byte " << b;

        // And the way back, from the system's character to our byte.
        char back = 0;
        char* backPtr = &back;
        char* uniPtr = reinterpret_cast<char*>(out);
        std::size_t uniLeft = 4, backLeft = 1;
        iconv(fromUnicode, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(iconv(fromUnicode, &uniPtr, &uniLeft, &backPtr, &backLeft), std::size_t(-1)) << "byte " << b;
        EXPECT_EQ(toWindows1250(char16_t(expected)), static_cast<unsigned char>(back)) << "byte " << b;
    }
    iconv_close(toUnicode);
    iconv_close(fromUnicode);

    EXPECT_EQ(undefined, (std::set<int>{0x81, 0x83, 0x88, 0x90, 0x98}));
    for (int b : undefined)
        EXPECT_EQ(int(fromWindows1250(static_cast<unsigned char>(b))), b) << "byte " << b;
}

TEST(RecordTextConversion, CentralEuropeanLettersHaveTheirBytes) {
    EXPECT_EQ(cp("Š"), "\x8A");
    EXPECT_EQ(cp("š"), "\x9A");
    EXPECT_EQ(cp("ť"), "\x9D");
    EXPECT_EQ(cp("Ľ"), "\xBC");
    EXPECT_EQ(cp("č"), "\xE8");
    EXPECT_EQ(cp("ô"), "\xF4");
    EXPECT_EQ(cp("€"), "\x80");
    EXPECT_EQ(windows1250ToUtf8("\x8A\xE8\xF4"), "Ščô");
}

TEST(RecordTextConversion, CanStoreOnlyCharactersOfTheCodePage) {
    for (char16_t ch : {u'a', u'Z', u'0', u' ', u'\0', u'Š', u'ž', u'ľ', u'ŕ', u'ä', u'ô', u'ß', u'€', u'\u00A0',
                        u'\u02C7', u'\u0081'})
        EXPECT_TRUE(canStore(ch)) << int(ch);
    for (char16_t ch : {u'ø', u'ñ', u'Ω', u'Ж', u'\u0080', u'\u00C5', u'\u20A4', u'\u4E2D', char16_t(0xD83D), u'\uFFFD'})
        EXPECT_FALSE(canStore(ch)) << int(ch);

    EXPECT_EQ(toWindows1250(std::u16string_view(u"Žltý kôň")), cp("Žltý kôň"));
    EXPECT_FALSE(toWindows1250(std::u16string_view(u"Smørrebrød")).has_value());
    EXPECT_FALSE(utf8ToWindows1250("Emoji \xF0\x9F\x98\x80").has_value());
    EXPECT_FALSE(utf8ToWindows1250("\xC3").has_value()) << "a cut UTF-8 sequence";
}

TEST(RecordTextLayout, IsOneFileRecordWithZerosAfterTheText) {
    RecordText t(cp("Čučoriedka"));
    EXPECT_EQ(int(t.length), 10);
    EXPECT_EQ(t.view(), cp("Čučoriedka"));
    for (std::size_t k = 10; k < MaxTextLength; ++k)
        EXPECT_EQ(t.bytes[k], '\0') << "byte " << k;

    RecordText empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.view(), "");
}

TEST(RecordTextLayout, LongerTextsAreCutTo31) {
    const std::string forty(40, 'x');
    RecordText t(forty + "tail");
    EXPECT_EQ(int(t.length), 31);
    EXPECT_EQ(t.view(), std::string(31, 'x'));

    const std::string exactly = std::string(30, 'a') + "\xBE";  // ends in ľ
    EXPECT_EQ(RecordText(exactly).view(), exactly);

    // Texts may hold any byte, a zero among them.
    const std::string withZero("a\0b", 3);
    EXPECT_EQ(RecordText(withZero).view(), withZero);
}

}  // namespace
}  // namespace vrindel
