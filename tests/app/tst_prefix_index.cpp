// The type-ahead index and the catalogue's insert position, against plain
// reference computations over the same catalogue.

#include <QTest>

#include <random>

#include "Catalogue.h"
#include "Collation.h"
#include "PrefixIndex.h"
#include "RecordText.h"

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
    void foldingFollowsTheCollation() {
        vrindel::Catalogue catalogue;
        PrefixIndex index(catalogue);
        auto fold = [&](char16_t c) { return index.fold(static_cast<unsigned char>(bytes(QString(QChar(c)))[0])); };
        QCOMPARE(fold(u'a'), fold(u'A'));
        QCOMPARE(fold(u'ž'), fold(u'Ž'));
        QCOMPARE(fold(u'ô'), fold(u'Ô'));
        QVERIFY(fold(u'a') != fold(u'á'));
        QVERIFY(fold(u'c') != fold(u'č'));
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
        // Names sharing a long first part, so that one group is large.
        for (int i = 0; i < 500; ++i)
            catalogue.appendLoaded("Chata" + randomName(4), "y");
        PrefixIndex index(catalogue);

        auto checkAll = [&] {
            for (int i = 0; i < 300; ++i) {
                const std::string prefix = i % 3 == 0 ? "ch" + randomName(3) : randomName(4);
                QCOMPARE(index.find(prefix), firstBeginningWith(catalogue, prefix));
            }
            for (const char* prefix : {"c", "C", "ch", "CHA", "chat", "chata", "Chata ", "á", "Á", "z", "ž", "1"})
                QCOMPARE(index.find(prefix), firstBeginningWith(catalogue, prefix));
        };
        checkAll();

        // Rows inserted and removed one at a time, with lookups in between
        // so that the index is kept up to date rather than built again.
        for (int i = 0; i < 300; ++i) {
            if (i % 2 == 0) {
                const std::string name = i % 10 == 0 ? std::string() : randomName(5);
                if (catalogue.findInDisplay(name) >= 0)
                    continue;
                const int row = catalogue.insertPosition(name);
                catalogue.add(name, "z");
                index.inserted(row);
            } else {
                const int row = int(random() % unsigned(catalogue.displayCount()));
                index.removing(row);
                catalogue.deleteAtDisplay(row);
            }
            const std::string prefix = randomName(i % 3 + 1);
            QCOMPARE(index.find(prefix), firstBeginningWith(catalogue, prefix));
        }
        checkAll();

        // Anything else: the index starts afresh.
        catalogue.setSorted(!sorted);
        index.invalidate();
        checkAll();

        QCOMPARE(index.find(""), -1);
        QCOMPARE(index.find(std::string(32, 'a')), -1);
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
