#include "SessionEnd.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif

#include <cerrno>
#include <csignal>
#include <iterator>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};
// Each ends the program as a close does, saving first.
constexpr int EndingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
struct sigaction previous[std::size(EndingSignals)] {};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    if (::write(pipeFds[1], &byte, 1) < 0) {
        // Full pipe: a wake-up is already pending.
    }
    errno = saved;
}

}  // namespace

SessionEnd::SessionEnd(std::function<void()> end, QObject* parent) : QObject(parent), end_(std::move(end)) {
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            char buffer[16];
            while (::read(pipeFds[0], buffer, sizeof buffer) > 0) {
            }
            trigger();
        });
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(EndingSignals); ++i)
            sigaction(EndingSignals[i], &action, &previous[i]);
    }
#if QT_CONFIG(sessionmanager)
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { trigger(); });
#endif
}

SessionEnd::~SessionEnd() {
    if (notifier_) {
        for (std::size_t i = 0; i < std::size(EndingSignals); ++i)
            sigaction(EndingSignals[i], &previous[i], nullptr);
        delete notifier_;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        pipeFds[0] = pipeFds[1] = -1;
    }
}

void SessionEnd::trigger() {
    if (ended_)
        return;
    ended_ = true;
    end_();
}
