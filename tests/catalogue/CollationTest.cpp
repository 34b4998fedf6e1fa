// The one comparison of names: Slovak, letter case ignored, accents
// significant. It decides both whether a name is already listed and the
// sorted order, so both halves are pinned down here.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "Collation.h"
#include "TestSupport.h"

namespace vrindel {
namespace {

using test::cp;

int sign(int v) { return (v > 0) - (v < 0); }

const Collation& coll() { return Collation::instance(); }

TEST(CollationMatch, IgnoresLetterCase) {
    EXPECT_TRUE(coll().equal("ABC", "abc"));
    EXPECT_TRUE(coll().equal("Setup.EXE", "setup.exe"));
    EXPECT_TRUE(coll().equal(cp("ČAJ"), cp("čaj")));
    EXPECT_TRUE(coll().equal(cp("ŠKODA ŽILINA"), cp("škoda žilina")));
    EXPECT_TRUE(coll().equal(cp("Ľadová Ťava"), cp("ľADOVÁ ťAVA")));
    EXPECT_TRUE(coll().equal("", ""));
}

TEST(CollationMatch, CountsAccentsAndWholeTexts) {
    EXPECT_FALSE(coll().equal(cp("Čaj"), "caj"));
    EXPECT_FALSE(coll().equal(cp("á"), "a"));
    EXPECT_FALSE(coll().equal(cp("ô"), "o"));
    EXPECT_FALSE(coll().equal(cp("ä"), "a"));
    EXPECT_FALSE(coll().equal(cp("é"), "e"));
    EXPECT_FALSE(coll().equal(cp("Kôň"), cp("Koň")));
    // A match is of whole texts, never of a beginning.
    EXPECT_FALSE(coll().equal("abc", "ab"));
    EXPECT_FALSE(coll().equal("abc", "abc "));
    EXPECT_FALSE(coll().equal("", " "));
}

TEST(CollationOrder, FollowsSlovakAlphabet) {
    auto less = [](const std::string& a, const std::string& b) { return coll().compare(a, b) < 0; };
    // "ch" is one letter, after "h" and before "i".
    EXPECT_TRUE(less("hrad", "chata"));
    EXPECT_TRUE(less("hz", "ch"));
    EXPECT_TRUE(less("chata", "ihla"));
    EXPECT_TRUE(less("cvik", "hrad"));
    EXPECT_TRUE(less("Hz", "CHATA")) << "and regardless of case";
    // č, š, ž are letters of their own after c, s, z.
    EXPECT_TRUE(less("cz", cp("čaj")));
    EXPECT_TRUE(less(cp("čaj"), "d"));
    EXPECT_TRUE(less("sz", cp("šaty")));
    EXPECT_TRUE(less(cp("šaty"), "t"));
    EXPECT_TRUE(less("zz", cp("žaba")));
    // á is a, accented: after plain a but before the next letter.
    EXPECT_TRUE(less("ab", cp("áb")));
    EXPECT_TRUE(less(cp("áb"), "ac"));
    EXPECT_TRUE(less(cp("ôz"), "p"));
    // Shorter first when one text begins the other.
    EXPECT_TRUE(less("ab", "abc"));
    EXPECT_TRUE(less("", "a"));
}

std::vector<std::string> sampleNames() {
    std::vector<std::string> names = {"",         "a",          "A",          "ab",         "AB",        "abc",
                                      "ab ",      " ab",        "b",          "c",          "h",         "ch",
                                      "CH",       "cH",         "chata",      "i",          "z",         "setup.exe",
                                      "SETUP.EXE", "setup.zip", "disk 1",     "disk 10",    "disk 2",    "0",
                                      "9",        "-",          "_",          "a\x81",      "a\x83",     "\x88\x90\x98",
                                      std::string("a\0b", 3),   std::string(31, 'z'),       "\xFF\xFE"};
    for (const char* u : {"čaj", "Čaj", "caj", "áb", "Áb", "ä", "ô", "Ô", "šaty", "žaba", "ľad", "Ľad", "ďaleko",
                          "ťava", "ňufák", "ŕba", "ĺ", "€", "é", "ý"})
        names.push_back(cp(u));
    return names;
}

TEST(CollationOrder, IsAConsistentOrder) {
    const auto names = sampleNames();
    for (const auto& a : names) {
        EXPECT_EQ(coll().compare(a, a), 0);
        for (const auto& b : names) {
            EXPECT_EQ(sign(coll().compare(a, b)), -sign(coll().compare(b, a))) << a << " / " << b;
            EXPECT_EQ(coll().equal(a, b), coll().compare(a, b) == 0);
            for (const auto& c : {names[3], names[13], names[40]})
                if (coll().compare(a, b) <= 0 && coll().compare(b, c) <= 0) {
                    EXPECT_LE(coll().compare(a, c), 0) << a << " / " << b << " / " << c;
                }
        }
    }
}

std::vector<std::uint8_t> keyOf(const std::string& text) {
    std::vector<std::uint8_t> key;
    coll().appendSortKey(text, key);
    return key;
}

int compareKeys(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0)
        return sign(c);
    return sign(int(a.size()) - int(b.size()));
}

TEST(CollationSortKeys, OrderAsCompareDoes) {
    const auto names = sampleNames();
    for (const auto& a : names)
        for (const auto& b : names)
            EXPECT_EQ(compareKeys(keyOf(a), keyOf(b)), sign(coll().compare(a, b))) << a << " / " << b;
}

TEST(CollationSortKeys, AppendWithoutTheTerminatingZero) {
    std::vector<std::uint8_t> out = {7, 7, 7};
    coll().appendSortKey("Abc", out);
    const auto alone = keyOf("Abc");
    ASSERT_FALSE(alone.empty());
    EXPECT_NE(alone.back(), 0);
    ASSERT_EQ(out.size(), 3 + alone.size());
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), out.begin() + 3));
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 3), (std::vector<std::uint8_t>{7, 7, 7}));
    EXPECT_EQ(keyOf("ABC"), keyOf("abc")) << "names that match have one key";
}

TEST(CollationCopy, ComparesAlikeOnAnotherThread) {
    const auto names = sampleNames();
    const Collation copy(coll());
    std::vector<int> there;
    std::thread worker([&] {
        for (const auto& a : names)
            for (const auto& b : names)
                there.push_back(sign(copy.compare(a, b)));
    });
    worker.join();
    std::size_t k = 0;
    for (const auto& a : names)
        for (const auto& b : names)
            EXPECT_EQ(there[k++], sign(coll().compare(a, b))) << a << " / " << b;
}

}  // namespace
}  // namespace vrindel
