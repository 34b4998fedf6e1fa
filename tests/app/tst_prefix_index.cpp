// Type-ahead over the display list (Catalogue::findPrefixInDisplay) and the
// catalogue's insert position, against plain reference computations over
// the same catalogue.

#include <QTest>

#include <random>

#include "records/Catalogue.h"
#include "text/Collation.h"
#include "text/RecordText.h"

namespace {

std::string bytes(const QString& text) {
    return *vrindel::toWindows1250(text.toStdU16String());
}

// The reference: the first display entry whose first characters equal the
// prefix under the collation, found by walking the list.
int firstBeginningWith(const vrindel::Catalogue& catalogue, const std::string& prefix) {
    const vrindel::Collation& collation = vrindel::Collation::instance();
    for (int row = 0; row < catalogue.displayCount(); ++row) {
        const vrindel::RecordText entry = catalogue.displayAt(row);
        const std::string_view name = entry.view();
        if (name.size() >= prefix.size() && collation.equal(name.substr(0, prefix.size()), prefix))
            return row;
    }
    return -1;
}

}  // namespace

class PrefixSearch : public QObject {
    Q_OBJECT

private slots:
    void caseIsIgnoredAccentsCount() {
        vrindel::Catalogue catalogue;
        for (const char* name : {"Ábel", "abeceda", "Žaba", "žralok", "Ôsmy", "osa", "čaj", "Cesta", "Ďateľ", "ďalej"})
            catalogue.appendLoaded(bytes(QString::fromUtf8(name)), "x");
        auto find = [&](const char* prefix) { return catalogue.findPrefixInDisplay(bytes(QString::fromUtf8(prefix))); };
        QCOMPARE(find("a"), 1);
        QCOMPARE(find("A"), 1);
        QCOMPARE(find("á"), 0);
        QCOMPARE(find("ÁB"), 0);
        QCOMPARE(find("ž"), 2);
        QCOMPARE(find("ŽR"), 3);
        QCOMPARE(find("ô"), 4);
        QCOMPARE(find("o"), 5);
        QCOMPARE(find("c"), 7);
        QCOMPARE(find("Č"), 6);
        QCOMPARE(find("ďA"), 8);
        QCOMPARE(find("ĎAL"), 9);
        QCOMPARE(find("ďalejš"), -1);
        QCOMPARE(find("b"), -1);
    }

    void edgesOfTheSearchText() {
        vrindel::Catalogue catalogue;
        // Nothing to find in an empty list, not even with nothing typed.
        QCOMPARE(catalogue.findPrefixInDisplay(""), -1);
        QCOMPARE(catalogue.findPrefixInDisplay("a"), -1);

        catalogue.setSorted(true);
        for (const char* name : {"zebra", "Mango", "abc", "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"})
            catalogue.appendLoaded(name, "x");
        // An empty text matches the first entry.
        QCOMPARE(catalogue.findPrefixInDisplay(""), 0);
        QCOMPARE(catalogue.displayAt(0).str(), std::string("abc"));
        // Shorter than four bytes, exactly four, and longer: the folded head
        // of an entry is its first four bytes.
        QCOMPARE(catalogue.findPrefixInDisplay("ab"), 0);
        QCOMPARE(catalogue.findPrefixInDisplay("abcd"), 1);
        QCOMPARE(catalogue.findPrefixInDisplay("abcde"), 1);
        QCOMPARE(catalogue.findPrefixInDisplay("abcdefghijklmnopqrstuvwxyz01234"), 1);
        QCOMPARE(catalogue.findPrefixInDisplay("abcdefghijklmnopqrstuvwxyz012345"), -1);
        QCOMPARE(catalogue.findPrefixInDisplay(std::string(32, 'a')), -1);
        // A name shorter than the text does not begin with it.
        QCOMPARE(catalogue.findPrefixInDisplay("zebras"), -1);
        QCOMPARE(catalogue.findPrefixInDisplay("ZEBRA"), 3);
    }

    void findsWhatAWalkFinds_data() {
        QTest::addColumn<bool>("sorted");
        QTest::newRow("storage order") << false;
        QTest::newRow("name order") << true;
    }
    void findsWhatAWalkFinds() {
        QFETCH(bool, sorted);
        const QString alphabet = QStringLiteral("aAáÁäbBcCčČdDďeéEfFgGhHiIíjJkKlLľĺmMnNňoOóôpPrRŕsSšŠtTťuUúvVyYýzZžŽ 1.");
        std::mt19937 random(1250);
        auto randomName = [&](int maxLength) {
            std::uniform_int_distribution<int> length(1, maxLength), letter(0, int(alphabet.size()) - 1);
            QString name;
            for (int i = length(random); i > 0; --i)
                name += alphabet[letter(random)];
            return bytes(name);
        };

        vrindel::Catalogue catalogue;
        catalogue.setSorted(sorted);
        for (int i = 0; i < 3000; ++i)
            catalogue.appendLoaded(randomName(6), "x");
        // Names sharing a long first part, so that many heads are equal.
        for (int i = 0; i < 500; ++i)
            catalogue.appendLoaded("Chata" + randomName(4), "y");

        auto checkAll = [&] {
            for (int i = 0; i < 300; ++i) {
                const std::string prefix = i % 3 == 0 ? "ch" + randomName(3) : randomName(i % 2 == 0 ? 4 : 7);
                QCOMPARE(catalogue.findPrefixInDisplay(prefix), firstBeginningWith(catalogue, prefix));
            }
            for (const char* prefix : {"c", "C", "ch", "CHA", "chat", "chata", "Chata ", "á", "Á", "z", "ž", "1"})
                QCOMPARE(catalogue.findPrefixInDisplay(prefix), firstBeginningWith(catalogue, prefix));
        };
        checkAll();

        // Every change of the display list, one at a time, with lookups in
        // between: adds (an empty name among them), deletes, renames in
        // place and the re-sort after them.
        for (int i = 0; i < 400; ++i) {
            const int count = catalogue.displayCount();
            if (i % 4 == 0 || i % 4 == 2) {
                const std::string name = i % 20 == 0 ? std::string() : randomName(5);
                if (catalogue.findInDisplay(name) >= 0)
                    continue;
                catalogue.add(name, "z");
            } else if (i % 4 == 1) {
                catalogue.deleteAtDisplay(int(random() % unsigned(count)));
            } else {
                const std::string name = randomName(6);
                if (catalogue.findInDisplay(name) >= 0)
                    continue;
                const int row = int(random() % unsigned(count));
                catalogue.renameAtDisplay(row, name);
                if (catalogue.sorted() && i % 8 == 3) {
                    catalogue.setSelection(catalogue.findInDisplay(name));
                    catalogue.resortAfterRename();
                }
            }
            const std::string prefix = randomName(i % 5 + 1);
            QCOMPARE(catalogue.findPrefixInDisplay(prefix), firstBeginningWith(catalogue, prefix));
        }
        checkAll();

        // The other sort mode, and back.
        if (sorted) {
            catalogue.setSorted(false);
            catalogue.showStorageOrder();
        } else {
            catalogue.setSorted(true);
        }
        checkAll();
        catalogue.setSorted(sorted);
        if (!sorted)
            catalogue.showStorageOrder();
        checkAll();
    }

    void insertPositionIsWhereAddPutsTheName_data() {
        QTest::addColumn<bool>("sorted");
        QTest::newRow("storage order") << false;
        QTest::newRow("name order") << true;
    }
    void insertPositionIsWhereAddPutsTheName() {
        QFETCH(bool, sorted);
        vrindel::Catalogue catalogue;
        catalogue.setSorted(sorted);
        for (const char* name : {"Mango", "banán", "Zeler", "čaj", "chren"})
            catalogue.appendLoaded(bytes(QString::fromUtf8(name)), "x");
        for (const char* name : {"Avokádo", "Hruška", "Cesnak", "Žihľava", "Dyňa", "Chren2"}) {
            const std::string b = bytes(QString::fromUtf8(name));
            const int expected = catalogue.insertPosition(b);
            catalogue.add(b, "y");
            QCOMPARE(catalogue.selection(), expected);
            QCOMPARE(catalogue.displayAt(expected).str(), b);
        }
        // After a rename in place the list may be out of order until it is
        // re-sorted; the position still matches.
        catalogue.renameAtDisplay(0, bytes(QStringLiteral("Zzz")));
        const std::string b = bytes(QStringLiteral("Baklažán"));
        const int expected = catalogue.insertPosition(b);
        catalogue.add(b, "y");
        QCOMPARE(catalogue.displayAt(expected).str(), b);
    }
};

QTEST_MAIN(PrefixSearch)
#include "tst_prefix_index.moc"
