#pragma once

#include <signal.h>

namespace plovik::cli {

// Holds SIGINT, SIGTERM and SIGHUP back while files are written, so that Ctrl-C, a closed
// terminal or a `kill` never cuts a write short and leaves its temporary file behind. A stop
// that came meanwhile takes effect, as the signal's own default action, when the write is done
// and its temporary file gone (when this object ends). Reading from the terminal and waiting
// for the network stay interruptible: only writes are wrapped.
class DeferredStops {
public:
    DeferredStops();
    ~DeferredStops();
    DeferredStops(const DeferredStops&) = delete;
    DeferredStops& operator=(const DeferredStops&) = delete;

private:
    sigset_t m_previous;
};

// Calls `write` with the stops held back, and returns what it returns.
template <class Write>
auto withStopsDeferred(Write write) {
    const DeferredStops deferred;
    return write();
}

}  // namespace plovik::cli
