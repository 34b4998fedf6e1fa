#include "QtTranslations.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

QTranslator* installQtTranslations() {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(QCoreApplication::instance());
    // The window's language, not the user's locale: a Slovak window with
    // English menus in it reads as broken.
    if (!translator->load(QLocale(QLocale::Slovak, QLocale::Slovakia), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder)) {
        delete translator;
        static bool told = false;
        if (!told) {
            told = true;
            std::fprintf(stderr,
                         "vrindel: Qt's Slovak translations (qtbase_sk.qm) are not in %s; Qt's own texts in the "
                         "window stay in English (Debian: qt6-translations-l10n)\n",
                         QFile::encodeName(folder).constData());
            std::fflush(stderr);
        }
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}
