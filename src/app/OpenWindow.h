#pragma once
// One window per catalogue, and a second start on it brings that window to
// the front instead of refusing. The window answers on local sockets in the
// user's runtime folder (private to the user), named after what identifies
// the catalogue rather than the path that reached it: the device and inode of
// the real folder that holds it, and of the file itself. So another path, a
// symbolic link, a bind mount of the folder and a hard link in another
// folder all call the same window, as they all meet the same lock.
//
// Where no window answers (the catalogue is another user's, a command holds
// it, or a window on another computer), the start goes on and meets the lock
// as before.

#include <QObject>
#include <QStringList>

class QLocalServer;
class QWidget;

namespace vrindel {
class FileSystem;
}

// The sockets' names for the catalogue in the working folder: full paths in
// the runtime folder. Empty when the catalogue's place cannot be told.
QStringList openWindowNames(vrindel::FileSystem& fs);

// Asks the window that answers on one of `names` to come to the front; true
// once one says it has.
bool callOpenWindow(const QStringList& names);

// Brings a window of this program to the front: out of the minimized state,
// raised, and active (through the window manager where there is one).
void bringToFront(QWidget& window);

// The open window's side: answers each call on `names` by coming to the
// front, for as long as this lives.
class OpenWindowAnswer : public QObject {
public:
    OpenWindowAnswer(QWidget& window, const QStringList& names);
    ~OpenWindowAnswer() override;

private:
    void answer(QLocalServer& server);

    QWidget& window_;
};
