#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLocale>

#include <cstdio>
#include <cstring>

#include "MainUnit.h"
#include "MessageBoxes.h"
#include "QtTranslations.h"
#include "SessionEnd.h"

namespace {

constexpr const char* usage = "usage: vrindel [--help | --version]\n";

constexpr const char* help =
    "usage: vrindel [--help | --version]\n"
    "\n"
    "Keeps a catalogue of things and where each one is stored, in one window\n"
    "(in Slovak). The records are read from Zoznam.dat and the three switches\n"
    "from Options.dat, both in the current directory, when the window opens,\n"
    "and both files are written back when it is closed.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "See vrindel(1); vrindel-cli(1) reads and edits the catalogue from a shell.\n";

// What the command line asks for: nothing (the window), help, the version,
// or something the program does not take. Decided before Qt exists, so that
// --help works without a display.
int commandLineExit(int argc, char* argv[]) {
    if (argc <= 1) return -1;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(help, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("vrindel 2.1\n", stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::fputs(usage, stderr);
    return 2;
}

// Every size the desktop may ask for, each rendered from the drawing, so that
// a task bar never scales up a small picture.
QIcon programIcon() {
    QIcon icon;
    const QDir icons(QStringLiteral(":/icons"));
    for (const QString& name : icons.entryList(QDir::Files)) icon.addFile(icons.filePath(name));
    return icon;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (const int exit = commandLineExit(argc, argv); exit >= 0) return exit;

    // Qt sees the program's name only: its own options (-reverse, -style,
    // -platform...) must not change the window. QApplication keeps a reference
    // to the count and the array, so both live as long as it does.
    static char fallbackName[] = "vrindel";
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    QApplication app(qtArgc, qtArgv);
    // The application title, "Vrindel 2.1", is the window's caption. No
    // display name is set: Qt would append it to every caption that does not
    // already end in it, the message boxes' "Vrindel" among them.
    // The name is also the window class the desktop entry matches.
    QApplication::setApplicationName(QStringLiteral("Vrindel"));
    QApplication::setApplicationVersion(QStringLiteral("2.1"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.vrindel.Vrindel"));
    QApplication::setWindowIcon(programIcon());
    // The window speaks Slovak; what Qt itself shows follows the locale.
    installQtTranslations(QLocale());

    ModalMessageBoxes boxes;
    TMainForm form(boxes);
    // Another window has this catalogue: it was said, and nothing was touched.
    if (form.refused())
        return 0;
    boxes.setWindow(&form);
    const SessionEnd sessionEnd([&form] {
        form.SessionEnding();
        QCoreApplication::exit(0);
    });
    form.show();
    return app.exec();
}
