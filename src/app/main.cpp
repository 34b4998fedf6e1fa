#include <QApplication>
#include <QIcon>

#include "MainUnit.h"
#include "MessageBoxes.h"
#include "SessionEnd.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application title, "Vrindel 2.1", is the window's caption. No
    // display name is set: Qt would append it to every caption that does not
    // already end in it, the message boxes' "Vrindel" among them.
    // The name is also the window class the desktop entry matches.
    QApplication::setApplicationName(QStringLiteral("Vrindel"));
    QApplication::setApplicationVersion(QStringLiteral("2.1"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.vrindel.Vrindel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/vrindel.png")));

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
