#pragma once
// The file layer's one rule for signals: a call that a signal interrupted
// before it did anything is simply made again.

#include <cerrno>

namespace vrindel {

template <class F>
auto retryInterrupted(F call) {
    decltype(call()) r;
    do
        r = call();
    while (r < 0 && errno == EINTR);
    return r;
}

}  // namespace vrindel
