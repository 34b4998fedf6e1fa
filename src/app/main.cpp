#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "ProcessMemory.h"
#include "Folders.h"
#include "MainUnit.h"
#include "MessageBoxes.h"
#include "OpenWindow.h"
#include "QtTranslations.h"
#include "SessionEnd.h"
#include "text/TerminalText.h"

namespace {

constexpr const char* usage = "usage: vrindel [--menu] [FOLDER] | --help | --version\n";

constexpr const char* help =
    "usage: vrindel [--menu] [FOLDER] | --help | --version\n"
    "\n"
    "Keeps a catalogue of things and where each one is stored, in one window\n"
    "(in Slovak). The records are read from Zoznam.dat and the three switches\n"
    "from Options.dat when the window opens (each is created when missing),\n"
    "and both are written back when it is closed.\n"
    "\n"
    "Both files are in FOLDER, or beside the Zoznam.dat given instead of a\n"
    "folder; without one, in the current directory.\n"
    "\n"
    "  --menu     without FOLDER, work where the desktop menu does: in\n"
    "             $XDG_DATA_HOME/vrindel (~/.local/share/vrindel), created\n"
    "             when missing, or in the home folder if ~/Zoznam.dat exists\n"
    "\n"
    "Without FOLDER and --menu, the folder VRINDEL_DIR names, if set.\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "The window needs a graphical session; vrindel-cli(1) reads and edits the\n"
    "catalogue from a shell. See vrindel(1).\n";

constexpr const char* catalogueName = "Zoznam.dat";

int print(const char* text) {
    std::fputs(text, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// What the command line asks for.
struct Request {
    bool menu = false;
    std::optional<std::string> path;  // as given, byte for byte
};

// Decided before Qt exists, so that --help works without a display. Qt never
// sees these arguments: its own options (-reverse, -style, -platform...)
// must not change the window, and a single dash is never a long option here.
std::optional<int> parseCommandLine(int argc, char* argv[], Request& request) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    const QCommandLineOption menuOption(QStringLiteral("menu"));
    parser.addOptions({helpOption, versionOption, menuOption});
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QString());

    const bool parsed = parser.parse(arguments);
    const QStringList positional = parser.positionalArguments();
    const bool alone = argc == 2;
    if (parsed && alone && parser.isSet(helpOption)) return print(help);
    if (parsed && alone && parser.isSet(versionOption)) return print("vrindel 2.1\n");
    if (!parsed || parser.isSet(helpOption) || parser.isSet(versionOption) || positional.size() > 1 ||
        (positional.size() == 1 && positional.front().isEmpty())) {
        std::fputs(usage, stderr);
        return 2;
    }
    request.menu = parser.isSet(menuOption);
    if (positional.size() == 1) {
        // The path's own bytes, not their decoding: a file name need not be
        // valid UTF-8. Only a path after "--" can read like an option, and it
        // comes after any option it reads like.
        for (int i = argc - 1; i > 0; --i)
            if (QString::fromLocal8Bit(argv[i]) == positional.front()) {
                request.path = argv[i];
                break;
            }
    }
    return std::nullopt;
}

// 0 when `path` is a folder, else why not (an errno value).
int folderError(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// The folder a path on the command line means: the folder itself, or the one
// that holds (or is to hold) the Zoznam.dat named. Sets `problem` otherwise.
std::string folderOf(const std::string& path, std::string& problem) {
    const int error = folderError(path);
    if (error == 0) return path;
    const auto slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name != catalogueName) {
        problem = path + ": " + (error == ENOTDIR ? "neither a folder nor a Zoznam.dat" : std::strerror(error));
        return {};
    }
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (const int folderProblem = folderError(folder); folderProblem != 0) {
        problem = folder + ": " + std::strerror(folderProblem);
        return {};
    }
    return folder;
}

std::string homeFolder() {
    return QFile::encodeName(QDir::homePath()).toStdString();
}

// Where vrindel-cli finds the home folder and Qt does not: Qt takes "/" for
// an unset or empty HOME, the library the user database's home. The window
// then sees the home and the menu's folder that vrindel-cli sees.
void homeAsTheLibrarySeesIt() {
    if (const char* home = std::getenv("HOME"); !home || !*home)
        ::setenv("HOME", vrindel::homeFolder().c_str(), 1);
}

// The XDG base directories' rule that relative values are to be ignored,
// which Qt (6.4) does not apply: it hands a relative XDG_DATA_HOME back as
// it is. The folders found for the window (the menu's catalogue, the runtime
// folder of its sockets) are then absolute, and the menu's the one
// vrindel-cli finds.
void ignoreRelativeXdgFolders() {
    for (const char* name : {"XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
        if (const char* value = std::getenv(name); value && value[0] != '/') ::unsetenv(name);
}

// The menu's catalogue folder, the desktop's data folder as Qt finds it.
vrindel::MenuFolder menuFolder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return vrindel::menuFolder(homeFolder(), QFile::encodeName(data).toStdString());
}

// Qt ends the program with a fatal message when the windowing system cannot
// be reached, and aborts. While the application object is being made, its
// messages are held back: on that failure the user gets one line instead of
// Qt's report and a core dump, and otherwise they are passed on.
struct HeldMessage {
    QtMsgType type;
    std::string category;
    QString text;
};
std::vector<HeldMessage> heldMessages;

[[noreturn]] void noGraphicalSession() {
    std::string tried;
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"})
        if (const char* value = std::getenv(name); value && *value)
            tried += std::string(tried.empty() ? "" : ", ") + name + "=" + value;
    const std::string reason = tried.empty() ? "none is set (no DISPLAY or WAYLAND_DISPLAY)"
                                             : "none could be reached (" + tried + ")";
    std::fprintf(stderr,
                 "vrindel: the window needs a graphical session, and %s; vrindel-cli works with the catalogue "
                 "from a shell (vrindel-cli --help)\n",
                 vrindel::printable(reason).c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

void holdMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) noGraphicalSession();
    heldMessages.push_back({type, context.category ? context.category : "", text});
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
    vrindel::giveLargeBlocksBack();
    Request request;
    if (const auto exit = parseCommandLine(argc, argv, request)) return *exit;

    // A folder named on the command line is checked before anything else, so
    // that a mistyped one is told even without a display.
    homeAsTheLibrarySeesIt();
    ignoreRelativeXdgFolders();
    std::string problem;
    bool create = false;
    // The rule vrindel-cli follows too: a folder given, the menu's, the
    // one VRINDEL_DIR names, the current one.
    const std::optional<std::string> named = request.path ? request.path
                                             : request.menu ? std::nullopt
                                                            : vrindel::defaultFolder();
    std::string folder;
    if (named) {
        folder = folderOf(*named, problem);
    } else if (request.menu) {
        const vrindel::MenuFolder menu = menuFolder();
        folder = menu.path;
        create = menu.create;
    }
    if (!problem.empty() && !request.menu) {
        std::fprintf(stderr, "vrindel: %s\n", vrindel::printable(problem).c_str());
        return 1;
    }

    // QApplication keeps a reference to the count and the array, so both
    // live as long as it does; it sees only the program's name.
    static char fallbackName[] = "vrindel";
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    const QtMessageHandler qtHandler = qInstallMessageHandler(holdMessage);
    QApplication app(qtArgc, qtArgv);
    qInstallMessageHandler(qtHandler);
    for (const HeldMessage& m : heldMessages)
        qt_message_output(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category.c_str()), m.text);
    heldMessages.clear();

    // The application title, "Vrindel 2.1", is the window's caption. No
    // display name is set: Qt would append it to every caption that does not
    // already end in it, the message boxes' "Vrindel" among them.
    // The name is also the window class the desktop entry matches.
    QApplication::setApplicationName(QStringLiteral("Vrindel"));
    QApplication::setApplicationVersion(QStringLiteral("2.1"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.vrindel.Vrindel"));
    QApplication::setWindowIcon(programIcon());
    // The window speaks Slovak, and so does what Qt itself shows in it.
    installQtTranslations();

    ModalMessageBoxes boxes;
    if (problem.empty() && !folder.empty()) {
        if (create) vrindel::createFolders(folder);
        if (::chdir(folder.c_str()) != 0) problem = folder + ": " + std::strerror(errno);
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "vrindel: %s\n", vrindel::printable(problem).c_str());
        // From the menu or a file manager there is no terminal to read it.
        if (request.menu)
            boxes.error(QStringLiteral("Vrindel"),
                        QStringLiteral("Priečinok so zoznamom sa nedá otvoriť:\n%1")
                            .arg(QString::fromLocal8Bit(problem)));
        return 1;
    }

    // The user's window on this catalogue, however it was reached, comes to
    // the front instead of a second one; nothing is touched.
    if (callOpenWindow(openWindowNames(vrindel::systemFileSystem())))
        return 0;
    TMainForm form(boxes);
    // Another window has this catalogue: it was said, and nothing was touched.
    if (form.refused())
        return 0;
    // Named once the catalogue is there: a start creates it.
    const OpenWindowAnswer answer(form, openWindowNames(vrindel::systemFileSystem()));
    boxes.setWindow(&form);
    const SessionEnd sessionEnd([&form] {
        form.SessionEnding();
        QCoreApplication::exit(0);
    });
    form.show();
    const int status = app.exec();
    // A script or a session manager learns that records were not saved.
    return status != 0 ? status : form.lastSaveFailed() ? 1 : 0;
}
