#pragma once

#include <QFuture>
#include <QtGlobal>
#include <utility>

namespace plovik {

// An already finished future, for an action that has nothing to wait for. Qt 6.6 gave the
// factory new names and deprecated the old one; Debian 12 has Qt 6.4, Debian 13 Qt 6.8.
inline QFuture<void> readyFuture() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    return QtFuture::makeReadyVoidFuture();
#else
    return QtFuture::makeReadyFuture();
#endif
}

template <class T>
QFuture<T> readyFuture(T value) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    return QtFuture::makeReadyValueFuture(std::move(value));
#else
    return QtFuture::makeReadyFuture(std::move(value));
#endif
}

}  // namespace plovik
