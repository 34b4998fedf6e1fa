#pragma once
// Qt's own texts in the window (an edit's context menu, the standard
// buttons) in Slovak, as the window's own texts are, from the translations
// the system keeps for Qt.

class QTranslator;

// Installs Qt's Slovak translations into the application, whatever the
// system's locale (C.UTF-8 too), and returns them (deleting them uninstalls
// them). Null when the system has none (they come with
// qt6-translations-l10n): that is said once on stderr, and Qt's texts stay
// in English.
QTranslator* installQtTranslations();
