#include "OpenWindow.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>
#include <QWindow>

#include <sys/stat.h>

#include "store/held/HeldFile.h"

namespace {

constexpr const char* catalogueName = "Zoznam.dat";
// What a caller says and what the window answers once it is in front; a
// socket of something else at the name answers neither.
constexpr char call[] = "vrindel: to the front\n";
constexpr char done[] = "vrindel: in front\n";
// Long enough for a busy desktop, short enough that a window that hangs
// does not keep a start waiting for long before it refuses as before.
constexpr int answerMs = 3000;

QString socketName(char kind, const struct ::stat& st) {
    return QStringLiteral("vrindel-%1-%2-%3")
        .arg(QLatin1Char(kind))
        .arg(qulonglong(st.st_dev), 0, 16)
        .arg(qulonglong(st.st_ino), 0, 16);
}

}  // namespace

QStringList openWindowNames(vrindel::FileSystem& fs) {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return {};
    const vrindel::HeldFile held = vrindel::HeldFile::resolve(fs, catalogueName);
    struct ::stat folder {};
    if (held.folder() < 0 || fs.fstat(held.folder(), &folder) != 0)
        return {};
    QStringList names{runtime + QLatin1Char('/') + socketName('d', folder)};
    // A hard link in another folder reaches the same file only: a save keeps
    // such a file's inode, rewriting it in place.
    struct ::stat file {};
    if (fs.lstat(held.folder(), held.leaf(), &file) == 0 && S_ISREG(file.st_mode))
        names << runtime + QLatin1Char('/') + socketName('f', file);
    return names;
}

bool callOpenWindow(const QStringList& names) {
    for (const QString& name : names) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (!socket.waitForConnected(answerMs))
            continue;
        socket.write(call);
        if (!socket.waitForBytesWritten(answerMs))
            continue;
        QByteArray answer;
        while (answer.size() < qsizetype(sizeof done - 1) && socket.waitForReadyRead(answerMs))
            answer += socket.readAll();
        if (answer == done)
            return true;
    }
    return false;
}

void bringToFront(QWidget& window) {
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
    // On X11 a window manager moves the focus only when asked through it
    // (_NET_ACTIVE_WINDOW); Qt asks on a request to activate.
    if (QWindow* handle = window.windowHandle())
        handle->requestActivate();
}

OpenWindowAnswer::OpenWindowAnswer(QWidget& window, const QStringList& names) : window_(window) {
    for (const QString& name : names) {
        auto* server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        // A socket left at the name by a window that was killed: no live
        // window can be there, as this one holds the catalogue.
        QLocalServer::removeServer(name);
        if (!server->listen(name)) {
            delete server;
            continue;
        }
        connect(server, &QLocalServer::newConnection, this, [this, server] { answer(*server); });
    }
}

OpenWindowAnswer::~OpenWindowAnswer() = default;

void OpenWindowAnswer::answer(QLocalServer& server) {
    while (QLocalSocket* socket = server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() < qint64(sizeof call - 1))
                return;
            if (socket->read(sizeof call - 1) == call) {
                bringToFront(window_);
                socket->write(done);
                socket->flush();
            }
            socket->disconnectFromServer();
        });
    }
}
