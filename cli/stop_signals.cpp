#include "stop_signals.hpp"

namespace plovik::cli {

DeferredStops::DeferredStops() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stops, &m_previous);
}

DeferredStops::~DeferredStops() {
    // A stop that is pending is delivered here, and ends the process.
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

}  // namespace plovik::cli
