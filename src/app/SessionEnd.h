#pragma once
// The end of the desktop session, or SIGTERM, SIGHUP, SIGINT (Ctrl+C in the
// terminal) or SIGQUIT, must not lose what was typed since start-up. This object turns each of them into one call of
// a function on the main thread (the signal through a self-pipe), at most
// once. It never objects to the end of the session.

#include <QObject>

#include <functional>

class QSocketNotifier;

class SessionEnd : public QObject {
    Q_OBJECT
public:
    explicit SessionEnd(std::function<void()> end, QObject* parent = nullptr);
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

private:
    void trigger();

    std::function<void()> end_;
    QSocketNotifier* notifier_ = nullptr;
    bool ended_ = false;
};
