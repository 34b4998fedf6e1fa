#pragma once
// Qt's own texts (an edit's context menu, the standard buttons) in the
// user's language, from the translations the system keeps for Qt.

class QLocale;
class QTranslator;

// Installs Qt's translations for the locale into the application and
// returns them (deleting them uninstalls them); null when the system has
// none for it (they come with qt6-translations-l10n).
QTranslator* installQtTranslations(const QLocale& locale);
