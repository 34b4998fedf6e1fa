// The guard every handler entered from an event runs inside.
#include "HandlerGuard.h"

#include <QString>

#include <exception>

#include "MessageBoxes.h"

bool HandlerGuard::run(const std::function<void()>& handler) {
    if (depth_ > 0) {
        handler();
        return true;
    }
    QString text;
    bool failed = false;
    ++depth_;
    try {
        handler();
    } catch (const std::exception& e) {
        // vrindel::ListError, vrindel::IoError and whatever else a handler
        // raises: each is shown by its text.
        failed = true;
        text = QString::fromUtf8(e.what());
    }
    --depth_;
    // Shown after the handler has ended, so that an event taken while the
    // box is up starts a handler of its own.
    if (failed)
        boxes_.error(applicationTitle(), withFullStop(text));
    return !failed;
}
