#pragma once
// The guard every handler entered from an event runs inside: an error that
// leaves the handler ends it at once and is shown by the generic error
// message; the program goes on with the next event. Handlers nested in one
// run unguarded, so that their errors end the outer handler as well.

#include <functional>

class MessageBoxes;

class HandlerGuard {
public:
    explicit HandlerGuard(MessageBoxes& boxes) : boxes_(boxes) {}
    HandlerGuard(const HandlerGuard&) = delete;
    HandlerGuard& operator=(const HandlerGuard&) = delete;

    // Runs the handler; returns whether it ran to its end.
    bool run(const std::function<void()>& handler);

private:
    MessageBoxes& boxes_;
    int depth_ = 0;   // handlers running
};
